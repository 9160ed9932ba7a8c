// Log and trace writes to a stream nobody reads: dropped, never blocking.
#include "monitor/stream_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace torvane
