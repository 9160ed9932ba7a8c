// Whole exchange sequences through the simulated bus, frames built byte by
// byte as the tool sends them: flashes that the device accepts and checks,
// the restarts they cause, and every fault knob as the host sees it.
#include <gtest/gtest.h>

#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace torvane::sim {
namespace {

using namespace std::chrono_literals;
using test::EventRecorder;
using test::Reply;
using test::TestImage;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { events_ = std::make_unique<EventRecorder>(bus_); }
  void TearDown() override { events_.reset(); }

  // Attaches a device from knobs and opens it.
  void plug(std::string_view text) {
    SimKnobs k;
    std::string error;
    ASSERT_TRUE(parse_sim_knobs(text, &k, &error)) << error;
    rid_ = k.report_id;
    len_ = k.report_length;
    id_ = bus_.attach_model(k);
    reopen();
  }
  void reopen() {
    const auto paths = bus_.interface_paths(id_);
    ASSERT_EQ(paths.size(), 1u);
    handle_ = bus_.open_path(paths[0], nullptr);
    ASSERT_TRUE(handle_);
  }
  Reply ask(const std::vector<uint8_t>& write, int timeout_ms = 5000, int* read_result = nullptr) {
    return test::exchange(*handle_, write, rid_, timeout_ms, read_result);
  }
  std::vector<uint8_t> info() { return test::command_write(rid_, len_, BOOT_CMD_INFO); }
  std::vector<uint8_t> start(const TestImage& im) {
    return test::start_write(rid_, len_, 0x1000, im.start_length, im.start_checksum);
  }
  std::vector<uint8_t> block(const TestImage& im, uint32_t i, ChecksumScheme s) {
    return test::image_block_write(im, i, rid_, len_, s);
  }
  std::string info_text(const Reply& r) {
    return std::string(reinterpret_cast<const char*>(r.info.data()),
                       strnlen(reinterpret_cast<const char*>(r.info.data()), r.info.size()));
  }
  SimVerdict verdict() { return bus_.model(id_)->verdict(); }
  // Sends every block from `first` on, each answered 0.
  void send_blocks(const TestImage& im, ChecksumScheme s, uint32_t first = 0) {
    for (uint32_t i = first; i < test::block_count(im); ++i) {
      const Reply r = ask(block(im, i, s));
      ASSERT_TRUE(r.ok(BOOT_CMD_DATA)) << "block " << i;
      ASSERT_EQ(r.status, 0) << "block " << i;
    }
  }

  SimBus bus_;
  std::unique_ptr<EventRecorder> events_;
  SimDeviceId id_ = 0;
  std::unique_ptr<HidBackendDevice> handle_;
  uint8_t rid_ = 0;
  uint32_t len_ = 65;
};

TEST_F(ExchangeTest, FullCrcFlashIsAcceptedCheckedAndRestartsAsTheApplication) {
  plug("boot,restart-ms=50");
  const Reply i = ask(info());
  ASSERT_TRUE(i.ok(BOOT_CMD_INFO));
  EXPECT_EQ(i.status, 0);
  EXPECT_EQ(info_text(i), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");

  const TestImage im = test::make_image(4096 + 48, CHECKSUM_CRC16);
  const Reply s = ask(start(im));
  ASSERT_TRUE(s.ok(BOOT_CMD_START));
  ASSERT_EQ(s.status, 0);
  send_blocks(im, CHECKSUM_CRC16);

  const SimVerdict v = verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.bytes, im.buffer);
  EXPECT_EQ(v.announced_length, 4096u);
  EXPECT_EQ(v.frames_received, 2u + test::block_count(im));
  EXPECT_EQ(v.protocol_violations, 0u);

  // Removal, then arrival as the application, on a new path.
  ASSERT_TRUE(events_->wait_for_count(3)) << "restart not seen";
  const auto e = events_->events();
  EXPECT_EQ(e[0].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e[1].kind, SimBusEventKind::kRemoval);
  EXPECT_EQ(e[1].record.product_id, 0x5048);
  EXPECT_EQ(e[2].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e[2].record.vendor_id, 0x0534);
  EXPECT_EQ(e[2].record.product_id, 0x0002);
  EXPECT_EQ(e[2].record.usage_page, 0x0001);
  EXPECT_EQ(e[2].record.usage, 0x0000);
  EXPECT_NE(e[2].record.path, e[0].record.path);
  uint8_t in[128];
  EXPECT_EQ(handle_->read(in, sizeof in, 0), -1) << "the old handle died with the restart";

  reopen();
  const Reply app = ask(info());
  EXPECT_EQ(info_text(app), sim_default_info_text(SimDeviceKind::kApp));
  EXPECT_TRUE(verdict().completed) << "the verdict survives the restart";
}

