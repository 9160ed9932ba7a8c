// One run of memory that holds `front` bytes of room, then a file's bytes,
// then 0xFF padding: the layout of an image sent behind its header. On
// Linux the file is mapped privately behind the room, so a file of
// gigabytes costs address space rather than memory, and pages already read
// can be given back. On Windows the run is committed memory the file is
// read into (a view of a file cannot be placed behind room of our own
// without the placeholder calls older systems lack); pages are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/read_only_file.h"

namespace torvane::platform {

class FileRegion {
 public:
  FileRegion() = default;
  ~FileRegion() { Clear(); }
  FileRegion(const FileRegion&) = delete;
  FileRegion& operator=(const FileRegion&) = delete;

  // Lays `file_length` bytes of `file` at offset `front` of a new run of
  // `front + padded_length` bytes (padded_length >= file_length) and fills
  // the rest with 0xFF. False with *reason when it cannot.
  bool Map(const ReadOnlyFile& file, uint64_t file_length, size_t front, size_t padded_length,
           std::string* reason);
  // Gives back the memory of the file's whole pages within [from, to) of
  // the run, where the system can read them again from the file.
  void Release(size_t from, size_t to);
  void Clear();

  uint8_t* begin() const { return begin_; }
  bool mapped() const { return region_ != nullptr; }
  // Moves the run out of `other`.
  void Take(FileRegion& other);

 private:
  void* region_ = nullptr;  // the whole reservation
  size_t region_length_ = 0;
  uint8_t* file_begin_ = nullptr;  // first byte of the file
  size_t file_whole_pages_ = 0;    // bytes of the file's pages that hold no padding
  uint8_t* begin_ = nullptr;
};

}  // namespace torvane::platform
