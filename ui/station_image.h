// The image a station window is about to flash, as the operator checks it:
// its name and size, and the CRC-32 and SHA-256 of its bytes as prepared
// for a bootloader (what every unit's record carries and a job pins), read
// on threads of their own so that a large image does not hold up the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "station/image_digest.h"

namespace torvane {

struct StationImageInfo {
  std::string path;
  bool ok = false;
  uint64_t size = 0;     // bytes flashed
  ImageDigest digest;    // of those bytes
  std::string error;     // why there is none
};

// Prepares the image as the station does and digests it; a raised `cancel`
// ends the preparation early (the result is then not ok).
StationImageInfo ReadStationImage(const std::string& path, const std::atomic<int32_t>* cancel = nullptr);

// "app.bin   5000 字节   CRC-32 1a2b3c4d", or why there is none.
std::string StationImageSummaryText(const StationImageInfo& info);
// "CRC-32 1a2b3c4d   SHA-256 9f86d081": large, for reading out and signing
// off; empty without an image.
std::string StationImageDigestText(const StationImageInfo& info);
// ReadStationImage's summary text. Reads the whole file: call it off the UI
// thread.
std::string StationImageSummary(const std::string& path);

// Reads images on threads of its own; a newer read's result replaces an
// older one's, whichever ends first.
class StationImageReader {
 public:
  // `ready` is called on the reading thread once a result is there (a
  // window posts to its UI thread and reads Latest there).
  explicit StationImageReader(std::function<void()> ready) : ready_(std::move(ready)) {}
  ~StationImageReader();  // cancels and waits for the reads
  StationImageReader(const StationImageReader&) = delete;
  StationImageReader& operator=(const StationImageReader&) = delete;

  void Read(const std::string& path);
  // The latest read's result, once it is there.
  std::optional<StationImageInfo> Latest() const;

 private:
  struct Read_ {
    std::thread thread;
    std::shared_ptr<std::atomic<int32_t>> cancel;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::function<void()> ready_;
  mutable std::mutex mutex_;
  uint64_t generation_ = 0;
  std::optional<StationImageInfo> latest_;
  std::vector<Read_> reads_;
};

}  // namespace torvane
