// hid_link over a scripted backend: the cache and its copies, open by
// identity, report lengths from the descriptor, padded writes, the read that
// stays pending after a time-out, error texts and the library-missing start.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/hid_link.h"
#include "device/hid_link_state.h"
#include "tests/device/descriptor_builder.h"
#include "tests/device/fake_hid_backend.h"

namespace torvane {
namespace {

using test::FakeHidBackend;
using test::FakeRead;
using test::vendor_descriptor;

class HidLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<FakeHidBackend>();
    hid_link_set_backend(backend);
  }
  void TearDown() override {
    EXPECT_EQ(hid_link_exit(), 0);
    hid_link_set_backend(nullptr);
  }
  std::vector<std::string> paths(const HidDeviceInfo* list) {
    std::vector<std::string> out;
    for (; list != nullptr; list = list->next) out.push_back(list->path);
    return out;
  }
  std::shared_ptr<FakeHidBackend> backend;
};

TEST_F(HidLinkTest, FindCopiesTheCacheInOrder) {
  backend->add("/dev/hidraw0", 0x046D, 0xC52B, vendor_descriptor(0, 64, 64));
  backend->add("/dev/hidraw1", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  backend->add("/dev/hidraw2", 0x046D, 0xC077, vendor_descriptor(0, 64, 64));
  backend->interfaces[0].record.manufacturer_string = L"Logi";
  hid_link_init();

  HidDeviceInfoList all(hid_link_find(0, 0));
  EXPECT_EQ(paths(all.get()), (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2"}));
  HidDeviceInfoList vendor(hid_link_find(0x046D, 0));
  EXPECT_EQ(paths(vendor.get()), (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw2"}));
  HidDeviceInfoList product(hid_link_find(0, 0x5048));
  EXPECT_EQ(paths(product.get()), (std::vector<std::string>{"/dev/hidraw1"}));
  EXPECT_EQ(hid_link_find(0x1234, 0), nullptr);
  EXPECT_EQ(backend->enumerate_calls, 1) << "finds filter the cache";

  // Copies are deep: changing one leaves the cache alone.
  all->manufacturer_string = L"changed";
  all->path = "x";
  HidDeviceInfoList again(hid_link_find(0x046D, 0xC52B));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->path, "/dev/hidraw0");
  EXPECT_EQ(again->manufacturer_string, std::wstring(L"Logi"));
  EXPECT_FALSE(again->serial_number.has_value());
}

TEST_F(HidLinkTest, RefreshReplacesTheCacheAndAnEmptyListIsRebuilt) {
  hid_link_init();
  EXPECT_EQ(hid_link_find(0, 0), nullptr);
  EXPECT_EQ(hid_link_find(0, 0), nullptr);
  EXPECT_EQ(backend->enumerate_calls, 2) << "an empty enumeration leaves no cache";
  backend->add("/dev/hidraw3", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  HidDeviceInfoList found(hid_link_find(0, 0));
  EXPECT_EQ(paths(found.get()), std::vector<std::string>{"/dev/hidraw3"});
  backend->interfaces.clear();
  hid_link_refresh();
  EXPECT_EQ(backend->enumerate_calls, 4);
  EXPECT_EQ(hid_link_find(0x484F, 0x5048), nullptr);
}

TEST_F(HidLinkTest, OpenTakesTheFirstMatchingInterface) {
  backend->add("/dev/hidraw0", 0x484F, 0x5049, vendor_descriptor(0, 64, 64), 0xFF00, 1);
  backend->add("/dev/hidraw1", 0x484F, 0x5048, vendor_descriptor(0, 8, 8), 0x0001, 6);
  backend->add("/dev/hidraw2", 0x484F, 0x5048, vendor_descriptor(0, 64, 64), 0xFF00, 1);
  backend->add("/dev/hidraw3", 0x484F, 0x5048, vendor_descriptor(0, 64, 64), 0xFF00, 2);
  hid_link_init();
  const uint16_t vendor_page = 0xFF00, generic_page = 0x0001, usage2 = 2, usage9 = 9;

  struct Case {
    const uint16_t* page;
    const uint16_t* usage;
    const char* want;
  };
  const Case cases[] = {
      {nullptr, nullptr, "/dev/hidraw1"},
      {&vendor_page, nullptr, "/dev/hidraw2"},
      {&generic_page, nullptr, "/dev/hidraw1"},
      {nullptr, &usage2, "/dev/hidraw3"},
      {&vendor_page, &usage2, "/dev/hidraw3"},
      {&generic_page, &usage2, nullptr},
      {nullptr, &usage9, nullptr},
  };
  for (const Case& c : cases) {
    HidDevice* d = hid_link_open(0x484F, 0x5048, c.page, c.usage);
    if (c.want == nullptr) {
      EXPECT_EQ(d, nullptr);
      EXPECT_EQ(hid_link_last_open_error(), "") << "nothing matched: no open was tried";
    } else {
      ASSERT_NE(d, nullptr) << c.want;
      EXPECT_EQ(d->path, c.want);
      hid_link_close(d);
    }
  }
  // Vendor ID 0 is not a wildcard for open.
  EXPECT_EQ(hid_link_open(0, 0x5048, nullptr, nullptr), nullptr);
}

TEST_F(HidLinkTest, OpenTakesLengthsAndIdsFromTheDescriptor) {
  backend->add("/dev/hidraw0", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  backend->add("/dev/hidraw1", 0x484F, 0x5045, vendor_descriptor(5, 64, 32));
  hid_link_init();
  HidDevice* plain = hid_link_open(0x484F, 0x5048, nullptr, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->output_report_length, 65);
  EXPECT_EQ(plain->input_report_length, 65u);
  EXPECT_EQ(plain->output_report_id, 0);
  EXPECT_EQ(plain->input_report_id, 0);
  EXPECT_FALSE(plain->read_pending);
  hid_link_close(plain);
  HidDevice* numbered = hid_link_open(0x484F, 0x5045, nullptr, nullptr);
  ASSERT_NE(numbered, nullptr);
  EXPECT_EQ(numbered->output_report_length, 33);
  EXPECT_EQ(numbered->input_report_length, 65u);
  EXPECT_EQ(numbered->output_report_id, 5);
  EXPECT_EQ(numbered->input_report_id, 5);
  hid_link_close(numbered);
}

// A backend that states the layout (Windows: one collection per path, no
// descriptor) is taken at its word; its lengths meet the same limit.
TEST_F(HidLinkTest, OpenTakesALayoutTheBackendStates) {
  ReportLayout stated;
  stated.has_input = stated.has_output = true;
  stated.input_report_id = 2;
  stated.output_report_id = 3;
  stated.input_report_length = 17;
  stated.output_report_length = 9;
  auto state = backend->add("/win/a", 1, 1, {});
  state->descriptor.reset();
  state->layout = stated;
  stated.input_report_length = kHidMaxReportLength + 1;
  backend->add("/win/b", 1, 2, {});
  backend->interfaces.back().state->layout = stated;
  hid_link_init();
  HidDevice* device = hid_link_open_path("/win/a");
  ASSERT_NE(device, nullptr) << hid_link_last_open_error();
  EXPECT_EQ(device->output_report_length, 9);
  EXPECT_EQ(device->input_report_length, 17u);
  EXPECT_EQ(device->output_report_id, 3);
  EXPECT_EQ(device->input_report_id, 2);
  hid_link_close(device);
  EXPECT_EQ(hid_link_open_path("/win/b"), nullptr);
  EXPECT_NE(hid_link_last_open_error().find("report longer than"), std::string::npos) << hid_link_last_open_error();
}

TEST_F(HidLinkTest, OpenPathFailuresGiveAReason) {
  auto& denied = backend->interfaces.emplace_back();
  denied.record.path = "/dev/hidraw9";
  denied.open_error = "Failed to open a device with path '/dev/hidraw9': Permission denied";
  backend->add("/dev/hidraw1", 1, 1, {});
  backend->interfaces.back().state->descriptor.reset();
  backend->add("/dev/hidraw2", 1, 2, {0x06, 0x00, 0xFF, 0x85, 0x00});
  backend->add("/dev/hidraw3", 1, 3, {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0});
  backend->add("/dev/hidraw4", 1, 4, vendor_descriptor(0, 64, 0));
  backend->add("/dev/hidraw5", 1, 5, vendor_descriptor(1, kHidMaxReportLength, 64));
  backend->add("/dev/hidraw6", 1, 6, vendor_descriptor(1, 64, kHidMaxReportLength - 1));
  hid_link_init();

  EXPECT_EQ(hid_link_open_path("/dev/hidraw9"), nullptr);
  EXPECT_TRUE(hid_link_last_open_denied());
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {
      {"/dev/nothing", "No such file"},
      {"", "empty device path"},
      {"/dev/hidraw1", "cannot read the report descriptor"},
      {"/dev/hidraw2", "invalid report ID"},
      {"/dev/hidraw3", "no output report"},
      {"/dev/hidraw4", "no output report"},
      {"/dev/hidraw5", "report longer than 4097 bytes"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hid_link_open_path(c.path), nullptr) << c.path;
    EXPECT_NE(hid_link_last_open_error().find(c.reason), std::string::npos) << hid_link_last_open_error();
    EXPECT_FALSE(hid_link_last_open_denied());
  }
  HidDevice* longest = hid_link_open_path("/dev/hidraw6");
  ASSERT_NE(longest, nullptr) << "a 4097-byte report is the longest accepted";
  EXPECT_EQ(longest->output_report_length, kHidMaxReportLength);
  EXPECT_EQ(hid_link_last_open_error(), "");
  hid_link_close(longest);
}

TEST_F(HidLinkTest, ReasonIsPerThread) {
  hid_link_init();
  EXPECT_EQ(hid_link_open_path("/dev/missing"), nullptr);
  std::string other;
  std::thread([&] { other = hid_link_last_open_error(); }).join();
  EXPECT_EQ(other, "");
  EXPECT_NE(hid_link_last_open_error(), "");
}

TEST_F(HidLinkTest, ShortWritesArePaddedWithZeros) {
  auto state = backend->add("/dev/hidraw0", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  hid_link_init();
  HidDevice* d = hid_link_open_path("/dev/hidraw0");
  ASSERT_NE(d, nullptr);
  std::vector<uint8_t> twelve(12, 0xA5);
  EXPECT_EQ(hid_link_write(d, twelve.data(), twelve.size()), 65);
  ASSERT_EQ(state->writes.back().size(), 65u);
  EXPECT_EQ(std::count(state->writes.back().begin(), state->writes.back().begin() + 12, 0xA5), 12);
  EXPECT_EQ(std::count(state->writes.back().begin() + 12, state->writes.back().end(), 0), 53);

  std::vector<uint8_t> seventy(70, 1);
  EXPECT_EQ(hid_link_write(d, seventy.data(), seventy.size()), 70) << "longer writes go out as given";
  EXPECT_EQ(state->writes.back().size(), 70u);

  EXPECT_EQ(hid_link_write(d, nullptr, 12), -1);
  EXPECT_EQ(d->last_error_text, "invalid write buffer");
  state->write_result = -1;
  EXPECT_EQ(hid_link_write(d, twelve.data(), twelve.size()), -1);
  EXPECT_EQ(d->last_error_text, "Input/output error") << "first line only";
  EXPECT_EQ(hid_link_write(nullptr, twelve.data(), 12), -1);
  hid_link_close(d);
}

TEST_F(HidLinkTest, ReadsDeliverOneReportAsHidrawDoes) {
  auto plain = backend->add("/dev/hidraw0", 1, 1, vendor_descriptor(0, 64, 64));
  auto numbered = backend->add("/dev/hidraw1", 1, 2, vendor_descriptor(3, 64, 64));
  hid_link_init();
  HidDevice* a = hid_link_open_path("/dev/hidraw0");
  HidDevice* b = hid_link_open_path("/dev/hidraw1");
  ASSERT_TRUE(a && b);
  uint8_t buf[128] = {};
  plain->queue(FakeRead::report(std::vector<uint8_t>(64, 0x11)));
  EXPECT_EQ(hid_link_read(a, buf, sizeof buf), 64);
  std::vector<uint8_t> with_id(65, 0x22);
  with_id[0] = 3;
  numbered->queue(FakeRead::report(with_id));
  EXPECT_EQ(hid_link_read(b, buf, sizeof buf), 65);
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(numbered->read_capacities.back(), 65u) << "reads ask for input_report_length";

  // A small destination takes the head of the report; the rest is lost.
  numbered->queue(FakeRead::report(with_id));
  uint8_t small[10] = {};
  EXPECT_EQ(hid_link_read(b, small, sizeof small), 10);
  EXPECT_EQ(small[0], 3);
  EXPECT_EQ(small[9], 0x22);
  EXPECT_EQ(hid_link_read(b, nullptr, 10), -1);
  EXPECT_EQ(hid_link_read(b, small, 0), -1);
  EXPECT_EQ(numbered->reads.size(), 0u);
  hid_link_close(a);
  hid_link_close(b);
}

TEST_F(HidLinkTest, TimedOutReadStaysPendingUntilTheLateReport) {
  auto state = backend->add("/dev/hidraw0", 1, 1, vendor_descriptor(0, 64, 64));
  hid_link_init();
  HidDevice* d = hid_link_open_path("/dev/hidraw0");
  ASSERT_NE(d, nullptr);
  uint8_t buf[65] = {};
  state->queue(FakeRead::timeout());
  state->queue(FakeRead::report(std::vector<uint8_t>(64, 0x5A)));
  EXPECT_EQ(hid_link_read(d, buf, sizeof buf), 0);
  EXPECT_TRUE(d->read_pending);
  EXPECT_EQ(hid_link_read(d, buf, sizeof buf), 64);
  EXPECT_FALSE(d->read_pending);
  EXPECT_EQ(buf[63], 0x5A);
  EXPECT_EQ(state->read_timeouts, (std::vector<int>{1000, 1000}));

  state->queue(FakeRead::error());
  EXPECT_EQ(hid_link_read(d, buf, sizeof buf), -1);
  EXPECT_FALSE(d->read_pending);
  EXPECT_EQ(d->last_error_text, "Input/output error");
  hid_link_close(d);
}

TEST_F(HidLinkTest, StoreErrorKeepsTheFirstLine) {
  auto state = backend->add("/dev/hidraw0", 1, 1, vendor_descriptor(0, 64, 64));
  hid_link_init();
  HidDevice* d = hid_link_open_path("/dev/hidraw0");
  ASSERT_NE(d, nullptr);
  state->error_text = "Broken pipe\r\nmore";
  hid_link_store_error(d);
  EXPECT_EQ(d->last_error_text, "Broken pipe");
  state->error_text = "";
  hid_link_store_error(d);
  EXPECT_EQ(d->last_error_text, "");
  hid_link_store_error(nullptr);
  hid_link_close(d);
  hid_link_close(nullptr);
}

TEST_F(HidLinkTest, LibraryMissingFindsNothingAndTouchesNoLock) {
  backend->initialise_ok = false;
  backend->add("/dev/hidraw0", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  hid_link_init();
  const HidLink& link = hid_link_context();
  EXPECT_FALSE(link.lock_initialised);
  EXPECT_FALSE(link.entry_points_loaded);
  EXPECT_EQ(link.list_lock, nullptr);
  EXPECT_NE(link.init_error.find("cannot open shared object"), std::string::npos);
  EXPECT_EQ(hid_link_find(0, 0), nullptr);
  EXPECT_EQ(hid_link_enumerate(), nullptr);
  hid_link_refresh();
  EXPECT_EQ(hid_link_open(0x484F, 0x5048, nullptr, nullptr), nullptr);
  EXPECT_EQ(hid_link_open_path("/dev/hidraw0"), nullptr);
  EXPECT_EQ(hid_link_last_open_error(), "HID library not available");
  EXPECT_EQ(backend->enumerate_calls, 0);
  EXPECT_TRUE(backend->opened_paths.empty());
  EXPECT_EQ(hid_link_exit(), 0);
  EXPECT_EQ(backend->shutdown_calls, 0) << "a library that never came up is not shut down";
}

TEST_F(HidLinkTest, InitAndExitPairTheBackend) {
  hid_link_init();
  hid_link_init();  // a second init changes nothing
  EXPECT_EQ(backend->initialise_calls, 1);
  EXPECT_TRUE(hid_link_context().lock_initialised);
  EXPECT_EQ(hid_link_exit(), 0);
  EXPECT_EQ(backend->shutdown_calls, 1);
  EXPECT_FALSE(hid_link_context().lock_initialised);
  EXPECT_EQ(hid_link_find(0, 0), nullptr);
}

// The enumeration thread refreshes while others find and open: all under
// the one re-entrant lock (run under ThreadSanitizer in CI).
TEST_F(HidLinkTest, RefreshFindAndOpenFromSeveralThreads) {
  backend->add("/dev/hidraw0", 0x484F, 0x5048, vendor_descriptor(0, 64, 64));
  backend->add("/dev/hidraw1", 0x0534, 0x0002, vendor_descriptor(2, 64, 64));
  hid_link_init();
  std::atomic<int> opened{0};
  std::thread refresher([] {
    for (int i = 0; i < 200; ++i) hid_link_refresh();
  });
  std::thread finder([] {
    for (int i = 0; i < 200; ++i) hid_link_free_list(hid_link_find(0, 0));
  });
  std::thread opener([&] {
    for (int i = 0; i < 200; ++i) {
      HidDevice* d = hid_link_open(0x0534, 0x0002, nullptr, nullptr);
      if (d != nullptr) ++opened;
      hid_link_close(d);
    }
  });
  refresher.join();
  finder.join();
  opener.join();
  EXPECT_EQ(opened.load(), 200);
}

TEST(HidInterfaceNumber, WindowsPathParsing) {
  EXPECT_EQ(hid_interface_number_from_path("\\\\?\\hid#vid_484f&pid_5048&mi_01#7&1"), 1);
  EXPECT_EQ(hid_interface_number_from_path("x&mi_0a#"), 10);
  EXPECT_EQ(hid_interface_number_from_path("x&mi_zz"), -1);
  EXPECT_EQ(hid_interface_number_from_path("x&mi_"), -1);
  EXPECT_EQ(hid_interface_number_from_path("x&MI_01"), -1);
  EXPECT_EQ(hid_interface_number_from_path("/dev/hidraw3"), -1);
  EXPECT_EQ(hid_interface_number_from_path("x&mi_fffffffff"), -1);
}

}  // namespace
}  // namespace torvane
