#include "ui/dialog_rc.h"

#include <cstdio>
#include <span>
#include <string_view>

#include "ui/dialog_template.h"

namespace torvane {

namespace {

std::string Quoted(std::string_view caption) {
  // Resource scripts double a quote inside a string.
  std::string text = "\"";
  for (char c : caption) text += c == '"' ? std::string("\"\"") : std::string(1, c);
  text += '"';
  const std::string_view version = TORVANE_VERSION;
  if (caption.size() > version.size() && caption.ends_with(version)) {
    text = Quoted(caption.substr(0, caption.size() - version.size())) + " TORVANE_VERSION";
  }
  return text;
}

std::string Rect(const DialogRect& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", r.x, r.y, r.cx, r.cy);
  return text;
}

std::string ControlLine(const TemplateControl& c) {
  const std::string id = std::to_string(c.id);
  const std::string rect = Rect(c.rect);
  switch (c.kind) {
    case ControlKind::Edit:
      return "    EDITTEXT        " + id + "," + rect + ",ES_AUTOHSCROLL";
    case ControlKind::PushButton:
      return "    PUSHBUTTON      " + Quoted(c.caption) + "," + id + "," + rect;
    case ControlKind::Label:
      return "    RTEXT           " + Quoted(c.caption) + "," + id + "," + rect;
    case ControlKind::Text:
      return "    LTEXT           " + Quoted(c.caption) + "," + id + "," + rect + ",SS_NOPREFIX";
    case ControlKind::GroupBox:
      return "    GROUPBOX        " + Quoted(c.caption) + "," + id + "," + rect;
    case ControlKind::LogPane:
      // A rich-edit control: word-wrapped display lines, read-only.
      return "    CONTROL         \"\"," + id + ",\"RICHEDIT50W\",ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | "
             "WS_BORDER | WS_VSCROLL | WS_TABSTOP," + rect;
    case ControlKind::Icon:
      // The table's id of an icon control names the icon it shows.
      return "    ICON            " + id + "," + std::to_string(IDC_STATIC) + "," + rect;
  }
  return std::string();
}

// A fixed frame with caption and close button; the main window is also on
// the task bar.
std::string DialogText(int id, int width, int height, const char* caption, const char* face, int points,
                       std::span<const TemplateControl> controls) {
  std::string text = std::to_string(id) + " DIALOGEX 0,0," + std::to_string(width) + "," + std::to_string(height) +
                     "\nSTYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n" +
                     (id == IDD_TORVANE_DIALOG ? "EXSTYLE WS_EX_APPWINDOW\n" : "") + "CAPTION " + Quoted(caption) + "\nFONT " + std::to_string(points) + ", " + Quoted(face) +
                     ", 0, 0, 0x1\nBEGIN\n";
  for (const TemplateControl& control : controls) text += ControlLine(control) + "\n";
  return text + "END\n";
}

}  // namespace

std::string DialogTemplatesRcText() {
  std::string text =
      "// Generated from ui/dialog_template.h (DialogTemplatesRcText); a test keeps\n"
      "// the two equal. Captions are UTF-8.\n\n";
  text += DialogText(IDD_TORVANE_DIALOG, kMainDialogWidthDu, kMainDialogHeightDu, kMainDialogCaption,
                     kMainDialogFontFace, kMainDialogFontPoints, kMainDialogControls);
  text += "\n";
  text += DialogText(IDD_ABOUTBOX, kAboutDialogWidthDu, kAboutDialogHeightDu, kAboutDialogCaption,
                     kAboutDialogFontFace, kAboutDialogFontPoints, kAboutDialogControls);
  return text;
}

}  // namespace torvane
