// The transfer itself: the start command with its busy retries, then the
// image block by block, stop-and-wait, with per-block checksums, retries,
// cancellation checks and progress. Qt-free; the dialog's download thread,
// the command-line tool and the benchmarks all run it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "device/boot_protocol.h"
#include "download/download_result.h"
#include "download/prepare_image.h"

namespace torvane {

// What a transfer did, for records: filled by RunTransfer on its own thread.
struct TransferStats {
  uint32_t acknowledged = 0;  // image bytes the device acknowledged
  uint32_t busy_answers = 0;  // busy or retry statuses, start command included
};

struct TransferControl {
  // Raised to end the transfer for shutdown (checked after each exchange).
  const std::atomic<int32_t>* stop = nullptr;
  // Raised to cancel (checked after each busy pause and before each block).
  const std::atomic<int32_t>* cancel = nullptr;
  // Receives the percentage after each block exchange.
  std::function<void(int percent)> on_percent;
  // Pause used after a busy answer; tests and benchmarks may shorten it.
  std::function<void(int milliseconds)> sleep;
  // When set, receives the transfer's counts (valid once RunTransfer returns).
  TransferStats* stats = nullptr;
};

// Smallest output report that carries a whole 48-byte block behind the
// 13 bytes of block header.
inline constexpr uint32_t kMinBlockReportLength = 13 + BOOT_BLOCK_SIZE;

// Runs the start command and the blocks for an image prepared with the same
// scheme. A null device fails at the start command. Returns a DownloadResult.
DownloadResult RunTransfer(HidDevice* device, const PreparedImage& image, ChecksumScheme scheme,
                           uint32_t load_address, const TransferControl& control);

}  // namespace torvane
