// The Windows HID backend against the HID devices of the system it runs on.
// Under Wine those are its virtual mouse (845E:0001, usage 1:2) and keyboard
// (845E:0002, usage 1:6); tests that need them skip where they are absent.
#include <gtest/gtest.h>

#include <chrono>

#include "device/hid_backend.h"
#include "device/hid_link.h"
#include "platform/system_hid_backend.h"

namespace torvane {
namespace {

constexpr uint16_t kWineVendor = 0x845E;

class Win32HidBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = platform::MakeSystemHidBackend();
    ASSERT_TRUE(backend->initialise(nullptr));
    records = backend->enumerate();
  }
  void TearDown() override { backend->shutdown(); }

  // Wine's device with this product ID, or skip.
  const HidInterfaceRecord* wine_device(uint16_t product_id) {
    for (const HidInterfaceRecord& r : records) {
      if (r.vendor_id == kWineVendor && r.product_id == product_id) return &r;
    }
    return nullptr;
  }

  std::shared_ptr<HidBackend> backend;
  std::vector<HidInterfaceRecord> records;
};

TEST_F(Win32HidBackendTest, ListsEachCollectionWithAttributesAndUsage) {
  const struct {
    uint16_t product_id;
    uint16_t usage;
  } expected[] = {{0x0001, 2}, {0x0002, 6}};
  int seen = 0;
  for (const auto& e : expected) {
    const HidInterfaceRecord* r = wine_device(e.product_id);
    if (r == nullptr) continue;
    ++seen;
    EXPECT_EQ(r->path.rfind("\\\\?\\", 0), 0u) << r->path;
    EXPECT_EQ(r->usage_page, 1);
    EXPECT_EQ(r->usage, e.usage);
    EXPECT_EQ(r->interface_number, hid_interface_number_from_path(r->path));
    EXPECT_TRUE(r->product_string.has_value());
    EXPECT_FALSE(backend->port_path(r->path).empty()) << r->path;
  }
  if (seen == 0) GTEST_SKIP() << "the system lists no Wine HID device";
}

TEST_F(Win32HidBackendTest, OpenStatesTheLayoutAndAReadTimesOutThenCloseCancelsIt) {
  const HidInterfaceRecord* mouse = wine_device(0x0001);
  if (mouse == nullptr) GTEST_SKIP() << "the system lists no Wine mouse";
  std::string error;
  std::unique_ptr<HidBackendDevice> device = backend->open_path(mouse->path, &error);
  ASSERT_NE(device, nullptr) << error;

  const std::optional<ReportLayout> layout = device->report_layout();
  ASSERT_TRUE(layout.has_value());
  EXPECT_TRUE(layout->has_input);
  EXPECT_GT(layout->input_report_length, 1u);
  EXPECT_FALSE(layout->has_output);
  EXPECT_TRUE(layout->foreign_input_ids.none());
  EXPECT_FALSE(device->report_descriptor().has_value());

  // Nobody moves the mouse: each read times out, the second one waiting on
  // the read the first left in flight.
  uint8_t report[64];
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  EXPECT_EQ(device->read(report, sizeof report, 100), 0);
  EXPECT_EQ(device->read(report, sizeof report, 0), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_EQ(device->discard_input(), 0);

  // A mouse takes no output report; the write says why.
  EXPECT_EQ(device->write(report, 4), -1);
  EXPECT_NE(device->error_text().find("no output report"), std::string::npos) << device->error_text();

  // Closing cancels the pending read in bounded time.
  const auto close_start = Clock::now();
  device.reset();
  EXPECT_LT(Clock::now() - close_start, std::chrono::seconds(1));
}

// The device layer takes the layout the backend states instead of a
// descriptor: the mouse is refused for its missing output report.
TEST_F(Win32HidBackendTest, DeviceLayerUsesTheStatedLayout) {
  const HidInterfaceRecord* mouse = wine_device(0x0001);
  if (mouse == nullptr) GTEST_SKIP() << "the system lists no Wine mouse";
  hid_link_set_backend(backend);
  hid_link_init();
  EXPECT_EQ(hid_link_open_path(mouse->path), nullptr);
  EXPECT_NE(hid_link_last_open_error().find("no output report"), std::string::npos) << hid_link_last_open_error();
  hid_link_exit();
  hid_link_set_backend(nullptr);
}

TEST_F(Win32HidBackendTest, MissingPathFailsWithAReason) {
  const std::string missing = "\\\\?\\hid#vid_0000&pid_0000#torvane-missing";
  std::string error;
  EXPECT_EQ(backend->open_path(missing, &error), nullptr);
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_EQ(backend->port_path(missing), "");
}

}  // namespace
}  // namespace torvane
