// The record reader's own rules beyond what srec_cat writes: address
// modes, line ends, optional records, what may follow the end, count
// records; text that straddles the reader's refills; a text that fails or
// changes between the two passes; reading through the open file only.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/firmware_records.h"
#include "download/prepare_image.h"
#include "tests/support/sanitized_build.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Record(const char* lead, unsigned head, const Bytes& fields, unsigned sum_xor) {
  std::string line = lead;
  unsigned sum = head;
  char text[4];
  if (lead[0] == 'S') {
    std::snprintf(text, sizeof text, "%02X", head);
    line += text;
  }
  for (uint8_t b : fields) {
    std::snprintf(text, sizeof text, "%02X", b);
    line += text;
    sum += b;
  }
  std::snprintf(text, sizeof text, "%02X", ((lead[0] == 'S' ? ~sum : 0x100 - sum) ^ sum_xor) & 0xFF);
  return line + text + "\n";
}

// One Intel HEX record.
std::string Ihex(unsigned type, unsigned address, const Bytes& data) {
  Bytes fields{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
               static_cast<uint8_t>(type)};
  fields.insert(fields.end(), data.begin(), data.end());
  return Record(":", 0, fields, 0);
}
const std::string kEnd = ":00000001FF\n";

// One S-record: type, address in `address_bytes` bytes, data.
std::string Srec(unsigned type, uint32_t address, int address_bytes, const Bytes& data) {
  Bytes fields;
  for (int i = address_bytes - 1; i >= 0; --i) fields.push_back(static_cast<uint8_t>(address >> (8 * i)));
  fields.insert(fields.end(), data.begin(), data.end());
  const std::string type_text = "S" + std::to_string(type);
  return Record(type_text.c_str(), static_cast<unsigned>(fields.size() + 1), fields, 0);
}

Bytes Fill(size_t n) { return Bytes(n, 0xFF); }

bool Read(const std::string& text, ImageFormat format, RecordImage* image, RecordError* error, size_t piece = SIZE_MAX) {
  MemoryRecordText source(text, piece);
  return ReadRecordImage(source, format, image, error);
}

TEST(RecordReader, AcceptsWhatTheFormatsAllow) {
  Bytes wrapped = Fill(0x10000);  // segment 0x1000: 0xFFFF then wraps to 0x0000
  wrapped[0] = 2;
  wrapped[0xFFFF] = 1;
  std::string lower = Ihex(0, 0x10, {0xAB, 0xCD});
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Case {
    const char* name;
    ImageFormat format;
    std::string text;
    uint32_t load;
    Bytes bytes;
  };
  const Case cases[] = {
      {"segment wraps", ImageFormat::IntelHex, Ihex(2, 0, {0x10, 0}) + Ihex(0, 0xFFFF, {1, 2}) + kEnd, 0x10000, wrapped},
      {"16-bit runs past 64 KiB", ImageFormat::IntelHex, Ihex(0, 0xFFFF, {1, 2}) + kEnd, 0xFFFF, {1, 2}},
      {"linear runs past 64 KiB", ImageFormat::IntelHex, Ihex(4, 0, {0, 1}) + Ihex(0, 0xFFFF, {1, 2}) + kEnd, 0x1FFFF,
       {1, 2}},
      {"CR LF, lower case, no LF at the end", ImageFormat::IntelHex, lower.substr(0, lower.size() - 1) + "\r\n:00000001ff",
       0x10, {0xAB, 0xCD}},
      {"start records", ImageFormat::IntelHex, Ihex(0, 0x20, {7}) + Ihex(3, 0, {0, 0, 1, 0}) + Ihex(5, 0, {0, 0, 0, 0x20}) + kEnd,
       0x20, {7}},
      {"start address in a 16-bit end record", ImageFormat::IntelHex, Ihex(0, 0x20, {7}) + "\n" + Ihex(1, 0x1234, {}),
       0x20, {7}},
      {"blank lines and an MS-DOS end mark after the end", ImageFormat::IntelHex,
       "\n" + Ihex(0, 0x20, {7}) + kEnd + "\r\n \t\n\x1A", 0x20, {7}},
      {"reverse order, equal overlap", ImageFormat::IntelHex,
       Ihex(0, 0x104, {5, 6}) + Ihex(0, 0x100, {1, 2, 3, 4, 5}) + kEnd, 0x100, {1, 2, 3, 4, 5, 6}},
      {"header, mixed data, S5, S9", ImageFormat::SRecord,
       Srec(0, 0, 2, {'h', 'd', 'r'}) + Srec(1, 0x100, 2, {1, 2}) + Srec(2, 0x102, 3, {3}) + Srec(5, 2, 2, {}) +
           Srec(9, 0, 2, {}) + "\n",
       0x100, {1, 2, 3}},
      {"no header, 4-byte S5, S6, no termination", ImageFormat::SRecord,
       Srec(3, 0x08000000, 4, {9}) + Srec(5, 1, 4, {}) + Srec(6, 1, 3, {}), 0x08000000, {9}},
      {"gap", ImageFormat::SRecord, Srec(1, 0x10, 2, {1}) + Srec(1, 0x13, 2, {4}) + Srec(7, 0, 4, {}), 0x10,
       {1, 0xFF, 0xFF, 4}},
  };
  for (const Case& c : cases) {
    // Whole, and in pieces small enough that lines straddle the refills.
    for (const size_t piece : {SIZE_MAX, size_t{1}, size_t{7}}) {
      RecordImage image;
      RecordError error;
      ASSERT_TRUE(Read(c.text, c.format, &image, &error, piece)) << c.name << ": " << error.message;
      EXPECT_EQ(image.load_address, c.load) << c.name;
      EXPECT_EQ(image.bytes, c.bytes) << c.name;
    }
  }
}

