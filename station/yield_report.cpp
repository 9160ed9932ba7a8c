#include "station/yield_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include "text/json_reader.h"

namespace torvane {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(std::string_view text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

// The parts of a record time; zone_minutes is set when the text has a zone.
struct TimeParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  std::optional<int> zone_minutes;
};

bool SplitTime(std::string_view t, TimeParts* p) {
  if (!Digits(t, 0, 4, &p->year) || t.size() < 16 || t[4] != '-' || !Digits(t, 5, 2, &p->month) || t[7] != '-' ||
      !Digits(t, 8, 2, &p->day) || (t[10] != 'T' && t[10] != ' ') || !Digits(t, 11, 2, &p->hour) || t[13] != ':' ||
      !Digits(t, 14, 2, &p->minute))
    return false;
  size_t at = 16;
  if (at < t.size() && t[at] == ':') {
    if (!Digits(t, at + 1, 2, &p->second)) return false;
    at += 3;
    if (at < t.size() && t[at] == '.') {
      size_t end = at + 1;
      while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
      if (end == at + 1) return false;
      int frac = 0;
      Digits(t, at + 1, std::min<size_t>(3, end - at - 1), &frac);
      for (size_t n = end - at - 1; n < 3; ++n) frac *= 10;
      p->millis = frac;
      at = end;
    }
  }
  if (at < t.size() && t[at] == 'Z' && at + 1 == t.size()) {
    p->zone_minutes = 0;
  } else if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
    int zh = 0, zm = 0;
    if (t.size() != at + 6 || !Digits(t, at + 1, 2, &zh) || t[at + 3] != ':' || !Digits(t, at + 4, 2, &zm) || zh > 23 ||
        zm > 59)
      return false;
    p->zone_minutes = (t[at] == '-' ? -1 : 1) * (zh * 60 + zm);
  } else if (at != t.size()) {
    return false;
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = p->year % 4 == 0 && (p->year % 100 != 0 || p->year % 400 == 0);
  if (p->month < 1 || p->month > 12) return false;
  const int days = kDays[p->month - 1] + (p->month == 2 && leap ? 1 : 0);
  return p->day >= 1 && p->day <= days && p->hour <= 23 &&
         p->minute <= 59 && p->second <= 60;
}

int64_t LocalWallMs(const TimeParts& p) {
  return ((DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) * 24 + p.hour) * 60 +
          p.minute) * 60000LL + p.second * 1000LL + p.millis;
}

// One line of a unit, as far as the report needs it.
struct Line {
  uint64_t unit = 0;
  bool final = false;
  bool passed = false;
  std::string cause;
  int attempt = 1;
  double duration_s = 0;
  int64_t end_ms = 0;
  std::string hour;     // "2026-12-07T14:00+01:00"
  int64_t hour_key = 0; // the hour's start, ms since the epoch
  std::string serial;
  std::string serial_number;  // the job's, written in by this line's flash
};

bool ReadLine(std::string_view text, Line* line, std::string* why) {
  JsonMembers m;
  if (!ReadJsonObject(text, &m, why)) return false;
  auto field = [&](const char* name, JsonValue::Kind kind, const JsonValue** out) {
    const auto it = m.find(name);
    if (it == m.end()) {
      *why = std::string("no \"") + name + "\" field";
      return false;
    }
    if (it->second.kind != kind) {
      *why = std::string("\"") + name + "\" is of the wrong type";
      return false;
    }
    *out = &it->second;
    return true;
  };
  const JsonValue *unit, *final, *attempt, *duration, *end, *result_name;
  if (!field("unit", JsonValue::kNumber, &unit) || !field("final", JsonValue::kBool, &final) ||
      !field("attempt", JsonValue::kNumber, &attempt) || !field("duration_s", JsonValue::kNumber, &duration) ||
      !field("end", JsonValue::kString, &end) || !field("result_name", JsonValue::kString, &result_name))
    return false;
  if (unit->number < 0 || unit->number > 9.0e15 || unit->number != std::floor(unit->number)) {
    *why = "\"unit\" is not a unit number";
    return false;
  }
  if (attempt->number < 1 || attempt->number > 1.0e6 || attempt->number != std::floor(attempt->number)) {
    *why = "\"attempt\" is not an attempt number";
    return false;
  }
  if (!(duration->number >= 0) || !std::isfinite(duration->number)) {
    *why = "\"duration_s\" is not a duration";
    return false;
  }
  TimeParts parts;
  if (!SplitTime(end->text, &parts) || !parts.zone_minutes) {
    *why = "\"end\" is not a time with its zone";
    return false;
  }
  line->unit = static_cast<uint64_t>(unit->number);
  line->final = final->boolean;
  line->attempt = static_cast<int>(attempt->number);
  line->duration_s = duration->number;
  line->passed = result_name->text == "ok";
  line->cause = result_name->text.empty() ? "error" : result_name->text;
  const int64_t wall = LocalWallMs(parts);
  line->end_ms = wall - *parts.zone_minutes * 60000LL;
  const int64_t wall_hour = wall - ((wall % 3600000 + 3600000) % 3600000);
  line->hour_key = wall_hour - *parts.zone_minutes * 60000LL;
  line->hour = end->text.substr(0, 13) + ":00" + (*parts.zone_minutes == 0 && end->text.back() == 'Z'
                                                      ? std::string("Z")
                                                      : end->text.substr(end->text.size() - 6));
  const auto serial = m.find("serial");
  if (serial != m.end() && serial->second.kind == JsonValue::kString) line->serial = serial->second.text;
  const auto written = m.find("serial_number");
  if (written != m.end() && written->second.kind == JsonValue::kString) line->serial_number = written->second.text;
  return true;
}

