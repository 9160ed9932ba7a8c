// The device model on its own, fed wire frames and watched through a
// recording transport: every reply byte, every status, every fault.
#include <gtest/gtest.h>

#include "sim/bootloader_model.h"
#include "tests/sim/sim_test_support.h"

namespace torvane::sim {
namespace {

using namespace std::chrono_literals;
using test::decode_reply;
using test::make_image;
using test::Reply;
using test::TestImage;
using test::to_wire;

class RecordingTransport : public SimTransport {
 public:
  struct Sent {
    std::vector<uint8_t> report;
    std::chrono::microseconds delay;
  };
  struct Restart {
    SimIdentity identity;
    std::chrono::microseconds delay;
    std::chrono::milliseconds off_time;
  };
  void send_input_report(std::vector<uint8_t> report, std::chrono::microseconds delay) override {
    sent.push_back({std::move(report), delay});
  }
  void unplug(std::chrono::microseconds delay) override { unplugs.push_back(delay); }
  void stop_reading() override { ++stops; }
  void restart_as(const SimIdentity& identity, std::chrono::microseconds delay,
                  std::chrono::milliseconds off_time) override {
    restarts.push_back({identity, delay, off_time});
  }
  std::vector<Sent> sent;
  std::vector<std::chrono::microseconds> unplugs;
  std::vector<Restart> restarts;
  int stops = 0;
};

SimKnobs knobs(std::string_view text) {
  SimKnobs k;
  std::string error;
  EXPECT_TRUE(parse_sim_knobs(text, &k, &error)) << error;
  return k;
}

class ModelTest : public ::testing::Test {
 protected:
  void make(std::string_view text) {
    model_ = std::make_unique<BootloaderModel>(knobs(text));
    model_->set_transport(&transport_);
    rid_ = model_->knobs().report_id;
    len_ = model_->knobs().report_length;
  }
  // Feeds a write (ID byte first, as hidraw takes it) as the wire carries it.
  void feed(const std::vector<uint8_t>& write) {
    const std::vector<uint8_t> wire = to_wire(write, rid_);
    model_->on_output_report(wire.data(), wire.size());
  }
  // Feeds a write and returns the one reply it must produce.
  Reply ask(const std::vector<uint8_t>& write) {
    const size_t before = transport_.sent.size();
    feed(write);
    EXPECT_EQ(transport_.sent.size(), before + 1) << "expected exactly one reply";
    if (transport_.sent.size() != before + 1) return {};
    return decode_reply(transport_.sent.back().report, rid_);
  }
  void feed_silent(const std::vector<uint8_t>& write) {
    const size_t before = transport_.sent.size();
    feed(write);
    EXPECT_EQ(transport_.sent.size(), before) << "expected no reply";
  }
  std::vector<uint8_t> info() { return test::command_write(rid_, len_, BOOT_CMD_INFO); }
  std::vector<uint8_t> enter() { return test::command_write(rid_, len_, BOOT_CMD_ENTER_BOOT); }
  std::vector<uint8_t> start(const TestImage& im, uint32_t address = 0x1000) {
    return test::start_write(rid_, len_, address, im.start_length, im.start_checksum);
  }
  std::vector<uint8_t> block(const TestImage& im, uint32_t index, ChecksumScheme scheme) {
    return test::image_block_write(im, index, rid_, len_, scheme);
  }
  // Start plus every block; each reply must accept.
  void flash(const TestImage& im, ChecksumScheme scheme) {
    ASSERT_EQ(ask(start(im)).status, 0);
    for (uint32_t i = 0; i < test::block_count(im); ++i) {
      const Reply r = ask(block(im, i, scheme));
      ASSERT_TRUE(r.ok(BOOT_CMD_DATA)) << "block " << i;
      ASSERT_EQ(r.status, 0) << "block " << i;
    }
  }

