// The windows' file choosers over the system's Open and Save dialogs. The
// open button's: the filters of dialog_texts.h, the first one selected,
// starting where the image path box points; a name that does not exist is
// taken once the operator agrees that it may be created (the file is not
// created).
#pragma once

#include <windows.h>

#include <string>

namespace torvane {

// The "\0"-separated filter list GetOpenFileNameW takes.
std::wstring ImageFilterList();

// The folder the chooser starts in for the path box's text: a folder
// starts there, a file path in the file's folder; empty for the default.
std::wstring ChooserStartFolder(const std::string& box_text);

// True with *path (UTF-8) set when a file was confirmed.
bool ChooseImageFile(HWND owner, const std::string& box_text, std::string* path);

// The system's Open dialog titled `title` (UTF-8) with `filters` (as
// ImageFilterList makes them) and OPENFILENAMEW `flags`, starting where
// `start` points (as ChooserStartFolder). True with *path (UTF-8) set when
// a file was confirmed.
bool ChooseFileToOpen(HWND owner, const std::string& title, const std::wstring& filters, const std::string& start,
                      DWORD flags, std::string* path);

// The system's Save dialog (GetSaveFileNameW) titled `title` with
// `filters`, the name box holding `current` (UTF-8), `extension` added to
// a name typed without one. Nothing is written. True with *path (UTF-8)
// set when a name was confirmed.
bool ChooseFileToSave(HWND owner, const std::string& title, const std::wstring& filters, const std::string& current,
                      const wchar_t* extension, std::string* path);

}  // namespace torvane