struct Unit {
  bool decided = false;
  Line deciding;
  int max_attempt = 1;
  double duration_s = 0;
  std::set<std::string> serials;
  std::vector<std::string> serial_numbers;  // written in by its passed flashes
};

}  // namespace

bool ParseRecordTime(std::string_view text, int64_t* epoch_ms) {
  TimeParts p;
  if (!SplitTime(text, &p)) return false;
  if (p.zone_minutes) {
    *epoch_ms = LocalWallMs(p) - *p.zone_minutes * 60000LL;
    return true;
  }
  std::tm local{};
  local.tm_year = p.year - 1900;
  local.tm_mon = p.month - 1;
  local.tm_mday = p.day;
  local.tm_hour = p.hour;
  local.tm_min = p.minute;
  local.tm_sec = p.second;
  local.tm_isdst = -1;
  const time_t seconds = std::mktime(&local);
  if (seconds == static_cast<time_t>(-1)) return false;
  *epoch_ms = static_cast<int64_t>(seconds) * 1000 + p.millis;
  return true;
}

int YieldReport::BadLines() const {
  int bad = 0;
  for (const auto& f : files) bad += f.bad_lines;
  return bad;
}

YieldReport BuildYieldReport(const std::vector<RecordFileText>& files, const YieldReportWindow& window) {
  YieldReport report;
  std::vector<Unit> units;
  for (const auto& file : files) {
    RecordFileSummary summary;
    summary.name = file.name;
    // The unit now open under each number: a station run that appends to
    // the same file starts its numbers again, so a line for a unit that
    // already has its final line begins another unit.
    std::map<uint64_t, size_t> open;
    std::string_view rest = file.text;
    int number = 0;
    while (!rest.empty()) {
      const size_t nl = rest.find('\n');
      std::string_view text = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      ++number;
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      if (text.find_first_not_of(" \t") == std::string_view::npos) continue;
      ++summary.lines;
      Line line;
      std::string why;
      if (!ReadLine(text, &line, &why)) {
        if (summary.bad_lines++ == 0) {
          summary.first_bad_line = number;
          summary.first_bad_reason = why;
        }
        continue;
      }
      auto it = open.find(line.unit);
      if (it == open.end() || units[it->second].decided) {
        units.emplace_back();
        it = open.insert_or_assign(line.unit, units.size() - 1).first;
      }
      Unit& u = units[it->second];
      u.max_attempt = std::max(u.max_attempt, line.attempt);
      u.duration_s += line.duration_s;
      if (!line.serial.empty()) u.serials.insert(line.serial);
      if (line.passed && !line.serial_number.empty()) u.serial_numbers.push_back(line.serial_number);
      if (line.final) {
        u.decided = true;
        u.deciding = std::move(line);
      }
    }
    report.files.push_back(std::move(summary));
  }

  std::map<std::string, int> causes;
  std::map<int64_t, std::pair<std::string, int>> hours;
  std::set<std::string> serials;
  std::map<std::string, int> serial_numbers;
  std::vector<double> durations;
  for (const auto& u : units) {
    if (!u.decided) {
      ++report.unfinished;
      continue;
    }
    const Line& d = u.deciding;
    if ((window.since_ms && d.end_ms < *window.since_ms) || (window.until_ms && d.end_ms >= *window.until_ms)) {
      ++report.outside_window;
      continue;
    }
    ++report.units;
    if (d.passed) {
      ++report.passed;
      if (d.attempt == 1) ++report.first_pass;
    } else {
      ++report.failed;
      ++causes[d.cause];
    }
    report.retries += u.max_attempt - 1;
    durations.push_back(u.duration_s);
    auto& hour = hours[d.hour_key];
    if (hour.first.empty()) hour.first = d.hour;
    ++hour.second;
    serials.insert(u.serials.begin(), u.serials.end());
    for (const std::string& number : u.serial_numbers) ++serial_numbers[number];
  }
  report.failures_by_cause.assign(causes.begin(), causes.end());
  std::stable_sort(report.failures_by_cause.begin(), report.failures_by_cause.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  for (const auto& [key, hour] : hours) report.units_per_hour.push_back(hour);
  report.serials.assign(serials.begin(), serials.end());
  for (const auto& [number, units_holding] : serial_numbers) {
    report.serial_numbers.push_back(number);
    if (units_holding > 1) report.duplicate_serial_numbers.push_back(number);
  }
  if (!durations.empty()) {
    std::sort(durations.begin(), durations.end());
    double sum = 0;
    for (double d : durations) sum += d;
    report.mean_duration_s = sum / static_cast<double>(durations.size());
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(durations.size())));
    report.p95_duration_s = durations[std::max<size_t>(rank, 1) - 1];
  }
  return report;
}

}  // namespace torvane
