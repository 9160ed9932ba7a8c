#include "download/record_lines.h"

#include <algorithm>
#include <array>

#include "text/hex_text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace torvane {

namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;

// The value of each character as a hex digit; 0x10 marks one that is not.
constexpr std::array<uint8_t, 256> MakeHexTable() {
  std::array<uint8_t, 256> table{};
  for (auto& v : table) v = 0x10;
  for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table['A' + c] = static_cast<uint8_t>(10 + c);
    table['a' + c] = static_cast<uint8_t>(10 + c);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kHex = MakeHexTable();

// The byte each pair of characters spells, indexed by the first character
// times 256 plus the second; 0x100 marks a pair that is not two hex digits.
// One look-up per byte is what makes long files quick.
const uint16_t* PairTable() {
  static const std::array<uint16_t, 65536> table = [] {
    std::array<uint16_t, 65536> t{};
    for (unsigned i = 0; i < 65536; ++i) {
      const unsigned high = kHex[i >> 8];
      const unsigned low = kHex[i & 0xFF];
      t[i] = static_cast<uint16_t>((high | low) & 0x10 ? 0x100 : (high << 4) | low);
    }
    return t;
  }();
  return table.data();
}

#if defined(__SSE2__)
// Sixteen characters at once: true when all are hex digits, their eight
// bytes in `out` and added into *total.
inline bool DecodeSixteen(const uint8_t* text, uint8_t* out, unsigned* total) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  // Signed compares: characters from 0x80 up are negative and match neither.
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
  const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
  const __m128i letter =
      _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
  if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
  const __m128i nibbles = _mm_add_epi8(_mm_and_si128(v, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
  // Each 16-bit lane holds a pair, first digit in its low byte.
  const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4),
                                     _mm_srli_epi16(nibbles, 8));
  const __m128i bytes = _mm_packus_epi16(pairs, _mm_setzero_si128());
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
  *total += static_cast<unsigned>(_mm_cvtsi128_si32(_mm_sad_epu8(bytes, _mm_setzero_si128())));
  return true;
}
#endif

// Decodes `count` pairs of hex digits into `out` and adds the bytes into
// *sum. False when any character is not a hex digit.
inline bool DecodeHex(const uint8_t* text, size_t count, uint8_t* out, unsigned* sum) {
  static const uint16_t* const pairs = PairTable();
  unsigned bad = 0;
  unsigned total = 0;
  size_t i = 0;
#if defined(__SSE2__)
  if (count >= 8) {
    for (; i + 8 <= count; i += 8) {
      if (!DecodeSixteen(text + 2 * i, out + i, &total)) return false;
    }
    if (i < count) {
      // The last eight again, overlapping bytes already decoded: only the
      // new ones are added.
      unsigned again = 0;
      for (size_t k = count - 8; k < i; ++k) again += out[k];
      unsigned last = 0;
      if (!DecodeSixteen(text + 2 * (count - 8), out + count - 8, &last)) return false;
      total += last - again;
      i = count;
    }
  }
#endif
  for (; i < count; ++i) {
    const unsigned byte = pairs[(unsigned{text[2 * i]} << 8) | text[2 * i + 1]];
    bad |= byte;
    out[i] = static_cast<uint8_t>(byte);
    total += byte;
  }
  *sum += total;
  return (bad & 0x100) == 0;
}

// A field of up to four bytes, most significant first.
unsigned BigEndian(const uint8_t* bytes, size_t count) {
  switch (count) {
    case 0:
      return 0;
    case 1:
      return bytes[0];
    case 2:
      return (unsigned{bytes[0]} << 8) | bytes[1];
    case 3:
      return (unsigned{bytes[0]} << 16) | (unsigned{bytes[1]} << 8) | bytes[2];
    default:
      return (unsigned{bytes[0]} << 24) | (unsigned{bytes[1]} << 16) | (unsigned{bytes[2]} << 8) | bytes[3];
  }
}

// Whitespace or an MS-DOS end-of-file mark: what may follow an Intel HEX
// end record.
bool Blank(const uint8_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = text[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != 0x1A) return false;
  }
  return true;
}

const char* Kind(RecordFault fault) {
  switch (fault) {
    case RecordFault::Checksum:
      return "校验和错误";
    case RecordFault::AfterEnd:
      return "结束记录之后还有内容";
    case RecordFault::CountMismatch:
      return "记录数不符";
    case RecordFault::Beyond4GiB:
      return "数据超出 4 GiB 地址空间";
    default:
      return "记录格式错误";
  }
}

}  // namespace

