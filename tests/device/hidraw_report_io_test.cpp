// Report reads and writes on a file descriptor, exercised on a SEQPACKET
// socket pair: like a hidraw node it hands out one message per read, keeps
// the messages queued after the other end has gone (POLLHUP) and then
// reports the end. The peer plays the device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "device/hidraw_report_io.h"

namespace torvane {
namespace {

class HidrawReportIo : public ::testing::Test {
 protected:
  void SetUp() override {
    // A write to a socket whose peer has closed raises SIGPIPE; a hidraw
    // node never does, and the test must see the error instead.
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    host = fds[0];
    device = fds[1];
    ASSERT_EQ(::fcntl(host, F_SETFL, ::fcntl(host, F_GETFL) | O_NONBLOCK), 0);
  }
  void TearDown() override {
    if (host >= 0) ::close(host);
    close_device();
  }
  void close_device() {
    if (device >= 0) ::close(device);
    device = -1;
  }
  void send_report(std::vector<uint8_t> report) {
    ASSERT_EQ(::write(device, report.data(), report.size()), static_cast<ssize_t>(report.size()));
  }
  int read(int timeout_ms) { return hidraw_read_report(host, in, sizeof in, timeout_ms, &error); }

  int host = -1;
  int device = -1;
  uint8_t in[128] = {};
  std::string error;
};

std::vector<uint8_t> report(uint8_t first, size_t length = 64) {
  std::vector<uint8_t> r(length, 0);
  r[0] = first;
  r[length - 1] = static_cast<uint8_t>(first + 1);
  return r;
}

// The fault this module exists for: the device answers and goes away at
// once; the answer is still delivered, and only the next read fails.
TEST_F(HidrawReportIo, ReportQueuedBeforeAHangUpIsDeliveredFirst) {
  send_report(report(0xD7));
  close_device();
  ASSERT_EQ(read(1000), 64);
  EXPECT_EQ(in[0], 0xD7);
  EXPECT_EQ(in[63], 0xD8);
  EXPECT_EQ(read(1000), -1);
  EXPECT_NE(error.find(kHidrawDisconnectedText), std::string::npos) << error;
  EXPECT_EQ(read(0), -1) << "and it stays gone";
}

TEST_F(HidrawReportIo, EveryQueuedReportComesInOrderAfterAHangUp) {
  for (uint8_t i = 1; i <= 3; ++i) send_report(report(i, 10 + i));
  close_device();
  for (uint8_t i = 1; i <= 3; ++i) {
    ASSERT_EQ(read(0), 10 + i) << "one report per read";
    EXPECT_EQ(in[0], i);
  }
  EXPECT_EQ(read(0), -1);
}

TEST_F(HidrawReportIo, TimeOutLeavesALaterReportForTheNextRead) {
  EXPECT_EQ(read(0), 0);
  EXPECT_EQ(read(20), 0);
  send_report(report(0x42));
  ASSERT_EQ(read(0), 64);
  EXPECT_EQ(in[0], 0x42);
  EXPECT_EQ(read(0), 0);
}

TEST_F(HidrawReportIo, WaitEndsWhenAReportArrivesOrTheDeviceGoes) {
  std::thread answer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    send_report(report(7));
  });
  EXPECT_EQ(read(-1), 64);  // without limit: only the report ends it
  answer.join();
  EXPECT_EQ(in[0], 7);

  std::thread unplug([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::shutdown(device, SHUT_RDWR);
  });
  EXPECT_EQ(read(-1), -1);
  unplug.join();
  EXPECT_NE(error.find(kHidrawDisconnectedText), std::string::npos) << error;
}

// An empty report is "nothing read", not a lost device; the reports
// after it are delivered as usual.
TEST_F(HidrawReportIo, ZeroLengthReportReadsAsNothing) {
  send_report({});
  send_report(report(9));
  EXPECT_EQ(read(1000), 0);
  EXPECT_EQ(read(1000), 64);
  EXPECT_EQ(in[0], 9);
}

TEST_F(HidrawReportIo, DiscardDropsWhatIsQueuedAndWaitsForNothing) {
  EXPECT_EQ(hidraw_discard_reports(host, 256, &error), 0);
  for (uint8_t i = 1; i <= 5; ++i) send_report(report(i, 8));
  EXPECT_EQ(hidraw_discard_reports(host, 3, &error), 3) << "bounded";
  EXPECT_EQ(hidraw_discard_reports(host, 256, &error), 2);
  send_report(report(0x11));
  ASSERT_EQ(read(0), 64) << "a report sent afterwards is kept";
  send_report(report(0x12));
  close_device();
  EXPECT_EQ(hidraw_discard_reports(host, 256, &error), 1) << "queued before the hang-up";
  EXPECT_EQ(hidraw_discard_reports(host, 256, &error), -1);
  EXPECT_NE(error.find(kHidrawDisconnectedText), std::string::npos) << error;
}

TEST_F(HidrawReportIo, ShortBufferGetsTheFrontOfOneReportOnly) {
  send_report(report(1));
  send_report(report(2));
  uint8_t small[4] = {};
  EXPECT_EQ(hidraw_read_report(host, small, sizeof small, 0, &error), 4);
  EXPECT_EQ(small[0], 1);
  ASSERT_EQ(read(0), 64) << "the rest of the first report is gone, the second is whole";
  EXPECT_EQ(in[0], 2);
}

