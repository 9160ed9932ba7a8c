// The station window's texts for a unit (UTF-8, Chinese like the rest of the
// program): its kind, its state with the reason of a failure, its progress
// and its duration, and the totals line.
#pragma once

#include <ctime>
#include <string>

#include "ui/station_feed.h"

namespace torvane {

// "应用程序" (application), "BOOT", "旧BOOT" (old bootloader) or "-".
std::string StationKindText(DeviceState kind);

// The state column: "等待" (waiting), "正在烧录" (flashing), "成功" (passed),
// "失败: <reason>" (failed) ...; a device that left says so.
std::string StationStateText(const StationRow& row);

// Why a flash failed, from its DownloadResult.
std::string StationResultReason(int result);

// "42%  95.3 KiB/s", "" before a transfer.
std::string StationProgressText(const StationRow& row);

// "12.3 s": the finished flash's duration, or the running one's so far.
std::string StationDurationText(const StationRow& row, StationClock::time_point now);

// A record file's error in the operator's language: the station's own words
// translated, the path and the system's error text kept as they are.
std::string StationRecordErrorText(const std::string& error);

// "成功: 3   失败: 1   每小时: 120 台"; a negative rate (not yet meaningful)
// shows as "--".
std::string StationCountersText(int passed, int failed, double units_per_hour);

// One line of "最近的记录" for a finished flash, readable at a glance:
// "14:03:09  端口 1-1.2  序列号 A1B2C3  成功, BOOT 已更新"; a line that
// did not reach the record file says so.
std::string StationRecordLineText(const UnitView& unit, const UnitResult& result, std::time_t finished);

}  // namespace torvane
