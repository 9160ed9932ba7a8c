// Settings saving against what Linux files have and Windows files do not:
// permission bits, symbolic links, directory write permission and the file
// size limit (rlimit).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_model.h"
#include "tests/settings/save_test_support.h"
#include "tests/settings/scratch_dir.h"

namespace torvane {
namespace {

using testing::Defaults;
using testing::ReadWholeFile;
using testing::SaveSettingsTest;

TEST_F(SaveSettingsTest, KeepsPermissionBitsAndSymbolicLinks) {
  const std::string target = dir_.Write("real.ini", "[Config]\nVID=1\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const std::string link = dir_.File("Torvane.ini");
  std::filesystem::create_symlink("real.ini", link);
  ASSERT_TRUE(SaveSettingsToFile(link, Defaults()));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_NE(ReadWholeFile(target).find("VID=534\n"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(SaveSettingsTest, LinksAreWrittenThroughEvenWhenTheirTargetIsMissing) {
  std::filesystem::create_directory(dir_.File("etc"));
  const std::string link = dir_.File("Torvane.ini");
  std::filesystem::create_symlink("etc/Torvane.ini", link);  // dangling
  ASSERT_TRUE(SaveSettingsToFile(link, Defaults()));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_NE(ReadWholeFile(dir_.File("etc/Torvane.ini")).find("VID=534"), std::string::npos);

  // The target's folder is missing, or the links loop: nothing is saved,
  // the link stays, and the reason is given.
  const std::string nowhere = dir_.File("nowhere.ini");
  std::filesystem::create_symlink("no-such-dir/Torvane.ini", nowhere);
  const std::string loop = dir_.File("loop.ini");
  std::filesystem::create_symlink("loop.ini", loop);
  for (const std::string& path : {nowhere, loop}) {
    std::string error;
    EXPECT_FALSE(SaveSettingsToFile(path, Defaults(), &error)) << path;
    EXPECT_FALSE(error.empty()) << path;
    EXPECT_TRUE(std::filesystem::is_symlink(path)) << path;
  }
}

TEST_F(SaveSettingsTest, ReadOnlyFileIsLeftAsItIs) {
  const std::string path = dir_.Write("Torvane.ini", "[Config]\nVID=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_FALSE(SaveSettingsToFile(path, Defaults()));
  EXPECT_EQ(ReadWholeFile(path), "[Config]\nVID=1\n");
}

TEST_F(SaveSettingsTest, UnwritableDirectoryLeavesFileAndNoTemporary) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  const std::string path = dir_.Write("Torvane.ini", "[Config]\nVID=0534\n");
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  EXPECT_FALSE(SaveSettingsToFile(path, Defaults()));
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  EXPECT_EQ(ReadWholeFile(path), "[Config]\nVID=0534\n");
  EXPECT_EQ(StrayFiles("Torvane.ini"), 0u);
}

// A write that fails half way (here: the file size limit, which holds for
// root too) must not touch the old file nor leave the temporary behind.
TEST_F(SaveSettingsTest, FailedWriteLeavesFileAndNoTemporary) {
  const std::string original = "[C]\nK=1\n";
  const std::string path = dir_.Write("Torvane.ini", original);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = original.size() + 4;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool saved_ok = SaveSettingsToFile(path, Defaults());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_EQ(StrayFiles("Torvane.ini"), 0u);
}

}  // namespace
}  // namespace torvane
