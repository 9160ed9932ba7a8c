#include "ui/station_table.h"

#include <algorithm>

#include "monitor/printable_text.h"
#include "ui/station_texts.h"

namespace torvane {

namespace {
bool RowLess(const StationRow& row, const std::string& port) { return row.port < port; }
}  // namespace

RowTone ToneOf(const StationRow& row) {
  if (row.state == UnitState::kPassed) return RowTone::kPassed;
  if (row.state == UnitState::kFailed) return RowTone::kFailed;
  return RowTone::kNone;
}

std::string StationCellText(const StationRow& row, int column, StationClock::time_point now) {
  switch (column) {
    case kColPort: return row.port;
    case kColSerial: return EscapeControlCharacters(row.serial);  // as the unit reported it
    case kColKind: return StationKindText(row.kind);
    case kColInfo: return EscapeControlCharacters(row.info);
    case kColState: return StationStateText(row);
    case kColProgress: return StationProgressText(row);
    case kColDuration: return StationDurationText(row, now);
    default: return std::string();
  }
}

std::vector<StationTableChange> StationTable::Apply(const StationBatch& batch, StationClock::time_point now) {
  now_ = now;
  std::vector<StationTableChange> changes;
  for (const std::string& port : batch.removed) {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), port, RowLess);
    if (it == rows_.end() || it->port != port) continue;
    changes.push_back({StationTableChange::kRemoved, static_cast<int>(it - rows_.begin())});
    rows_.erase(it);
  }
  for (const StationRow& changed : batch.changed) {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), changed.port, RowLess);
    const int at = static_cast<int>(it - rows_.begin());
    if (it != rows_.end() && it->port == changed.port) {
      *it = changed;
      changes.push_back({StationTableChange::kUpdated, at});
    } else {
      rows_.insert(it, changed);
      changes.push_back({StationTableChange::kInserted, at});
    }
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].state == UnitState::kFlashing) changes.push_back({StationTableChange::kUpdated, static_cast<int>(i)});
  }
  return changes;
}

}  // namespace torvane
