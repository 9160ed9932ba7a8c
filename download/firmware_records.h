// Intel HEX and Motorola S-record firmware files: which kind a file is,
// and its data laid out as one image from its lowest to its highest
// address, gaps filled with 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "download/record_lines.h"
#include "download/record_text.h"

namespace torvane {

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
  std::vector<uint8_t> bytes;  // lowest to highest address, gaps 0xFF; room to pad to 4 reserved
};

// Reads an Intel HEX or S-record file (the rules: RecordLines) in two
// passes over `text`: the first finds the data's extent, the second writes
// each record straight into an image of exactly that size, so memory is
// the image and one read buffer. Refuses (false, *error with the line where
// there is one) every record RecordLines refuses, a file without data or
// (Intel HEX) without its end record, two records giving one address
// different bytes, a span above kMaxRecordImageSpan, a text that cannot be
// read, and one that reads differently the second time. Throws nothing.
bool ReadRecordImage(RecordText& text, ImageFormat format, RecordImage* out, RecordError* error);

}  // namespace torvane
