// The text of an Intel HEX or S-record file as the record reader takes it:
// read from its first byte, a piece at a time, and again from the start
// when the reader asks (it reads a file twice: once to learn the image's
// extent, once to fill it).
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace torvane {

class RecordText {
 public:
  virtual ~RecordText() = default;
  // Goes back to the first byte. False (reason in *error) when it cannot.
  virtual bool Rewind(std::string* error) = 0;
  // Copies up to `capacity` next bytes to `dest`: how many; 0 at the end;
  // -1 when the read fails or is to stop (reason in *error).
  virtual int64_t Read(uint8_t* dest, size_t capacity, std::string* error) = 0;
  // The text's length if known, else 0; only sizes the reader's buffer.
  virtual uint64_t SizeHint() const { return 0; }
};

// Text held in memory; `max_piece` bounds each read (tests use small ones
// so that lines straddle the reader's refills).
class MemoryRecordText final : public RecordText {
 public:
  MemoryRecordText(const void* bytes, size_t length, size_t max_piece = SIZE_MAX)
      : bytes_(static_cast<const uint8_t*>(bytes)), length_(length), max_piece_(max_piece == 0 ? 1 : max_piece) {}
  explicit MemoryRecordText(const std::string& text, size_t max_piece = SIZE_MAX)
      : MemoryRecordText(text.data(), text.size(), max_piece) {}

  bool Rewind(std::string*) override {
    at_ = 0;
    return true;
  }
  int64_t Read(uint8_t* dest, size_t capacity, std::string*) override {
    const size_t n = std::min({capacity, length_ - at_, max_piece_});
    if (n > 0) std::memcpy(dest, bytes_ + at_, n);
    at_ += n;
    return static_cast<int64_t>(n);
  }
  uint64_t SizeHint() const override { return length_; }

 private:
  const uint8_t* bytes_;
  size_t length_;
  size_t max_piece_;
  size_t at_ = 0;
};

}  // namespace torvane
