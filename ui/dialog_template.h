// The window templates of the main dialog (102) and the About box (100):
// every control in template order, which is also the tab order, with its
// id, kind, caption (UTF-8) and rectangle in dialog units.
#pragma once

#include <array>

#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "torvane_version.h"

namespace torvane {

enum class ControlKind {
  Edit,        // single line, border, horizontal auto-scroll
  PushButton,
  Label,       // right-aligned static text
  Text,        // left-aligned static text
  GroupBox,    // frame without caption
  LogPane,     // multi-line, read-only, vertical scroll bar, border
  Icon,        // static icon (About box)
};

struct TemplateControl {
  int id;
  ControlKind kind;
  const char* caption;  // UTF-8, empty for none
  DialogRect rect;
};

// A control is a tab stop unless it is static text, a group box or an icon.
constexpr bool IsTabStop(ControlKind kind) {
  return kind != ControlKind::Label && kind != ControlKind::Text && kind != ControlKind::GroupBox &&
         kind != ControlKind::Icon;
}

// Dialog 102.
inline constexpr const char* kMainDialogCaption = "Torvane";
inline constexpr int kMainDialogWidthDu = 240;
inline constexpr int kMainDialogHeightDu = 235;
inline constexpr const char* kMainDialogFontFace = "Microsoft Sans Serif";
inline constexpr int kMainDialogFontPoints = 12;

inline constexpr std::array<TemplateControl, 16> kMainDialogControls{{
    {IDC_EDIT_PATH, ControlKind::Edit, "", {45, 63, 136, 14}},
    {IDC_BTN_CLEAR, ControlKind::PushButton, "清除", {165, 89, 60, 16}},
    {IDC_BTN_ENTER_FLASH_MODE, ControlKind::PushButton, "开启烧录模式", {22, 89, 60, 16}},
    {IDC_BTN_FLASH, ControlKind::PushButton, "烧录", {92, 89, 60, 16}},
    {IDC_STATIC, ControlKind::Label, "选择文件", {6, 66, 33, 10}},
    {IDC_STATIC, ControlKind::GroupBox, "", {4, 2, 232, 113}},
    {IDC_LOG, ControlKind::LogPane, "", {4, 120, 232, 108}},
    {IDC_BTN_OPEN, ControlKind::PushButton, "打开", {185, 63, 40, 14}},
    {IDC_EDIT_VID, ControlKind::Edit, "", {45, 17, 60, 14}},
    {IDC_STATIC, ControlKind::Label, "VID", {6, 20, 33, 10}},
    {IDC_EDIT_PID, ControlKind::Edit, "", {45, 40, 60, 14}},
    {IDC_STATIC, ControlKind::Label, "PID", {6, 43, 33, 10}},
    {IDC_EDIT_USAGE_PAGE, ControlKind::Edit, "", {165, 17, 60, 14}},
    {IDC_STATIC, ControlKind::Label, "Usage Page", {117, 20, 42, 10}},
    {IDC_EDIT_USAGE, ControlKind::Edit, "", {165, 40, 60, 14}},
    {IDC_STATIC, ControlKind::Label, "Usage", {117, 43, 42, 10}},
}};

// The controls that the "Disable User Input" setting locks at start-up, in
// the order they are switched.
inline constexpr std::array<int, 6> kUserInputControls{
    IDC_EDIT_VID, IDC_EDIT_PID, IDC_EDIT_USAGE, IDC_EDIT_USAGE_PAGE, IDC_EDIT_PATH, IDC_BTN_OPEN};

// The nine controls the dialog binds to members, in binding order.
inline constexpr std::array<int, 9> kBoundControls{
    IDC_LOG,       IDC_BTN_OPEN, IDC_BTN_ENTER_FLASH_MODE, IDC_BTN_FLASH,      IDC_EDIT_PATH,
    IDC_EDIT_VID,  IDC_EDIT_PID, IDC_EDIT_USAGE_PAGE,      IDC_EDIT_USAGE};

// Dialog 100.
inline constexpr const char* kAboutDialogCaption = "About Torvane";
inline constexpr int kAboutDialogWidthDu = 170;
inline constexpr int kAboutDialogHeightDu = 62;
inline constexpr const char* kAboutDialogFontFace = "MS Shell Dlg";
inline constexpr int kAboutDialogFontPoints = 8;
inline constexpr const char* kVersionText = TORVANE_VERSION;
inline constexpr int kAboutOkId = 1;  // IDOK

inline constexpr std::array<TemplateControl, 3> kAboutDialogControls{{
    {IDR_MAINFRAME, ControlKind::Icon, "", {14, 14, 21, 20}},
    {IDC_STATIC, ControlKind::Text, "Torvane, Version " TORVANE_VERSION, {42, 14, 114, 8}},
    {kAboutOkId, ControlKind::PushButton, "OK", {113, 41, 50, 14}},
}};

// String 101: the window-menu item that opens the About box.
inline constexpr const char* kAboutMenuText = "&About Torvane...";

}  // namespace torvane
