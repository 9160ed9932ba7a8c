// Settings files Linux can make and Windows cannot: a FIFO, a link that
// loops, a file without read permission.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "settings/settings_check.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

TEST(SettingsCheck, SpecialFilesThatCannotBeUsedSayWhy) {
  testing::ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0600), 0);
  std::filesystem::create_symlink("loop.ini", dir.File("loop.ini"));
  for (const char* name : {"fifo.ini", "loop.ini"}) {
    EXPECT_NE(UnusableSettingsFileReason(dir.File(name)), "") << name;
  }
  if (::geteuid() != 0) {
    const std::string locked = dir.Write("locked.ini", "[Config]\n");
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(UnusableSettingsFileReason(locked), "没有读取权限");
  }
}

}  // namespace
}  // namespace torvane
