// The record line of one finished unit (JSON, one line) and the texts it
// uses.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "monitor/device_state.h"
#include "station/image_digest.h"

namespace torvane {

struct UnitRecord {
  uint64_t unit = 0;           // the station run's number of the unit
  std::chrono::system_clock::time_point start;
  std::chrono::system_clock::time_point end;
  std::string port;
  std::string slot;            // the job's name for the port; empty without a slot map
  std::string path;
  std::string serial;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  DeviceState kind = DS_NONE;
  std::string info_text;       // the bootloader's info text (UTF-8), empty when it did not answer
  std::string image_path;      // the image (the boot update image when that was sent)
  uint32_t size = 0;           // bytes sent in all: header and image, padded
  ImageDigest digest;          // of those bytes (its serial number written in)
  std::string serial_number;   // the job's serial number it received; empty: none
  bool boot_update = false;
  int attempt = 1;
  int result = 0;              // DownloadResult
  uint32_t bytes_acknowledged = 0;
  uint32_t busy_answers = 0;
  double duration_s = 0;
  std::string detail;          // why it failed, when there is more to say
  // What the line tells: a flash, or a unit's end without one
  // ("enter-boot-failed", "no-application"); empty: DownloadResultName(result).
  std::string result_name;
  bool final = true;           // the unit's final outcome (false: a failed flash with attempts left)
};

// "2026-12-07T14:03:09.250+01:00": local time, milliseconds, the zone's offset.
std::string IsoTimeWithZone(std::chrono::system_clock::time_point when);

// "ok", "file-error", "protocol-error", "cancelled", "start-busy", or "error".
const char* DownloadResultName(int result);

// The log's text for the result, without the line end.
std::string DownloadResultText(int result);

std::string UnitRecordLine(const UnitRecord& record);

}  // namespace torvane
