#include "ui/dialog_settings.h"

#include <cstdio>

#include "settings/ini_file.h"
#include "settings/settings_check.h"
#include "ui/control_ids.h"
#include "ui/dialog_port.h"

namespace torvane {

LoadedDialogSettings LoadDialogSettings(const std::string& ini_path) {
  LoadedDialogSettings loaded;
  loaded.problem = UnusableSettingsFileReason(ini_path);
  if (loaded.problem.empty()) {
    CIni ini;
    ini.SetPathName(ini_path);
    loaded.settings = LoadSettingsFromIni(ini);
  }
  return loaded;
}

std::string IdentityBoxText(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

void ShowSettingsInBoxes(const Settings& s, DialogControls& controls) {
  controls.SetControlText(IDC_EDIT_PATH, s.file_path);
  controls.SetControlText(IDC_EDIT_VID, IdentityBoxText(s.app_vid));
  controls.SetControlText(IDC_EDIT_PID, IdentityBoxText(s.app_pid));
  controls.SetControlText(IDC_EDIT_USAGE_PAGE, IdentityBoxText(s.app_usage_page));
  controls.SetControlText(IDC_EDIT_USAGE, IdentityBoxText(s.app_usage));
}

bool SaveDialogBoxes(const std::string& ini_path, const DialogControls& controls, bool disable_user_input,
                     std::string* error) {
  SavedSettings values;
  values.file_path = controls.ControlText(IDC_EDIT_PATH);
  values.vid_text = controls.ControlText(IDC_EDIT_VID);
  values.pid_text = controls.ControlText(IDC_EDIT_PID);
  values.usage_page_text = controls.ControlText(IDC_EDIT_USAGE_PAGE);
  values.usage_text = controls.ControlText(IDC_EDIT_USAGE);
  values.disable_user_input = disable_user_input;
  return SaveSettingsToFile(ini_path, values, error);
}

std::string SettingsProblemText(const std::string& ini_path, const std::string& problem) {
  return "设置文件无法使用:\n" + ini_path + "\n\n原因: " + problem + "\n\n本次运行使用默认设置, 退出时不会改写该文件。";
}

}  // namespace torvane