TEST_F(HidrawReportIo, BadArgumentsFailWithAReason) {
  EXPECT_EQ(hidraw_read_report(host, nullptr, 64, 0, &error), -1);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(hidraw_read_report(host, in, 0, 0, &error), -1);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(hidraw_read_report(-1, in, sizeof in, 0, &error), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(hidraw_read_report(-1, in, sizeof in, 0, nullptr), -1) << "no place for the reason";
  const uint8_t byte = 0;
  EXPECT_EQ(hidraw_write_report(host, nullptr, 65, &error), -1);
  EXPECT_EQ(hidraw_write_report(host, &byte, 0, &error), -1);
  EXPECT_EQ(hidraw_write_report(-1, &byte, 1, &error), -1);
  EXPECT_EQ(hidraw_write_report(-1, &byte, 1, nullptr), -1);
}

TEST_F(HidrawReportIo, ClosedDescriptorFailsInsteadOfWaiting) {
  ::close(host);
  const int stale = host;
  host = -1;
  EXPECT_EQ(hidraw_read_report(stale, in, sizeof in, 1000, &error), -1);
  EXPECT_FALSE(error.empty());
  const uint8_t frame[2] = {0, 1};
  EXPECT_EQ(hidraw_write_report(stale, frame, sizeof frame, &error), -1);
}

TEST_F(HidrawReportIo, WriteSendsTheWholeReportOrFails) {
  const std::vector<uint8_t> frame = report(0, 65);
  ASSERT_EQ(hidraw_write_report(host, frame.data(), frame.size(), &error), 65) << error;
  std::vector<uint8_t> got(128);
  ASSERT_EQ(::read(device, got.data(), got.size()), 65);
  got.resize(65);
  EXPECT_EQ(got, frame);

  close_device();
  error.clear();
  EXPECT_EQ(hidraw_write_report(host, frame.data(), frame.size(), &error), -1);
  EXPECT_NE(error.find(kHidrawDisconnectedText), std::string::npos) << error;
}

TEST_F(HidrawReportIo, WriteToANodeThatTakesNothingGivesUpInBoundedTime) {
  // Fill the socket until it takes no more, as a device that stopped
  // reading its output reports.
  const std::vector<uint8_t> frame(4096, 0x55);
  while (::send(host, frame.data(), frame.size(), MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(hidraw_write_report(host, frame.data(), frame.size(), &error), -1);
  EXPECT_NE(error.find("takes no output report"), std::string::npos) << error;
}

TEST_F(HidrawReportIo, WriterSendsTheWholeReport) {
  HidrawWriter writer(host);
  const std::vector<uint8_t> frame = report(0, 65);
  ASSERT_EQ(writer.write(frame.data(), frame.size(), &error), 65) << error;
  std::vector<uint8_t> got(128);
  ASSERT_EQ(::read(device, got.data(), got.size()), 65);
  got.resize(65);
  EXPECT_EQ(got, frame);
  EXPECT_EQ(writer.write(frame.data(), 0, &error), -1);
}

// A node whose write blocks in the kernel whatever O_NONBLOCK says (hidraw
// on a USB device that stopped reading): a blocking socket that is full.
TEST_F(HidrawReportIo, WriterEndsAStuckWriteWithinItsBudgetAndRecovers) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
  const std::vector<uint8_t> frame(4096, 0x55);
  int queued = 0;
  while (::send(fds[0], frame.data(), frame.size(), MSG_DONTWAIT) > 0) ++queued;
  using Clock = std::chrono::steady_clock;
  auto writer = std::make_unique<HidrawWriter>(fds[0], 200);
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(writer->write(frame.data(), frame.size(), &error), -1);
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
  EXPECT_NE(error.find("takes no output report"), std::string::npos) << error;
  // Later writes fail at once while the kernel still holds the first.
  const Clock::time_point t1 = Clock::now();
  EXPECT_EQ(writer->write(frame.data(), frame.size(), &error), -1);
  EXPECT_LT(Clock::now() - t1, std::chrono::milliseconds(100));
  EXPECT_NE(error.find("still waiting"), std::string::npos) << error;
  EXPECT_EQ(writer->write(frame.data(), frame.size(), &error, true), -1) << "a straight write beside a held one";
  // The device reads again: the held write goes out, and so do new ones.
  std::vector<uint8_t> got(8192);
  for (int i = 0; i <= queued; ++i) ASSERT_GT(::read(fds[1], got.data(), got.size()), 0);
  const Clock::time_point t2 = Clock::now();
  while (writer->write(frame.data(), 8, &error) != 8 && Clock::now() - t2 < std::chrono::seconds(5)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(::read(fds[1], got.data(), got.size()), 8);
  // Stuck again, then destroyed: the destructor does not wait for the kernel.
  while (::send(fds[0], frame.data(), frame.size(), MSG_DONTWAIT) > 0) {
  }
  EXPECT_EQ(writer->write(frame.data(), frame.size(), &error), -1);
  const Clock::time_point t3 = Clock::now();
  writer.reset();
  EXPECT_LT(Clock::now() - t3, std::chrono::milliseconds(100));
  EXPECT_EQ(HidrawWriter(-1).write(frame.data(), 1, &error), -1);
  // The abandoned thread ends once its write fails on the closed peer.
  ::close(fds[1]);
  ::close(fds[0]);
}

}  // namespace
}  // namespace torvane