  RecordingTransport transport_;
  std::unique_ptr<BootloaderModel> model_;
  uint8_t rid_ = 0;
  uint32_t len_ = 65;
};

TEST_F(ModelTest, InfoReplyByteForByteWithoutReportIds) {
  make("boot");
  feed(info());
  ASSERT_EQ(transport_.sent.size(), 1u);
  const std::vector<uint8_t>& r = transport_.sent[0].report;
  ASSERT_EQ(r.size(), 64u);  // the report without ID byte
  const std::string text = "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016";
  std::vector<uint8_t> expected(64, 0);
  const uint8_t head[] = {0xD7, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::copy(std::begin(head), std::end(head), expected.begin());
  std::copy(text.begin(), text.end(), expected.begin() + 8);
  EXPECT_EQ(r, expected);
  EXPECT_EQ(transport_.sent[0].delay, 0us);
  EXPECT_EQ(model_->verdict().info_queries, 1u);
}

TEST_F(ModelTest, InfoReplyWithReportIdFive) {
  make("boot,report-id=5,info=HELLO");
  feed(info());
  ASSERT_EQ(transport_.sent.size(), 1u);
  const std::vector<uint8_t>& r = transport_.sent[0].report;
  ASSERT_EQ(r.size(), 65u);
  EXPECT_EQ(r[0], 5);
  EXPECT_EQ(r[1], 0xD7);
  EXPECT_EQ(r[2], 0x09);
  EXPECT_EQ(r[3], 0x02);
  EXPECT_EQ(std::string(r.begin() + 9, r.begin() + 14), "HELLO");
  EXPECT_EQ(r[14], 0);
}

TEST_F(ModelTest, InfoOfFortyEightBytesHasNoTerminator) {
  make("boot,info=" + std::string(48, 'Q'));
  const Reply r = ask(info());
  for (uint8_t b : r.info) EXPECT_EQ(b, 'Q');
}

TEST_F(ModelTest, InfoStatusKnobAnswersWithoutText) {
  make("boot,info-status=3");
  const Reply r = ask(info());
  EXPECT_TRUE(r.ok(BOOT_CMD_INFO));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.info[0], 0);
}

TEST_F(ModelTest, CrcTransferIsCheckedKeptAndRestartsIntoTheApplication) {
  make("boot");
  const TestImage im = make_image(1000, CHECKSUM_CRC16);  // 21 blocks, the last of 40 bytes
  flash(im, CHECKSUM_CRC16);
  const SimVerdict v = model_->verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_TRUE(v.image_checked);
  EXPECT_TRUE(v.image_checksum_ok);
  EXPECT_EQ(v.bytes, im.buffer);
  EXPECT_EQ(v.load_address, 0x1000u);
  EXPECT_EQ(v.announced_length, 952u);
  EXPECT_EQ(v.expected_bytes, 1000u);
  EXPECT_EQ(v.blocks_accepted, 21u);
  EXPECT_EQ(v.scheme, CHECKSUM_CRC16);
  EXPECT_EQ(v.kind, SimDeviceKind::kApp);
  EXPECT_EQ(v.completed_downloads, 1u);
  EXPECT_EQ(v.protocol_violations, 0u);
  ASSERT_EQ(transport_.restarts.size(), 1u);
  EXPECT_EQ(transport_.restarts[0].identity, sim_default_identity(SimDeviceKind::kApp));
  EXPECT_EQ(transport_.restarts[0].delay, std::chrono::microseconds(kSimLeaveAfterReply));
  EXPECT_EQ(transport_.restarts[0].off_time, 200ms);
  EXPECT_NE(v.summary().find("COMPLETED"), std::string::npos);
}

TEST_F(ModelTest, CrcBlockChecksumTravelsHighByteFirst) {
  // 48 bytes of FF at offset 48: CRC register 0x6470, carried as 64 70.
  make("boot");
  std::vector<uint8_t> image(96, 0xFF);
  const uint32_t crc = boot_crc16(image.data() + 48, 48);
  ASSERT_EQ(ask(test::start_write(0, 65, 0x1000, 48, crc)).status, 0);
  ASSERT_EQ(ask(test::block_write(0, 65, 0, image.data(), 48, CHECKSUM_CRC16)).status, 0);
  std::vector<uint8_t> w = test::block_write(0, 65, 1, image.data() + 48, 48, CHECKSUM_CRC16);
  ASSERT_EQ(w[9], 0x64);
  ASSERT_EQ(w[10], 0x70);
  std::swap(w[9], w[10]);
  EXPECT_EQ(ask(w).status, kSimStatusBlockChecksum);
  std::swap(w[9], w[10]);
  EXPECT_EQ(ask(w).status, 0);
  EXPECT_TRUE(model_->verdict().completed);
}

TEST_F(ModelTest, OldBootloaderUsesXorSumsOverTheWholeImage) {
  make("oldboot");
  const TestImage im = make_image(100, CHECKSUM_XOR);  // blocks of 48, 48, 4
  flash(im, CHECKSUM_XOR);
  const SimVerdict v = model_->verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.scheme, CHECKSUM_XOR);
  EXPECT_EQ(v.announced_length, 100u);
  EXPECT_EQ(v.expected_bytes, 100u);
  EXPECT_EQ(v.bytes, im.buffer);
  EXPECT_EQ(v.blocks_accepted, 3u);
}

TEST_F(ModelTest, XorBlockChecksumTravelsLowByteFirst) {
  make("oldboot");
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(ask(test::start_write(0, 65, 0, 8, boot_xor32(data.data(), 8))).status, 0);
  std::vector<uint8_t> w = test::block_write(0, 65, 0, data.data(), 8, CHECKSUM_XOR);
  ASSERT_EQ(w[9], 0x00);  // 0x0800, low byte first
  ASSERT_EQ(w[10], 0x08);
  std::swap(w[9], w[10]);
  EXPECT_EQ(ask(w).status, kSimStatusBlockChecksum);
  std::swap(w[9], w[10]);
  EXPECT_EQ(ask(w).status, 0);
  EXPECT_TRUE(model_->verdict().completed);
}

TEST_F(ModelTest, CrcBlockChecksumIsRefusedByAnOldBootloader) {
  make("oldboot");
  const TestImage im = make_image(96, CHECKSUM_XOR);
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, kSimStatusBlockChecksum);
  EXPECT_EQ(model_->verdict().block_checksum_failures, 1u);
}

