// torvane-cli under hostile conditions: closed pipes, fast interrupts,
// absurd waits, devices that do not come back or send terminal controls.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/station_display.h"
#include "cli/wait_option.h"
#include "tests/cli/cli_runner.h"

namespace torvane::cli {
namespace {

TEST(WaitOption, AcceptsFiniteSecondsAndTakesHugeOnesAsForever) {
  struct Case {
    const char* text;
    bool ok;
    bool forever;
    long long ms;
  };
  const Case cases[] = {
      {"0", true, false, 0},          {"2.5", true, false, 2500},   {"1e9", true, false, 1000000000000LL},
      {"1e10", true, true, 0},        {"1e308", true, true, 0},     {"nan", false, false, 0},
      {"inf", false, false, 0},       {"-inf", false, false, 0},    {"-1", false, false, 0},
      {"10s", false, false, 0},       {"", false, false, 0},
  };
  for (const Case& c : cases) {
    WaitTime wait;
    std::string error;
    EXPECT_EQ(ParseWaitSeconds(c.text, &wait, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(wait.forever, c.forever) << c.text;
    if (!c.forever) {
      EXPECT_EQ(wait.duration.count(), c.ms) << c.text;
    }
  }
}

TEST_F(Cli, WaitRefusesNonFiniteValuesAndWaitsOnForHugeOnes) {
  EXPECT_EQ(Invoke({"flash", "--wait", "nan", "--simulate", "boot", App()}).status, kExitUsage);
  const CliRun r =
      Invoke({"flash", "--wait", "1e10", "--simulate-arrival-ms", "300", "--simulate", "boot", App()});
  EXPECT_EQ(r.status, kExitOk) << r.out;
}

TEST_F(Cli, AReaderThatGoesAwayDoesNotEndTheFlash) {
  CliRunOptions options;
  options.close_after_first_line = true;
  const CliRun r = Invoke({"flash", "--simulate", "boot,latency-us=1000", App()}, options);
  EXPECT_EQ(r.status, kExitOk) << r.out;
}

TEST_F(Cli, SecondInterruptEndsAtOnceHoweverSoonItFollows) {
  // Replies 500 ms apart: 100 ms after a progress line the main loop sleeps
  // until the next one while both interrupts arrive.
  CliRunOptions options;
  options.interrupt_on = "正在下载: 0";
  options.interrupt_delay_ms = 100;
  options.interrupts = 2;
  const CliRun r = Invoke({"flash", "--simulate", "boot,latency-us=500000", App()}, options);
  EXPECT_EQ(r.status, 128 + SIGINT) << r.out;
}

TEST_F(Cli, EnterBootFailsUnlessABootloaderComesBackInTime) {
  const CliRun r = Invoke({"enter-boot", "--wait", "0.5", "--simulate", "app,no-restart"});
  EXPECT_EQ(r.status, kExitNoDevice) << r.out;
  EXPECT_NE(r.out.find("设备等待烧录"), std::string::npos) << r.out;
}

TEST_F(Cli, DeviceTextCannotDriveTheTerminal) {
  CliRun r = Invoke({"info", "--simulate", "boot,info=\x1B]0;pwned\x07\x1B[2J"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\x1B]0;pwned\\x07\\x1B[2J"), std::string::npos) << r.out;
}

// Everything the display wrote to `out`, terminal controls taken out; one
// entry per screen line.
std::vector<std::string> ScreenLines(std::FILE* out) {
  std::rewind(out);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b') {
      while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;  // "\x1b[3A", "\x1b[K"
    } else if (text[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (text[i] != '\r') {
      line += text[i];
    }
  }
  return lines;
}

// On a 40 x 8 terminal with 20 units: no line wraps, the units at work and
// those finished last are shown, "active" counts the flashing ones, and the
// rate waits for three finished units.
TEST(StationDisplay, ATerminalShowsWhatFitsAndWhatMatters) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  StationDisplay display(out, true, {40, 8});
  for (uint64_t n = 1; n <= 20; ++n) {
    const UnitView unit{n, "1-1." + std::to_string(n), "/dev/hidraw" + std::to_string(n), "", DS_BOOT, 1};
    display.OnUnitAppeared(unit);
    display.OnUnitState(unit, UnitState::kFlashing, "");
    if (n != 4 && n != 5 && n != 6) display.OnUnitState(unit, n % 7 == 0 ? UnitState::kFailed : UnitState::kPassed,
                                                        "a detail long enough to run past forty columns");
  }
  display.OnCounters({2, 0, 3, 5000.0});
  std::vector<std::string> lines = ScreenLines(out);
  ASSERT_GE(lines.size(), 7u);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 39u) << line;
  // The last redraw: six unit lines and the summary.
  const std::vector<std::string> last(lines.end() - 7, lines.end());
  EXPECT_EQ(last[6].rfind("passed 2  failed 0  active 3  -- unit", 0), 0u) << last[6];  // cut at 39
  std::string ports;
  for (int i = 0; i < 6; ++i) ports += last[static_cast<size_t>(i)].substr(0, last[static_cast<size_t>(i)].find(' ')) + " ";
  EXPECT_EQ(ports, "1-1.4 1-1.5 1-1.6 1-1.18 1-1.19 1-1.20 ");
  display.OnCounters({3, 0, 3, 5000.0});
  EXPECT_EQ(ScreenLines(out).back().rfind("passed 3  failed 0  active 3  5000 unit", 0), 0u);
  std::fclose(out);
}

TEST(StationDisplay, SerialNumbersFromDevicesCannotDriveTheTerminal) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  StationDisplay display(out, false);
  UnitView unit;
  unit.serial = "\x1B]0;pwned\x07";
  display.OnUnitAppeared(unit);
  display.OnUnitState(unit, UnitState::kFailed, "info \x1B[2J");
  std::rewind(out);
  char text[512] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  const std::string shown(text, n);
  EXPECT_EQ(shown.find('\x1B'), std::string::npos) << shown;
  EXPECT_NE(shown.find("serial \\x1B]0;pwned\\x07"), std::string::npos) << shown;
}

// A record path or text that would go wrong quietly (an empty name, the
// image itself, a FIFO nobody reads) stops the station before anything is
// flashed, and at once.
TEST_F(Cli, StationRefusesRecordFilesAndTextsThatWouldMisfire) {
  const std::string image = dir_.path() + "/app.bin";
  std::filesystem::copy_file(App(), image);
  const auto image_size = std::filesystem::file_size(image);
  std::filesystem::create_symlink(dir_.path() + "/burn_boot_0.3.0.0.bin", dir_.path() + "/update-link");
  ASSERT_EQ(mkfifo((dir_.path() + "/fifo").c_str(), 0600), 0);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--record", ""}, kExitUsage, "--record"},
      {{"--simulate-arrivals", ""}, kExitUsage, "--simulate-arrivals"},
      {{"--record", image}, kExitFileError, "is a file being flashed"},
      {{"--record", dir_.path() + "/update-link"}, kExitFileError, "is a file being flashed"},
      {{"--record", dir_.path() + "/fifo"}, kExitFileError, "not a regular file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"station", image, "--count", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.args[0] != "--simulate-arrivals") args.insert(args.end(), {"--simulate", "boot"});
    const auto began = std::chrono::steady_clock::now();
    const CliRun r = Invoke(args);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << c.args[1];
    EXPECT_EQ(r.status, c.status) << c.args[1] << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("simulated device"), std::string::npos) << "nothing may be flashed: " << r.out;
  }
  EXPECT_EQ(std::filesystem::file_size(image), image_size);
}

// station takes --address as flash does, so its advice can be followed.
TEST_F(Cli, StationTakesTheLoadAddressAsFlashDoes) {
  const std::string hex = dir_.path() + "/at2000.hex";
  const std::string make = std::string(TORVANE_SREC_CAT) + " " + App() + " -binary -offset 0x2000 -o " + hex + " -intel";
  ASSERT_EQ(std::system(make.c_str()), 0);
  CliRun r = Invoke({"station", hex, "--count", "1", "--simulate", "boot"});
  EXPECT_EQ(r.status, kExitFileError) << r.out;
  EXPECT_NE(r.out.find("--address auto"), std::string::npos) << r.out;
  r = Invoke({"station", hex, "--count", "1", "--address", "auto", "--simulate", "boot"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("addr=0x00002000"), std::string::npos) << r.out;
}

// A reader that is slow (Ctrl-S, a stalled CI log) may miss progress, but
// every result line arrives whole: the verdict, each unit's line, the summary.
TEST_F(Cli, ResultLinesWaitForASlowReader) {
  CliRunOptions slow;
  slow.stall_reader_ms = 1500;
  CliRun r = Invoke({"flash", "--simulate", "boot", App()}, slow);
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("下载成功"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("simulated device: "), std::string::npos) << r.out;
  r = Invoke({"station", App(), "--count", "2", "--simulate-arrivals", "boot,port=a@0,boot,port=b@100"}, slow);
  EXPECT_EQ(r.status, kExitOk) << r.out;
  for (const char* line : {"port a  ok", "port b  ok", "station: passed 2, failed 0"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
}

// Output that cannot be written fails the commands that exist to print it.
TEST_F(Cli, OutputThatCannotBeWrittenIsAFailure) {
  CliRunOptions full;
  full.stdout_file = "/dev/full";
  for (const std::vector<std::string>& command : {std::vector<std::string>{"list", "--json"}, {"list"},
                                                  {"info", "--json"}, {"info"}, {"config"}}) {
    std::vector<std::string> args = command;
    args.insert(args.end(), {"--simulate", "boot"});
    const CliRun r = Invoke(args, full);
    EXPECT_EQ(r.status, kExitFileError) << command[0] << "\n" << r.out;
    EXPECT_NE(r.out.find("cannot write standard output: No space left on device"), std::string::npos) << r.out;
  }
}

// info --json prints one JSON object whatever happens, with an error field
// whenever it did not find and ask exactly one device.
TEST_F(Cli, InfoJsonIsOneDocumentForEveryOutcome) {
  const struct {
    std::vector<std::string> simulate;
    int status;
    const char* says;
  } cases[] = {
      {{"boot,info=ZAVRO"}, kExitOk, R"("info":"ZAVRO")"},
      {{"boot", "boot"}, kExitUsage, R"("candidates":[{)"},
      {{"boot,report-length=5000"}, kExitDeviceError, R"("error":"cannot open )"},
      {{"boot,info-status=3"}, kExitProtocolError, R"("info_status":3)"},
      {{}, kExitNoDevice, R"("found":false,"error":)"},
  };
  CliRunOptions json_only;
  json_only.stdout_file = dir_.path() + "/out.json";
  for (const auto& c : cases) {
    std::ofstream(json_only.stdout_file, std::ios::trunc).close();
    std::vector<std::string> args{"info", "--json"};
    for (const std::string& knobs : c.simulate) args.insert(args.end(), {"--simulate", knobs});
    if (c.simulate.empty()) args.insert(args.end(), {"--simulate", "boot,port=1-1", "--port", "1-2"});
    const CliRun r = Invoke(args, json_only);
    std::ifstream in(json_only.stdout_file);
    const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(out + r.out);
    EXPECT_EQ(r.status, c.status);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), '{');
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line";
    EXPECT_NE(out.find(c.says), std::string::npos);
    EXPECT_EQ(out.find(R"("error":)") != std::string::npos, c.status != kExitOk);
  }
}

// A record that no longer fits (a file size limit, as a full disk) is cut
// back to whole lines; the unit is shown NOT RECORDED, no new unit starts
// and the run fails.
TEST_F(Cli, AStationWhoseRecordNoLongerFitsStopsWithWholeLines) {
  const std::string record = dir_.path() + "/units.jsonl";
  CliRunOptions options;
  const CliRun r = RunCli("/bin/bash",
                          {"-c", "ulimit -f 1 && exec \"$0\" \"$@\"", cli_, "station", App(), "--count", "3",
                           "--record", record, "--simulate-arrivals", "boot,port=a@0,boot,port=b@400,boot,port=c@800"},
                          options);
  EXPECT_EQ(r.status, kExitFileError) << r.out;
  EXPECT_NE(r.out.find("NOT RECORDED"), std::string::npos) << r.out;
  std::ifstream in(record, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_EQ(r.out.find("port c  ok"), std::string::npos) << "no unit after the failure: " << r.out;
}

TEST_F(Cli, ADeviceWhoseReportsAreTooLongCannotBeOpened) {
  for (const std::vector<std::string>& command : {std::vector<std::string>{"info"}, {"flash", App()}}) {
    std::vector<std::string> args = command;
    args.insert(args.end(), {"--simulate", "boot,report-length=5000"});
    const CliRun r = Invoke(args);
    EXPECT_EQ(r.status, kExitDeviceError) << command[0] << "\n" << r.out;
    EXPECT_NE(r.out.find("cannot open the device: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("report longer than"), std::string::npos) << r.out;
  }
}

TEST_F(Cli, SettingsFileThatCannotBeUsedIsRefusedWithTheReason) {
  std::filesystem::create_directory(dir_.path() + "/Torvane.ini");
  CliRun r = Invoke({"flash", "--simulate", "boot", App()});
  EXPECT_EQ(r.status, kExitFileError) << r.out;
  EXPECT_NE(r.out.find(dir_.path() + "/Torvane.ini: 不是普通文件"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("准备下载"), std::string::npos) << r.out;
  r = Invoke({"config"});
  EXPECT_EQ(r.status, kExitFileError) << r.out;
  EXPECT_NE(r.out.find("cannot be used"), std::string::npos) << r.out;
  // A link loop is such a file too, not an abort.
  std::filesystem::remove(dir_.path() + "/Torvane.ini");
  std::filesystem::create_symlink("Torvane.ini", dir_.path() + "/Torvane.ini");
  EXPECT_EQ(Invoke({"config"}).status, kExitFileError);
}

TEST_F(Cli, ValuesThatAreNotNumbersStopTheFlashAndAreMarked) {
  WriteIni("[Config]\nApp Address=l000\n[OldBoot]\nVID=none\nPID=none\n");
  CliRun r = Invoke({"flash", "--simulate", "boot", App()});
  EXPECT_EQ(r.status, kExitUsage) << r.out;
  EXPECT_NE(r.out.find("Config/App Address = l000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("OldBoot/VID = none"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("准备下载"), std::string::npos) << r.out;
  r = Invoke({"config"});
  EXPECT_EQ(r.status, kExitUsage) << r.out;
  EXPECT_NE(r.out.find("NOT USABLE: 'l000'"), std::string::npos) << r.out;
  // Listing still works, and an identity of 0:0 takes nothing for a bootloader.
  r = Invoke({"list", "--simulate", "app"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_EQ(r.out.find("old bootloader"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace torvane::cli
