#include "download/image_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace torvane {

ImageBuffer::~ImageBuffer() { clear(); }

ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept { *this = std::move(other); }

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  if (this == &other) return *this;
  clear();
  owned_ = std::move(other.owned_);
  region_.Take(other.region_);
  begin_ = region_.mapped() ? std::exchange(other.begin_, nullptr) : owned_.data();
  size_ = std::exchange(other.size_, 0);
  other.begin_ = nullptr;
  other.owned_.clear();
  return *this;
}

void ImageBuffer::clear() {
  region_.Clear();
  std::vector<uint8_t>().swap(owned_);
  begin_ = nullptr;
  size_ = 0;
}

void ImageBuffer::assign(size_t count, uint8_t value) {
  clear();
  owned_.assign(count, value);
  begin_ = owned_.data();
  size_ = count;
}

void ImageBuffer::assign_padded(std::vector<uint8_t> bytes, size_t padded) {
  clear();
  owned_ = std::move(bytes);
  owned_.resize(std::max(padded, owned_.size()), 0xFF);
  begin_ = owned_.data();
  size_ = owned_.size();
}

bool ImageBuffer::map_file(const platform::ReadOnlyFile& file, uint64_t file_length, size_t front,
                           size_t padded_length, std::string* error) {
  clear();
  std::string reason;
  if (!region_.Map(file, file_length, front, padded_length, &reason)) {
    if (error != nullptr) *error = reason;
    return false;
  }
  begin_ = region_.begin();
  size_ = front + padded_length;
  return true;
}

void ImageBuffer::release_pages(size_t from, size_t to) { region_.Release(from, to); }

bool ImageBuffer::operator==(const std::vector<uint8_t>& bytes) const {
  return bytes.size() == size_ && (size_ == 0 || std::memcmp(begin_, bytes.data(), size_) == 0);
}

}  // namespace torvane
