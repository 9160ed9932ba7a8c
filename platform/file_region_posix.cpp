// Linux: an anonymous reservation with the file mapped privately over its
// second part; madvise gives read pages back.
#include "platform/file_region.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace torvane::platform {

namespace {
size_t page_size() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}
size_t round_up(size_t n, size_t page) { return (n + page - 1) / page * page; }
}  // namespace

bool FileRegion::Map(const ReadOnlyFile& file, uint64_t file_length, size_t front, size_t padded_length,
                     std::string* reason) {
  Clear();
  const size_t page = page_size();
  const size_t front_room = round_up(front, page);
  const size_t length = front_room + round_up(padded_length, page);
  // Reserve the whole run first, then lay the file over its second part:
  // the header room ends exactly where the file's first page begins.
  void* region = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) {
    *reason = std::strerror(errno);
    return false;
  }
  auto* base = static_cast<uint8_t*>(region);
  // Private and writable: the padding written below stays in this process.
  if (::mmap(base + front_room, static_cast<size_t>(file_length), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED,
             static_cast<int>(file.native()), 0) == MAP_FAILED) {
    *reason = std::strerror(errno);
    ::munmap(region, length);
    return false;
  }
  region_ = region;
  region_length_ = length;
  file_begin_ = base + front_room;
  file_whole_pages_ = static_cast<size_t>(file_length) / page * page;
  begin_ = file_begin_ - front;
  std::memset(begin_, 0xFF, front);
  std::memset(file_begin_ + file_length, 0xFF, padded_length - static_cast<size_t>(file_length));
  ::madvise(file_begin_, static_cast<size_t>(file_length), MADV_SEQUENTIAL);
  return true;
}

void FileRegion::Release(size_t from, size_t to) {
  if (region_ == nullptr) return;
  const size_t page = page_size();
  const size_t file_offset = static_cast<size_t>(file_begin_ - begin_);
  // Only whole pages of the file itself: the room in front and the page
  // that carries the padding hold bytes the file cannot give back.
  const size_t first = round_up(std::max(from, file_offset) - file_offset, page);
  const size_t last = std::min(to > file_offset ? to - file_offset : 0, file_whole_pages_) / page * page;
  if (last > first) ::madvise(file_begin_ + first, last - first, MADV_DONTNEED);
}

void FileRegion::Clear() {
  if (region_ != nullptr) ::munmap(region_, region_length_);
  region_ = nullptr;
  region_length_ = 0;
  file_begin_ = nullptr;
  file_whole_pages_ = 0;
  begin_ = nullptr;
}

}  // namespace torvane::platform
