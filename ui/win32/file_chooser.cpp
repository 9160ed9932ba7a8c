#include "ui/win32/file_chooser.h"

#include <commdlg.h>

#include <vector>

#include "ui/dialog_texts.h"
#include "ui/win32/win32_text.h"

namespace torvane {

std::wstring ImageFilterList() {
  std::wstring list;
  for (const ImageFilter& filter : kImageFilters) {
    list += Utf8ToWide(filter.name);
    list += L'\0';
    list += Utf8ToWide(filter.patterns);
    list += L'\0';
  }
  return list;  // the string's own terminator ends the list
}

std::wstring ChooserStartFolder(const std::string& box_text) {
  if (box_text.empty()) return std::wstring();
  std::wstring path = Utf8ToWide(box_text);
  for (int step = 0; step < 2 && !path.empty(); ++step) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return path;
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) break;
    path.resize(slash);
  }
  return std::wstring();
}

bool ChooseImageFile(HWND owner, const std::string& box_text, std::string* path) {
  return ChooseFileToOpen(owner, kOpenFileTitle, ImageFilterList(), box_text,
                          OFN_PATHMUSTEXIST | OFN_CREATEPROMPT, path);
}

namespace {

// Either system chooser over one OPENFILENAMEW; `name` is the name box's
// text going in and the chosen path coming out.
bool RunChooser(bool save, HWND owner, const std::string& title, const std::wstring& filters,
                const std::wstring& folder, const std::wstring& name_text, const wchar_t* extension, DWORD flags,
                std::string* path) {
  const std::wstring wide_title = Utf8ToWide(title);
  std::vector<wchar_t> name(32768, L'\0');
  name_text.copy(name.data(), name.size() - 1);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = wide_title.c_str();
  ofn.lpstrDefExt = extension;
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | flags;
  if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) return false;
  if (path != nullptr) *path = WideToUtf8(name.data());
  return true;
}

}  // namespace

bool ChooseFileToOpen(HWND owner, const std::string& title, const std::wstring& filters, const std::string& start,
                      DWORD flags, std::string* path) {
  return RunChooser(false, owner, title, filters, ChooserStartFolder(start), std::wstring(), nullptr, flags, path);
}

bool ChooseFileToSave(HWND owner, const std::string& title, const std::wstring& filters, const std::string& current,
                      const wchar_t* extension, std::string* path) {
  return RunChooser(true, owner, title, filters, std::wstring(), Utf8ToWide(current), extension, OFN_PATHMUSTEXIST,
                    path);
}

}  // namespace torvane
