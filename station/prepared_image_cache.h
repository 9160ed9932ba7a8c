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
