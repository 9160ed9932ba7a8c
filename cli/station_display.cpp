#include "cli/station_display.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "monitor/printable_text.h"
#include "monitor/stream_output.h"
#include "platform/console.h"
#include "station/attached_interfaces.h"
#include "station/unit_record.h"
#include "station/units_per_hour.h"

namespace torvane::cli {

namespace {
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

// "port 1-1.2", or "slot 槽3  port 1-1.2" with a slot map.
std::string Where(const UnitView& unit) {
  const std::string slot = unit.slot.empty() ? "" : "slot " + EscapeControlCharacters(unit.slot) + "  ";
  return slot + "port " + unit.port;
}

std::string Format(const char* format, auto... args) {
  char text[512];
  std::snprintf(text, sizeof(text), format, args...);
  return text;
}
// `text` cut to `columns` screen columns (a CJK character takes two).
std::string CutToColumns(const std::string& text, int columns) {
  int used = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const int width = lead >= 0xE3 && lead <= 0xED ? 2 : 1;  // U+3000..U+DFFF: CJK, wide
    if (used + width > columns) break;
    used += width;
    i += std::min(length, text.size() - i);
  }
  return text.substr(0, i);
}
}  // namespace

TerminalSize StationDisplay::Size() const {
  TerminalSize size = fixed_size_;
  int columns = 0;
  int rows = 0;
  if (size.columns <= 0 && platform::TerminalCells(out_, &columns, &rows)) size = {columns, rows};
  if (size.columns <= 0) size = {80, 24};
  return size;
}

// Every unit's worker waits while the display writes; a stream nobody reads
// loses progress instead of holding up the flashing. Result lines wait for
// the reader on the writer thread, so they arrive and nobody here waits.
bool StationDisplay::Write(const std::string& text) {
  std::fflush(out_);
  return WriteWithoutBlocking(fileno(out_), text);
}

void StationDisplay::Plain(const std::string& line) { Write(line + "\n"); }

void StationDisplay::Result(const std::string& text) {
  std::fflush(out_);
  WriteResult(fileno(out_), text);
}

void StationDisplay::OnUnitAppeared(const UnitView& unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_[unit.unit];
  row.unit = unit;
  if (terminal_) return Redraw(true);
  Plain(Format("unit %llu  %s  %s appeared  serial %s  path %s", static_cast<unsigned long long>(unit.unit),
               Where(unit).c_str(), KindName(unit.kind),
               unit.serial.empty() ? "-" : EscapeControlCharacters(unit.serial).c_str(), unit.path.c_str()));
}

void StationDisplay::OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_[unit.unit];
  row.unit = unit;
  row.state = state;
  row.detail = detail;
  if (state == UnitState::kFlashing) row.percent = 0;
  if (state == UnitState::kPassed || state == UnitState::kFailed) row.finished_order = ++finishes_;
  if (terminal_) return Redraw(true);
  Plain(Format("unit %llu  %s  %s%s%s", static_cast<unsigned long long>(unit.unit), Where(unit).c_str(),
               UnitStateName(state), detail.empty() ? "" : ": ", EscapeControlCharacters(detail).c_str()));
}

void StationDisplay::OnUnitProgress(const UnitProgress& p) {
  std::lock_guard<std::mutex> lock(mutex_);
  Row& row = rows_[p.unit];
  const int step_before = row.percent / 10;
  row.percent = p.percent;
  row.rate = p.bytes_per_second;
  if (terminal_) return Redraw(false);
  if (p.percent / 10 == step_before || p.percent % 10 != 0) return;
  Plain(Format("unit %llu  %s  %3d%%  %u/%u bytes  %.1f KiB/s", static_cast<unsigned long long>(p.unit),
               Where(row.unit).c_str(), p.percent, p.bytes_acknowledged, p.total_bytes, p.bytes_per_second / 1024.0));
}

void StationDisplay::OnUnitFinished(const UnitView& unit, const UnitResult& r) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    if (!r.recorded) SayLocked(Format("unit %llu  port %s  NOT RECORDED", static_cast<unsigned long long>(unit.unit), unit.port.c_str()));
    return;
  }
  const std::string serial_number =
      r.serial_number.empty() ? "" : "  serial number " + EscapeControlCharacters(r.serial_number);
  Result(Format("unit %llu  %s  %s  %s  %u/%u bytes  busy %u  %.2f s%s%s", static_cast<unsigned long long>(unit.unit),
               Where(unit).c_str(), DownloadResultName(r.result), DownloadResultText(r.result).c_str(),
               r.bytes_acknowledged, r.total_bytes, r.busy_answers, r.duration_s, serial_number.c_str(),
               r.recorded ? "" : "  (NOT RECORDED)") + "\n");
}

