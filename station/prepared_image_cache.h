// Images prepared once and shared read-only by every unit's worker: the
// operator's image, and the boot update files for the units that need them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "download/prepare_image.h"
#include "station/image_digest.h"

namespace torvane {

struct SharedImage {
  PreparedImage image;
  ImageDigest digest;  // of image.buffer

  // The digest of a unit's copy of `image` that differs from it only in the
  // `width` bytes at `offset` (its serial number): what every copy shares
  // is summed once, on the first call, for the offset and width given then.
  ImageDigest DigestOfCopy(const PreparedImage& copy, uint32_t offset, size_t width) const;

 private:
  mutable std::once_flag shared_once_;
  mutable std::unique_ptr<SharedImageDigest> shared_;
  mutable uint32_t shared_offset_ = 0;
  mutable size_t shared_width_ = 0;
};

class PreparedImageCache {
 public:
  // The prepared bytes for this job and scheme, prepared on first use; null
  // with the reason in *error when the files cannot be prepared (tried
  // again on the next call). Safe from any thread.
  std::shared_ptr<const SharedImage> Get(const DownloadJob& job, ChecksumScheme scheme, std::string* error);

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const SharedImage>> images_;
};

}  // namespace torvane
