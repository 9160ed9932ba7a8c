// What the file regions of every system share.
#include "platform/file_region.h"

#include <utility>

namespace torvane::platform {

void FileRegion::Take(FileRegion& other) {
  if (this == &other) return;
  Clear();
  region_ = std::exchange(other.region_, nullptr);
  region_length_ = std::exchange(other.region_length_, 0);
  file_begin_ = std::exchange(other.file_begin_, nullptr);
  file_whole_pages_ = std::exchange(other.file_whole_pages_, 0);
  begin_ = std::exchange(other.begin_, nullptr);
}

}  // namespace torvane::platform
