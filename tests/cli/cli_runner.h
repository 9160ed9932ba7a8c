// Runs torvane-cli as a child process, as operators and scripts do, and
// collects its exit status and output; the Cli fixture gives each test a
// copy of the tool in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace torvane::cli {

using testing::TempDir;

struct CliRun {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out;
};

struct CliRunOptions {
  // SIGINT is sent `interrupts` times, each as soon as the one before has
  // been delivered, once this text has appeared in the output.
  std::string interrupt_on;
  int interrupts = 1;
  int interrupt_delay_ms = 0;  // after the text appeared
  int signal_number = SIGINT;  // what "interrupt" sends
  // With more than one interrupt: the later ones wait until this text has
  // appeared as well (the tool has acted on the first). A sanitizer that
  // holds signals back merges two of one kind sent close together.
  std::string interrupt_again_on;
  // The reader goes away after the first line, as `| head -1` does;
  // standard error is then discarded.
  bool close_after_first_line = false;
  // A slow reader: the pipe is filled before the start and not read for
  // this long (the filler is not part of `out`).
  int stall_reader_ms = 0;
  // Standard output goes to this file instead (standard error stays on the pipe).
  std::string stdout_file;
  // Standard input is a pipe holding this text (closed after it).
  std::optional<std::string> input;
};

inline std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Waits (at most a second) until `signal_number` is no longer pending for
// the process.
inline void WaitUntilDelivered(pid_t pid, int signal_number) {
  const unsigned long long bit = 1ULL << (signal_number - 1);
  for (int i = 0; i < 1000; ++i) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    bool pending = false;
    while (std::getline(status, line)) {
      if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0) {
        pending = pending || (std::stoull(line.substr(7), nullptr, 16) & bit) != 0;
      }
    }
    if (!pending) return;
    usleep(1000);
  }
}

inline CliRun RunCli(const std::string& exe, std::vector<std::string> args, const CliRunOptions& options) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  int input_fds[2] = {-1, -1};
  if (options.input && pipe(input_fds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.input) {
    posix_spawn_file_actions_adddup2(&actions, input_fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, input_fds[1]);
  }
  if (options.stdout_file.empty()) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_file.c_str(), O_WRONLY, 0);
  }
  size_t filler = 0;
  if (options.stall_reader_ms > 0) {
    const int flags = fcntl(pipe_fds[1], F_GETFL);
    fcntl(pipe_fds[1], F_SETFL, flags | O_NONBLOCK);
    const std::string block(512, '.');
    for (ssize_t n; (n = write(pipe_fds[1], block.data(), block.size())) > 0;) filler += static_cast<size_t>(n);
    fcntl(pipe_fds[1], F_SETFL, flags);
  }
  if (options.close_after_first_line) {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  }
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (options.input) {
    // Short texts: the pipe holds them whole, so this never waits on the reader.
    close(input_fds[0]);
    if (rc == 0 && write(input_fds[1], options.input->data(), options.input->size()) < 0) {
      // the tool ended before reading: its status says why
    }
    close(input_fds[1]);
  }
  CliRun run;
  if (rc != 0) {
    close(pipe_fds[0]);
    return run;
  }
  if (options.interrupt_on.empty() && !options.close_after_first_line) {
    usleep(static_cast<useconds_t>(options.stall_reader_ms) * 1000);
    run.out = ReadAll(pipe_fds[0]).substr(filler);
  } else {
    char buffer[512];
    ssize_t n;
    bool sent = false;
    bool sent_again = options.interrupt_again_on.empty();
    while ((n = read(pipe_fds[0], buffer, sizeof(buffer))) > 0) {
      run.out.append(buffer, static_cast<size_t>(n));
      if (options.close_after_first_line && run.out.find('\n') != std::string::npos) break;
      if (!sent && !options.interrupt_on.empty() && run.out.find(options.interrupt_on) != std::string::npos) {
        usleep(static_cast<useconds_t>(options.interrupt_delay_ms) * 1000);
        const int now = options.interrupt_again_on.empty() ? options.interrupts : 1;
        for (int i = 0; i < now; ++i) {
          kill(pid, options.signal_number);
          // The next one only once this one has been delivered: two pending
          // interrupts would count as one.
          if (i + 1 < now) WaitUntilDelivered(pid, options.signal_number);
        }
        sent = true;
      }
      if (sent && !sent_again && run.out.find(options.interrupt_again_on) != std::string::npos) {
        for (int i = 1; i < options.interrupts; ++i) {
          kill(pid, options.signal_number);
          if (i + 1 < options.interrupts) WaitUntilDelivered(pid, options.signal_number);
        }
        sent_again = true;
      }
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Runs the tool with stdout and stderr into one pipe. When interrupt_on is
// set, SIGINT is sent once that text has appeared in the output.
inline CliRun RunCli(const std::string& exe, std::vector<std::string> args, const std::string& interrupt_on = "") {
  CliRunOptions options;
  options.interrupt_on = interrupt_on;
  return RunCli(exe, std::move(args), options);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* exe = TORVANE_CLI_PATH;
    const char* samples = TORVANE_SAMPLES_DIR;
    // A copy of the tool in a folder of its own: its settings file and the
    // boot update files live beside it.
    cli_ = dir_.path() + "/torvane-cli";
    std::filesystem::copy_file(exe, cli_);
    samples_ = samples;
    for (const char* name : {"burn_boot_0.3.0.0.bin", "head_1.0_2016_04_22.bin"}) {
      std::filesystem::copy_file(samples_ + "/" + name, dir_.path() + "/" + name);
    }
  }
  CliRun Invoke(std::vector<std::string> args, const std::string& interrupt_on = "") {
    return RunCli(cli_, std::move(args), interrupt_on);
  }
  CliRun Invoke(std::vector<std::string> args, const CliRunOptions& options) {
    return RunCli(cli_, std::move(args), options);
  }
  std::string App() const { return samples_ + "/app.bin"; }
  // Writes the tool's settings file.
  void WriteIni(const std::string& text) const {
    std::ofstream(dir_.path() + "/Torvane.ini", std::ios::binary) << text;
  }

  TempDir dir_;
  std::string cli_;
  std::string samples_;
};

}  // namespace torvane::cli