TEST_F(ModelTest, CorruptedBlockIsRefusedAndNotKept) {
  make("boot");
  const TestImage im = make_image(192, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  std::vector<uint8_t> bad = block(im, 1, CHECKSUM_CRC16);
  bad[20] ^= 0x01;  // one data bit flipped in transit
  const Reply r = ask(bad);
  EXPECT_TRUE(r.ok(BOOT_CMD_DATA));
  EXPECT_EQ(r.status, kSimStatusBlockChecksum);
  SimVerdict v = model_->verdict();
  EXPECT_EQ(v.block_checksum_failures, 1u);
  EXPECT_EQ(v.bytes.size(), 48u);
  EXPECT_FALSE(v.completed);
  // The good block is still the one expected next.
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
}

TEST_F(ModelTest, WrongImageChecksumRefusesTheLastBlockAndStaysInTheBootloader) {
  make("boot");
  TestImage im = make_image(144, CHECKSUM_CRC16);
  im.start_checksum ^= 1;
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 2, CHECKSUM_CRC16)).status, kSimStatusImageChecksum);
  const SimVerdict v = model_->verdict();
  EXPECT_TRUE(v.image_checked);
  EXPECT_FALSE(v.image_checksum_ok);
  EXPECT_FALSE(v.completed);
  EXPECT_EQ(v.image_checksum_failures, 1u);
  EXPECT_EQ(v.kind, SimDeviceKind::kBoot);
  EXPECT_TRUE(transport_.restarts.empty());
  // The transfer is over: a further block needs a new start.
  EXPECT_EQ(ask(block(im, 3, CHECKSUM_CRC16)).status, kSimStatusNotStarted);
}

TEST_F(ModelTest, CrcChecksumWithHighBitsSetIsRefused) {
  make("boot");
  TestImage im = make_image(96, CHECKSUM_CRC16);
  im.start_checksum |= 0x10000;  // the CRC is zero-extended; anything above is wrong
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, kSimStatusImageChecksum);
}