TEST_F(ExchangeTest, OldBootloaderFlashWithXorSums) {
  plug("oldboot,restart-ms=0");
  EXPECT_EQ(info_text(ask(info())), sim_default_info_text(SimDeviceKind::kOldBoot));
  const TestImage im = test::make_image(1000, CHECKSUM_XOR);
  ASSERT_EQ(ask(start(im)).status, 0);
  send_blocks(im, CHECKSUM_XOR);
  const SimVerdict v = verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.scheme, CHECKSUM_XOR);
  EXPECT_EQ(v.bytes, im.buffer);
  ASSERT_TRUE(events_->wait_for_count(3));
  EXPECT_EQ(events_->events()[2].record.product_id, 0x0002);
}

TEST_F(ExchangeTest, CorruptedBlockChecksumIsRefused) {
  plug("boot");
  const TestImage im = test::make_image(480, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  ASSERT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  std::vector<uint8_t> bad = block(im, 2, CHECKSUM_CRC16);
  bad[9] ^= 0xFF;  // checksum field damaged
  const Reply r = ask(bad);
  EXPECT_TRUE(r.ok(BOOT_CMD_DATA));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.status, 1);  // not a busy status: the tool gives up
  EXPECT_NE(r.status, 2);
  const SimVerdict v = verdict();
  EXPECT_EQ(v.block_checksum_failures, 1u);
  EXPECT_EQ(v.bytes.size(), 96u);
  EXPECT_FALSE(v.completed);
  EXPECT_TRUE(bus_.is_present(id_));
  EXPECT_EQ(events_->events().size(), 1u) << "no restart after a refusal";
}

TEST_F(ExchangeTest, BusyStartAndBusyBlockAreAnsweredThenAccepted) {
  plug("boot,busy-start=2,busy-block=3:4");
  const TestImage im = test::make_image(480, CHECKSUM_CRC16);
  EXPECT_EQ(ask(start(im)).status, 2);
  EXPECT_EQ(ask(start(im)).status, 2);
  EXPECT_EQ(ask(start(im)).status, 0);
  for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(ask(block(im, i, CHECKSUM_CRC16)).status, 0);
  for (int busy = 0; busy < 4; ++busy) {
    const Reply r = ask(block(im, 3, CHECKSUM_CRC16));
    ASSERT_TRUE(r.ok(BOOT_CMD_DATA));
    EXPECT_EQ(r.status, 2) << "send " << busy + 1;
  }
  send_blocks(im, CHECKSUM_CRC16, 3);
  const SimVerdict v = verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.busy_answers, 6u);
  EXPECT_EQ(v.bytes, im.buffer);
}

