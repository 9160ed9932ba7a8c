// Boot protocol exchanges over a scripted device: frames byte for byte,
// reply alignment, validation of magic and echo, the status preset and the
// late reply that lands on the next exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/boot_protocol.h"
#include "tests/device/fake_hid_backend.h"

namespace torvane {
namespace {

using test::FakeDeviceState;
using test::FakeHidDevice;
using test::FakeRead;

struct Bench {
  std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
  HidDevice device;

  explicit Bench(uint16_t out_len = 65, uint32_t in_len = 65, uint8_t report_id = 0) {
    device.handle = std::make_unique<FakeHidDevice>(state);
    device.output_report_length = out_len;
    device.input_report_length = in_len;
    device.output_report_id = report_id;
    device.input_report_id = report_id;
    device.read_buffer.assign(in_len, 0);
  }
  const std::vector<uint8_t>& last_write() const { return state->writes.back(); }
};

// One input report as the device layer delivers it: with a leading report ID
// only when `report_id` is non-zero, `data_len` bytes of reply proper.
std::vector<uint8_t> reply(uint16_t command, uint16_t status, uint8_t report_id = 0, size_t data_len = 64,
                           const std::string& info = {}) {
  std::vector<uint8_t> r(data_len, 0);
  r[0] = 0xD7;
  r[1] = 0x09;
  boot_put_u16(&r[2], command);
  boot_put_u16(&r[4], status);
  std::memcpy(&r[8], info.data(), std::min<size_t>(info.size(), data_len - 8));
  if (report_id != 0) r.insert(r.begin(), report_id);
  return r;
}

TEST(BootFrames, InfoQueryFrame) {
  for (uint8_t id : {0, 5}) {
    Bench b(65, 65, id);
    int status = BOOT_STATUS_NONE;
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, id)));
    EXPECT_EQ(boot_query_info(&b.device, &status, nullptr), -1);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(b.state->writes.size(), 1u);
    std::vector<uint8_t> want(65, 0);
    want[0] = id;
    want[1] = 0xEB;
    want[2] = 0x90;
    want[3] = 0x02;
    EXPECT_EQ(b.last_write(), want);
  }
}

TEST(BootFrames, StartFrameByteForByte) {
  Bench b;
  const std::string digits = "123456789";
  const uint16_t crc = boot_crc16(reinterpret_cast<const uint8_t*>(digits.data()), 9);
  const auto payload = boot_pack_start_params({0x1000, 4096, crc});
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_START, 0)));
  EXPECT_EQ(boot_send_command(&b.device, BOOT_CMD_START, payload.data(), 12, &status), -1);
  EXPECT_EQ(status, 0);
  const std::vector<uint8_t> head = {0x00, 0xEB, 0x90, 0x03, 0x00, 0x00, 0x10, 0x00, 0x00,
                                     0x00, 0x10, 0x00, 0x00, 0x4B, 0x37, 0x00, 0x00};
  const auto& w = b.last_write();
  ASSERT_EQ(w.size(), 65u);
  EXPECT_EQ(std::vector<uint8_t>(w.begin(), w.begin() + 17), head);
  EXPECT_EQ(std::count(w.begin() + 17, w.end(), 0), 65 - 17);
}

TEST(BootFrames, EnterBootFrameAndStatusFour) {
  Bench b;
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_ENTER_BOOT, 4)));
  boot_send_command(&b.device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
  EXPECT_EQ(status, 4);
  EXPECT_EQ(b.last_write()[3], 0x07);
}

TEST(BootFrames, PayloadIsCutToTheOutputReport) {
  // A 16-byte output report leaves room for 11 payload bytes only.
  Bench b(16, 16);
  const std::vector<uint8_t> payload(40, 0xAB);
  int status = BOOT_STATUS_NONE;
  boot_send_command(&b.device, BOOT_CMD_START, payload.data(), 40, &status);
  const auto& w = b.last_write();
  ASSERT_EQ(w.size(), 16u);
  EXPECT_EQ(std::count(w.begin() + 5, w.end(), 0xAB), 11);
}

