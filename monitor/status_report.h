// The texts of the device status report and the boot-update advice.
#pragma once

#include <string>

#include "device/boot_protocol.h"
#include "monitor/device_state.h"

namespace torvane {

inline constexpr const char* kTextNoDevice = "没有发现设备";
inline constexpr const char* kTextWaiting = "设备等待烧录";
inline constexpr const char* kTextDeviceError = "设备异常";
inline constexpr const char* kTextUnknown = "未知";
inline constexpr const char* kTextEnteringFlashMode = "进入烧录模式，等待设备重启\r\n";
inline constexpr const char* kCaptionFlash = "烧录";
inline constexpr const char* kCaptionUpdateBoot = "更新BOOT";
inline constexpr const char* kLineEnd = "\r\n";

// The message of a simple report code (no device, waiting, error), or empty
// for the codes that show nothing. RC_FOUND is built by BuildFoundReport.
std::string SimpleReportText(int code);

// Header of the found-device report for a state.
const char* FoundDeviceHeader(DeviceState state);

struct FoundReport {
  std::string message;        // without the final "\r\n"
  bool update_caption = false;  // the flash button reads "更新BOOT"
};

// Builds the found-device report from the info query's outcome and updates
// *boot_update_advised by the advice rules (left alone when the query failed).
FoundReport BuildFoundReport(DeviceState state, int info_status, const BootInfo& info,
                             const std::string& boot_bin_info, bool boot_update_check,
                             int* boot_update_advised);

}  // namespace torvane
