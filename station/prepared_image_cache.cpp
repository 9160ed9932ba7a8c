#include "station/prepared_image_cache.h"

namespace torvane {

std::shared_ptr<const SharedImage> PreparedImageCache::Get(const DownloadJob& job, ChecksumScheme scheme,
                                                           std::string* error) {
  // Paths cannot hold a NUL byte, so it keeps the parts of the key apart.
  const std::string key = job.image_path + '\0' + job.header_path + '\0' + std::to_string(scheme);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = images_.find(key);
  if (found != images_.end()) return found->second;
  auto prepared = std::make_shared<SharedImage>();
  if (!PrepareImage(job, scheme, &prepared->image, error)) return nullptr;
  prepared->digest = DigestBytes(prepared->image.buffer.data(), prepared->image.buffer.size());
  images_.emplace(key, prepared);
  return prepared;
}

ImageDigest SharedImage::DigestOfCopy(const PreparedImage& copy, uint32_t offset, size_t width) const {
  std::call_once(shared_once_, [&] {
    shared_ = std::make_unique<SharedImageDigest>(image.buffer.data(), image.buffer.size(), offset, width);
    shared_offset_ = offset;
    shared_width_ = width;
  });
  if (offset != shared_offset_ || width != shared_width_) return DigestBytes(copy.buffer.data(), copy.buffer.size());
  return shared_->Of(copy.buffer.data(), copy.buffer.size());
}

}  // namespace torvane
