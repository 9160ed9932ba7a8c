// The tool's settings: every key of Torvane.ini with its type and default,
// loaded once at start-up and partly written back at shut-down. Qt-free; the
// dialog and the command-line tool only move values in and out of it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace torvane {

class CIni;

inline constexpr const char* kSettingsFileName = "Torvane.ini";

struct Settings {
  // Recent
  std::string file_path;                 // "File Path", default empty
  // Config
  uint16_t app_vid = 0x0534;             // "VID"
  uint16_t app_pid = 0x0002;             // "PID"
  uint16_t app_usage_page = 0x0001;      // "Usage Page"
  uint16_t app_usage = 0x0000;           // "Usage"
  uint32_t app_address = 0x1000;         // "App Address"
  bool disable_user_input = false;       // "Disable User Input"
  // OldBoot
  uint16_t old_boot_vid = 0x484F;        // "VID"
  uint16_t old_boot_pid = 0x5045;        // "PID"
  // Boot
  uint16_t boot_vid = 0x484F;            // "VID"
  uint16_t boot_pid = 0x5048;            // "PID"
  uint16_t boot_usage_page = 0xFFFF;     // "Usage Page"
  uint16_t boot_usage = 0xFFFF;          // "Usage"
  std::string boot_update_bin = "burn_boot_0.3.0.0.bin";                     // "Boot Update Bin"
  std::string boot_bin_info = "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016";         // "Boot Bin Info"
  std::string boot_update_bin_header = "head_1.0_2016_04_22.bin";           // "Boot Update Bin Header"
  bool boot_update_check = false;        // "Boot Update Check"
};

// Where each value came from, keyed "Section/Key" (for `torvane-cli config`).
enum class SettingSource { Default, File };
using SettingSources = std::map<std::string, SettingSource>;

// Reads every key in the fixed order. Missing keys take their defaults; so
// do empty numbers (empty flags read false), while a text key present with
// an empty value reads as empty. Unparsable numbers read as 0; numbers and
// flags count only their first 64 characters.
Settings LoadSettingsFromIni(const CIni& ini, SettingSources* sources = nullptr);

// The part of the settings that is written back, as the dialog holds it:
// the image path box text, the four identity box texts (converted with the
// hexadecimal rule and written as %X), and the operator-mode flag.
struct SavedSettings {
  std::string file_path;
  std::string vid_text;
  std::string pid_text;
  std::string usage_page_text;
  std::string usage_text;
  bool disable_user_input = false;
};

// The text an identity edit box is saved as: its base-16 value (32-bit
// wcstoul rules), low 16 bits, as "%X" -- "0534" gives "534", an empty or
// unparsable box gives "0".
std::string IdentityTextForFile(std::string_view box_text);

// Writes Recent/File Path, Config/VID, PID, Usage Page, Usage and
// Disable User Input, keeping every other line of the file. The file is
// replaced atomically (temporary file + rename); failures are ignored and
// leave the old file untouched. A file path holding a line break is cut
// there (one line per value). Returns whether the file was written; when
// not, *error (if given) says why.
bool SaveSettingsToFile(const std::string& ini_path, const SavedSettings& values, std::string* error = nullptr);

}  // namespace torvane
