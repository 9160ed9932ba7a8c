#include "ui/station_table.h"

#include <algorithm>
#include <tuple>

#include "monitor/printable_text.h"
#include "ui/station_texts.h"

namespace torvane {

namespace {
bool RowLess(const StationRow& row, const StationRow& key) {
  return std::tie(row.port, row.unit) < std::tie(key.port, key.unit);
}
}  // namespace

RowTone ToneOf(const StationRow& row) {
  if (row.state == UnitState::kPassed) return RowTone::kPassed;
  if (row.state == UnitState::kFailed) return RowTone::kFailed;
  return RowTone::kNone;
}

bool IsDimmed(const StationRow& row) {
  return row.held || row.state == UnitState::kSkipped || (row.left && row.state == UnitState::kFailed);
}

std::string StationCellText(const StationRow& row, int column, StationClock::time_point now) {
  switch (column) {
    case kColPort: return row.port;
    case kColSlot: return EscapeControlCharacters(row.slot);
    case kColSerialNumber: return StationSerialNumberText(row);
    case kColSerial: return EscapeControlCharacters(row.serial);  // as the unit reported it
    case kColKind: return StationKindText(row.kind);
    case kColInfo: return EscapeControlCharacters(row.info);
    case kColState: {
      std::string text = StationStateText(row);
      if (AwaitsAcknowledgement(row)) text += " [待确认]";
      return text;
    }
    case kColProgress: return StationProgressText(row);
    case kColDuration: return StationDurationText(row, now);
    default: return std::string();
  }
}

std::vector<StationRow>::iterator StationTable::LiveRow(const std::string& port) {
  return std::find_if(rows_.begin(), rows_.end(), [&](const StationRow& row) { return row.port == port && !row.held; });
}

std::vector<StationTableChange> StationTable::Apply(const StationBatch& batch, StationClock::time_point now) {
  now_ = now;
  std::vector<StationTableChange> changes;
  const auto index_of = [&](std::vector<StationRow>::iterator it) { return static_cast<int>(it - rows_.begin()); };
  for (const std::string& port : batch.removed) {
    auto it = LiveRow(port);
    if (it == rows_.end()) continue;
    if (AwaitsAcknowledgement(*it)) {
      it->held = true;
      it->left = true;
      changes.push_back({StationTableChange::kUpdated, index_of(it)});
      continue;
    }
    changes.push_back({StationTableChange::kRemoved, index_of(it)});
    rows_.erase(it);
  }
  for (const StationRow& changed : batch.changed) {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), changed, RowLess);
    const bool known = it != rows_.end() && it->port == changed.port && it->unit == changed.unit;
    // The port shows this unit now: another unit's row there is held while
    // its failure awaits the operator, else it goes (replaced in place
    // where the order allows).
    auto live = LiveRow(changed.port);
    if (live != rows_.end() && live->unit != changed.unit) {
      if (AwaitsAcknowledgement(*live)) {
        live->held = true;
        live->left = true;
        changes.push_back({StationTableChange::kUpdated, index_of(live)});
      } else if (!known && live->unit < changed.unit) {
        *live = changed;
        changes.push_back({StationTableChange::kUpdated, index_of(live)});
        continue;
      } else {
        changes.push_back({StationTableChange::kRemoved, index_of(live)});
        rows_.erase(live);
      }
      it = std::lower_bound(rows_.begin(), rows_.end(), changed, RowLess);
    }
    if (known) {
      // The same unit (also back on its port after its row was held): seen
      // stays seen while it is the same failure.
      const bool seen = it->acknowledged && it->state == UnitState::kFailed && changed.state == UnitState::kFailed;
      *it = changed;
      it->acknowledged = seen;
      changes.push_back({StationTableChange::kUpdated, index_of(it)});
      continue;
    }
    it = rows_.insert(it, changed);
    changes.push_back({StationTableChange::kInserted, index_of(it)});
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].state == UnitState::kFlashing) changes.push_back({StationTableChange::kUpdated, static_cast<int>(i)});
  }
  return changes;
}

std::vector<StationTableChange> StationTable::Acknowledge(int index) {
  if (index < 0 || index >= static_cast<int>(rows_.size())) return {};
  StationRow& row = rows_[static_cast<size_t>(index)];
  if (!AwaitsAcknowledgement(row)) return {};
  if (row.held) {
    rows_.erase(rows_.begin() + index);
    return {{StationTableChange::kRemoved, index}};
  }
  row.acknowledged = true;
  return {{StationTableChange::kUpdated, index}};
}

std::vector<StationTableChange> StationTable::AcknowledgeAll() {
  std::vector<StationTableChange> changes;
  // From the end, so the indices of rows still to do stay as they are.
  for (int index = static_cast<int>(rows_.size()) - 1; index >= 0; --index) {
    for (const StationTableChange& change : Acknowledge(index)) changes.push_back(change);
  }
  return changes;
}

int StationTable::AwaitingAcknowledgement() const {
  return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), AwaitsAcknowledgement));
}

}  // namespace torvane
