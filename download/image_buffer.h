// The bytes of a prepared image, in one contiguous run: either held in
// memory, or the image file laid behind room for a header by
// platform::FileRegion (a private mapping on Linux, so a file of gigabytes
// costs address space rather than memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_region.h"
#include "platform/read_only_file.h"

namespace torvane {

class ImageBuffer {
 public:
  ImageBuffer() = default;
  ~ImageBuffer();
  ImageBuffer(ImageBuffer&& other) noexcept;
  ImageBuffer& operator=(ImageBuffer&& other) noexcept;
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // Held in memory: `count` bytes of `value`. May throw std::bad_alloc.
  void assign(size_t count, uint8_t value);
  // Held in memory: a copy of `bytes`, then 0xFF up to `padded` bytes.
  void assign_padded(std::vector<uint8_t> bytes, size_t padded);
  // Maps `file_length` bytes of the open `file` at offset `front` and
  // fills the `front` bytes before it and the bytes after it up to
  // `front + padded_length` with 0xFF. `padded_length` is at most
  // `file_length` + 3. False (reason in *error) when the mapping fails.
  bool map_file(const platform::ReadOnlyFile& file, uint64_t file_length, size_t front, size_t padded_length, std::string* error);
  // Gives back the memory of the file's pages in [from, to) that have been
  // read; they are read from the file again if touched later. Bytes that
  // are not the file's own (front room, padding) are kept.
  void release_pages(size_t from, size_t to);
  void clear();

  const uint8_t* data() const { return begin_; }
  uint8_t* data() { return begin_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool mapped() const { return region_.mapped(); }
  const uint8_t& operator[](size_t i) const { return begin_[i]; }
  const uint8_t* begin() const { return begin_; }
  const uint8_t* end() const { return begin_ + size_; }

  bool operator==(const std::vector<uint8_t>& bytes) const;

 private:
  std::vector<uint8_t> owned_;
  platform::FileRegion region_;
  uint8_t* begin_ = nullptr;
  size_t size_ = 0;
};

}  // namespace torvane