RecordLines::RecordLines(ImageFormat format, bool check_data)
    : intel_(format == ImageFormat::IntelHex), check_data_(check_data) {}

bool RecordLines::Refuse(RecordError* error, RecordFault fault, const std::string& detail) const {
  if (error != nullptr) {
    error->fault = fault;
    error->line = line_;
    error->message = "第 " + std::to_string(line_) + " 行: " + Kind(fault) + " (" + detail + ")";
  }
  return false;
}

bool RecordLines::Line(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error) {
  ++line_;
  return intel_ ? IntelLine(text, length, sink, error) : SRecordLine(text, length, sink, error);
}

bool RecordLines::Finish(RecordError* error) const {
  RecordFault fault = RecordFault::None;
  const char* message = nullptr;
  if (!any_data_) {
    fault = RecordFault::NoData;
    message = "文件中没有数据记录 (file contains no data)";
  } else if (intel_ && !ended_) {
    fault = RecordFault::NoEnd;
    message = "文件没有结束记录, 可能不完整 (no end-of-file record)";
  }
  if (message == nullptr) return true;
  if (error != nullptr) *error = RecordError{fault, 0, message};
  return false;
}

bool RecordLines::IntelLine(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error) {
  if (ended_) {
    if (Blank(text, length)) return true;
    return Refuse(error, RecordFault::AfterEnd, "data after the end-of-file record");
  }
  if (length == 0) return true;
  if (text[0] != ':') return Refuse(error, RecordFault::Malformed, "not an Intel HEX record");
  const size_t digits = length - 1;
  if (digits < 10 || digits % 2 != 0 || digits > 2 * (255 + 5)) {
    return Refuse(error, RecordFault::Malformed, "record length does not match its length field");
  }
  const size_t count = digits / 2;
  unsigned sum = 0;
  if (!DecodeHex(text + 1, 4, bytes_, &sum)) return Refuse(error, RecordFault::Malformed, "hexadecimal digit expected");
  const unsigned data_length = bytes_[0];
  if (count != data_length + 5) {
    return Refuse(error, RecordFault::Malformed, "record length does not match its length field");
  }
  if (bytes_[3] != 0 || check_data_) {
    // The whole record in one run (the head again), for the wide decoder.
    sum = 0;
    if (!DecodeHex(text + 1, count, bytes_, &sum)) {
      return Refuse(error, RecordFault::Malformed, "hexadecimal digit expected");
    }
    if ((sum & 0xFF) != 0) return Refuse(error, RecordFault::Checksum, "checksum mismatch");
  }
  const unsigned address = BigEndian(bytes_ + 1, 2);
  const unsigned type = bytes_[3];
  const uint8_t* data = bytes_ + 4;

  // 02..05 have a fixed length and a zero address field.
  if (type >= 2 && type <= 5) {
    const unsigned wanted = type % 2 == 0 ? 2 : 4;
    if (data_length != wanted) {
      return Refuse(error, RecordFault::Malformed, "type " + std::to_string(type) + " record needs " +
                                                       std::to_string(wanted) + " data bytes");
    }
    if (address != 0) return Refuse(error, RecordFault::Malformed, "address field must be zero");
  }
  switch (type) {
    case 0:
      break;
    case 1:
      if (data_length != 0) return Refuse(error, RecordFault::Malformed, "end-of-file record with data");
      if (address != 0 && mode_ != Mode::Plain) {
        return Refuse(error, RecordFault::Malformed, "end-of-file record's address field must be zero");
      }
      ended_ = true;
      return true;
    case 2:
      base_ = BigEndian(data, 2) << 4;
      mode_ = Mode::Segmented;
      return true;
    case 3:
      mode_ = Mode::Segmented;
      return true;
    case 4:
      base_ = BigEndian(data, 2) << 16;
      mode_ = Mode::Linear;
      return true;
    case 5:
      mode_ = Mode::Linear;
      return true;
    default:
      return Refuse(error, RecordFault::Malformed, "unknown record type " + HexText(type, 2));
  }

  if (data_length == 0) return Refuse(error, RecordFault::Malformed, "data record without data");
  any_data_ = true;
  const uint64_t start = uint64_t{base_} + address;
  if (mode_ == Mode::Segmented && address + data_length > 0x10000) {
    // The offset wraps within the segment.
    const uint32_t first = 0x10000 - address;
    return sink.Data(start, data, first, line_, error) &&
           sink.Data(base_, data + first, data_length - first, line_, error);
  }
  if (start + data_length > k4GiB) {
    return Refuse(error, RecordFault::Beyond4GiB,
                  std::to_string(data_length) + " bytes from " + HexText(start) + " reach " + HexText(start + data_length, 9));
  }
  return sink.Data(start, data, data_length, line_, error);
}

