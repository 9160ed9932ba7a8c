// Windows: one VirtualAlloc'd run the file is read into (binary, by
// ReadOnlyFile); nothing is given back before the run is freed.
#include "platform/file_region.h"

#include <windows.h>

#include <cstring>

#include "platform/wide_text_win32.h"

namespace torvane::platform {

bool FileRegion::Map(const ReadOnlyFile& file, uint64_t file_length, size_t front, size_t padded_length,
                     std::string* reason) {
  Clear();
  const size_t length = front + padded_length;
  void* region = ::VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (region == nullptr) {
    *reason = SystemErrorText(::GetLastError());
    return false;
  }
  auto* base = static_cast<uint8_t*>(region);
  for (uint64_t done = 0; done < file_length;) {
    const int64_t n = file.ReadAt(base + front + done, static_cast<size_t>(file_length - done), done, reason);
    if (n <= 0) {
      if (n == 0) *reason = "the file ended early";
      ::VirtualFree(region, 0, MEM_RELEASE);
      return false;
    }
    done += static_cast<uint64_t>(n);
  }
  region_ = region;
  region_length_ = length;
  file_begin_ = base + front;
  begin_ = base;
  std::memset(begin_, 0xFF, front);
  std::memset(file_begin_ + file_length, 0xFF, padded_length - static_cast<size_t>(file_length));
  return true;
}

void FileRegion::Release(size_t, size_t) {}

void FileRegion::Clear() {
  if (region_ != nullptr) ::VirtualFree(region_, 0, MEM_RELEASE);
  region_ = nullptr;
  region_length_ = 0;
  file_begin_ = nullptr;
  file_whole_pages_ = 0;
  begin_ = nullptr;
}

}  // namespace torvane::platform
