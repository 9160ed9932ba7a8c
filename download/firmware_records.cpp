#include "download/firmware_records.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

#include "text/hex_text.h"

namespace torvane {

namespace {

bool IsHex(uint8_t c) { return std::isxdigit(c) != 0; }

// Hex digits from `from` up to the line's end (or the end of what was
// read); at least `min_digits` of them.
bool HexToLineEnd(const uint8_t* head, size_t length, size_t from, size_t min_digits) {
  size_t i = from;
  while (i < length && IsHex(head[i])) ++i;
  if (i - from < min_digits) return false;
  if (i == length) return true;
  if (head[i] == '\r') ++i;
  return i == length || head[i] == '\n';
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i]) return false;
  }
  return true;
}

bool Fail(RecordError* error, RecordFault fault, uint64_t line, std::string message) {
  *error = RecordError{fault, line, std::move(message)};
  return false;
}

// The longest line the reader holds: far beyond any record (at most 522
// characters), so only a file that is not one has such lines.
constexpr size_t kLongestLine = size_t{1} << 20;
// Read buffer for a text of unknown or large length.
constexpr size_t kReadBuffer = size_t{1} << 20;

// Feeds every line of `text`, from where it stands to its end, to `lines`.
bool ReadLines(RecordText& text, RecordLines& lines, RecordSink& sink, std::vector<uint8_t>& buffer,
               RecordError* error) {
  size_t start = 0;  // first byte of the current line
  size_t have = 0;   // bytes in the buffer
  size_t searched = 0;  // no LF in [start, searched)
  bool at_end = false;
  for (;;) {
    const uint8_t* from = buffer.data() + searched;
    const auto* lf = static_cast<const uint8_t*>(have > searched ? std::memchr(from, '\n', have - searched) : nullptr);
    if (lf != nullptr) {
      const uint8_t* line = buffer.data() + start;
      size_t length = static_cast<size_t>(lf - line);
      if (length > 0 && line[length - 1] == '\r') --length;
      if (!lines.Line(line, length, sink, error)) return false;
      start = searched = static_cast<size_t>(lf - buffer.data()) + 1;
      continue;
    }
    if (at_end) {
      // The last line may lack its LF.
      if (have > start && !lines.Line(buffer.data() + start, have - start, sink, error)) return false;
      return lines.Finish(error);
    }
    // Keep the unfinished line, at the front, and read more behind it.
    std::memmove(buffer.data(), buffer.data() + start, have - start);
    have -= start;
    searched = have;
    start = 0;
    if (have == buffer.size()) {
      if (buffer.size() >= kLongestLine) {
        return Fail(error, RecordFault::Malformed, lines.line() + 1,
                    "第 " + std::to_string(lines.line() + 1) + " 行: 记录格式错误 (line longer than " +
                        std::to_string(kLongestLine) + " characters)");
      }
      buffer.resize(std::min(buffer.size() * 2, kLongestLine));
    }
    std::string why;
    const int64_t n = text.Read(buffer.data() + have, buffer.size() - have, &why);
    if (n < 0) return Fail(error, RecordFault::Read, 0, why);
    if (n == 0) at_end = true;
    have += static_cast<size_t>(n);
  }
}

// Where the data lies: the first pass, and a check on the second.
struct Extent {
  uint64_t low = UINT64_MAX;
  uint64_t high = 0;
  uint64_t pieces = 0;
  uint64_t last_end = 0;
  bool ordered = true;  // each piece at or after the end of the one before: no overlaps

  void Add(uint64_t address, uint32_t length) {
    if (address < last_end) ordered = false;
    last_end = address + length;
    low = std::min(low, address);
    high = std::max(high, address + length);
    ++pieces;
  }
  bool operator==(const Extent& other) const {
    return low == other.low && high == other.high && pieces == other.pieces && ordered == other.ordered;
  }
};

class MeasureSink final : public RecordSink {
 public:
  bool Data(uint64_t address, const uint8_t*, uint32_t length, uint64_t, RecordError*) override {
    extent.Add(address, length);
    return true;
  }
  Extent extent;
};

// Writes each piece into the image. Pieces in address order cannot
// overlap and are copied; otherwise a bit per byte tells which bytes a
// piece already wrote, and an overlap must repeat them.
class FillSink final : public RecordSink {
 public:
  FillSink(const Extent& expected, uint8_t* image, bool track_overlaps)
      : expected_(expected), image_(image) {
    if (track_overlaps) written_.assign(static_cast<size_t>((expected.high - expected.low + 63) / 64), 0);
  }

