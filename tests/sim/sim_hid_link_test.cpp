// The device layer running unchanged on the simulated bus: hid_link opens
// the simulated device by identity, takes report IDs and lengths from its
// descriptor, and the boot protocol exchanges flash it. The device's verdict
// confirms what arrived.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "sim/report_descriptor_builder.h"
#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace torvane::sim {
namespace {

using test::EventRecorder;
using test::TestImage;

// Start command (busy answers retried) and every block in order, as the
// protocol lays them out: one frame buffer zeroed once, only the header and
// the data of each block rewritten. Returns the first status that is not 0
// (-1: no valid reply), or 0 when every block was accepted.
int flash(HidDevice* device, const TestImage& image, ChecksumScheme scheme, uint32_t address = 0x1000) {
  BootStartParams params{address, image.start_length, image.start_checksum};
  const auto payload = boot_pack_start_params(params);
  int status = BOOT_STATUS_NONE;
  for (int send = 0; send < 5; ++send) {
    status = BOOT_STATUS_NONE;
    boot_send_command(device, BOOT_CMD_START, payload.data(), static_cast<int>(payload.size()), &status);
    if (status != 2) break;
  }
  if (status != 0) return status;
  std::vector<uint8_t> frame(BOOT_FRAME_BUFFER_SIZE, 0);
  const auto total = static_cast<uint32_t>(image.buffer.size());
  for (uint32_t done = 0; done < total;) {
    const uint32_t n = std::min<uint32_t>(BOOT_BLOCK_SIZE, total - done);
    boot_put_u16(&frame[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
    boot_put_u16(&frame[BOOT_OFF_COMMAND], BOOT_CMD_DATA);
    boot_put_u32(&frame[BOOT_OFF_BLOCK_INDEX], (done + 47) / 48);
    boot_put_u16(&frame[BOOT_OFF_BLOCK_CHECKSUM], test::block_checksum(&image.buffer[done], n, scheme));
    boot_put_u16(&frame[BOOT_OFF_BLOCK_LENGTH], static_cast<uint16_t>(n));
    std::memcpy(&frame[BOOT_OFF_BLOCK_DATA], &image.buffer[done], n);
    status = BOOT_STATUS_NONE;
    for (int send = 0; send < 5; ++send) {
      status = BOOT_STATUS_NONE;
      boot_send_block(device, frame.data(), device->output_report_length, &status);
      if (status != 1 && status != 2) break;
    }
    if (status != 0) return status;
    done += n;
  }
  return 0;
}

class HidLinkOnSimBus : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_shared<SimBus>();
    events_ = std::make_unique<EventRecorder>(*bus_);
    hid_link_set_backend(bus_);
    hid_link_init();
  }
  void TearDown() override {
    if (device_) hid_link_close(device_);
    hid_link_exit();
    hid_link_set_backend(nullptr);
    events_.reset();
  }
  SimDeviceId plug(std::string_view text) {
    SimKnobs k;
    std::string error;
    EXPECT_TRUE(parse_sim_knobs(text, &k, &error)) << error;
    const SimDeviceId id = bus_->attach_model(k);
    hid_link_refresh();
    return id;
  }
  HidDevice* open(uint16_t vid, uint16_t pid, std::optional<uint16_t> page = std::nullopt,
                  std::optional<uint16_t> usage = std::nullopt) {
    if (device_) hid_link_close(device_);
    device_ = hid_link_open(vid, pid, page ? &*page : nullptr, usage ? &*usage : nullptr);
    return device_;
  }
  std::string query_info(int* status) {
    BootInfo info;
    *status = BOOT_STATUS_NONE;
    boot_query_info(device_, status, &info);
    return boot_info_text(info);
  }

  std::shared_ptr<SimBus> bus_;
  std::unique_ptr<EventRecorder> events_;
  HidDevice* device_ = nullptr;
};

TEST_F(HidLinkOnSimBus, InfoAndFlashOfTheBootloader) {
  const SimDeviceId id = plug("boot,restart-ms=20");
  ASSERT_TRUE(open(0x484F, 0x5048)) << hid_link_last_open_error();
  EXPECT_EQ(device_->output_report_length, 65);
  EXPECT_EQ(device_->input_report_length, 65u);
  EXPECT_EQ(device_->output_report_id, 0);
  EXPECT_EQ(device_->input_report_id, 0);

  int status = 0;
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(status, 0);

  const TestImage image = test::make_image(2000, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);
  const SimVerdict v = bus_->model(id)->verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.bytes, image.buffer);
  EXPECT_EQ(v.load_address, 0x1000u);
  EXPECT_EQ(v.protocol_violations, 0u);