TEST_F(ExchangeTest, SilentBlockGetsNoReplyAndMayBeSentAgain) {
  plug("boot,silent-block=2");
  const TestImage im = test::make_image(240, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  ASSERT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  int read_result = 99;
  const Reply lost = ask(block(im, 2, CHECKSUM_CRC16), 300, &read_result);
  EXPECT_EQ(read_result, 0) << "a silent device lets the read time out";
  EXPECT_FALSE(lost.present);
  EXPECT_EQ(verdict().bytes.size(), 96u);
  send_blocks(im, CHECKSUM_CRC16, 2);
  EXPECT_TRUE(verdict().completed);
}

TEST_F(ExchangeTest, LateReplyIsDeliveredToTheNextRead) {
  plug("boot,late-block=1");
  const TestImage im = test::make_image(240, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  int read_result = 99;
  ask(block(im, 1, CHECKSUM_CRC16), 300, &read_result);
  EXPECT_EQ(read_result, 0) << "the reply is 1500 ms late";
  // The next exchange's read collects the late reply first...
  const std::vector<uint8_t> next = block(im, 2, CHECKSUM_CRC16);
  ASSERT_EQ(handle_->write(next.data(), next.size()), static_cast<int>(next.size()));
  uint8_t in[128];
  int n = handle_->read(in, sizeof in, 10000);
  ASSERT_EQ(n, 64);
  Reply r = test::decode_reply(in, static_cast<size_t>(n), rid_);
  EXPECT_TRUE(r.ok(BOOT_CMD_DATA));
  EXPECT_EQ(r.status, 0);
  // ...and the reply to the frame just sent comes after it.
  n = handle_->read(in, sizeof in, 10000);
  ASSERT_EQ(n, 64);
  r = test::decode_reply(in, static_cast<size_t>(n), rid_);
  EXPECT_TRUE(r.ok(BOOT_CMD_DATA));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(verdict().bytes.size(), 144u);
}

TEST_F(ExchangeTest, WrongEchoBlock) {
  plug("boot,wrong-echo-block=2");
  const TestImage im = test::make_image(240, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  ASSERT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  const Reply r = ask(block(im, 2, CHECKSUM_CRC16));
  EXPECT_TRUE(r.present);
  EXPECT_EQ(r.magic, BOOT_REPLY_MAGIC);
  EXPECT_EQ(r.echo, BOOT_CMD_START);
  EXPECT_FALSE(r.ok(BOOT_CMD_DATA));
}

TEST_F(ExchangeTest, UnplugBlockVanishesMidTransfer) {
  plug("boot,unplug-block=2");
  const TestImage im = test::make_image(240, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  ASSERT_EQ(ask(block(im, 0, CHECKSUM_CRC16)).status, 0);
  ASSERT_EQ(ask(block(im, 1, CHECKSUM_CRC16)).status, 0);
  int read_result = 99;
  ask(block(im, 2, CHECKSUM_CRC16), 5000, &read_result);
  EXPECT_EQ(read_result, -1);
  ASSERT_TRUE(events_->wait_for_count(2));
  EXPECT_EQ(events_->events()[1].kind, SimBusEventKind::kRemoval);
  EXPECT_FALSE(bus_.is_present(id_));
  EXPECT_TRUE(bus_.enumerate().empty());
  const std::vector<uint8_t> w = info();
  EXPECT_EQ(handle_->write(w.data(), w.size()), -1);
  EXPECT_EQ(verdict().bytes.size(), 96u);
  EXPECT_FALSE(verdict().completed);
}

TEST_F(ExchangeTest, ReportIdFiveFraming) {
  plug("boot,report-id=5");
  const std::vector<uint8_t> w = info();
  ASSERT_EQ(w[0], 5);
  ASSERT_EQ(handle_->write(w.data(), w.size()), 65);
  uint8_t in[128] = {};
  ASSERT_EQ(handle_->read(in, sizeof in, 5000), 65);
  EXPECT_EQ(in[0], 5);
  EXPECT_EQ(in[1], 0xD7);
  EXPECT_EQ(in[2], 0x09);
  EXPECT_EQ(in[3], BOOT_CMD_INFO);

  const TestImage im = test::make_image(1000, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  send_blocks(im, CHECKSUM_CRC16);
  EXPECT_TRUE(verdict().completed) << verdict().summary();
  EXPECT_EQ(verdict().protocol_violations, 0u);
}

TEST_F(ExchangeTest, FrameWithoutTheReportIdIsNotAnswered) {
  plug("boot,report-id=5");
  const std::vector<uint8_t> w = test::command_write(0, 65, BOOT_CMD_INFO);
  int read_result = 99;
  ask(w, 200, &read_result);
  EXPECT_EQ(read_result, 0);
  EXPECT_EQ(verdict().protocol_violations, 1u);
}

TEST_F(ExchangeTest, LongReports) {
  plug("boot,report-length=129");
  const std::vector<uint8_t> w = info();
  ASSERT_EQ(handle_->write(w.data(), w.size()), 129);
  uint8_t in[256];
  EXPECT_EQ(handle_->read(in, sizeof in, 5000), 128);
  const TestImage im = test::make_image(400, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  send_blocks(im, CHECKSUM_CRC16);
  EXPECT_TRUE(verdict().completed);
}

TEST_F(ExchangeTest, ApplicationEntersItsBootloaderAndIsFlashed) {
  plug("app,restart-ms=20");
  EXPECT_EQ(info_text(ask(info())), sim_default_info_text(SimDeviceKind::kApp));
  const Reply e = ask(test::command_write(rid_, len_, BOOT_CMD_ENTER_BOOT));
  ASSERT_TRUE(e.ok(BOOT_CMD_ENTER_BOOT));
  EXPECT_EQ(e.status, 0);
  ASSERT_TRUE(events_->wait_for_count(3));
  auto e3 = events_->events();
  EXPECT_EQ(e3[1].kind, SimBusEventKind::kRemoval);
  EXPECT_EQ(e3[2].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e3[2].record.vendor_id, 0x484F);
  EXPECT_EQ(e3[2].record.product_id, 0x5048);
  EXPECT_EQ(e3[2].record.usage_page, 0xFF00);

  reopen();
  EXPECT_EQ(info_text(ask(info())), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  const TestImage im = test::make_image(200, CHECKSUM_CRC16);
  ASSERT_EQ(ask(start(im)).status, 0);
  send_blocks(im, CHECKSUM_CRC16);
  EXPECT_TRUE(verdict().completed);
  ASSERT_TRUE(events_->wait_for_count(5));
  EXPECT_EQ(events_->events()[4].record.product_id, 0x0002);
}

TEST_F(ExchangeTest, LatencyDelaysTheReply) {
  plug("boot,latency-us=200000");
  const std::vector<uint8_t> w = info();
  ASSERT_EQ(handle_->write(w.data(), w.size()), 65);
  uint8_t in[128];
  EXPECT_EQ(handle_->read(in, sizeof in, 0), 0);
  EXPECT_EQ(handle_->read(in, sizeof in, 10000), 64);
}

}  // namespace
}  // namespace torvane::sim
