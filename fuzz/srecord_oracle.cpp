#include "fuzz/srecord_oracle.h"

#include <srecord/input/file.h>
#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

// Debian's libsrecord-dev ships the Motorola reader without its header;
// its one entry point, with the library's own signature.
namespace srecord {
class input_file_motorola : public input_file {
 public:
  static input_file::pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace torvane::fuzz {

namespace {

struct LibraryError : std::exception {
  explicit LibraryError(std::string m) : message(std::move(m)) {}
  std::string message;
};

// Takes the library's messages; its exit() after a fatal one throws, so
// the read ends instead of the process.
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
    throw LibraryError(std::move(last));
  }
};

struct Piece {
  uint64_t address;
  size_t offset;
  uint32_t length;
};

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

}  // namespace

bool OracleReadRecordImage(const std::string& path, ImageFormat format, RecordImage* out, std::string* error) {
  *out = RecordImage{};
  Collector collector;
  std::vector<uint8_t> data;
  std::vector<Piece> pieces;
  try {
    srecord::input::pointer input = format == ImageFormat::IntelHex
                                        ? srecord::input::pointer(srecord::input_file_intel::create(path))
                                        : srecord::input::pointer(srecord::input_file_motorola::create(path));
    input->set_quit(collector);
    srecord::record record;
    try {
      while (input->read(record)) {
        if (record.get_type() != srecord::record::type_data || record.get_length() == 0) continue;
        const uint64_t address = record.get_address();
        if (address + record.get_length() > (uint64_t{1} << 32)) return Fail(error, "beyond 4 GiB");
        pieces.push_back({address, data.size(), static_cast<uint32_t>(record.get_length())});
        data.insert(data.end(), record.get_data(), record.get_data() + record.get_length());
      }
    } catch (const LibraryError& e) {
      input->reset_quit();
      return Fail(error, e.message);
    }
    input->reset_quit();
  } catch (const LibraryError& e) {
    return Fail(error, e.message);
  } catch (const std::bad_alloc&) {
    return Fail(error, "cannot allocate");
  }
  for (const std::string& warning : collector.messages) {
    if (warning.find("execution start address") != std::string::npos) continue;
    if (warning.find("no header record") != std::string::npos) continue;
    return Fail(error, warning);
  }
  if (pieces.empty()) return Fail(error, "no data");

  const auto by_address = [](const Piece& a, const Piece& b) { return a.address < b.address; };
  std::stable_sort(pieces.begin(), pieces.end(), by_address);
  const uint64_t low = pieces.front().address;
  uint64_t high = 0;
  for (const Piece& p : pieces) high = std::max(high, p.address + p.length);
  if (high - low > kMaxRecordImageSpan) return Fail(error, "span");

  std::vector<uint8_t> bytes(static_cast<size_t>(high - low), 0xFF);
  uint64_t covered = low;
  for (const Piece& p : pieces) {
    const uint8_t* src = data.data() + p.offset;
    uint8_t* dest = bytes.data() + (p.address - low);
    const uint64_t overlap = covered > p.address ? std::min<uint64_t>(covered - p.address, p.length) : 0;
    if (std::memcmp(dest, src, static_cast<size_t>(overlap)) != 0) return Fail(error, "different overlap");
    std::memcpy(dest + overlap, src + overlap, p.length - overlap);
    covered = std::max(covered, p.address + p.length);
  }
  out->load_address = static_cast<uint32_t>(low);
  out->bytes = std::move(bytes);
  return true;
}

}  // namespace torvane::fuzz