TEST_F(ModelTest, BlockRefusals) {
  make("boot");
  const TestImage im = make_image(144, CHECKSUM_CRC16);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, kSimStatusNotStarted);
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, kSimStatusOutOfOrder);
  const uint8_t some[48] = {};
  EXPECT_EQ(ask(test::block_write(0, 65, 0, some, 0, CHECKSUM_CRC16)).status, kSimStatusBadLength);
  std::vector<uint8_t> too_long = test::block_write(0, 65, 0, some, 48, CHECKSUM_CRC16);
  boot_put_u16(&too_long[11], 49);
  EXPECT_EQ(ask(too_long).status, kSimStatusBadLength);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, kSimStatusOutOfOrder);  // already taken
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 2, CHECKSUM_CRC16)).status, 0);
  EXPECT_TRUE(model_->verdict().completed);
  EXPECT_EQ(model_->verdict().refusals, 5u);
}

TEST_F(ModelTest, BlockBeyondTheAnnouncedLengthIsRefused) {
  make("oldboot");
  const std::vector<uint8_t> data(48, 0x5A);
  ASSERT_EQ(ask(test::start_write(0, 65, 0, 40, 0)).status, 0);
  EXPECT_EQ(ask(test::block_write(0, 65, 0, data.data(), 48, CHECKSUM_XOR)).status, kSimStatusBadLength);
  EXPECT_TRUE(model_->verdict().bytes.empty());
}

TEST_F(ModelTest, NewStartAbandonsTheRunningTransfer) {
  make("boot");
  const TestImage a = make_image(192, CHECKSUM_CRC16, 1);
  const TestImage b = make_image(96, CHECKSUM_CRC16, 2);
  ASSERT_EQ(ask(start(a)).status, 0);
  ASSERT_EQ(ask(block(a, 0, CHECKSUM_CRC16)).status, 0);
  ASSERT_EQ(ask(block(a, 1, CHECKSUM_CRC16)).status, 0);
  flash(b, CHECKSUM_CRC16);
  const SimVerdict v = model_->verdict();
  EXPECT_TRUE(v.completed);
  EXPECT_EQ(v.bytes, b.buffer);
  EXPECT_EQ(v.start_commands, 2u);
}

TEST_F(ModelTest, FramesNoFirmwareAnswersAreViolations) {
  make("boot");
  // A frame shorter than the output report (the kernel would not pad it).
  std::vector<uint8_t> short_frame = info();
  short_frame.resize(40);
  feed_silent(short_frame);
  // Wrong magic.
  std::vector<uint8_t> magic = info();
  magic[1] = 0x90;
  magic[2] = 0xEB;
  feed_silent(magic);
  // Unknown command; a command meant for the application.
  feed_silent(test::command_write(0, 65, 5));
  feed_silent(enter());
  // A non-zero first byte on a device without report IDs travels with the
  // report: 65 bytes where 64 are expected.
  std::vector<uint8_t> with_id = info();
  with_id[0] = 1;
  model_->on_output_report(with_id.data(), with_id.size());
  EXPECT_TRUE(transport_.sent.empty());
  model_->on_output_report(nullptr, 0);
  const SimVerdict v = model_->verdict();
  EXPECT_EQ(v.protocol_violations, 6u);
  EXPECT_EQ(v.frames_received, 6u);
  EXPECT_FALSE(v.last_violation.empty());
}

TEST_F(ModelTest, ReportIdMismatchIsAViolation) {
  make("boot,report-id=5");
  std::vector<uint8_t> w = test::command_write(6, 65, BOOT_CMD_INFO);
  feed_silent(w);
  EXPECT_EQ(model_->verdict().protocol_violations, 1u);
  EXPECT_NE(model_->verdict().last_violation.find("report ID 6"), std::string::npos);
  EXPECT_TRUE(ask(info()).ok(BOOT_CMD_INFO));
}

TEST_F(ModelTest, ShortReportsCarryWhatFits) {
  make("boot,report-length=33");
  // The info reply is cut at the report's end.
  const Reply r = ask(info());
  EXPECT_EQ(r.size, 32u);
  EXPECT_TRUE(r.ok(BOOT_CMD_INFO));
  // A block longer than the report can carry is refused; a fitting one taken.
  const TestImage im = make_image(68, CHECKSUM_CRC16);  // 48 + 20
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, kSimStatusBadLength);
  EXPECT_EQ(model_->verdict().bytes.size(), 0u);
}

