#include "ui/station_texts.h"

#include <cstdio>
#include <cstring>

#include "download/download_result.h"
#include "monitor/printable_text.h"
#include "platform/local_time.h"
#include "station/record_file.h"

namespace torvane {

namespace {
template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[128];
  std::snprintf(text, sizeof(text), format, args...);
  return text;
}
// The station's details in the operator's language where they are its own
// words; system error texts behind them stay as the system gave them.
std::string DetailText(const std::string& detail) {
  static const struct {
    const char* english;
    const char* chinese;
  } kKnown[] = {{"no attempts left", "已无重试次数"},
                {"station stopping", "工位正在停止"},
                {"count reached", "已达数量"},
                {"cannot open: ", "无法打开: "}};
  for (const auto& known : kKnown) {
    const std::string english = known.english;
    if (detail.compare(0, english.size(), english) == 0) return known.chinese + detail.substr(english.size());
  }
  return detail;
}
}  // namespace

std::string StationKindText(DeviceState kind) {
  switch (kind) {
    case DS_APP: return "应用程序";
    case DS_BOOT: return "BOOT";
    case DS_OLDBOOT: return "旧BOOT";
    default: return "-";
  }
}

std::string StationResultReason(int result) {
  switch (result) {
    case DL_OK: return "";
    case DL_FILE_ERROR: return "文件错误";
    case DL_PROTOCOL_ERROR: return "通信错误";
    case DL_CANCELLED: return "已取消";
    case DL_START_BUSY: return "设备一直忙";
    default: return Format("错误 %d", result);
  }
}

std::string StationStateText(const StationRow& row) {
  std::string text;
  switch (row.state) {
    case UnitState::kIdle:
      text = row.kind == DS_APP ? "应用程序模式, 不烧录" : "等待";
      break;
    case UnitState::kEnteringBoot: text = "正在进入烧录模式"; break;
    case UnitState::kWaitingBoot: text = "等待进入烧录模式"; break;
    case UnitState::kFlashing: text = "正在烧录"; break;
    case UnitState::kPassed: text = row.boot_update ? "成功, BOOT 已更新" : "成功"; break;
    case UnitState::kFailed: {
      text = "失败: ";
      if (row.has_result) {
        text += StationResultReason(row.result);
        if (row.left_while_busy) text += ", 设备已离开";
      } else {
        text += row.kind == DS_APP ? "未能进入烧录模式" : "未烧录";
      }
      break;
    }
    case UnitState::kGone: text = "已离开"; break;
    case UnitState::kSkipped: text = "已跳过: 端口不在作业的槽位表中, 不烧录"; break;
  }
  // The station's own words on what happened (a system error text, ...).
  if (!row.detail.empty() && row.state != UnitState::kIdle && row.state != UnitState::kSkipped) {
    text += " (" + DetailText(row.detail) + ")";
  }
  if (row.left && !IsBusyState(row.state) && !row.left_while_busy) text += " [已拔出]";
  return text;
}

std::string StationSerialNumberText(const StationRow& row) {
  if (row.serial_number.empty()) return "";
  const std::string text = EscapeControlCharacters(row.serial_number);
  return row.has_result && !row.serial_number_kept ? text + " (已收回)" : text;
}

std::string StationProgressText(const StationRow& row) {
  if (row.percent < 0) return "";
  return Format("%d%%  %.1f KiB/s", row.percent, row.bytes_per_second / 1024.0);
}

std::string StationDurationText(const StationRow& row, StationClock::time_point now) {
  if (row.duration_s >= 0) return Format("%.1f s", row.duration_s);
  if (row.state != UnitState::kFlashing || row.flash_started == StationClock::time_point{}) return "";
  return Format("%.1f s", std::chrono::duration<double>(now - row.flash_started).count());
}

