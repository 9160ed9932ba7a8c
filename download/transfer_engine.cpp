#include "download/transfer_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace torvane {

namespace {

bool raised(const std::atomic<int32_t>* flag) {
  return flag != nullptr && flag->load() != 0;
}

void pause(const TransferControl& control, int milliseconds) {
  if (control.sleep) {
    control.sleep(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

enum class StartOutcome { Accepted, Interrupted, Busy, Refused };

StartOutcome send_start(HidDevice* device, const BootStartParams& params,
                        const TransferControl& control) {
  const auto payload = boot_pack_start_params(params);
  for (int sends = 0;;) {
    int status = BOOT_STATUS_NONE;
    boot_send_command(device, BOOT_CMD_START, payload.data(), static_cast<int>(payload.size()),
                      &status);
    if (status == 0) return StartOutcome::Accepted;
    if (status != 2) return StartOutcome::Refused;
    if (control.stats) ++control.stats->busy_answers;
    pause(control, kBusyRetryDelayMs);
    if (raised(control.stop) || raised(control.cancel)) return StartOutcome::Interrupted;
    if (++sends >= kMaxSendsPerFrame) return StartOutcome::Busy;
  }
}

}  // namespace

DownloadResult RunTransfer(HidDevice* device, const PreparedImage& image, ChecksumScheme scheme,
                           uint32_t load_address, const TransferControl& control) {
  // A report too short for a whole block would cut the block's data off;
  // refuse before anything is sent. (A missing device fails the start
  // command below, as no reply can come.)
  if (control.stats) *control.stats = {};
  if (device != nullptr && device->output_report_length < kMinBlockReportLength) {
    device->last_error_text = "output report of " + std::to_string(device->output_report_length) +
                              " bytes is too short for a block (needs " + std::to_string(kMinBlockReportLength) +
                              ")";
    return DL_PROTOCOL_ERROR;
  }

  BootStartParams params;
  params.load_address = load_address;
  params.length = image.start_length;
  params.checksum = image.start_checksum;
  switch (send_start(device, params, control)) {
    case StartOutcome::Accepted:
    case StartOutcome::Interrupted:
      break;
    case StartOutcome::Busy:
      return DL_START_BUSY;
    case StartOutcome::Refused:
      return DL_PROTOCOL_ERROR;
  }

  const uint32_t total = image.total_length;
  const int frame_length = device != nullptr ? device->output_report_length : 8;
  // One frame buffer for the whole transfer, zeroed once: a shorter last
  // block carries the tail of the previous one after its data.
  std::vector<uint8_t> frame(std::max<size_t>(BOOT_FRAME_BUFFER_SIZE, frame_length), 0);
  uint32_t acknowledged = 0;

  if (!raised(control.stop)) {
    for (;;) {
      if (raised(control.cancel) || acknowledged >= total) break;
      const uint32_t n = std::min<uint32_t>(BOOT_BLOCK_SIZE, total - acknowledged);
      const uint8_t* data = image.buffer.data() + acknowledged;
      std::memcpy(frame.data() + BOOT_OFF_BLOCK_DATA, data, n);
      const uint32_t index = (acknowledged + BOOT_BLOCK_SIZE - 1) / BOOT_BLOCK_SIZE;
      const uint16_t checksum = scheme == CHECKSUM_XOR ? boot_xor16(data, n) : boot_crc16(data, n);
      boot_put_u16(frame.data() + BOOT_OFF_MAGIC, BOOT_FRAME_MAGIC);
      boot_put_u16(frame.data() + BOOT_OFF_COMMAND, BOOT_CMD_DATA);
      boot_put_u32(frame.data() + BOOT_OFF_BLOCK_INDEX, index);
      boot_put_u16(frame.data() + BOOT_OFF_BLOCK_CHECKSUM, checksum);
      boot_put_u16(frame.data() + BOOT_OFF_BLOCK_LENGTH, static_cast<uint16_t>(n));

      for (int sends = 0;;) {
        int status = BOOT_STATUS_NONE;
        boot_send_block(device, frame.data(), frame_length, &status);
        if (status == 0) {
          acknowledged += n;
          if (control.stats) control.stats->acknowledged = acknowledged;
          break;
        }
        if (status != 1 && status != 2) return DL_PROTOCOL_ERROR;
        if (control.stats) ++control.stats->busy_answers;
        pause(control, kBusyRetryDelayMs);
        if (raised(control.stop) || raised(control.cancel)) break;
        if (++sends >= kMaxSendsPerFrame) return DL_PROTOCOL_ERROR;
      }

      if (control.on_percent) {
        control.on_percent(static_cast<int>(uint64_t{acknowledged} * 100 / total));
      }
      if (raised(control.stop)) break;
    }
  }

  // Every byte acknowledged is a finished download, even when a cancel came
  // after the last acknowledgement (the device restarting then is seen as a
  // change of device): it holds and has checked the whole image.
  if (acknowledged == total) return DL_OK;
  if (raised(control.cancel)) return DL_CANCELLED;
  // Only a shutdown stops a transfer short without a cancellation; nobody
  // sees the result then, and it must not read as success.
  return DL_CANCELLED;
}

}  // namespace torvane