// The data block at offset 48 carrying 48 bytes of FF, built as the
// download does it.
std::vector<uint8_t> block_frame(size_t length, uint32_t index, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f(length, 0);
  f[0] = 0x77;  // overwritten with the output report ID
  boot_put_u16(&f[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
  boot_put_u16(&f[BOOT_OFF_COMMAND], BOOT_CMD_DATA);
  boot_put_u32(&f[BOOT_OFF_BLOCK_INDEX], index);
  boot_put_u16(&f[BOOT_OFF_BLOCK_CHECKSUM], boot_crc16(data.data(), static_cast<uint32_t>(data.size())));
  boot_put_u16(&f[BOOT_OFF_BLOCK_LENGTH], static_cast<uint16_t>(data.size()));
  std::memcpy(&f[BOOT_OFF_BLOCK_DATA], data.data(), data.size());
  return f;
}

TEST(BootFrames, BlockFrameByteForByte) {
  Bench b(65, 65, 9);
  const auto frame = block_frame(65, 48 / BOOT_BLOCK_SIZE, std::vector<uint8_t>(48, 0xFF));
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_DATA, 0, 9)));
  EXPECT_EQ(boot_send_block(&b.device, frame.data(), 65, &status), 0);
  EXPECT_EQ(status, 0);
  const auto& w = b.last_write();
  const std::vector<uint8_t> head = {0x09, 0xEB, 0x90, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x64, 0x70, 0x30, 0x00};
  ASSERT_EQ(w.size(), 65u);
  EXPECT_EQ(std::vector<uint8_t>(w.begin(), w.begin() + 13), head);
  EXPECT_EQ(std::count(w.begin() + 13, w.begin() + 61, 0xFF), 48);
  EXPECT_EQ(std::count(w.begin() + 61, w.end(), 0), 4);
  EXPECT_EQ(frame[0], 0x77) << "the caller's frame is not modified";
}

TEST(BootFrames, BlockFrameOfOtherLengthIsFittedToTheReport) {
  Bench b;
  const auto longer = block_frame(100, 0, std::vector<uint8_t>(48, 0x11));
  boot_send_block(&b.device, longer.data(), 100, nullptr);
  EXPECT_EQ(b.last_write().size(), 65u);
  const auto shorter = block_frame(20, 0, std::vector<uint8_t>(4, 0x22));
  boot_send_block(&b.device, shorter.data(), 20, nullptr);
  const auto& w = b.last_write();
  ASSERT_EQ(w.size(), 65u);
  EXPECT_EQ(std::vector<uint8_t>(w.begin() + 1, w.begin() + 20), std::vector<uint8_t>(shorter.begin() + 1, shorter.end()));
  EXPECT_EQ(std::count(w.begin() + 20, w.end(), 0), 45);
}

TEST(BootReplies, AlignedWithoutAndWithReportIds) {
  {
    Bench b(65, 65, 0);  // 64-byte reports, no IDs: the read gives 64 bytes
    int status = BOOT_STATUS_NONE;
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 0, 64)));
    boot_query_info(&b.device, &status, nullptr);
    EXPECT_EQ(status, 0);
  }
  {
    Bench b(65, 65, 5);  // report ID 5: 65 bytes, 05 D7 09 ...
    int status = BOOT_STATUS_NONE;
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 5, 64)));
    boot_query_info(&b.device, &status, nullptr);
    EXPECT_EQ(status, 0);
  }
  {
    // Without IDs, a reply taken from byte 1 would be wrong: the leading D7
    // must not be skipped.
    Bench b(65, 65, 0);
    int status = BOOT_STATUS_NONE;
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 0x42, 63)));  // 64 bytes, first is junk
    boot_query_info(&b.device, &status, nullptr);
    EXPECT_EQ(status, BOOT_STATUS_NONE);
  }
}

// The reply starts after the ID byte exactly when the device numbers its
// input reports, whatever length the report arrives at: a reply report
// shorter than the longest input report is still found.
TEST(BootReplies, AlignedByNumberingNotByCount) {
  struct Case {
    uint8_t id;
    uint32_t input_length;
    size_t reply_bytes;  // reply proper, without the ID byte
  } const cases[] = {{5, 65, 32}, {5, 65, 8}, {5, 129, 64}, {7, 9, 8}, {0, 129, 64}, {0, 65, 20}};
  for (const Case& c : cases) {
    Bench b(65, c.input_length, c.id);
    int status = BOOT_STATUS_NONE;
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, c.id, c.reply_bytes)));
    boot_query_info(&b.device, &status, nullptr);
    EXPECT_EQ(status, 0) << "ID " << int(c.id) << ", longest input " << c.input_length << ", reply "
                         << c.reply_bytes;
  }
}

