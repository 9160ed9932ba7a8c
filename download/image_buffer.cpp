#include "download/image_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace torvane {

namespace {
size_t page_size() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}
size_t round_up(size_t n, size_t page) { return (n + page - 1) / page * page; }
}  // namespace

ImageBuffer::~ImageBuffer() { clear(); }

ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept { *this = std::move(other); }

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  if (this == &other) return *this;
  clear();
  owned_ = std::move(other.owned_);
  region_ = std::exchange(other.region_, nullptr);
  region_length_ = std::exchange(other.region_length_, 0);
  file_begin_ = std::exchange(other.file_begin_, nullptr);
  file_whole_pages_ = std::exchange(other.file_whole_pages_, 0);
  begin_ = region_ != nullptr ? std::exchange(other.begin_, nullptr) : owned_.data();
  size_ = std::exchange(other.size_, 0);
  other.begin_ = nullptr;
  other.owned_.clear();
  return *this;
}

void ImageBuffer::clear() {
  if (region_ != nullptr) ::munmap(region_, region_length_);
  region_ = nullptr;
  region_length_ = 0;
  file_begin_ = nullptr;
  file_whole_pages_ = 0;
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

bool ImageBuffer::map_file(int fd, uint64_t file_length, size_t front, size_t padded_length,
                           std::string* error) {
  clear();
  const size_t page = page_size();
  const size_t front_room = round_up(front, page);
  const size_t length = front_room + round_up(padded_length, page);
  // Reserve the whole run first, then lay the file over its second part:
  // the header room ends exactly where the file's first page begins.
  void* region = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  auto* base = static_cast<uint8_t*>(region);
  // Private and writable: the padding written below stays in this process.
  if (::mmap(base + front_room, static_cast<size_t>(file_length), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED,
             fd, 0) == MAP_FAILED) {
    if (error != nullptr) *error = std::strerror(errno);
    ::munmap(region, length);
    return false;
  }
  region_ = region;
  region_length_ = length;
  file_begin_ = base + front_room;
  file_whole_pages_ = static_cast<size_t>(file_length) / page * page;
  begin_ = file_begin_ - front;
  size_ = front + padded_length;
  std::memset(begin_, 0xFF, front);
  std::memset(file_begin_ + file_length, 0xFF, padded_length - static_cast<size_t>(file_length));
  ::madvise(file_begin_, static_cast<size_t>(file_length), MADV_SEQUENTIAL);
  return true;
}

void ImageBuffer::release_pages(size_t from, size_t to) {
  if (region_ == nullptr) return;
  const size_t page = page_size();
  const size_t file_offset = static_cast<size_t>(file_begin_ - begin_);
  // Only whole pages of the file itself: the room in front and the page
  // that carries the padding hold bytes the file cannot give back.
  const size_t first = round_up(std::max(from, file_offset) - file_offset, page);
  const size_t last = std::min(to > file_offset ? to - file_offset : 0, file_whole_pages_) / page * page;
  if (last > first) ::madvise(file_begin_ + first, last - first, MADV_DONTNEED);
}

bool ImageBuffer::operator==(const std::vector<uint8_t>& bytes) const {
  return bytes.size() == size_ && (size_ == 0 || std::memcmp(begin_, bytes.data(), size_) == 0);
}

}  // namespace torvane
