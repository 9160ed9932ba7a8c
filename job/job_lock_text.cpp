#include "job/job_lock_text.h"

#include <vector>

#include "job/job_lock.h"
#include "text/ini_lines.h"

namespace torvane {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// A line of the text: where it begins, its length without the line end,
// and the line end ("\n", "\r\n", "\r" or none at the end of the text).
struct Line {
  size_t begin = 0;
  size_t length = 0;
  std::string_view end;
};

// Numbered from 1 as ReadIniLines numbers them.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines(1);  // [0] unused
  for (size_t at = 0; at < text.size();) {
    const size_t stop = text.find_first_of("\r\n", at);
    Line line{at, (stop == std::string_view::npos ? text.size() : stop) - at, {}};
    if (stop != std::string_view::npos) {
      line.end = text.substr(stop, text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n' ? 2 : 1);
    }
    at = line.begin + line.length + line.end.size();
    lines.push_back(line);
  }
  return lines;
}

struct LockPlace {
  int header = 0;    // the first [lock] header's line
  int password = 0;  // the password's line
  int others = 0;    // other entries in [lock]
};

LockPlace FindLock(const IniLines& ini) {
  LockPlace place;
  for (const auto& section : ini.sections) {
    if (Lower(section.name) == "lock" && place.header == 0) place.header = section.line;
  }
  for (const auto& entry : ini.entries) {
    if (Lower(entry.section) != "lock") continue;
    if (Lower(entry.key) == "password") place.password = entry.line;
    else ++place.others;
  }
  return place;
}

}  // namespace

bool ReadJobLockText(std::string_view text, std::optional<JobLock>* lock, JobProblem* problem) {
  lock->reset();
  const IniLines ini = ReadIniLines(text);
  if (!ini.errors.empty()) {
    *problem = {ini.errors[0].line, "", ini.errors[0].reason};
    return false;
  }
  bool job = false;
  for (const auto& section : ini.sections) job |= Lower(section.name) == "job";
  if (!job) {
    *problem = {0, "", "not a job file: no [job] section"};
    return false;
  }
  const IniLines::Entry* password = nullptr;
  for (const auto& entry : ini.entries) {
    if (Lower(entry.section) != "lock" || Lower(entry.key) != "password") continue;
    if (password) {
      *problem = {entry.line, "lock.password", "given again (first on line " + std::to_string(password->line) + ")"};
      return false;
    }
    password = &entry;
  }
  if (!password) return true;
  JobLock parsed;
  std::string why;
  if (!ParseJobLockValue(password->value, &parsed, &why)) {
    *problem = {password->line, "lock.password", why};
    return false;
  }
  *lock = std::move(parsed);
  return true;
}

std::string EditJobLockText(std::string_view text, std::string_view value) {
  const std::vector<Line> lines = SplitLines(text);
  const LockPlace place = FindLock(ReadIniLines(text));
  const std::string entry = "password = " + std::string(value);
  // New lines end as the file's first line does.
  const std::string_view eol = lines.size() > 1 && !lines[1].end.empty() ? lines[1].end : "\n";
  std::string out(text);
  if (value.empty()) {
    if (place.password == 0) return out;
    const Line& password = lines[place.password];
    out.erase(password.begin, password.length + password.end.size());
    if (place.others == 0 && place.header != 0 && place.header < place.password) {
      const Line& header = lines[place.header];
      out.erase(header.begin, header.length + header.end.size());
    }
    return out;
  }
  if (place.password != 0) {
    const Line& password = lines[place.password];
    return out.replace(password.begin, password.length, entry);
  }
  if (place.header != 0) {
    const Line& header = lines[place.header];
    if (header.end.empty()) return out + std::string(eol) + entry;
    return out.insert(header.begin + header.length + header.end.size(), entry + std::string(header.end));
  }
  if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
  return out + "[lock]" + std::string(eol) + entry + std::string(eol);
}

}  // namespace torvane
