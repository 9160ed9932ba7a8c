// The uhid front end against a fake kernel: the test holds the other end of
// a SOCK_SEQPACKET pair and speaks /dev/uhid's records, one per packet.
#include "virtual/virtual_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "device/boot_protocol.h"
#include "sim/report_descriptor_builder.h"

namespace torvane::virt {
namespace {

// Bounds every wait for the device so a fault fails the test instead of
// hanging it; the device answers in microseconds.
constexpr int kGuardMs = 10'000;

class FakeKernel {
 public:
  explicit FakeKernel(const std::string& knob_text, std::string image_path = {}) {
    std::string error;
    EXPECT_TRUE(sim::parse_sim_knobs(knob_text, &knobs_, &error)) << error;
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_), 0);
    EXPECT_EQ(::pipe(stop_), 0);
    EXPECT_EQ(::pipe(replug_), 0);
    device_ = std::make_unique<VirtualDevice>(knobs_, fds_[1], [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
    device_->set_image_path(std::move(image_path));
    runner_ = std::thread([this] { end_ = device_->run(stop_[0], replug_[0]); });
  }

  ~FakeKernel() {
    stop();
    for (int fd : {fds_[0], fds_[1], stop_[0], stop_[1], replug_[0], replug_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // The next record from the device, or nullopt if none came in time.
  std::optional<uhid_event> next(int timeout_ms = kGuardMs) {
    pollfd p{fds_[0], POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    uhid_event ev{};
    if (::read(fds_[0], &ev, sizeof ev) != static_cast<ssize_t>(sizeof ev)) return std::nullopt;
    return ev;
  }

  uhid_event expect(uint32_t type) {
    auto ev = next();
    EXPECT_TRUE(ev.has_value()) << "no record, wanted type " << type;
    if (!ev) return uhid_event{};
    EXPECT_EQ(ev->type, type);
    return *ev;
  }

  void send(const uhid_event& ev) {
    ASSERT_EQ(::write(fds_[0], &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
  }

  // An output report as hidraw hands it to uhid: report-ID byte first.
  void output(const std::vector<uint8_t>& bytes) {
    uhid_event ev{};
    ev.type = UHID_OUTPUT;
    std::memcpy(ev.u.output.data, bytes.data(), bytes.size());
    ev.u.output.size = static_cast<uint16_t>(bytes.size());
    ev.u.output.rtype = UHID_OUTPUT_REPORT;
    send(ev);
  }

  // Sends a frame and returns the reply proper (after any report-ID byte).
  std::vector<uint8_t> exchange(const std::vector<uint8_t>& frame) {
    output(frame);
    const uhid_event ev = expect(UHID_INPUT2);
    const size_t skip = knobs_.report_id ? 1 : 0;
    if (ev.u.input2.size <= skip) return {};
    return std::vector<uint8_t>(ev.u.input2.data + skip, ev.u.input2.data + ev.u.input2.size);
  }

  // As SIGUSR1 does to the program.
  void replug() {
    const char byte = 1;
    ASSERT_EQ(::write(replug_[1], &byte, 1), 1);
  }

  void stop() {
    if (!runner_.joinable()) return;
    const char byte = 1;
    ASSERT_EQ(::write(stop_[1], &byte, 1), 1);
    runner_.join();
  }

  // Waits for the device's own end (fault or failure), bounded.
  bool join_within_guard() {
    for (int i = 0; i < kGuardMs / 10 && !ended(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended()) return false;
    runner_.join();
    return true;
  }

  void close_kernel_side() {
    ::close(fds_[0]);
    fds_[0] = -1;
  }

  RunEnd end() const { return end_; }
  bool ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find("pulled out") != std::string::npos || l.find("failed") != std::string::npos ||
          l.find("closed") != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  bool logged(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::string all_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& l : lines_) all += l + "\n";
    return all;
  }
  VirtualDevice& device() { return *device_; }
  const sim::SimKnobs& knobs() const { return knobs_; }

 private:
  sim::SimKnobs knobs_;
  int fds_[2] = {-1, -1};
  int stop_[2] = {-1, -1};
  int replug_[2] = {-1, -1};
  std::unique_ptr<VirtualDevice> device_;
  std::thread runner_;
  RunEnd end_ = RunEnd::kUhidError;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A frame as the tool writes it: report-ID byte (0 without IDs), magic,
// command, payload, zeros up to 65 bytes.
std::vector<uint8_t> frame(uint8_t report_id, uint16_t command, const std::vector<uint8_t>& payload = {}) {
  std::vector<uint8_t> f(65, 0);
  f[0] = report_id;
  boot_put_u16(&f[BOOT_OFF_MAGIC], BOOT_FRAME_MAGIC);
  boot_put_u16(&f[BOOT_OFF_COMMAND], command);
  std::copy(payload.begin(), payload.end(), f.begin() + BOOT_OFF_PAYLOAD);
  return f;
}

void expect_reply(const std::vector<uint8_t>& reply, uint16_t echo, uint16_t status) {
  ASSERT_GE(reply.size(), 6u);
  EXPECT_EQ(boot_get_u16(&reply[0]), BOOT_REPLY_MAGIC);
  EXPECT_EQ(boot_get_u16(&reply[2]), echo);
  EXPECT_EQ(boot_get_u16(&reply[4]), status);
}

TEST(VirtualDevice, CreatesTheBootloaderWithTheSimulatorsDescriptor) {
  FakeKernel k("boot");
  const uhid_event create = k.expect(UHID_CREATE2);
  EXPECT_EQ(create.u.create2.vendor, 0x484Fu);
  EXPECT_EQ(create.u.create2.product, 0x5048u);
  EXPECT_EQ(create.u.create2.bus, BUS_USB);
  const auto expected = sim::build_vendor_report_descriptor(0xFF00, 0x0001, 0, 65);
  ASSERT_EQ(create.u.create2.rd_size, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), create.u.create2.rd_data));
  k.stop();
  EXPECT_EQ(k.end(), RunEnd::kStopped);
  EXPECT_EQ(k.next()->type, UHID_DESTROY);
}

TEST(VirtualDevice, InfoWithoutReportIdsTravelsAs64ByteReports) {
  FakeKernel k("boot");
  k.expect(UHID_CREATE2);
  uhid_event start{};
  start.type = UHID_START;
  k.send(start);
  k.output(frame(0, BOOT_CMD_INFO));
  const uhid_event in = k.expect(UHID_INPUT2);
  // No report IDs: 64 bytes, the reply from the first byte on.
  ASSERT_EQ(in.u.input2.size, 64);
  std::vector<uint8_t> reply(in.u.input2.data, in.u.input2.data + 64);
  expect_reply(reply, BOOT_CMD_INFO, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[BOOT_REPLY_OFF_INFO]),
               "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
}

TEST(VirtualDevice, ReportId5FramesAndRepliesCarryTheId) {
  FakeKernel k("boot,report-id=5");
  k.expect(UHID_CREATE2);
  k.output(frame(5, BOOT_CMD_INFO));
  const uhid_event in = k.expect(UHID_INPUT2);
  ASSERT_EQ(in.u.input2.size, 65);
  EXPECT_EQ(in.u.input2.data[0], 5);
  expect_reply(std::vector<uint8_t>(in.u.input2.data + 1, in.u.input2.data + 65), BOOT_CMD_INFO, 0);
  // A frame under another ID is not answered (the firmware ignores it).
  k.output(frame(0, BOOT_CMD_INFO));
  EXPECT_FALSE(k.next(200).has_value());
  k.stop();
  EXPECT_EQ(k.device().verdict().protocol_violations, 1u);
}

TEST(VirtualDevice, EnterBootRecreatesTheDeviceAsItsBootloader) {
  FakeKernel k("app,restart-ms=0");
  const uhid_event app = k.expect(UHID_CREATE2);
  EXPECT_EQ(app.u.create2.vendor, 0x0534u);
  expect_reply(k.exchange(frame(0, BOOT_CMD_ENTER_BOOT)), BOOT_CMD_ENTER_BOOT, 0);
  k.expect(UHID_DESTROY);
  const uhid_event boot = k.expect(UHID_CREATE2);
  EXPECT_EQ(boot.u.create2.vendor, 0x484Fu);
  EXPECT_EQ(boot.u.create2.product, 0x5048u);
  // The new incarnation answers as the bootloader.
  const auto reply = k.exchange(frame(0, BOOT_CMD_INFO));
  expect_reply(reply, BOOT_CMD_INFO, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[BOOT_REPLY_OFF_INFO]),
               "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
}

// A re-plug powers the device again: it leaves, comes back with the same
// identity after restart-ms, and a device that had hung answers again.
TEST(VirtualDevice, ReplugBringsAHungDeviceBack) {
  FakeKernel k("boot,hang-block=0,restart-ms=0");
  k.expect(UHID_CREATE2);
  k.output(frame(0, BOOT_CMD_DATA));  // block 0: the device hangs
  k.output(frame(0, BOOT_CMD_INFO));
  EXPECT_FALSE(k.next(200).has_value()) << "a hung device answered";
  EXPECT_TRUE(k.logged("hung"));
  k.replug();
  k.expect(UHID_DESTROY);
  const uhid_event back = k.expect(UHID_CREATE2);
  EXPECT_EQ(back.u.create2.product, 0x5048u);
  expect_reply(k.exchange(frame(0, BOOT_CMD_INFO)), BOOT_CMD_INFO, 0);
}

TEST(VirtualDevice, StopDuringARestartDestroysNothingTwice) {
  FakeKernel k("app,restart-ms=60000");
  k.expect(UHID_CREATE2);
  expect_reply(k.exchange(frame(0, BOOT_CMD_ENTER_BOOT)), BOOT_CMD_ENTER_BOOT, 0);
  k.expect(UHID_DESTROY);
  k.stop();
  EXPECT_EQ(k.end(), RunEnd::kStopped);
  EXPECT_FALSE(k.next(100).has_value());
}

// Builds the image buffer, sends start and every block with CRC-16 as the
// tool does, and returns the last block's reply status.
int flash_crc(FakeKernel& k, const std::vector<uint8_t>& image) {
  BootStartParams start;
  start.load_address = 0x1000;
  start.length = static_cast<uint32_t>(image.size() - BOOT_BLOCK_SIZE);
  start.checksum = boot_crc16(image.data() + BOOT_BLOCK_SIZE, start.length);
  const auto packed = boot_pack_start_params(start);
  auto reply = k.exchange(frame(0, BOOT_CMD_START, {packed.begin(), packed.end()}));
  if (reply.size() < 6 || boot_get_u16(&reply[4]) != 0) return -1;
  int status = -1;
  for (uint32_t off = 0; off < image.size(); off += BOOT_BLOCK_SIZE) {
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(BOOT_BLOCK_SIZE, image.size() - off));
    std::vector<uint8_t> f = frame(0, BOOT_CMD_DATA);
    boot_put_u32(&f[BOOT_OFF_BLOCK_INDEX], off / BOOT_BLOCK_SIZE);
    boot_put_u16(&f[BOOT_OFF_BLOCK_CHECKSUM], boot_crc16(image.data() + off, n));
    boot_put_u16(&f[BOOT_OFF_BLOCK_LENGTH], n);
    std::copy(image.begin() + off, image.begin() + off + n, f.begin() + BOOT_OFF_BLOCK_DATA);
    reply = k.exchange(f);
    if (reply.size() < 6 || boot_get_u16(&reply[2]) != BOOT_CMD_DATA) return -1;
    status = boot_get_u16(&reply[4]);
    if (status != 0) return status;
  }
  return status;
}

TEST(VirtualDevice, ConfirmationNamesTheSerialItRead) {
  FakeKernel k("boot,restart-ms=0,serial-at=1004:2:le");
  k.expect(UHID_CREATE2);
  std::vector<uint8_t> image(48 * 3 + 4);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_EQ(flash_crc(k, image), 0);
  k.expect(UHID_DESTROY);
  // Bytes 4 and 5 (31, 38) little-endian.
  EXPECT_TRUE(k.logged("image confirmed: 148 bytes, CRC-16 ok, load address 0x00001000, serial 9759")) << k.all_lines();
}

TEST(VirtualDevice, ConfirmsAndSavesAFlashedImageThenRestartsAsApplication) {
  const std::string path = ::testing::TempDir() + "virtual_device_image.bin";
  std::remove(path.c_str());
  FakeKernel k("boot,restart-ms=0", path);
  k.expect(UHID_CREATE2);
  std::vector<uint8_t> image(48 * 3 + 4);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_EQ(flash_crc(k, image), 0);
  k.expect(UHID_DESTROY);
  const uhid_event app = k.expect(UHID_CREATE2);
  EXPECT_EQ(app.u.create2.vendor, 0x0534u);
  EXPECT_TRUE(k.logged("image confirmed: 148 bytes, CRC-16 ok, load address 0x00001000")) << k.all_lines();
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, image);
  std::remove(path.c_str());
}

TEST(VirtualDevice, UnplugFaultRemovesTheDeviceAndEndsTheRun) {
  FakeKernel k("boot,unplug-block=1");
  k.expect(UHID_CREATE2);
  std::vector<uint8_t> image(48 * 4, 0x5A);
  // Block 1 gets no reply: the device is gone.
  BootStartParams start{0x1000, static_cast<uint32_t>(image.size() - 48),
                        boot_crc16(image.data() + 48, static_cast<uint32_t>(image.size() - 48))};
  const auto packed = boot_pack_start_params(start);
  expect_reply(k.exchange(frame(0, BOOT_CMD_START, {packed.begin(), packed.end()})), BOOT_CMD_START, 0);
  for (uint32_t index = 0; index < 2; ++index) {
    std::vector<uint8_t> f = frame(0, BOOT_CMD_DATA);
    boot_put_u32(&f[BOOT_OFF_BLOCK_INDEX], index);
    boot_put_u16(&f[BOOT_OFF_BLOCK_CHECKSUM], boot_crc16(image.data() + index * 48, 48));
    boot_put_u16(&f[BOOT_OFF_BLOCK_LENGTH], 48);
    k.output(f);
  }
  k.expect(UHID_INPUT2);   // block 0 accepted
  k.expect(UHID_DESTROY);  // block 1 pulled the plug
  ASSERT_TRUE(k.join_within_guard());
  EXPECT_EQ(k.end(), RunEnd::kUnplugged);
}

TEST(VirtualDevice, SynchronousReportRequestsGetAnImmediateError) {
  FakeKernel k("boot");
  k.expect(UHID_CREATE2);
  uhid_event get{};
  get.type = UHID_GET_REPORT;
  get.u.get_report.id = 41;
  k.send(get);
  const uhid_event reply = k.expect(UHID_GET_REPORT_REPLY);
  EXPECT_EQ(reply.u.get_report_reply.id, 41u);
  EXPECT_NE(reply.u.get_report_reply.err, 0);
  uhid_event set{};
  set.type = UHID_SET_REPORT;
  set.u.set_report.id = 42;
  k.send(set);
  EXPECT_EQ(k.expect(UHID_SET_REPORT_REPLY).u.set_report_reply.id, 42u);
}

TEST(VirtualDevice, OutOfRangeOutputRecordIsIgnored) {
  FakeKernel k("boot");
  k.expect(UHID_CREATE2);
  uhid_event bad{};
  bad.type = UHID_OUTPUT;
  bad.u.output.size = 0xFFFF;  // larger than the record's data
  k.send(bad);
  expect_reply(k.exchange(frame(0, BOOT_CMD_INFO)), BOOT_CMD_INFO, 0);
  EXPECT_TRUE(k.logged("ignored an output record"));
}

TEST(VirtualDevice, KernelSideGoingAwayEndsTheRunWithAnError) {
  FakeKernel k("boot");
  k.expect(UHID_CREATE2);
  k.close_kernel_side();
  ASSERT_TRUE(k.join_within_guard());
  EXPECT_EQ(k.end(), RunEnd::kUhidError);
}

}  // namespace
}  // namespace torvane::virt