  bool Data(uint64_t address, const uint8_t* bytes, uint32_t length, uint64_t line, RecordError* error) override {
    extent.Add(address, length);
    if (address < expected_.low || address + length > expected_.high || (written_.empty() && !extent.ordered)) {
      return Fail(error, RecordFault::Changed, line, "文件在读取过程中被改变 (file changed while being read)");
    }
    const uint64_t offset = address - expected_.low;
    uint8_t* dest = image_ + offset;
    if (written_.empty()) {
      std::memcpy(dest, bytes, length);
      return true;
    }
    for (uint32_t i = 0; i < length; ++i) {
      const uint64_t at = offset + i;
      uint64_t& word = written_[static_cast<size_t>(at / 64)];
      const uint64_t bit = uint64_t{1} << (at % 64);
      if ((word & bit) == 0) {
        dest[i] = bytes[i];
        word |= bit;
      } else if (dest[i] != bytes[i]) {
        return Fail(error, RecordFault::Overlap, line,
                    "第 " + std::to_string(line) + " 行: 地址 " + HexText(address + i) + " 的数据与其他记录重叠且内容不同");
      }
    }
    return true;
  }
  Extent extent;

 private:
  const Extent& expected_;
  uint8_t* image_;
  std::vector<uint64_t> written_;
};

bool ReadTwice(RecordText& text, ImageFormat format, RecordImage* out, RecordError* error) {
  const uint64_t hint = text.SizeHint();
  std::vector<uint8_t> buffer(hint == 0 ? kReadBuffer : static_cast<size_t>(std::clamp<uint64_t>(hint + 1, 4096, kReadBuffer)));

  RecordLines first_lines(format, false);
  MeasureSink measure;
  if (!ReadLines(text, first_lines, measure, buffer, error)) return false;
  const Extent& extent = measure.extent;
  const uint64_t span = extent.high - extent.low;
  if (span > kMaxRecordImageSpan) {
    return Fail(error, RecordFault::Span, 0,
                "数据从 " + HexText(extent.low) + " 到 " + HexText(extent.high) + ", 跨度 " + std::to_string(span) +
                    " 字节, 超过 " + std::to_string(kMaxRecordImageSpan >> 20) + " MiB 上限 (HID 引导程序的闪存远小于此)");
  }

  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>((span + 3) & ~uint64_t{3}));  // padding adds no copy
  bytes.assign(static_cast<size_t>(span), 0xFF);
  std::string why;
  if (!text.Rewind(&why)) return Fail(error, RecordFault::Read, 0, why);
  RecordLines second_lines(format);
  FillSink fill(extent, bytes.data(), !extent.ordered);
  if (!ReadLines(text, second_lines, fill, buffer, error)) return false;
  if (!(fill.extent == extent)) {
    return Fail(error, RecordFault::Changed, 0, "文件在读取过程中被改变 (file changed while being read)");
  }
  out->load_address = static_cast<uint32_t>(extent.low);
  out->bytes = std::move(bytes);
  return true;
}

}  // namespace

ImageFormat DetectImageFormat(const std::string& path, const uint8_t* head, size_t length) {
  if (length > 0 && head[0] == ':' && HexToLineEnd(head, length, 1, 10)) return ImageFormat::IntelHex;
  if (length > 1 && head[0] == 'S' && std::isdigit(head[1]) != 0 && HexToLineEnd(head, length, 2, 6)) {
    return ImageFormat::SRecord;
  }
  for (const char* suffix : {".hex", ".ihex", ".ihx"}) {
    if (EndsWith(path, suffix)) return ImageFormat::IntelHex;
  }
  for (const char* suffix : {".srec", ".s19", ".s28", ".s37", ".mot"}) {
    if (EndsWith(path, suffix)) return ImageFormat::SRecord;
  }
  return ImageFormat::Raw;
}

bool ReadRecordImage(RecordText& text, ImageFormat format, RecordImage* out, RecordError* error) {
  RecordError ignored;
  if (error == nullptr) error = &ignored;
  *error = RecordError{};
  *out = RecordImage{};
  try {
    if (ReadTwice(text, format, out, error)) return true;
  } catch (const std::exception&) {  // std::bad_alloc, std::length_error
    *error = RecordError{RecordFault::Memory, 0, "内存不足 (cannot allocate)"};
  }
  *out = RecordImage{};
  return false;
}

}  // namespace torvane
