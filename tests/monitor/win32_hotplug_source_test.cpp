// The Windows hot-plug source starts on any system (it needs no desktop)
// and stops in bounded time, however often it is started.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/system_hotplug.h"

namespace torvane {
namespace {

TEST(Win32HotplugSource, StartsAndStopsInBoundedTime) {
  using Clock = std::chrono::steady_clock;
  for (int round = 0; round < 3; ++round) {
    std::unique_ptr<HotplugSource> source = platform::MakeSystemHotplugSource();
    const auto start = Clock::now();
    ASSERT_TRUE(source->Start([](unsigned) {}));
    EXPECT_TRUE(source->Start([](unsigned) {})) << "a second start keeps the running source";
    if (round < 2) source->Stop();
    source->Stop();
    // The third round stops in the destructor.
    source.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  }
}

}  // namespace
}  // namespace torvane
