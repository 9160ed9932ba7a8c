// libFuzzer target for Torvane.ini: arbitrary file bytes are read, saved with
// changed values and read again. Whatever the file holds: no crash; when the
// save writes the file, the changed values read back, the settings it does
// not write read as before and every other line is kept byte for byte, in
// order; when it refuses, the file is left exactly as it was.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "settings/settings_model.h"

namespace {

using torvane::Settings;

std::string g_dir;   // scratch folder, removed at exit
std::string g_path;  // the settings file in it

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Settings Load() {
  torvane::CIni ini;
  ini.SetPathName(g_path);
  return torvane::LoadSettingsFromIni(ini);
}

struct Line {
  std::string_view content;
  std::string_view end;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t brk = text.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    const size_t n = (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1;
    lines.push_back({text.substr(pos, brk - pos), text.substr(brk, n)});
    pos = brk + n;
  }
  return lines;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A line that may hold one of the keys the save writes.
bool MayHoldWrittenKey(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  std::string_view key = line.substr(0, equals);
  while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.remove_prefix(1);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
  for (std::string_view written : {"File Path", "VID", "PID", "Usage Page", "Usage", "Disable User Input"}) {
    if (EqualNoCase(key, written)) return true;
  }
  return false;
}

std::string_view WithoutBom(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

// Every line of `before` that holds none of the written keys appears in
// `after`, unchanged and in order. A last line without a line end may have
// gained one. Where a line ends in a lone CR and an empty line ending in LF
// follows it (in the file or as a line the save adds), the two read back as
// one CRLF: the bytes are all there, only the empty line is gone, so empty
// lines are not looked for and a CR may have become a CRLF.
void CheckForeignLinesKept(std::string_view before, std::string_view after) {
  if ((WithoutBom(before).size() != before.size()) != (WithoutBom(after).size() != after.size())) std::abort();
  const std::vector<Line> old_lines = SplitLines(WithoutBom(before));
  const std::vector<Line> new_lines = SplitLines(WithoutBom(after));
  size_t j = 0;
  for (const Line& line : old_lines) {
    if (line.content.empty() || MayHoldWrittenKey(line.content)) continue;
    while (j < new_lines.size() &&
           !(new_lines[j].content == line.content &&
             (new_lines[j].end == line.end || line.end.empty() || (line.end == "\r" && new_lines[j].end == "\r\n")))) {
      ++j;
    }
    if (j == new_lines.size()) std::abort();
    ++j;
  }
  // At most the six keys and two new sections, each with a blank line
  // before it, are added.
  if (new_lines.size() > old_lines.size() + 10) std::abort();
}

// Values the save writes, picked by the input so that every shape is tried.
constexpr const char* kPaths[] = {"/home/user/firmware/app.bin", "", "C:\\fw\\app 1.bin",
                                  "固件/应用.bin", "a=b;c#d[e]", "/x/Usage=1"};
constexpr const char* kIdentities[] = {"0534", "", "ffff", "12345", "zz", "0x1A"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // On tmpfs when there is one: the save flushes the file to disk, which
  // would otherwise hold the target to a few dozen runs a second.
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  dir += "/torvane-settings-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  g_dir = dir;
  g_path = dir + "/Torvane.ini";
  std::atexit([] {
    unlink(g_path.c_str());
    rmdir(g_dir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view original(reinterpret_cast<const char*>(data), size);
  WriteAll(g_path, original);
  const Settings before = Load();

  const uint32_t pick = size == 0 ? 0 : data[size - 1] + 7u * data[0];
  torvane::SavedSettings values;
  values.file_path = kPaths[pick % std::size(kPaths)];
  values.vid_text = kIdentities[pick % std::size(kIdentities)];
  values.pid_text = kIdentities[(pick / 6) % std::size(kIdentities)];
  values.usage_page_text = kIdentities[(pick / 36) % std::size(kIdentities)];
  values.usage_text = kIdentities[(pick / 216) % std::size(kIdentities)];
  values.disable_user_input = (pick & 1) != 0;

  const bool saved = torvane::SaveSettingsToFile(g_path, values);
  const std::string after_text = ReadAll(g_path);
  if (!saved) {
    if (after_text != original) std::abort();
    return 0;
  }
  CheckForeignLinesKept(original, after_text);

  const Settings after = Load();
  auto hex16 = [](const std::string& text) { return static_cast<uint16_t>(torvane::ParseHexU32(text)); };
  if (after.file_path != values.file_path) std::abort();
  if (after.app_vid != hex16(values.vid_text) || after.app_pid != hex16(values.pid_text) ||
      after.app_usage_page != hex16(values.usage_page_text) || after.app_usage != hex16(values.usage_text) ||
      after.disable_user_input != values.disable_user_input) {
    std::abort();
  }
  // What the save does not write reads as before.
  if (!(before.app_address == after.app_address && before.old_boot_vid == after.old_boot_vid &&
        before.old_boot_pid == after.old_boot_pid && before.boot_vid == after.boot_vid &&
        before.boot_pid == after.boot_pid && before.boot_usage_page == after.boot_usage_page &&
        before.boot_usage == after.boot_usage && before.boot_update_bin == after.boot_update_bin &&
        before.boot_bin_info == after.boot_bin_info &&
        before.boot_update_bin_header == after.boot_update_bin_header &&
        before.boot_update_check == after.boot_update_check)) {
    std::abort();
  }
  return 0;
}
