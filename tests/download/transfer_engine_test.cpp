// The transfer engine on its own, over a scripted device: busy pauses
// through the sleep hook, progress when a stop or cancel cuts retries
// short, the frame a short last block leaves on the wire, reports too short
// for a block, and one block frame byte for byte as the protocol writes it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "download/transfer_engine.h"
#include "tests/device/fake_hid_backend.h"

namespace torvane {
namespace {

using test::FakeDeviceState;
using test::FakeHidDevice;
using test::FakeRead;

struct Bench {
  std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
  HidDevice device;
  std::vector<int> sleeps;
  std::vector<int> percents;
  std::atomic<int32_t> stop{0};
  std::atomic<int32_t> cancel{0};
  TransferControl control;

  explicit Bench(uint16_t report_length = 65) {
    device.handle = std::make_unique<FakeHidDevice>(state);
    device.output_report_length = report_length;
    device.input_report_length = 65;
    control.stop = &stop;
    control.cancel = &cancel;
    control.sleep = [this](int ms) { sleeps.push_back(ms); };
    control.on_percent = [this](int p) { percents.push_back(p); };
  }
  // Replies with these statuses, in order: the first to the start command.
  void answer(uint16_t command, std::initializer_list<uint16_t> statuses) {
    for (uint16_t s : statuses) {
      std::vector<uint8_t> r(64, 0);
      boot_put_u16(&r[0], BOOT_REPLY_MAGIC);
      boot_put_u16(&r[2], command);
      boot_put_u16(&r[4], s);
      state->queue(FakeRead::report(r));
    }
  }
  DownloadResult run(const PreparedImage& image) {
    return RunTransfer(&device, image, CHECKSUM_CRC16, 0x1000, control);
  }
};

PreparedImage image_of(std::vector<uint8_t> bytes) {
  PreparedImage image;
  image.total_length = static_cast<uint32_t>(bytes.size());
  image.buffer.assign_padded(std::move(bytes), image.total_length);
  return image;
}

std::vector<uint8_t> counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i + 1);
  return v;
}

TEST(TransferEngine, EveryBusyAnswerIsFollowedByA200MsPause) {
  Bench b;
  b.answer(BOOT_CMD_START, {2, 2, 0});
  b.answer(BOOT_CMD_DATA, {1, 2, 0, 0});
  EXPECT_EQ(b.run(image_of(counting(96))), DL_OK);
  EXPECT_EQ(b.sleeps, (std::vector<int>{200, 200, 200, 200}));
  EXPECT_EQ(b.percents, (std::vector<int>{50, 100}));
}

// A stop or cancel raised during the pause after a busy block ends the
// retries; the block is not counted, and the percentage so far is still
// reported.
TEST(TransferEngine, RetriesCutShortStillReportTheirPercentage) {
  for (const bool use_stop : {false, true}) {
    Bench b;
    b.answer(BOOT_CMD_START, {0});
    b.answer(BOOT_CMD_DATA, {0, 2});
    b.control.sleep = [&b, use_stop](int ms) {
      b.sleeps.push_back(ms);
      (use_stop ? b.stop : b.cancel) = 1;
    };
    EXPECT_EQ(b.run(image_of(counting(96))), DL_CANCELLED) << (use_stop ? "stop" : "cancel");
    EXPECT_EQ(b.percents, (std::vector<int>{50, 50}));
    EXPECT_EQ(b.state->writes.size(), 3u) << "start, block 0, block 1 once";
  }
}

// A second press of the flash button while the start command is out: the
// start is accepted at its first send, and the cancellation is seen before
// the first block.
TEST(TransferEngine, CancelRaisedWhileTheStartIsOutEndsBeforeAnyBlock) {
  Bench b;
  b.state->on_write = [&b] { b.cancel = 1; };
  b.answer(BOOT_CMD_START, {0});
  EXPECT_EQ(b.run(image_of(counting(96))), DL_CANCELLED);
  EXPECT_EQ(b.state->writes.size(), 1u);
  EXPECT_TRUE(b.sleeps.empty());
}

// The frame buffer is zeroed once: the 4-byte last block carries the rest
// of the block before it after its data.
TEST(TransferEngine, ShortLastBlockCarriesThePreviousBlocksTail) {
  Bench b;
  b.answer(BOOT_CMD_START, {0});
  b.answer(BOOT_CMD_DATA, {0, 0});
  const std::vector<uint8_t> bytes = counting(52);
  EXPECT_EQ(b.run(image_of(bytes)), DL_OK);
  ASSERT_EQ(b.state->writes.size(), 3u);
  const std::vector<uint8_t>& last = b.state->writes[2];
  ASSERT_EQ(last.size(), 65u);
  EXPECT_EQ(boot_get_u32(&last[5]), 1u);
  EXPECT_EQ(boot_get_u16(&last[11]), 4u);
  EXPECT_EQ(std::vector<uint8_t>(last.begin() + 13, last.begin() + 17),
            std::vector<uint8_t>(bytes.begin() + 48, bytes.end()));
  EXPECT_EQ(std::vector<uint8_t>(last.begin() + 17, last.begin() + 61),
            std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 48));
}

TEST(TransferEngine, ReportsTooShortForAWholeBlockAreRefusedBeforeSending) {
  Bench b(60);
  EXPECT_EQ(b.run(image_of(counting(48))), DL_PROTOCOL_ERROR);
  EXPECT_TRUE(b.state->writes.empty());
  Bench fits(61);
  fits.answer(BOOT_CMD_START, {0});
  fits.answer(BOOT_CMD_DATA, {0});
  EXPECT_EQ(fits.run(image_of(counting(48))), DL_OK);
}

// The CRC-16 block at offset 48 holding 48 bytes of FF reads, from byte 1:
// EB 90 00 00, 01 00 00 00, 64 70, 30 00, then the data.
TEST(TransferEngine, BlockFrameAsTheProtocolWritesIt) {
  Bench b;
  b.answer(BOOT_CMD_START, {0});
  b.answer(BOOT_CMD_DATA, {0, 0});
  std::vector<uint8_t> bytes(96, 0xFF);
  std::fill(bytes.begin(), bytes.begin() + 48, 0x00);
  EXPECT_EQ(b.run(image_of(bytes)), DL_OK);
  ASSERT_EQ(b.state->writes.size(), 3u);
  std::vector<uint8_t> want = {0x00, 0xEB, 0x90, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x64, 0x70, 0x30, 0x00};
  want.insert(want.end(), 48, 0xFF);
  want.insert(want.end(), 4, 0x00);
  EXPECT_EQ(b.state->writes[2], want);
}

}  // namespace
}  // namespace torvane
