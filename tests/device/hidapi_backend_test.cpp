// The hidapi backend on this machine: it comes up, lists what is there and
// refuses paths that are not hidraw nodes with a readable reason. Real
// devices are exercised by the kernel tests (uhid in a virtual machine).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "device/hid_link.h"
#include "device/hidapi_backend.h"

namespace torvane {
namespace {

class HidapiBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = make_hidapi_backend();
    std::string error;
    ASSERT_TRUE(backend->initialise(&error)) << error;
  }
  void TearDown() override { backend->shutdown(); }
  std::shared_ptr<HidBackend> backend;
};

TEST_F(HidapiBackendTest, EnumerationListsOnlyOpenablePaths) {
  for (const HidInterfaceRecord& r : backend->enumerate()) {
    EXPECT_FALSE(r.path.empty());
    EXPECT_EQ(r.path.rfind("/dev/hidraw", 0), 0u) << r.path;
  }
}

TEST_F(HidapiBackendTest, MissingPathFailsWithAReason) {
  std::string error;
  EXPECT_EQ(backend->open_path("/dev/hidraw-torvane-missing", &error), nullptr);
  EXPECT_NE(error, "");
  EXPECT_EQ(error.find('\n'), std::string::npos) << "first line only";
  EXPECT_EQ(backend->open_path("/dev/hidraw-torvane-missing", nullptr), nullptr);
}

// hidapi 0.13 crashes when handed such paths; the backend must refuse them.
TEST_F(HidapiBackendTest, NonHidrawPathsAreRefusedBeforeHidapiSeesThem) {
  const auto path = std::filesystem::temp_directory_path() / ("torvane-not-hidraw-" + std::to_string(getpid()));
  std::ofstream(path) << "not a device";
  std::string error;
  EXPECT_EQ(backend->open_path(path.string(), &error), nullptr);
  EXPECT_NE(error.find("not a hidraw device"), std::string::npos) << error;
  std::filesystem::remove(path);
  // A character device that is not hidraw either.
  error.clear();
  EXPECT_EQ(backend->open_path("/dev/null", &error), nullptr);
  EXPECT_NE(error.find("not a hidraw device"), std::string::npos) << error;
}

// Run as an unprivileged user (a child process drops root when needed), an
// open refused by file permissions says "Permission denied".
TEST_F(HidapiBackendTest, UnreadableNodeIsReportedAsPermissionDenied) {
  const auto path = std::filesystem::temp_directory_path() / ("torvane-denied-" + std::to_string(getpid()));
  std::ofstream(path) << "x";
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    std::string error;
    const bool refused = backend->open_path(path.string(), &error) == nullptr;
    _exit(refused && error.find(kHidPermissionDeniedText) != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::filesystem::remove(path);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HidLinkOnHidapi, DefaultBackendStartsAndRefusesMissingPaths) {
  hid_link_set_backend(nullptr);
  hid_link_init();
  HidDeviceInfoList all(hid_link_find(0, 0));  // whatever this machine has
  EXPECT_EQ(hid_link_open_path("/dev/hidraw-torvane-missing"), nullptr);
  EXPECT_NE(hid_link_last_open_error(), "");
  EXPECT_FALSE(hid_link_last_open_denied());
  EXPECT_EQ(hid_link_open(0xFFFE, 0xFFFE, nullptr, nullptr), nullptr);
  EXPECT_EQ(hid_link_exit(), 0);
}

}  // namespace
}  // namespace torvane
