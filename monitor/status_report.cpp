#include "monitor/status_report.h"

#include "monitor/info_text.h"
#include "monitor/printable_text.h"

namespace torvane {

std::string SimpleReportText(int code) {
  switch (code) {
    case RC_NO_DEVICE: return kTextNoDevice;
    case RC_WAITING: return kTextWaiting;
    case RC_ERROR: return kTextDeviceError;
    default: return {};
  }
}

const char* FoundDeviceHeader(DeviceState state) {
  switch (state) {
    case DS_APP: return "发现一个HID设备, 设备信息:";
    case DS_OLDBOOT: return "发现一个旧版本可烧录设备, 设备信息:";
    default: return "发现一个可烧录设备, 设备信息:";
  }
}

FoundReport BuildFoundReport(DeviceState state, int info_status, const BootInfo& info,
                             const std::string& boot_bin_info, bool boot_update_check,
                             int* boot_update_advised) {
  FoundReport report;
  report.message = FoundDeviceHeader(state);
  if (info_status != 0) {
    report.message += kTextUnknown;
  } else {
    const std::string text = ConvertInfoText(info);
    int advised = 0;
    if (state != DS_APP && boot_update_check && text != boot_bin_info) advised = 1;
    *boot_update_advised = advised;
    report.message += "\n";
    // Compared as the device sent it, shown with its control characters
    // as visible escapes.
    report.message += EscapeControlCharacters(text);
  }
  if (state == DS_OLDBOOT || *boot_update_advised == 1) {
    report.update_caption = true;
    report.message += "\n------------------------------------\n";
    report.message += "ZAVRO更新版本信息:\n";
    report.message += boot_bin_info;
    report.message += "\n========================================\n";
    report.message += " 请点击[更新BOOT]按钮升级至最新Boot版本\n";
    report.message += " 升级期间请不要断开设备电源及USB！！\n";
    report.message += "========================================\n";
  }
  return report;
}

}  // namespace torvane
