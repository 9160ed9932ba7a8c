// The dialog program as a shell runs it: started with its standard streams
// on a pipe whose reader has gone, it still works and saves its settings.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace torvane {
namespace {

// True once the process catches `signal_number` (its handler is installed).
bool Catches(pid_t pid, int signal_number) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal_number - 1)) & 1;
  }
  return false;
}

TEST(DialogProcess, AClosedOutputPipeNeitherEndsItNorLosesTheSettings) {
  testing::TempDir dir;
  const std::string exe = dir.path() + "/torvane";
  std::filesystem::copy_file(TORVANE_DIALOG_PATH, exe);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // `torvane ... 2>&1 | head -c 0`
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<std::string> args = {exe, "--simulate", "boot"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);

  // Up and writing its traces for a while, then asked to quit as a
  // service manager does.
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Catches(pid, SIGTERM) && waitpid(pid, &status, WNOHANG) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/Torvane.ini"));
}

}  // namespace
}  // namespace torvane