TEST_F(ModelTest, LongReportsWork) {
  make("boot,report-length=129,report-id=9");
  const TestImage im = make_image(480, CHECKSUM_CRC16);
  flash(im, CHECKSUM_CRC16);
  EXPECT_EQ(transport_.sent.back().report.size(), 129u);
  EXPECT_TRUE(model_->verdict().completed);
}

TEST_F(ModelTest, BusyStartThenAccepted) {
  make("boot,busy-start=2");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  EXPECT_EQ(ask(start(im)).status, kSimStatusBusy);
  EXPECT_EQ(ask(start(im)).status, kSimStatusBusy);
  EXPECT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(model_->verdict().busy_answers, 2u);
}

TEST_F(ModelTest, StartStatusRefusesTheTransfer) {
  make("boot,start-status=9");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  EXPECT_EQ(ask(start(im)).status, 9);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, kSimStatusNotStarted);
  EXPECT_FALSE(model_->verdict().transfer_started);
}

TEST_F(ModelTest, BusyBlocksWithEitherStatus) {
  make("boot,busy-block=1:2,busy-block=2:1:1");
  const TestImage im = make_image(192, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 2);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 2);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 2, CHECKSUM_CRC16)).status, 1);
  EXPECT_EQ(ask(block(im, 2, CHECKSUM_CRC16)).status, 0);
  EXPECT_EQ(ask(block(im, 3, CHECKSUM_CRC16)).status, 0);
  EXPECT_TRUE(model_->verdict().completed);
  EXPECT_EQ(model_->verdict().bytes, im.buffer);  // busy blocks were not kept twice
}

TEST_F(ModelTest, BusyBlockStatusKnobSetsTheDefault) {
  make("boot,busy-block=0:1,busy-block-status=1");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  EXPECT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 1);
}

TEST_F(ModelTest, SilentBlockIsLostOnce) {
  make("boot,silent-block=1");
  const TestImage im = make_image(144, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  feed_silent(block(im, 1, CHECKSUM_CRC16));
  EXPECT_EQ(model_->verdict().bytes.size(), 48u);
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
}

TEST_F(ModelTest, LateBlockReplyIsDelayedAndHoldsBackLaterReplies) {
  make("boot,late-block=0");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  const Reply r = ask(block(im, 0, CHECKSUM_CRC16));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(transport_.sent.back().delay, 1500ms);
  // The firmware is still busy with the late reply: the next one follows it.
  ask(info());
  EXPECT_GT(transport_.sent.back().delay, 1400ms);
  EXPECT_LE(transport_.sent.back().delay, 1500ms);
}

TEST_F(ModelTest, LatencyDelaysEveryReply) {
  make("boot,latency-us=2500");
  ask(info());
  EXPECT_GE(transport_.sent.back().delay, 2500us);
}

TEST_F(ModelTest, WrongEchoBlockStillKeepsTheBlock) {
  make("boot,wrong-echo-block=0");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  const Reply r = ask(block(im, 0, CHECKSUM_CRC16));
  EXPECT_EQ(r.echo, BOOT_CMD_START);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(model_->verdict().bytes.size(), 48u);
  EXPECT_TRUE(ask(block(im, 1, CHECKSUM_CRC16)).ok(BOOT_CMD_DATA));
}

TEST_F(ModelTest, HangBlockAnswersNothingUntilPoweredOn) {
  make("boot,hang-block=1");
  const TestImage im = make_image(144, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  feed_silent(block(im, 1, CHECKSUM_CRC16));
  EXPECT_EQ(transport_.stops, 1);
  EXPECT_TRUE(transport_.unplugs.empty());
  feed_silent(info());
  feed_silent(block(im, 1, CHECKSUM_CRC16));
  EXPECT_EQ(model_->verdict().protocol_violations, 0u);
  model_->power_on();
  EXPECT_TRUE(ask(info()).ok(BOOT_CMD_INFO));
  flash(im, CHECKSUM_CRC16);
  EXPECT_TRUE(model_->verdict().completed);
  EXPECT_EQ(transport_.stops, 1);
}

TEST_F(ModelTest, UnplugBlockVanishesUntilPoweredOn) {
  make("boot,unplug-block=1");
  const TestImage im = make_image(144, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  feed_silent(block(im, 1, CHECKSUM_CRC16));
  ASSERT_EQ(transport_.unplugs.size(), 1u);
  EXPECT_EQ(transport_.unplugs[0], 0us);
  const uint32_t frames = model_->verdict().frames_received;
  feed_silent(info());
  EXPECT_EQ(model_->verdict().frames_received, frames);
  model_->power_on();
  EXPECT_TRUE(ask(info()).ok(BOOT_CMD_INFO));
  // Power-on dropped the transfer; the fault does not fire twice.
  EXPECT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, kSimStatusNotStarted);
  flash(im, CHECKSUM_CRC16);
  EXPECT_TRUE(model_->verdict().completed);
}

TEST_F(ModelTest, ApplicationAnswersInfoAndEntersItsBootloader) {
  make("app,restart-ms=60000");
  const Reply r = ask(info());
  EXPECT_TRUE(r.ok(BOOT_CMD_INFO));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.info.data())),
            sim_default_info_text(SimDeviceKind::kApp));
  // Start and data frames mean nothing to the application.
  feed_silent(test::start_write(0, 65, 0, 0, 0));
  EXPECT_EQ(model_->verdict().protocol_violations, 1u);

  const Reply e = ask(enter());
  EXPECT_TRUE(e.ok(BOOT_CMD_ENTER_BOOT));
  EXPECT_EQ(e.status, 0);
  ASSERT_EQ(transport_.restarts.size(), 1u);
  EXPECT_EQ(transport_.restarts[0].identity, sim_default_identity(SimDeviceKind::kBoot));
  EXPECT_EQ(transport_.restarts[0].off_time, 60000ms);
  EXPECT_EQ(model_->kind(), SimDeviceKind::kBoot);
  // Resetting: deaf until it is back.
  feed_silent(info());
  model_->power_on();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ask(info()).info.data())),
            sim_default_info_text(SimDeviceKind::kBoot));
}