TEST(RecordReader, RefusesWithTheLineAndReason) {
  const std::string data = Ihex(0, 0x100, {1, 2});
  std::string bad_sum = Srec(1, 0x100, 2, {1});
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == '0' ? '1' : '0';
  struct Case {
    const char* name;
    ImageFormat format;
    std::string text;
    RecordFault fault;
    uint64_t line;
  };
  const Case cases[] = {
      // Two files joined with cat: the second must not be dropped.
      {"joined", ImageFormat::IntelHex, data + kEnd + "\n" + Ihex(0, 0x200, {3}) + kEnd, RecordFault::AfterEnd, 4},
      {"text after end", ImageFormat::IntelHex, data + kEnd + "end\n", RecordFault::AfterEnd, 3},
      {"linear data reaching 4 GiB", ImageFormat::IntelHex, Ihex(4, 0, {0xFF, 0xFF}) + Ihex(0, 0xFFFF, {1, 2}) + kEnd,
       RecordFault::Beyond4GiB, 2},
      {"end address after 04", ImageFormat::IntelHex, Ihex(4, 0, {0, 0}) + data + Ihex(1, 5, {}),
       RecordFault::Malformed, 3},
      {"02 with an address", ImageFormat::IntelHex, Ihex(2, 1, {0, 0}) + data + kEnd, RecordFault::Malformed, 1},
      {"type 06", ImageFormat::IntelHex, Ihex(6, 0, {}) + data + kEnd, RecordFault::Malformed, 1},
      {"empty data record", ImageFormat::IntelHex, data + Ihex(0, 0x300, {}) + kEnd, RecordFault::Malformed, 2},
      {"length byte too small", ImageFormat::IntelHex, ":0100000001020300\n" + kEnd, RecordFault::Malformed, 1},
      {"space in a line", ImageFormat::IntelHex, data + " " + kEnd, RecordFault::Malformed, 2},
      {"CR without LF", ImageFormat::IntelHex, data.substr(0, data.size() - 1) + "\r\r\n" + kEnd,
       RecordFault::Malformed, 1},
      {"long line", ImageFormat::IntelHex, ":" + std::string(3 << 20, '0'), RecordFault::Malformed, 1},
      {"count mismatch", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(1, 0x101, 2, {2}) + Srec(5, 3, 2, {}),
       RecordFault::CountMismatch, 3},
      {"count with data", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(5, 1, 2, {0, 0, 0}),
       RecordFault::Malformed, 2},
      {"data after S9", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(9, 0, 2, {}) + Srec(1, 0x101, 2, {2}),
       RecordFault::Malformed, 3},
      {"two terminations", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(9, 0, 2, {}) + Srec(9, 0, 2, {}),
       RecordFault::Malformed, 3},
      {"S0 not first", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(0, 0, 2, {}), RecordFault::Malformed, 2},
      {"S0 address", ImageFormat::SRecord, Srec(0, 1, 2, {}) + Srec(1, 0x100, 2, {1}), RecordFault::Malformed, 1},
      {"S4", ImageFormat::SRecord, Srec(4, 0, 2, {1}), RecordFault::Malformed, 1},
      {"data in S7", ImageFormat::SRecord, Srec(1, 0x100, 2, {1}) + Srec(7, 0, 4, {1}), RecordFault::Malformed, 2},
      {"lower-case s", ImageFormat::SRecord, "s" + Srec(1, 0x100, 2, {1}).substr(1), RecordFault::Malformed, 1},
      {"S-record checksum", ImageFormat::SRecord, "\n" + bad_sum, RecordFault::Checksum, 2},
      {"S3 reaching 4 GiB", ImageFormat::SRecord, Srec(3, 0xFFFFFFFF, 4, {1, 2}), RecordFault::Beyond4GiB, 1},
      {"header only", ImageFormat::SRecord, Srec(0, 0, 2, {}) + Srec(9, 0, 2, {}), RecordFault::NoData, 0},
  };
  for (const Case& c : cases) {
    RecordImage image;
    RecordError error;
    EXPECT_FALSE(Read(c.text, c.format, &image, &error, 5)) << c.name;
    EXPECT_EQ(error.fault, c.fault) << c.name << ": " << error.message;
    EXPECT_EQ(error.line, c.line) << c.name << ": " << error.message;
    if (c.line != 0) {
      EXPECT_EQ(error.message.rfind("第 " + std::to_string(c.line) + " 行: ", 0), 0u) << error.message;
    }
    EXPECT_TRUE(image.bytes.empty());
  }
}

