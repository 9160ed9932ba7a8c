#include "ui/station_feed.h"

#include "download/download_result.h"
#include "ui/station_texts.h"

namespace torvane {

bool IsBusyState(UnitState state) {
  return state == UnitState::kFlashing || state == UnitState::kEnteringBoot || state == UnitState::kWaitingBoot;
}

bool AwaitsAcknowledgement(const StationRow& row) {
  return row.state == UnitState::kFailed && !row.acknowledged && !(row.has_result && row.result == DL_CANCELLED);
}

StationRow& StationFeed::RowOf(const UnitView& unit) {
  ++events_;
  StationRow& row = rows_[unit.port];
  if (row.unit != unit.unit) {
    // Another unit on this port: its row starts afresh.
    if (row.unit != 0) port_of_unit_.erase(row.unit);
    row = StationRow{};
    row.unit = unit.unit;
    row.port = unit.port;
  }
  port_of_unit_[unit.unit] = unit.port;
  row.path = unit.path;
  row.slot = unit.slot;
  row.serial = unit.serial;
  row.kind = unit.kind;
  Touch(unit.port);
  return row;
}

void StationFeed::OnUnitAppeared(const UnitView& unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  StationRow& row = RowOf(unit);
  row.left = false;
  row.left_while_busy = false;
}

void StationFeed::OnUnitState(const UnitView& unit, UnitState state, const std::string& detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  StationRow& row = RowOf(unit);
  const auto now = StationClock::now();
  if (state == UnitState::kGone) {
    // The row keeps what the unit was doing; a flash that was running ends
    // with its own result, which the row then shows.
    row.left = true;
    row.left_at = now;
    row.left_while_busy = IsBusyState(row.state);
    return;
  }
  row.state = state;
  row.detail = detail;
  if (state == UnitState::kFlashing) {
    row.percent = 0;
    row.bytes_per_second = 0;
    row.flash_started = now;
    row.duration_s = -1;
    row.has_result = false;
    row.serial_number.clear();
    row.serial_number_kept = false;
    row.info.clear();
    row.boot_update = false;
  }
  if (row.left) row.left_at = now;
}

void StationFeed::OnUnitProgress(const UnitProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++events_;
  auto port = port_of_unit_.find(progress.unit);
  if (port == port_of_unit_.end()) return;
  StationRow& row = rows_[port->second];
  row.percent = progress.percent;
  row.bytes_per_second = progress.bytes_per_second;
  if (!progress.serial_number.empty()) row.serial_number = progress.serial_number;
  Touch(port->second);
}

void StationFeed::OnUnitFinished(const UnitView& unit, const UnitResult& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  StationRow& row = RowOf(unit);
  row.has_result = true;
  row.result = result.result;
  row.serial_number = result.serial_number;
  row.serial_number_kept = result.serial_number_kept;
  row.boot_update = result.boot_update;
  row.duration_s = result.duration_s;
  if (result.total_bytes > 0) {
    row.percent = static_cast<int>(uint64_t{result.bytes_acknowledged} * 100 / result.total_bytes);
  }
  record_lines_.push_back(
      StationRecordLineText(unit, result, std::chrono::system_clock::to_time_t(std::chrono::system_clock::now())));
  record_json_.push_back(result.record_line);
  if (result.result != DL_OK && result.result != DL_CANCELLED) ++failures_;
}

void StationFeed::OnUnitInfo(const UnitView& unit, const std::string& info_text) {
  std::lock_guard<std::mutex> lock(mutex_);
  RowOf(unit).info = info_text;
}

void StationFeed::OnCounters(const StationCounters& counters) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++events_;
  counters_ = counters;
  counters_changed_ = true;
}

void StationFeed::OnStationMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++events_;
  messages_.push_back(text);
}

StationBatch StationFeed::Drain(StationClock::time_point now) {
  StationBatch batch;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = rows_.begin(); it != rows_.end();) {
    const StationRow& row = it->second;
    const auto grace = row.state == UnitState::kFailed ? failed_grace_ : leave_grace_;
    if (row.left && !IsBusyState(row.state) && now - row.left_at >= grace) {
      batch.removed.push_back(it->first);
      dirty_.erase(it->first);
      port_of_unit_.erase(row.unit);
      it = rows_.erase(it);
    } else {
      ++it;
    }
  }
  batch.changed.reserve(dirty_.size());
  for (const std::string& port : dirty_) {
    auto row = rows_.find(port);
    if (row != rows_.end()) batch.changed.push_back(row->second);
  }
  dirty_.clear();
  batch.counters_changed = counters_changed_;
  batch.counters = counters_;
  counters_changed_ = false;
  batch.record_lines.swap(record_lines_);
  batch.messages.swap(messages_);
  batch.record_json.swap(record_json_);
  batch.failures = failures_;
  failures_ = 0;
  return batch;
}

uint64_t StationFeed::EventsReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

}  // namespace torvane
