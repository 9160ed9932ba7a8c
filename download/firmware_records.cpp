#include "download/firmware_records.h"

#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>

#include "download/srecord_motorola.h"

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

// A refusal from the library: its message and the line it was read at.
struct RecordError : std::exception {
  explicit RecordError(std::string m) : message(std::move(m)) {}
  std::string message;
};

// Takes the library's messages. The library reports a fatal error as a
// message followed by exit(), which by default ends the process: here the
// exit throws, carrying that message, and ends the read instead.
class Collector final : public srecord::quit {
 public:
  std::vector<std::string> messages;
  void message_v(const char* format, va_list args) override {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    messages.emplace_back(text);
  }
  void exit(int) override {
    std::string last = messages.empty() ? std::string("unreadable file") : messages.back();
    if (!messages.empty()) messages.pop_back();
    throw RecordError(std::move(last));
  }
};

// "<file>: <line>: <text>" from the library → "第 <line> 行: <text>".
std::string AtLine(const std::string& message, const std::string& file_name) {
  std::string rest = message;
  if (rest.rfind(file_name + ": ", 0) == 0) rest = rest.substr(file_name.size() + 2);
  size_t digits = 0;
  while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])) != 0) ++digits;
  if (digits == 0 || rest.compare(digits, 2, ": ") != 0) return rest;
  std::string text = rest.substr(digits + 2);
  if (text.rfind("warning: ", 0) == 0) text = text.substr(9);
  const char* kind = text.find("checksum") != std::string::npos ? "校验和错误" : "记录格式错误";
  return "第 " + rest.substr(0, digits) + " 行: " + kind + " (" + text + ")";
}

std::string Hex8(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

// One data record: where its bytes sit in `data` and where they go.
struct Piece {
  uint64_t address;
  size_t offset;
  uint32_t length;
  int line;
};

int LineOf(const srecord::input& input) {
  const std::string where = input.filename_and_line();
  const size_t colon = where.rfind(": ");
  return colon == std::string::npos ? 0 : std::atoi(where.c_str() + colon + 2);
}

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
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

bool ReadRecordImage(const std::string& path, ImageFormat format, RecordImage* out, std::string* error) {
  *out = RecordImage{};
  Collector collector;
  std::vector<uint8_t> data;
  std::vector<Piece> pieces;
  try {
    // A text record carries at most half its length in data bytes.
    std::error_code ignored;
    const uintmax_t text_length = std::filesystem::file_size(path, ignored);
    if (text_length != static_cast<uintmax_t>(-1)) data.reserve(static_cast<size_t>(std::min<uintmax_t>(text_length / 2, kMaxRecordImageSpan)));
    srecord::input::pointer input = format == ImageFormat::IntelHex
                                        ? srecord::input::pointer(srecord::input_file_intel::create(path))
                                        : srecord::input::pointer(srecord::input_file_motorola::create(path));
    input->set_quit(collector);
    srecord::record record;
    try {
      while (input->read(record)) {
        if (record.get_type() != srecord::record::type_data || record.get_length() == 0) continue;
        const uint64_t address = record.get_address();
        const int line = LineOf(*input);
        if (address + record.get_length() > (uint64_t{1} << 32)) {
          return Fail(error, "第 " + std::to_string(line) + " 行: 数据超出 4 GiB 地址空间");
        }
        pieces.push_back({address, data.size(), static_cast<uint32_t>(record.get_length()), line});
        data.insert(data.end(), record.get_data(), record.get_data() + record.get_length());
      }
    } catch (const RecordError& e) {
      input->reset_quit();
      return Fail(error, AtLine(e.message, path));
    }
    input->reset_quit();
  } catch (const RecordError& e) {
    return Fail(error, AtLine(e.message, path));
  } catch (const std::bad_alloc&) {
    return Fail(error, "内存不足 (cannot allocate)");
  }
  for (const std::string& warning : collector.messages) {
    // A start address and an S0 header are optional (SRecord's own tools
    // leave the first out); any other complaint (stray lines, a missing
    // end record) means a damaged or truncated file.
    if (warning.find("execution start address") != std::string::npos) continue;
    if (warning.find("no header record") != std::string::npos) continue;
    return Fail(error, AtLine(warning, path));
  }
  if (pieces.empty()) return Fail(error, "文件中没有数据记录");

  const auto by_address = [](const Piece& a, const Piece& b) { return a.address < b.address; };
  if (!std::is_sorted(pieces.begin(), pieces.end(), by_address)) {
    std::stable_sort(pieces.begin(), pieces.end(), by_address);
  }
  const uint64_t low = pieces.front().address;
  uint64_t high = 0;
  for (const Piece& p : pieces) high = std::max(high, p.address + p.length);
  if (high - low > kMaxRecordImageSpan) {
    return Fail(error, "数据从 " + Hex8(low) + " 到 " + Hex8(high) + ", 跨度 " + std::to_string(high - low) +
                           " 字节, 超过 " + std::to_string(kMaxRecordImageSpan >> 20) +
                           " MiB 上限 (HID 引导程序的闪存远小于此)");
  }

  std::vector<uint8_t> bytes(static_cast<size_t>(high - low), 0xFF);
  // Sorted by address, every byte below `covered` is already written by an
  // earlier piece, so an overlap is checked against the image itself.
  uint64_t covered = low;
  for (const Piece& p : pieces) {
    const uint8_t* src = data.data() + p.offset;
    uint8_t* dest = bytes.data() + (p.address - low);
    const uint64_t overlap = covered > p.address ? std::min<uint64_t>(covered - p.address, p.length) : 0;
    for (uint64_t i = 0; i < overlap; ++i) {
      if (dest[i] != src[i]) {
        return Fail(error, "第 " + std::to_string(p.line) + " 行: 地址 " + Hex8(p.address + i) +
                               " 的数据与其他记录重叠且内容不同");
      }
    }
    std::memcpy(dest + overlap, src + overlap, p.length - overlap);
    covered = std::max(covered, p.address + p.length);
  }
  out->load_address = static_cast<uint32_t>(low);
  out->bytes = std::move(bytes);
  return true;
}

}  // namespace torvane