// Reports already waiting when a request goes out are dropped: only what
// arrives after it can answer it.
TEST(BootReplies, InputQueuedBeforeTheRequestNeverAnswersIt) {
  Bench b;
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::stale(reply(BOOT_CMD_START, 6)));  // a late reply to an earlier start
  b.state->queue(FakeRead::stale(reply(BOOT_CMD_DATA, 0)));
  b.state->queue(FakeRead::report(reply(BOOT_CMD_START, 0)));
  b.device.read_pending = true;
  boot_send_command(&b.device, BOOT_CMD_START, nullptr, 0, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(b.state->discarded, 2);
  EXPECT_EQ(b.state->read_timeouts.size(), 1u);

  // Blocks and info queries drop stale input as well.
  const auto frame = block_frame(65, 0, std::vector<uint8_t>(48, 1));
  b.state->queue(FakeRead::stale(reply(BOOT_CMD_DATA, 4)));
  b.state->queue(FakeRead::report(reply(BOOT_CMD_DATA, 0)));
  EXPECT_EQ(boot_send_block(&b.device, frame.data(), 65, &status), 0);
  EXPECT_EQ(status, 0);
  b.state->queue(FakeRead::stale(reply(BOOT_CMD_INFO, 0, 0, 64, "STALE")));
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 0, 64, "FRESH")));
  BootInfo info;
  boot_query_info(&b.device, &status, &info);
  EXPECT_EQ(boot_info_text(info), "FRESH");
  EXPECT_EQ(b.state->discarded, 4);
}

TEST(BootReplies, StatusIsZeroExtended) {
  Bench b;
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_START, 0xFFFF)));
  boot_send_command(&b.device, BOOT_CMD_START, nullptr, 0, &status);
  EXPECT_EQ(status, 0xFFFF);
}

TEST(BootReplies, InvalidRepliesLeaveTheStatusAtNone) {
  struct Case {
    const char* what;
    FakeRead read;
  };
  std::vector<uint8_t> bad_magic = reply(BOOT_CMD_START, 0);
  bad_magic[0] = 0xD8;
  const Case cases[] = {
      {"wrong magic", FakeRead::report(bad_magic)},
      {"wrong echo", FakeRead::report(reply(BOOT_CMD_INFO, 0))},
      {"time-out", FakeRead::timeout()},
      {"read error", FakeRead::error()},
      {"too short for a status", FakeRead::report({0xD7, 0x09, 0x03, 0x00})},
  };
  for (const Case& c : cases) {
    Bench b;
    int status = BOOT_STATUS_NONE;
    b.state->queue(c.read);
    boot_send_command(&b.device, BOOT_CMD_START, nullptr, 0, &status);
    EXPECT_EQ(status, BOOT_STATUS_NONE) << c.what;
  }
}

TEST(BootReplies, BlockReplyMustEchoCommandZero) {
  Bench b;
  const auto frame = block_frame(65, 0, std::vector<uint8_t>(48, 1));
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_START, 0)));
  EXPECT_EQ(boot_send_block(&b.device, frame.data(), 65, &status), -1);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  b.state->queue(FakeRead::report(reply(BOOT_CMD_DATA, 2)));
  EXPECT_EQ(boot_send_block(&b.device, frame.data(), 65, &status), 0) << "busy is a valid reply";
  EXPECT_EQ(status, 2);
}

TEST(BootReplies, FailedWriteReadsNothing) {
  Bench b;
  b.state->write_result = 64;  // one byte short
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0)));
  int status = BOOT_STATUS_NONE;
  boot_query_info(&b.device, &status, nullptr);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  EXPECT_TRUE(b.state->read_timeouts.empty());
  b.state->write_result = -1;
  boot_query_info(&b.device, &status, nullptr);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  EXPECT_TRUE(b.state->read_timeouts.empty());
  EXPECT_EQ(b.device.last_error_text, "Input/output error");
}

TEST(BootReplies, LateReplyIsDeliveredToTheNextExchange) {
  Bench b;
  int status = BOOT_STATUS_NONE;
  b.state->queue(FakeRead::timeout());
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0)));  // the late info reply
  boot_query_info(&b.device, &status, nullptr);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  EXPECT_TRUE(b.device.read_pending);
  // The next exchange is a different command: the late reply is rejected by
  // its echo, and nothing else is read.
  boot_send_command(&b.device, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  EXPECT_FALSE(b.device.read_pending);
  EXPECT_EQ(b.state->read_timeouts, (std::vector<int>{1000, 1000}));

  // A late reply to the same command is taken as the reply to the new one.
  b.state->queue(FakeRead::timeout());
  b.state->queue(FakeRead::report(reply(BOOT_CMD_START, 2)));
  boot_send_command(&b.device, BOOT_CMD_START, nullptr, 0, &status);
  EXPECT_EQ(status, BOOT_STATUS_NONE);
  boot_send_command(&b.device, BOOT_CMD_START, nullptr, 0, &status);
  EXPECT_EQ(status, 2);
}