TEST_F(ModelTest, EnterStatusDecidesTheRestart) {
  make("app,enter-status=4");
  EXPECT_EQ(ask(enter()).status, 4);
  EXPECT_EQ(transport_.restarts.size(), 1u);

  transport_ = {};
  make("app,enter-status=5");
  EXPECT_EQ(ask(enter()).status, 5);
  EXPECT_TRUE(transport_.restarts.empty());
  EXPECT_EQ(model_->kind(), SimDeviceKind::kApp);
}

TEST_F(ModelTest, EnterSilentRestartsWithoutAnswering) {
  make("app,enter-silent");
  feed_silent(enter());
  ASSERT_EQ(transport_.restarts.size(), 1u);
  EXPECT_EQ(transport_.restarts[0].delay, std::chrono::microseconds(kSimLeaveAfterReply));
}

TEST_F(ModelTest, NoRestartKeepsTheDeviceWhereItIs) {
  make("app,no-restart");
  EXPECT_EQ(ask(enter()).status, 0);
  EXPECT_TRUE(transport_.restarts.empty());
  EXPECT_EQ(model_->kind(), SimDeviceKind::kApp);

  make("boot,no-restart");
  const TestImage im = make_image(96, CHECKSUM_CRC16);
  flash(im, CHECKSUM_CRC16);
  flash(im, CHECKSUM_CRC16);
  EXPECT_TRUE(transport_.restarts.empty());
  EXPECT_EQ(model_->verdict().completed_downloads, 2u);
}

TEST_F(ModelTest, EnterBootToABootloaderIsAViolation) {
  make("boot");
  feed_silent(enter());
  EXPECT_EQ(model_->verdict().protocol_violations, 1u);
}

TEST_F(ModelTest, WithoutTransportRepliesAreDropped) {
  make("boot");
  model_->set_transport(nullptr);
  feed(info());
  EXPECT_TRUE(transport_.sent.empty());
  EXPECT_EQ(model_->verdict().info_queries, 1u);
}

}  // namespace
}  // namespace torvane::sim
