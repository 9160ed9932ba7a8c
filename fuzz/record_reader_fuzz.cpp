// Differential libFuzzer target for the Intel HEX / S-record reader: the
// same bytes go to our reader and to the SRecord library (with the
// product's layout rules on top, srecord_oracle.h). The first input byte
// picks the format (bit 0), how many bytes each read gives our reader
// (bits 1-6, so lines straddle its refills; 0: all at once) and whether
// each record's checksum is set right first (bit 7, so that mutated
// records get past it and reach the address rules); the rest is the file.
//
// Whatever the bytes: no crash, a refusal says why, an accepted image is
// inside the address rules. When both accept, the images and load
// addresses are identical. When only SRecord accepts, the file must hold
// one of the documented differences, and without it both must read the
// same image:
//  1. Intel HEX: content after the end record. SRecord stops reading at the
//     end record; we refuse anything but blank lines after it (two files
//     joined with cat would otherwise flash only the first).
//  2. S-record: an S5/S6 count record with more bytes than a count field
//     (2 to 4) holds. SRecord ignores the extra bytes; we refuse the record.
// Any other disagreement is a finding. (A third difference needs 65536 or
// more data records, beyond what this target writes: SRecord compares an
// S5/S6 count of at most 0xFFFF with the record count modulo 65536 whatever
// the field's width; we compare modulo the width.)
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "download/firmware_records.h"
#include "fuzz/srecord_oracle.h"

namespace {

using torvane::ImageFormat;
using torvane::RecordError;
using torvane::RecordFault;
using torvane::RecordImage;

std::string g_path;  // the file SRecord reads, removed at exit

void RemoveFile() { std::remove(g_path.c_str()); }

[[noreturn]] void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "record_reader_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

struct Ours {
  bool ok;
  RecordImage image;
  RecordError error;
};

Ours ReadOurs(const std::string& text, ImageFormat format, size_t piece) {
  torvane::MemoryRecordText source(text, piece);
  Ours r;
  r.ok = torvane::ReadRecordImage(source, format, &r.image, &r.error);
  if (r.ok) {
    if (r.image.bytes.empty() || r.image.bytes.size() > torvane::kMaxRecordImageSpan ||
        r.image.load_address + uint64_t{r.image.bytes.size()} > (uint64_t{1} << 32)) {
      Finding("accepted image breaks the address rules", std::to_string(r.image.bytes.size()));
    }
  } else if (r.error.fault == RecordFault::None || r.error.message.empty() || !r.image.bytes.empty()) {
    Finding("refusal without a reason, or with an image", r.error.message);
  }
  return r;
}

// Start and end (after its LF) of line `line` (1-based) in `text`.
bool LineBounds(const std::string& text, uint64_t line, size_t* begin, size_t* end) {
  size_t at = 0;
  for (uint64_t n = 1; n < line; ++n) {
    at = text.find('\n', at);
    if (at == std::string::npos) return false;
    ++at;
  }
  const size_t lf = text.find('\n', at);
  *begin = at;
  *end = lf == std::string::npos ? text.size() : lf + 1;
  return true;
}

// An S5/S6 line whose length byte gives more than 4 bytes of count field.
bool LongCountRecord(const std::string& line) {
  if (line.size() < 4 || line[0] != 'S' || (line[1] != '5' && line[1] != '6')) return false;
  const unsigned length = static_cast<unsigned>(std::strtoul(line.substr(2, 2).c_str(), nullptr, 16));
  return length >= 6;  // the checksum and 5 or more bytes
}

// The text without the documented difference our reader refused it for,
// or false when the refusal is not one.
bool WithoutDifference(const std::string& text, ImageFormat format, const RecordError& error, std::string* rest) {
  size_t begin = 0;
  size_t end = 0;
  if (error.line == 0 || !LineBounds(text, error.line, &begin, &end)) return false;
  if (format == ImageFormat::IntelHex && error.fault == RecordFault::AfterEnd) {
    *rest = text.substr(0, begin);  // SRecord reads nothing after the end record
    return true;
  }
  if (format == ImageFormat::SRecord && error.fault == RecordFault::Malformed &&
      LongCountRecord(text.substr(begin, end - begin))) {
    *rest = text.substr(0, begin) + text.substr(end);  // a count record carries no data
    return true;
  }
  return false;
}

// Sets the checksum of every line that is a record's worth of hex digits.
void FixChecksums(std::string* text, ImageFormat format) {
  const bool intel = format == ImageFormat::IntelHex;
  const size_t lead = intel ? 1 : 2;
  size_t begin = 0;
  while (begin < text->size()) {
    size_t end = text->find('\n', begin);
    if (end == std::string::npos) end = text->size();
    size_t stop = end > begin && (*text)[end - 1] == '\r' ? end - 1 : end;
    const bool record = stop - begin >= lead + 4 && (*text)[begin] == (intel ? ':' : 'S') &&
                        (stop - begin - lead) % 2 == 0 &&
                        text->find_first_not_of("0123456789ABCDEFabcdef", begin + lead) >= stop;
    if (record) {
      unsigned sum = 0;
      for (size_t at = begin + lead; at + 2 < stop; at += 2) sum += std::stoul(text->substr(at, 2), nullptr, 16);
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", (intel ? 0x100 - sum : ~sum) & 0xFF);
      text->replace(stop - 2, 2, digits);
    }
    begin = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // SRecord opens the file by name for every input: in memory where there
  // is a tmpfs.
  for (const char* dir : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(dir) + "/torvane-record-fuzz-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) continue;
    ::close(fd);
    g_path = pattern;
    break;
  }
  if (g_path.empty()) std::abort();
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ImageFormat format = (data[0] & 1) != 0 ? ImageFormat::SRecord : ImageFormat::IntelHex;
  const size_t piece = (data[0] & 0x7E) == 0 ? SIZE_MAX : (data[0] & 0x7E) >> 1;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 0x80) != 0) FixChecksums(&text, format);

  {
    std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  RecordImage reference;
  std::string why;
  const bool oracle_ok = torvane::fuzz::OracleReadRecordImage(g_path, format, &reference, &why);

  Ours ours = ReadOurs(text, format, piece);
  // Take away documented differences one at a time (a file may hold several).
  for (int round = 0; !ours.ok && oracle_ok && round < 64; ++round) {
    std::string rest;
    if (!WithoutDifference(text, format, ours.error, &rest)) break;
    text = std::move(rest);
    ours = ReadOurs(text, format, piece);
  }
  if (ours.ok != oracle_ok) {
    Finding(ours.ok ? "SRecord refuses what we accept" : "we refuse what SRecord accepts",
            ours.ok ? why : ours.error.message);
  }
  if (ours.ok && (ours.image.load_address != reference.load_address || ours.image.bytes != reference.bytes)) {
    Finding("images differ", "load address " + std::to_string(ours.image.load_address) + " vs " +
                                 std::to_string(reference.load_address) + ", " + std::to_string(ours.image.bytes.size()) +
                                 " vs " + std::to_string(reference.bytes.size()) + " bytes");
  }
  return 0;
}