bool RecordLines::SRecordLine(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error) {
  if (length == 0) return true;
  if (terminated_) return Refuse(error, RecordFault::Malformed, "record after the termination record");
  if (text[0] != 'S' || length < 2) return Refuse(error, RecordFault::Malformed, "not an S-record");
  const unsigned type = kHex[text[1]];
  if (type > 0xF) return Refuse(error, RecordFault::Malformed, "hexadecimal digit expected");
  const size_t digits = length - 2;
  if (digits < 2 || digits % 2 != 0 || digits > 2 * 256) {
    return Refuse(error, RecordFault::Malformed, "record length does not match its length field");
  }
  const size_t count = digits / 2;
  unsigned sum = 0;
  if (!DecodeHex(text + 2, 1, bytes_, &sum)) return Refuse(error, RecordFault::Malformed, "hexadecimal digit expected");
  if (bytes_[0] == 0 || count != size_t{bytes_[0]} + 1) {
    return Refuse(error, RecordFault::Malformed, "record length does not match its length field");
  }
  // Without check_data_, a data record's data and checksum are left for
  // the pass that writes them.
  const bool data_record = type >= 1 && type <= 3;
  const size_t decoded = data_record && !check_data_ ? std::min<size_t>(count, type + 2) : count;
  sum = 0;  // the whole run from the length byte again, for the wide decoder
  if (!DecodeHex(text + 2, decoded, bytes_, &sum)) {
    return Refuse(error, RecordFault::Malformed, "hexadecimal digit expected");
  }
  if (decoded == count && (sum & 0xFF) != 0xFF) return Refuse(error, RecordFault::Checksum, "checksum mismatch");
  const uint8_t* payload = bytes_ + 1;
  const unsigned payload_length = bytes_[0] - 1u;  // address and data
  const bool first = records_++ == 0;

  switch (type) {
    case 0: {
      if (!first) return Refuse(error, RecordFault::Malformed, "header record not first");
      const unsigned address_length = payload_length < 2 ? payload_length : 2;
      if (BigEndian(payload, address_length) != 0) {
        return Refuse(error, RecordFault::Malformed, "address field of the header record must be zero");
      }
      return true;
    }
    case 1:
    case 2:
    case 3: {
      const unsigned address_length = type + 1;
      if (payload_length <= address_length) return Refuse(error, RecordFault::Malformed, "data record without data");
      const uint64_t address = BigEndian(payload, address_length);
      const uint32_t data_length = payload_length - address_length;
      ++data_records_;
      any_data_ = true;
      if (address + data_length > k4GiB) {
        return Refuse(error, RecordFault::Beyond4GiB, std::to_string(data_length) + " bytes from " + HexText(address) +
                                                          " reach " + HexText(address + data_length, 9));
      }
      return sink.Data(address, payload + address_length, data_length, line_, error);
    }
    case 5:
    case 6: {
      // The count of the data records before it, in as many bytes as its
      // field has: S5 two, S6 three; either may use four.
      const unsigned least = type == 5 ? 2 : 3;
      if (payload_length < least || payload_length > 4) {
        return Refuse(error, RecordFault::Malformed, "count record needs " + std::to_string(least) + " to 4 bytes");
      }
      const uint64_t count_field = BigEndian(payload, payload_length);
      const uint64_t counted = data_records_ & ((uint64_t{1} << (8 * payload_length)) - 1);
      if (count_field != counted) {
        return Refuse(error, RecordFault::CountMismatch, "the file says " + std::to_string(count_field) +
                                                             " data records, " + std::to_string(counted) +
                                                             " were read");
      }
      return true;
    }
    case 7:
    case 8:
    case 9: {
      const unsigned address_length = 11 - type;
      if (payload_length != address_length) {
        return Refuse(error, RecordFault::Malformed, "termination record needs " + std::to_string(address_length) +
                                                         " address bytes and no data");
      }
      terminated_ = true;
      return true;
    }
    default:
      return Refuse(error, RecordFault::Malformed, "unknown record type S" + std::string(1, static_cast<char>(text[1])));
  }
}

}  // namespace torvane
