// The station window's table, whatever toolkit draws it: one row per unit
// sorted by port, its columns and texts, and the tone of a finished row
// (passed green with a tick, failed red with a cross).
//
// A failed row stays until the operator acknowledges it, also once its
// unit is gone: the table then holds it ("[已拔出] [待确认]", dimmed).
// A new unit on that port gets a row of its own below the held one, so the
// held failure is never taken for the newcomer's.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/station_feed.h"

namespace torvane {

enum StationColumn {
  kColPort,
  kColSlot,
  kColSerialNumber,
  kColSerial,
  kColKind,
  kColInfo,
  kColState,
  kColProgress,
  kColDuration,
  kColCount
};

struct StationColumnSpec {
  const char* header;  // UTF-8
  int width;           // pixels at 96 dpi; the state column takes what is left
};
inline constexpr std::array<StationColumnSpec, kColCount> kStationColumns{{
    {"端口", 90}, {"槽位", 60}, {"产品序列号", 130}, {"USB序列号", 110}, {"类型", 70}, {"BOOT信息", 180}, {"状态", 160},
    {"进度", 150}, {"用时", 60}}};

enum class RowTone { kNone, kPassed, kFailed };
// Background colours (0xRRGGBB) of toned rows and their badges.
inline constexpr uint32_t kPassedBackground = 0xc8e6c9;
inline constexpr uint32_t kFailedBackground = 0xffcdd2;
inline constexpr uint32_t kPassedBadge = 0x2e7d32;
inline constexpr uint32_t kFailedBadge = 0xc62828;
// Text of a dimmed row: a failed one whose unit is gone, or a skipped one.
inline constexpr uint32_t kDimText = 0x757575;

RowTone ToneOf(const StationRow& row);
bool IsDimmed(const StationRow& row);
std::string StationCellText(const StationRow& row, int column, StationClock::time_point now);

// What one Apply did to the rows, in order, for a toolkit's view to follow.
struct StationTableChange {
  enum Kind { kRemoved, kInserted, kUpdated } kind;
  int index;
};

class StationTable {
 public:
  // Applies a drained batch: removed ports go, changed rows are updated or
  // inserted at their place by port. Running flashes' durations move with
  // the clock, so their rows are reported updated too.
  std::vector<StationTableChange> Apply(const StationBatch& batch, StationClock::time_point now);
  // The operator has seen the failure of row `index` (a row that is not an
  // unacknowledged failure is left as it is): a held row goes, a row whose
  // unit is still there stays, marked seen, and goes with its unit.
  std::vector<StationTableChange> Acknowledge(int index);
  std::vector<StationTableChange> AcknowledgeAll();
  int AwaitingAcknowledgement() const;
  void Clear() { rows_.clear(); }
  const std::vector<StationRow>& Rows() const { return rows_; }
  StationClock::time_point Now() const { return now_; }

 private:
  std::vector<StationRow>::iterator LiveRow(const std::string& port);

  std::vector<StationRow> rows_;  // by port, then unit (a held row before its port's newer one)
  StationClock::time_point now_{};
};

}  // namespace torvane