  // The device restarts as the application; a new enumeration finds it.
  ASSERT_TRUE(events_->wait_for_count(3));
  hid_link_refresh();
  HidDeviceInfoList app(hid_link_find(0x0534, 0x0002));
  HidDeviceInfoList boot(hid_link_find(0x484F, 0x5048));
  EXPECT_TRUE(app);
  EXPECT_FALSE(boot);
  EXPECT_EQ(hid_link_write(device_, nullptr, 0), -1);
  uint8_t byte = 0;
  EXPECT_EQ(hid_link_write(device_, &byte, 1), -1) << "the old device is gone";
}

TEST_F(HidLinkOnSimBus, ReportIdFive) {
  const SimDeviceId id = plug("boot,report-id=5");
  ASSERT_TRUE(open(0x484F, 0x5048));
  EXPECT_EQ(device_->output_report_id, 5);
  EXPECT_EQ(device_->input_report_id, 5);
  EXPECT_EQ(device_->output_report_length, 65);
  EXPECT_EQ(device_->input_report_length, 65u);
  int status = 0;
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(status, 0);
  const TestImage image = test::make_image(500, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);
  EXPECT_TRUE(bus_->model(id)->verdict().completed);
}

TEST_F(HidLinkOnSimBus, OldBootloaderWithXorSums) {
  const SimDeviceId id = plug("oldboot");
  // The old bootloader is opened with the bootloader's usage page and usage.
  ASSERT_TRUE(open(0x484F, 0x5045, 0xFF00, 0x0001));
  const TestImage image = test::make_image(1024, CHECKSUM_XOR);
  EXPECT_EQ(flash(device_, image, CHECKSUM_XOR), 0);
  const SimVerdict v = bus_->model(id)->verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.scheme, CHECKSUM_XOR);
}

TEST_F(HidLinkOnSimBus, BusyStartIsRetriedAndBusyBlocksToo) {
  const SimDeviceId id = plug("boot,busy-start=2,busy-block=1:3:1");
  ASSERT_TRUE(open(0x484F, 0x5048));
  const TestImage image = test::make_image(200, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);
  EXPECT_EQ(bus_->model(id)->verdict().busy_answers, 5u);
  EXPECT_TRUE(bus_->model(id)->verdict().completed);
}

TEST_F(HidLinkOnSimBus, CorruptedImageChecksumIsRefused) {
  const SimDeviceId id = plug("boot");
  ASSERT_TRUE(open(0x484F, 0x5048));
  TestImage image = test::make_image(200, CHECKSUM_CRC16);
  image.start_checksum ^= 0x0101;
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 6);
  EXPECT_FALSE(bus_->model(id)->verdict().completed);
}

TEST_F(HidLinkOnSimBus, LateReplyIsTakenByTheNextExchangeAndRejectedByItsEcho) {
  plug("boot,late-block=1");
  ASSERT_TRUE(open(0x484F, 0x5048));
  const TestImage image = test::make_image(200, CHECKSUM_CRC16);
  // Block 1's reply comes 1500 ms late: the 1000 ms read gives up.
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), -1);
  EXPECT_TRUE(device_->read_pending);
  // The next exchange's read collects the late block reply: wrong echo.
  int status = 0;
  query_info(&status);
  EXPECT_EQ(status, -1);
  // The one after that collects the first info reply: a valid answer.
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(status, 0);
}

// A late reply that lands on a handle opened right after the failure, but
// before that handle's first request, must not answer the request.
TEST_F(HidLinkOnSimBus, LateReplyQueuedOnANewHandleBeforeItsRequestIsDropped) {
  const SimDeviceId id = plug("boot,late-block=1,late-ms=1150,no-restart");
  ASSERT_TRUE(open(0x484F, 0x5048));
  const TestImage image = test::make_image(200, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), -1);  // block 1 times out after 1000 ms
  ASSERT_TRUE(open(0x484F, 0x5048));                     // reopened at once
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the late reply is queued now
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);
  EXPECT_TRUE(bus_->model(id)->verdict().completed);
}