TEST(BootInfoRecord, FortySevenCharacterTextIsShownWhole) {
  Bench b;
  const std::string text(47, 'Z');
  std::string record = text;
  record.push_back('\0');
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 0, 64, record)));
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  boot_query_info(&b.device, &status, &info);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(boot_info_text(info), text);
}

TEST(BootInfoRecord, BytesAfterTheNulAreIgnored) {
  BootInfo info;
  const std::string s = std::string("ZAVRO:0.3.0.0 12:33:39 Sep 13 2016") + '\0' + "garbage";
  std::memcpy(info.bytes.data(), s.data(), s.size());
  EXPECT_EQ(boot_info_text(info), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
}

TEST(BootInfoRecord, RecordWithoutNulIsAllFortyEightBytes) {
  // A reply whose record and everything after it are non-zero: the copy
  // takes exactly 48 bytes and the text is those 48, never more.
  Bench b;
  std::vector<uint8_t> r = reply(BOOT_CMD_INFO, 0);
  std::fill(r.begin() + 8, r.end(), 'A');
  b.state->queue(FakeRead::report(r));
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  boot_query_info(&b.device, &status, &info);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::count(info.bytes.begin(), info.bytes.end(), 'A'), 48);
  EXPECT_EQ(boot_info_text(info), std::string(48, 'A'));
}

TEST(BootInfoRecord, NonZeroStatusLeavesTheRecordAlone) {
  Bench b;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 1, 0, 64, "NOPE")));
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  boot_query_info(&b.device, &status, &info);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(boot_info_text(info), "");
}

TEST(BootLongReports, ReportsLongerThan128Bytes) {
  {
    Bench b(513, 513, 2);
    b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 2, 512, "LONG")));
    int status = BOOT_STATUS_NONE;
    BootInfo info;
    boot_query_info(&b.device, &status, &info);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(boot_info_text(info), "LONG");
    EXPECT_EQ(b.last_write().size(), 513u);
    EXPECT_EQ(b.state->read_capacities.back(), 513u);
  }
  {
    Bench b(513, 513, 0);
    b.state->queue(FakeRead::report(reply(BOOT_CMD_DATA, 0, 0, 512)));
    std::vector<uint8_t> frame(513, 0);
    int status = BOOT_STATUS_NONE;
    EXPECT_EQ(boot_send_block(&b.device, frame.data(), 513, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(b.last_write().size(), 513u);
  }
}

TEST(BootBadArguments, FailWithoutIo) {
  int status = BOOT_STATUS_NONE;
  BootInfo info;
  EXPECT_EQ(boot_send_command(nullptr, BOOT_CMD_INFO, nullptr, 0, &status), -1);
  EXPECT_EQ(boot_query_info(nullptr, &status, &info), -1);
  uint8_t frame[65] = {};
  EXPECT_EQ(boot_send_block(nullptr, frame, 65, &status), -1);
  EXPECT_EQ(status, BOOT_STATUS_NONE);

  Bench b;
  EXPECT_EQ(boot_send_block(&b.device, nullptr, 65, &status), -1);
  EXPECT_EQ(boot_send_block(&b.device, frame, 0, &status), -1);
  EXPECT_EQ(boot_send_block(&b.device, frame, -3, &status), -1);
  EXPECT_EQ(boot_send_command(&b.device, BOOT_CMD_START, frame, -1, &status), -1);
  EXPECT_TRUE(b.state->writes.empty());

  // Lengths no open would produce: too short for a frame, or beyond the limit.
  Bench tiny(4, 65);
  boot_query_info(&tiny.device, &status, &info);
  Bench huge(65, kHidMaxReportLength + 1);
  boot_query_info(&huge.device, &status, &info);
  EXPECT_TRUE(tiny.state->writes.empty());
  EXPECT_TRUE(huge.state->writes.empty());
  EXPECT_EQ(status, BOOT_STATUS_NONE);
}

TEST(BootBadArguments, NullStatusAndInfoAreAllowed) {
  Bench b;
  b.state->queue(FakeRead::report(reply(BOOT_CMD_INFO, 0, 0, 64, "X")));
  EXPECT_EQ(boot_query_info(&b.device, nullptr, nullptr), -1);
  b.state->queue(FakeRead::report(reply(BOOT_CMD_ENTER_BOOT, 0)));
  EXPECT_EQ(boot_send_command(&b.device, BOOT_CMD_ENTER_BOOT, nullptr, 0, nullptr), -1);
  EXPECT_EQ(b.state->writes.size(), 2u);
}

}  // namespace
}  // namespace torvane
