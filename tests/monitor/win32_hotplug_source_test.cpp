// The Windows hot-plug source starts on any system (it needs no desktop),
// passes on arrivals and removals of device interfaces only, and stops in
// bounded time, however often it is started.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

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

// The system sends WM_DEVICECHANGE to the source's window; here the test
// sends it, as the system would, to check which ones reach on_change.
TEST(Win32HotplugSource, PassesOnInterfaceArrivalsAndRemovalsOnly) {
  std::vector<unsigned> events;
  std::unique_ptr<HotplugSource> source = platform::MakeSystemHotplugSource();
  ASSERT_TRUE(source->Start([&](unsigned e) { events.push_back(e); }));
  HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"TorvaneHotplugWindow", nullptr);
  ASSERT_NE(window, nullptr);
  DEV_BROADCAST_DEVICEINTERFACE_W interface_change{};
  interface_change.dbcc_size = sizeof(interface_change);
  interface_change.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  DEV_BROADCAST_HDR volume_change{};
  volume_change.dbch_size = sizeof(volume_change);
  volume_change.dbch_devicetype = DBT_DEVTYP_VOLUME;
  const auto send = [&](WPARAM event, void* header) {
    SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(header));
  };
  send(DBT_DEVICEARRIVAL, &interface_change);
  send(DBT_DEVICEQUERYREMOVE, &interface_change);
  send(DBT_DEVICEARRIVAL, &volume_change);
  send(DBT_DEVNODES_CHANGED, nullptr);
  send(DBT_DEVICEREMOVECOMPLETE, &interface_change);
  source->Stop();
  EXPECT_EQ(events, (std::vector<unsigned>{DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}));
}

}  // namespace
}  // namespace torvane
