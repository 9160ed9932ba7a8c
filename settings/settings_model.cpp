// Loading the settings from the file and writing part of them back.
#include "settings/settings_model.h"

#include <string>

#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "settings/profile_text.h"
#include "settings/settings_file_io.h"

namespace torvane {

namespace {

constexpr const char* kRecent = "Recent";
constexpr const char* kConfig = "Config";
constexpr const char* kOldBoot = "OldBoot";
constexpr const char* kBoot = "Boot";

class SettingsLoader {
 public:
  SettingsLoader(const CIni& ini, SettingSources* sources) : ini_(ini), sources_(sources) {}

  // Hexadecimal rule: the first 64 characters; empty or missing -> default;
  // otherwise the 32-bit base-16 conversion (unparsable -> 0).
  uint32_t Hex(const char* section, const char* key, uint32_t default_value) {
    std::string text;
    ini_.GetString(section, key, text);
    if (text.size() > kIniNumberTextLimit) text.resize(kIniNumberTextLimit);
    Note(section, key, !text.empty());
    return text.empty() ? default_value : ParseHexU32(text);
  }

  uint16_t Hex16(const char* section, const char* key, uint16_t default_value) {
    return static_cast<uint16_t>(Hex(section, key, default_value) & 0xFFFFu);
  }

  bool Flag(const char* section, const char* key) {
    std::string text;
    ini_.GetString(section, key, text);
    Note(section, key, !text.empty());
    return ini_.GetBool(section, key);
  }

  std::string Text(const char* section, const char* key, const std::string& default_value) {
    std::string text;
    ini_.GetString(section, key, text, default_value.c_str());
    if (sources_ != nullptr) Note(section, key, ini_.HasKey(section, key));
    return text;
  }

 private:
  void Note(const char* section, const char* key, bool from_file) {
    if (sources_ == nullptr) return;
    (*sources_)[std::string(section) + "/" + key] = from_file ? SettingSource::File : SettingSource::Default;
  }

  const CIni& ini_;
  SettingSources* sources_;
};

}  // namespace

Settings LoadSettingsFromIni(const CIni& ini, SettingSources* sources) {
  if (sources != nullptr) sources->clear();
  const Settings defaults;
  Settings s;
  SettingsLoader load(ini, sources);

  s.file_path = load.Text(kRecent, "File Path", defaults.file_path);

  s.app_vid = load.Hex16(kConfig, "VID", defaults.app_vid);
  s.app_pid = load.Hex16(kConfig, "PID", defaults.app_pid);
  s.app_usage_page = load.Hex16(kConfig, "Usage Page", defaults.app_usage_page);
  s.app_usage = load.Hex16(kConfig, "Usage", defaults.app_usage);
  s.app_address = load.Hex(kConfig, "App Address", defaults.app_address);
  s.disable_user_input = load.Flag(kConfig, "Disable User Input");

  s.old_boot_vid = load.Hex16(kOldBoot, "VID", defaults.old_boot_vid);
  s.old_boot_pid = load.Hex16(kOldBoot, "PID", defaults.old_boot_pid);
  s.boot_vid = load.Hex16(kBoot, "VID", defaults.boot_vid);
  s.boot_pid = load.Hex16(kBoot, "PID", defaults.boot_pid);
  s.boot_usage_page = load.Hex16(kBoot, "Usage Page", defaults.boot_usage_page);
  s.boot_usage = load.Hex16(kBoot, "Usage", defaults.boot_usage);

  s.boot_update_bin = load.Text(kBoot, "Boot Update Bin", defaults.boot_update_bin);
  s.boot_bin_info = load.Text(kBoot, "Boot Bin Info", defaults.boot_bin_info);
  s.boot_update_bin_header = load.Text(kBoot, "Boot Update Bin Header", defaults.boot_update_bin_header);
  s.boot_update_check = load.Flag(kBoot, "Boot Update Check");
  return s;
}

std::string IdentityTextForFile(std::string_view box_text) {
  return FormatNumber(ParseHexU32(box_text) & 0xFFFFu, 16);
}

bool SaveSettingsToFile(const std::string& ini_path, const SavedSettings& values, std::string* error) {
  auto refuse = [error](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (ini_path.empty()) return refuse("no settings file name");

  std::string text;
  switch (ReadSettingsFile(ini_path, &text)) {
    case SettingsFileRead::Ok:
      break;
    case SettingsFileRead::Missing:
      text.clear();  // first save: the file is created
      break;
    default:
      return refuse(ini_path + ": not a settings file this tool may rewrite");
  }
  // A NUL byte means the file is not text in this format (UTF-16, binary):
  // rewriting it line by line would damage it.
  if (text.find('\0') != std::string::npos) return refuse(ini_path + ": not text (NUL bytes)");

  ProfileText profile(text);
  bool ok = profile.SetString(kRecent, "File Path", values.file_path);
  ok = ok && profile.SetString(kConfig, "VID", IdentityTextForFile(values.vid_text));
  ok = ok && profile.SetString(kConfig, "PID", IdentityTextForFile(values.pid_text));
  ok = ok && profile.SetString(kConfig, "Usage Page", IdentityTextForFile(values.usage_page_text));
  ok = ok && profile.SetString(kConfig, "Usage", IdentityTextForFile(values.usage_text));
  ok = ok && profile.SetString(kConfig, "Disable User Input", values.disable_user_input ? "1" : "0");
  if (!ok) return refuse("a key name the file cannot hold");
  return ReplaceFileAtomically(ini_path, profile.Text(), error);
}

}  // namespace torvane