// A text that fails, or that holds other records the second time it is read.
class ScriptedText final : public RecordText {
 public:
  ScriptedText(std::string first, std::string second) : texts_{std::move(first), std::move(second)} {}
  bool Rewind(std::string*) override {
    ++pass_;
    at_ = 0;
    return true;
  }
  int64_t Read(uint8_t* dest, size_t capacity, std::string* error) override {
    const std::string& text = texts_[pass_ > 0 ? 1 : 0];
    if (text.empty()) {
      *error = "读取错误: Input/output error";
      return -1;
    }
    const size_t n = std::min(capacity, text.size() - at_);
    std::copy_n(text.data() + at_, n, dest);
    at_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  std::string texts_[2];
  int pass_ = 0;
  size_t at_ = 0;
};

TEST(RecordReader, RefusesATextThatFailsOrChanges) {
  const std::string a = Ihex(0, 0x100, {1, 2}) + kEnd;
  struct Case {
    std::string first, second;
    RecordFault fault;
  };
  const Case cases[] = {
      {"", a, RecordFault::Read},
      {a, "", RecordFault::Read},
      {a, Ihex(0, 0x101, {2}) + kEnd, RecordFault::Changed},         // smaller
      {a, Ihex(0, 0x100, {1, 2, 3}) + kEnd, RecordFault::Changed},   // larger
      {Ihex(0, 0x100, {1}) + Ihex(0, 0x101, {2}) + kEnd, Ihex(0, 0x101, {2}) + Ihex(0, 0x100, {1}) + kEnd,
       RecordFault::Changed},  // reordered: overlaps would go unchecked
  };
  for (const Case& c : cases) {
    ScriptedText text(c.first, c.second);
    RecordImage image;
    RecordError error;
    EXPECT_FALSE(ReadRecordImage(text, ImageFormat::IntelHex, &image, &error));
    EXPECT_EQ(error.fault, c.fault) << error.message;
    EXPECT_FALSE(error.message.empty());
  }
}

// The file is read through the descriptor that checked it: with no
// descriptor left for a second open, a HEX file still prepares.
TEST(RecordReader, ReadsThroughTheOpenFileOnly) {
#ifdef TORVANE_TEST_SANITIZED
  GTEST_SKIP() << "the sanitizers' runtime opens files of its own";
#else
  testing::TempDir dir;
  const std::string text = Ihex(0, 0x1000, Bytes(48, 7)) + kEnd;
  const std::string file = dir.Write("a.hex", Bytes(text.begin(), text.end()));
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const int lowest_free = ::open("/dev/null", O_RDONLY);
        if (lowest_free < 0) std::_Exit(2);
        ::close(lowest_free);
        struct rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(lowest_free) + 1;  // one open left
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) std::_Exit(2);
        PreparedImage out;
        std::string error;
        const bool ok = PrepareImage({file, ""}, CHECKSUM_CRC16, &out, &error);
        std::_Exit(ok && out.file_load_address == 0x1000u ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace torvane
