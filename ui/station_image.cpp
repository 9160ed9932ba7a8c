#include "ui/station_image.h"

#include <cstdio>

#include "download/prepare_image.h"

namespace torvane {

namespace {
std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

StationImageInfo ReadStationImage(const std::string& path, const std::atomic<int32_t>* cancel) {
  StationImageInfo info;
  info.path = path;
  if (path.empty()) return info;
  // The station prepares every image for the current bootloader first (the
  // bytes a job pins); a non-regular file is refused, not read for ever.
  PreparedImage prepared;
  PrepareControl control;
  control.cancel = cancel;
  if (!PrepareImage({path, ""}, CHECKSUM_CRC16, &prepared, &info.error, control)) return info;
  info.ok = true;
  info.size = prepared.buffer.size();
  info.digest = DigestBytes(prepared.buffer.data(), prepared.buffer.size());
  return info;
}

std::string StationImageSummaryText(const StationImageInfo& info) {
  if (info.path.empty()) return "未选择镜像文件";
  if (!info.ok) return "无法读取: " + info.path + (info.error.empty() ? "" : " (" + info.error + ")");
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(info.digest.crc32));
  return FileName(info.path) + "   " + std::to_string(info.size) + " 字节   CRC-32 " + crc;
}

std::string StationImageDigestText(const StationImageInfo& info) {
  if (!info.ok) return "";
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(info.digest.crc32));
  return std::string("CRC-32 ") + crc + "   SHA-256 " + info.digest.sha256.substr(0, 8);
}

std::string StationImageSummary(const std::string& path) { return StationImageSummaryText(ReadStationImage(path)); }

StationImageReader::~StationImageReader() {
  for (Read_& read : reads_) *read.cancel = 1;
  for (Read_& read : reads_) read.thread.join();
}

void StationImageReader::Read(const std::string& path) {
  // Reads that have ended are joined; one still running is told to stop.
  for (auto it = reads_.begin(); it != reads_.end();) {
    *it->cancel = 1;
    if (*it->done) {
      it->thread.join();
      it = reads_.erase(it);
    } else {
      ++it;
    }
  }
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = ++generation_;
    latest_.reset();
  }
  Read_ read{{}, std::make_shared<std::atomic<int32_t>>(0), std::make_shared<std::atomic<bool>>(false)};
  read.thread = std::thread([this, path, generation, cancel = read.cancel, done = read.done] {
    StationImageInfo info = ReadStationImage(path, cancel.get());
    bool current = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      current = generation == generation_;
      if (current) latest_ = std::move(info);
    }
    if (current && ready_) ready_();
    *done = true;
  });
  reads_.push_back(std::move(read));
}

std::optional<StationImageInfo> StationImageReader::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

}  // namespace torvane
