// The station window's texts for a unit (UTF-8, Chinese like the rest of the
// program): its kind, its state with the reason of a failure, its progress
// and its duration, and the totals line.
#pragma once

#include <ctime>
#include <string>

#include "station/yield_report.h"
#include "ui/station_feed.h"

namespace torvane {

// "应用程序" (application), "BOOT", "旧BOOT" (old bootloader) or "-".
std::string StationKindText(DeviceState kind);

// The state column: "等待" (waiting), "正在烧录" (flashing), "成功" (passed),
// "失败: <reason>" (failed) ...; a device that left says so.
std::string StationStateText(const StationRow& row);

// The job's serial number a unit received: "SN001000"; a failed unit's
// goes back to the next unit: "SN001000 (已收回)".
std::string StationSerialNumberText(const StationRow& row);

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

// "17 / 100": units finished against the run's count; "17 台" without one.
std::string StationFinishedText(int finished, int count);

// A record's cause of failure ("protocol-error") in the operator's words.
std::string StationCauseText(const std::string& result_name);

// The run's yield, two lines: "本次 17 台   成功 15   失败 2   一次通过率
// 82.4%   重试 3   已写入序列号 15 个 (SN001000 至 SN001014)" and "失败原因:
// 通信错误 2   平均用时 3.2 s   95% 用时 4.1 s".
std::string StationYieldText(const YieldReport& report);

// One line of "最近的记录" for a finished flash, readable at a glance:
// "14:03:09  端口 1-1.2  序列号 A1B2C3  成功, BOOT 已更新"; a line that
// did not reach the record file says so.
std::string StationRecordLineText(const UnitView& unit, const UnitResult& result, std::time_t finished);

}  // namespace torvane