// A keyboard collection before the bootloader's own: the node is listed
// once per collection, the open by usage gets the vendor collection's ID
// and lengths, and the key reports arriving before every reply are passed
// over.
TEST_F(HidLinkOnSimBus, CompositeDeviceIsFlashedThroughItsVendorCollection) {
  const SimDeviceId id = plug("boot,report-id=5,composite=1:9,composite-input=1,no-restart");
  const HidDeviceInfoList list(hid_link_find(0x484F, 0x5048));
  ASSERT_TRUE(list && list->next && !list->next->next);
  EXPECT_EQ(list->usage_page, 0x0001);
  EXPECT_EQ(list->usage, 0x0006);
  EXPECT_EQ(list->next->usage_page, 0xFF00);
  EXPECT_EQ(list->next->path, list->path);

  ASSERT_TRUE(open(0x484F, 0x5048, 0xFF00, 0x0001));
  EXPECT_EQ(device_->output_report_id, 5);
  EXPECT_EQ(device_->output_report_length, 65);
  EXPECT_EQ(device_->input_report_length, 65u);
  int status = 0;
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  const TestImage image = test::make_image(500, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);
  const SimVerdict v = bus_->model(id)->verdict();
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.protocol_violations, 0u) << v.last_violation;

  // Without a usage the first record, the keyboard, is the one opened.
  ASSERT_TRUE(open(0x484F, 0x5048));
  EXPECT_EQ(device_->output_report_id, 1);
  EXPECT_EQ(device_->output_report_length, 2);
}

// Replies shorter than the longest input report are found by the report
// ID, not by their length.
TEST_F(HidLinkOnSimBus, ReplyReportShorterThanTheLongestInputReport) {
  const SimDeviceId id = plug("boot,report-id=5,reply-length=60,no-restart");
  ASSERT_TRUE(open(0x484F, 0x5048));
  EXPECT_EQ(device_->input_report_length, 65u);
  int status = 0;
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(flash(device_, test::make_image(300, CHECKSUM_CRC16), CHECKSUM_CRC16), 0);
  EXPECT_TRUE(bus_->model(id)->verdict().completed);
}

TEST_F(HidLinkOnSimBus, SilentAndWrongEchoLeaveTheStatusAtMinusOne) {
  plug("boot,silent-block=0,wrong-echo-block=1");
  ASSERT_TRUE(open(0x484F, 0x5048));
  const TestImage image = test::make_image(200, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), -1);  // block 0 unanswered
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), -1);  // block 1 echoes the start command
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), 0);   // each fault fires once
}

TEST_F(HidLinkOnSimBus, UnplugMidTransferFailsTheDevice) {
  plug("boot,unplug-block=2");
  ASSERT_TRUE(open(0x484F, 0x5048));
  const TestImage image = test::make_image(400, CHECKSUM_CRC16);
  EXPECT_EQ(flash(device_, image, CHECKSUM_CRC16), -1);
  ASSERT_TRUE(device_->last_error_text.has_value());
  EXPECT_NE(device_->last_error_text->find("removed"), std::string::npos);
  ASSERT_TRUE(events_->wait_for_count(2));
  hid_link_refresh();
  EXPECT_FALSE(HidDeviceInfoList(hid_link_find(0x484F, 0x5048)));
}

TEST_F(HidLinkOnSimBus, ApplicationEntersTheBootloaderWhichIsThenFound) {
  plug("app,restart-ms=20");
  // The tool's default application identity: usage page 1, usage 0.
  ASSERT_TRUE(open(0x0534, 0x0002, 0x0001, 0x0000));
  int status = 0;
  EXPECT_EQ(query_info(&status), sim_default_info_text(SimDeviceKind::kApp));
  status = BOOT_STATUS_NONE;
  boot_send_command(device_, BOOT_CMD_ENTER_BOOT, nullptr, 0, &status);
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(events_->wait_for_count(3));
  hid_link_refresh();
  ASSERT_TRUE(open(0x484F, 0x5048, 0xFF00, 0x0001));
  EXPECT_EQ(query_info(&status), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(status, 0);
}

TEST_F(HidLinkOnSimBus, OpenPicksTheFirstMatchingInterface) {
  // A second interface of the same device, listed first, with another usage.
  SimInertInterface other;
  other.record = {"", 0x484F, 0x5048, std::nullopt, 0x0300, std::nullopt, std::nullopt, 0x0001, 0x0006, 1};
  other.report_descriptor = keyboard_report_descriptor();
  bus_->attach_interfaces({other});
  plug("boot");
  ASSERT_TRUE(open(0x484F, 0x5048));
  EXPECT_EQ(device_->path, "sim:hidraw0");
  EXPECT_EQ(device_->output_report_length, 2) << "the keyboard interface was opened";
  ASSERT_TRUE(open(0x484F, 0x5048, 0xFF00));
  EXPECT_EQ(device_->path, "sim:hidraw1");
  int status = 0;
  query_info(&status);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(open(0x484F, 0x5048, 0xFF00, 0x0002));
}

TEST_F(HidLinkOnSimBus, OversizedReportsAreRefusedAtOpen) {
  plug("boot,report-length=5000");
  EXPECT_FALSE(open(0x484F, 0x5048));
  EXPECT_FALSE(hid_link_last_open_error().empty());
}

}  // namespace
}  // namespace torvane::sim