void StationDisplay::OnCounters(const StationCounters& counters) {
  std::lock_guard<std::mutex> lock(mutex_);
  counters_ = counters;
  if (terminal_) return Redraw(true);
  Plain(SummaryText());
}

void StationDisplay::OnStationMessage(const std::string& text) { Say("station: " + text); }

void StationDisplay::Say(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  SayLocked(text);
}

void StationDisplay::SayLocked(const std::string& text) {
  std::string out;
  if (terminal_ && lines_drawn_ > 0) {
    // Above the unit lines: clear them, print, draw them again below.
    out = Format("\x1b[%dA\r\x1b[J", lines_drawn_);
    lines_drawn_ = 0;
  }
  Result(out + text + "\n");
  if (terminal_) Redraw(true);
}

std::string StationDisplay::RowText(const Row& row) const {
  constexpr int kWidth = 20;
  const int percent = row.percent < 0 ? 0 : row.percent;
  std::string bar(static_cast<size_t>(percent * kWidth / 100), '#');
  bar.append(static_cast<size_t>(kWidth) - bar.size(), '.');
  // With a slot map the slot comes first: it is what the operator looks for.
  const std::string where =
      row.unit.slot.empty() ? row.unit.port : EscapeControlCharacters(row.unit.slot) + " " + row.unit.port;
  return Format("%-14s %-14s [%s] %3d%% %8.1f KiB/s  %s%s%s", where.c_str(), KindName(row.unit.kind),
                bar.c_str(), percent, row.rate / 1024.0, UnitStateName(row.state), row.detail.empty() ? "" : ": ",
                EscapeControlCharacters(row.detail.substr(0, 40)).c_str());  // one screen line each, for the redraw
}

std::string StationDisplay::SummaryText() const {
  const int flashing = static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [](const auto& r) { return r.second.state == UnitState::kFlashing; }));
  const int finished = counters_.passed + counters_.failed;
  const bool rate = UnitsPerHourMeaningful(finished, std::chrono::steady_clock::now() - started_);
  return (count_ > 0 ? Format("%d / %d  ", finished, count_) : std::string()) +
         Format("passed %d  failed %d  active %d  ", counters_.passed, counters_.failed, flashing) +
         (rate ? Format("%.0f units/h", counters_.units_per_hour) : std::string("-- units/h"));
}

void StationDisplay::Redraw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_draw_ < kRedrawPeriod) return;
  last_draw_ = now;
  std::string text;
  if (lines_drawn_ > 0) text += Format("\x1b[%dA", lines_drawn_);
  // One screen line each, never wrapped (the cursor moves back by lines);
  // the last column stays free, as some terminals wrap on it.
  const TerminalSize size = Size();
  const int columns = std::max(size.columns - 1, 1);
  const size_t room = static_cast<size_t>(std::max(size.rows - 2, 1));  // the summary, and the line it ends on
  std::vector<const Row*> shown;
  for (const auto& [unit, row] : rows_) shown.push_back(&row);
  if (shown.size() > room) {
    // The units at work first, then those finished last, then the newest.
    auto rank = [](const Row* r) {
      const bool busy = r->state == UnitState::kFlashing || r->state == UnitState::kEnteringBoot ||
                        r->state == UnitState::kWaitingBoot;
      return std::make_tuple(busy ? 1 : 0, r->finished_order, r->unit.unit);
    };
    std::partial_sort(shown.begin(), shown.begin() + static_cast<long>(room), shown.end(),
                      [&](const Row* a, const Row* b) { return rank(a) > rank(b); });
    shown.resize(room);
    std::sort(shown.begin(), shown.end(), [](const Row* a, const Row* b) { return a->unit.unit < b->unit.unit; });
  }
  int lines = 0;
  for (const Row* row : shown) {
    text += "\r\x1b[K" + CutToColumns(RowText(*row), columns) + "\n";
    ++lines;
  }
  text += "\r\x1b[K" + CutToColumns(SummaryText(), columns) + "\n";
  // A redraw that did not get through (a slow reader, result lines waiting)
  // left nothing to move back over.
  lines_drawn_ = Write(text) ? lines + 1 : 0;
}

}  // namespace torvane::cli