std::string StationRecordErrorText(const std::string& error) {
  static const struct {
    const char* english;
    const char* chinese;
  } kKnown[] = {{kRecordNotRegularText, "不是普通文件 (是管道、设备或文件夹)"},
                {kRecordInputFileText, "是要烧录的文件, 记录会写进固件"},
                {kRecordCutBackText, "只写入了一部分 (磁盘已满?), 不完整的一行已删去"},
                {kRecordNotCutBackText, "只写入了一部分, 删去不完整的一行失败"},
                {"the record file name is empty", "记录文件名为空"}};
  std::string text = error;
  for (const auto& known : kKnown) {
    const size_t at = text.find(known.english);
    if (at != std::string::npos) text.replace(at, std::strlen(known.english), known.chinese);
  }
  return text;
}

std::string StationCountersText(int passed, int failed, double units_per_hour) {
  if (units_per_hour < 0) return Format("成功: %d   失败: %d   每小时: -- 台", passed, failed);
  return Format("成功: %d   失败: %d   每小时: %.0f 台", passed, failed, units_per_hour);
}

std::string StationFinishedText(int finished, int count) {
  return count > 0 ? Format("%d / %d", finished, count) : Format("%d 台", finished);
}

std::string StationCauseText(const std::string& result_name) {
  static const struct {
    const char* name;
    const char* text;
  } kCauses[] = {{"file-error", "文件错误"},          {"protocol-error", "通信错误"},
                 {"cancelled", "已取消"},             {"start-busy", "设备一直忙"},
                 {"enter-boot-failed", "未能进入烧录模式"}, {"no-application", "应用程序未启动"}};
  for (const auto& cause : kCauses) {
    if (result_name == cause.name) return cause.text;
  }
  return EscapeControlCharacters(result_name);
}

std::string StationYieldText(const YieldReport& report) {
  std::string text = Format("本次 %d 台   成功 %d   失败 %d   一次通过率 %.1f%%   重试 %d", report.units, report.passed,
                            report.failed, report.FirstPassYield() * 100.0, report.retries);
  if (report.unfinished > 0) text += Format("   未结束 %d", report.unfinished);
  if (!report.serial_numbers.empty()) {
    text += Format("   已写入序列号 %d 个", static_cast<int>(report.serial_numbers.size()));
    if (report.serial_numbers.size() > 1) {
      text += " (" + EscapeControlCharacters(report.serial_numbers.front()) + " 至 " +
              EscapeControlCharacters(report.serial_numbers.back()) + ")";
    }
  }
  for (size_t i = 0; i < report.duplicate_serial_numbers.size(); ++i) {
    text += (i == 0 ? "   重复的序列号: " : ", ") + EscapeControlCharacters(report.duplicate_serial_numbers[i]);
  }
  text += "\n失败原因: ";
  if (report.failures_by_cause.empty()) text += "无";
  for (size_t i = 0; i < report.failures_by_cause.size(); ++i) {
    if (i > 0) text += ", ";
    text += StationCauseText(report.failures_by_cause[i].first) + " " + std::to_string(report.failures_by_cause[i].second);
  }
  if (report.units > 0) text += Format("   平均用时 %.1f s   95%% 用时 %.1f s", report.mean_duration_s, report.p95_duration_s);
  return text;
}

std::string StationRecordLineText(const UnitView& unit, const UnitResult& result, std::time_t finished) {
  std::tm local{};
  long offset = 0;
  platform::LocalTime(finished, &local, &offset);
  char time[16];
  std::strftime(time, sizeof time, "%H:%M:%S", &local);
  std::string text = std::string(time) + "  端口 " + EscapeControlCharacters(unit.port);
  if (!unit.slot.empty()) text += "  槽位 " + EscapeControlCharacters(unit.slot);
  if (!result.serial_number.empty()) text += "  产品序列号 " + EscapeControlCharacters(result.serial_number);
  text += "  序列号 " + (unit.serial.empty() ? std::string("-") : EscapeControlCharacters(unit.serial)) + "  ";
  if (result.result == DL_OK) {
    text += result.boot_update ? "成功, BOOT 已更新" : "成功";
  } else {
    text += "失败: " + (result.flashed ? StationResultReason(result.result) : std::string("未烧录"));
    if (result.boot_update) text += " (BOOT 更新)";
    if (!result.final) text += Format(", 第 %d 次, 可重试", unit.attempt);
  }
  if (!result.recorded) text += "  [未写入记录文件!]";
  return text;
}

}  // namespace torvane
