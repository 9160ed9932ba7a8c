// Log and trace writes to a stream nobody reads: dropped, never blocking.
#include "monitor/stream_output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace torvane {
namespace {

TEST(StreamOutput, AFullOrClosedPipeLosesTheTextInsteadOfBlocking) {
  IgnoreBrokenPipes();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // blocking ends, as a shell's pipe
  EXPECT_TRUE(WriteWithoutBlocking(fds[1], "read later\n"));
  const int filler = fcntl(fds[1], F_DUPFD_CLOEXEC, 0);
  ASSERT_EQ(fcntl(filler, F_SETFL, O_NONBLOCK), 0);  // shares the description: now non-blocking too
  const std::string block(4096, 'x');
  while (write(filler, block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(fcntl(filler, F_SETFL, 0), 0);  // the shared description blocks again
  EXPECT_FALSE(WriteWithoutBlocking(fds[1], "dropped\n"));  // returns at once
  close(fds[0]);
  EXPECT_FALSE(WriteWithoutBlocking(fds[1], "nobody reads\n"));
  close(filler);
  close(fds[1]);
}

// A result line waits for a slow reader and arrives whole; progress written
// meanwhile keeps its place behind it. A reader that is gone loses it, and
// says why.
TEST(StreamOutput, AResultLineWaitsForASlowReaderAndProgressDoesNotOvertakeIt) {
  IgnoreBrokenPipes();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  const std::string block(512, '.');
  size_t filled = 0;
  for (ssize_t n; (n = write(fds[1], block.data(), block.size())) > 0;) filled += static_cast<size_t>(n);
  ASSERT_EQ(fcntl(fds[1], F_SETFL, 0), 0);
  const std::string verdict = "verdict " + std::string(10000, 'v') + "\n";  // more than the pipe takes at once
  const auto began = std::chrono::steady_clock::now();
  WriteResult(fds[1], verdict);
  WriteWithoutBlocking(fds[1], "progress\n");
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(200)) << "the caller never waits";
  // The stream's non-blocking twin keeps the pipe open: read what is
  // expected (or until nothing comes for a second), not to the end.
  const std::string expected = verdict + "progress\n";
  std::string got;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char buffer[4096];
    pollfd p{fds[0], POLLIN, 0};
    while (got.size() < filled + expected.size() && poll(&p, 1, 1000) == 1) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
  });
  EXPECT_TRUE(FlushResults());
  reader.join();
  close(fds[1]);
  close(fds[0]);
  ASSERT_GE(got.size(), filled);
  EXPECT_EQ(got.substr(filled), expected);

  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  WriteResult(fds[1], "nobody reads\n");
  EXPECT_FALSE(FlushResults());
  EXPECT_EQ(ResultWriteError(), EPIPE);
  close(fds[1]);
}

}  // namespace
}  // namespace torvane
