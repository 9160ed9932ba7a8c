// Intel HEX and Motorola S-record firmware files: which kind a file is,
// and its data laid out as one image from its lowest to its highest
// address, gaps filled with 0xFF. The records are read by the SRecord
// library; the layout and every refusal are ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

enum class ImageFormat { Raw, IntelHex, SRecord };

// Decided by content: a first line that is a well-formed start of an Intel
// HEX (":" and hex digits) or S-record ("S", a digit, hex digits) record.
// When the content looks like neither, a name ending in .hex/.ihex/.ihx or
// .srec/.s19/.s28/.s37/.mot still names the format, so such a file that
// is not one is refused rather than flashed as it is; anything else is a
// raw binary.
ImageFormat DetectImageFormat(const std::string& path, const uint8_t* head, size_t head_length);

// Images spanning more than this are refused: a HID bootloader's flash is
// far smaller, and a span this large means scattered addresses.
inline constexpr uint64_t kMaxRecordImageSpan = uint64_t{64} << 20;

struct RecordImage {
  uint32_t load_address = 0;   // the lowest address with data
  std::vector<uint8_t> bytes;  // lowest to highest address, gaps 0xFF
};

// Reads an Intel HEX or S-record file. Refuses (false, reason in *error,
// with the line number where there is one) bad checksums, malformed or
// stray lines, a file without data or (Intel HEX) without its end record,
// data at or above 4 GiB, two records giving one address different bytes,
// and a span above kMaxRecordImageSpan.
bool ReadRecordImage(const std::string& path, ImageFormat format, RecordImage* out, std::string* error);

}  // namespace torvane
