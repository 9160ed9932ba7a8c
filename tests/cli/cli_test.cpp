// torvane-cli as operators and scripts use it: run as a child process,
// judged by its exit status and its output.
#include <algorithm>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "cli/exit_codes.h"
#include "cli/sim_arrivals.h"
#include "tests/cli/cli_runner.h"
#include "torvane_version.h"

namespace torvane::cli {
namespace {

using testing::PatternBytes;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

TEST_F(Cli, SimulatedFlashSucceedsAndTheDeviceConfirmsTheImage) {
  const CliRun r = Invoke({"flash", "--simulate", "boot", App()});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("发现一个可烧录设备, 设备信息:\nZAVRO:0.3.0.0 12:33:39 Sep 13 2016\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("准备下载\n"), std::string::npos);
  EXPECT_NE(r.out.find("正在下载: 100\n下载成功,设备即将重启\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("COMPLETED"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("bytes=20000/20000"), std::string::npos) << r.out;
}

TEST_F(Cli, ExitStatusNamesEachOutcome) {
  EXPECT_EQ(Invoke({"flash", "--simulate", "boot", dir_.path() + "/missing.bin"}).status, kExitFileError);
  EXPECT_EQ(Invoke({"flash", "--simulate", "boot,silent-block=2", App()}).status, kExitProtocolError);
  EXPECT_EQ(Invoke({"flash", "--simulate", "boot,busy-start=5", App()}).status, kExitStartBusy);
  EXPECT_EQ(Invoke({"flash", "--simulate", "app", App()}).status, kExitNoDevice);
  EXPECT_EQ(Invoke({"flash", "--simulate", "boot,bogus-knob=1", App()}).status, kExitUsage);
  EXPECT_EQ(Invoke({"frobnicate"}).status, kExitUsage);
}

// Both programs print the package's version, the dialog without a display.
TEST_F(Cli, VersionComesFromThePackage) {
  EXPECT_EQ(Invoke({"--version"}).out, "torvane-cli " TORVANE_VERSION "\n");
#ifdef TORVANE_DIALOG_PATH
  const CliRun dialog = RunCli(TORVANE_DIALOG_PATH, {"--version"});
  EXPECT_EQ(dialog.status, 0);
  EXPECT_EQ(dialog.out, "torvane " TORVANE_VERSION "\n");
#endif
}

TEST_F(Cli, AFileErrorNamesTheFileAndWhatIsWrong) {
  const std::string missing = dir_.path() + "/missing.bin";
  const std::string folder = dir_.path();
  for (const auto& [image, reason] : {std::pair{missing, "无法打开"}, std::pair{folder, "不是普通文件 (是目录)"}}) {
    const CliRun r = Invoke({"flash", "--simulate", "boot", image});
    EXPECT_EQ(r.status, kExitFileError);
    EXPECT_NE(r.out.find("下载失败\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("镜像文件 '" + image + "': " + reason), std::string::npos) << r.out;
  }
}

TEST_F(Cli, AHexFileIsFlashedOnlyAtAnAddressItAgreesWith) {
  const std::string hex = dir_.path() + "/at2000.hex";
  const std::string make = std::string(TORVANE_SREC_CAT) + " " + App() + " -binary -offset 0x2000 -o " + hex + " -intel";
  ASSERT_EQ(std::system(make.c_str()), 0);
  struct Case {
    std::vector<std::string> options;
    std::string image;
    int status;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {{}, hex, kExitFileError, {"下载失败", "0x00002000", "App Address 0x00001000"}},
      {{"--address", "auto"}, hex, kExitOk, {"addr=0x00002000", "bytes=20000/20000"}},
      {{"--address", "0x2000"}, hex, kExitOk, {"addr=0x00002000"}},
      {{"--address", "3000"}, hex, kExitFileError, {"0x00002000", "0x00003000"}},
      {{"--address", "3000"}, App(), kExitOk, {"addr=0x00003000"}},
      {{"--address", "FFFFC000"}, App(), kExitFileError, {"数据超出 4 GiB", "0xFFFFC000"}},  // 20000 bytes
      {{"--address", "zz"}, App(), kExitUsage, {"--address"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"flash", "--simulate", "boot"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.image);
    const CliRun r = Invoke(args);
    EXPECT_EQ(r.status, c.status) << r.out;
    for (const std::string& text : c.said) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
}

TEST_F(Cli, OldBootloaderGetsTheBootUpdateFromBesideTheTool) {
  const CliRun r = Invoke({"flash", "--simulate", "oldboot", "/does/not/matter.bin"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("scheme=xor"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("bytes=12288/12288"), std::string::npos) << r.out;
}

TEST_F(Cli, WaitTakesADeviceThatArrivesLateAndGivesUpOnOneThatNeverDoes) {
  CliRun r = Invoke({"flash", "--wait", "10", "--simulate", "boot", "--simulate-arrival-ms", "400", App()});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("没有发现设备\n"), std::string::npos) << r.out;  // the first look found nothing
  r = Invoke({"flash", "--wait", "1", "--simulate", "boot", "--simulate-arrival-ms", "5000", App()});
  EXPECT_EQ(r.status, kExitNoDevice) << r.out;
}

TEST_F(Cli, InterruptCancelsBetweenFrames) {
  const CliRun r = Invoke({"flash", "--simulate", "boot,latency-us=3000", App()}, "正在下载: 2");
  EXPECT_EQ(r.status, kExitCancelled) << r.out;
  EXPECT_NE(r.out.find("下载失败"), std::string::npos);
  // The device saw only whole frames.
  EXPECT_NE(r.out.find("violations=0"), std::string::npos) << r.out;
}

TEST_F(Cli, EnterBootRestartsTheApplicationIntoItsBootloader) {
  const CliRun r = Invoke({"enter-boot", "--simulate", "app"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("进入烧录模式，等待设备重启\n设备等待烧录\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("发现一个可烧录设备"), std::string::npos) << r.out;
  EXPECT_EQ(Invoke({"enter-boot", "--simulate", "oldboot"}).status, kExitNoDevice);
}

TEST_F(Cli, ListShowsEveryInterfaceWithItsKind) {
  const CliRun r = Invoke({"list", "--simulate", "app", "--simulate", "boot", "--simulate", "oldboot"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("0534:0002  0001:0000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("application"), std::string::npos);
  EXPECT_NE(r.out.find("484F:5048"), std::string::npos);
  EXPECT_NE(r.out.find("old bootloader"), std::string::npos);
}

TEST_F(Cli, SeveralFlashableDevicesAreRefusedUntilOneIsSelected) {
  const std::vector<std::string> two = {"--simulate", "boot", "--simulate", "boot,serial=B2,port=1-1.2"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), two.begin(), two.end());
    return Invoke(args);
  };
  for (const std::vector<std::string>& command : {std::vector<std::string>{"flash", App()}, {"info"}}) {
    const CliRun r = with(command);
    EXPECT_EQ(r.status, kExitUsage) << command[0] << r.out;
    EXPECT_NE(r.out.find("2 devices match"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SIM-BOOT-0001"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1-1.2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("准备下载"), std::string::npos) << "nothing may be flashed";
  }
  EXPECT_EQ(Invoke({"enter-boot", "--simulate", "app", "--simulate", "app"}).status, kExitUsage);
  // Each way of selecting picks exactly one unit.
  for (std::vector<std::string> pick : {std::vector<std::string>{"--serial", "B2"}, {"--port", "1-1.2"},
                                        {"--path", "sim:hidraw1"}}) {
    pick.insert(pick.begin(), {"flash", App()});
    const CliRun r = with(pick);
    EXPECT_EQ(r.status, kExitOk) << pick[2] << r.out;
    EXPECT_EQ(Count(r.out, "simulated device:"), 1) << r.out;
    EXPECT_NE(r.out.find("COMPLETED"), std::string::npos) << r.out;
  }
  EXPECT_EQ(with({"flash", "--serial", "nobody", App()}).status, kExitNoDevice);
}

TEST_F(Cli, ListAndInfoSpeakJsonForScripts) {
  CliRun r = Invoke({"list", "--json", "--simulate", "app,serial=S\\,1", "--simulate", "boot,port=2-1"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out.front(), '[');
  EXPECT_NE(r.out.find(R"("serial":"S,1")"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("port":"2-1","serial":"SIM-BOOT-0002","vid_pid":"484F:5048")"), std::string::npos) << r.out;
  EXPECT_NE(Invoke({"list", "--simulate", "boot,port=2-1"}).out.find(" 2-1 "), std::string::npos);
  r = Invoke({"info", "--json", "--simulate", "boot,info=ZAVRO:0.2.9.0"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find(R"("info":"ZAVRO:0.2.9.0")"), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, "\n"), 1) << "one document: " << r.out;
  r = Invoke({"info", "--json", "--simulate", "boot,port=1-1", "--port", "1-2"});
  EXPECT_EQ(r.status, kExitNoDevice);
  EXPECT_EQ(r.out.rfind("{\"found\":false,\"error\":", 0), 0u) << r.out;
}

TEST_F(Cli, StationFlashesALineOfDevicesAndRecordsEachUnit) {
  const std::string record = dir_.path() + "/units.jsonl";
  CliRun r = Invoke({"station", App(), "--count", "3", "--record", record, "--simulate-arrivals",
                     "boot@0,oldboot@100,boot,silent-block=2,serial=BAD@200"});
  EXPECT_EQ(r.status, kExitUnitFailed) << r.out;
  EXPECT_NE(r.out.find("station: passed 2, failed 1"), std::string::npos) << r.out;
  std::ifstream in(record);
  std::string lines, line;
  int count = 0;
  for (; std::getline(in, line); ++count) lines += line + "\n";
  EXPECT_EQ(count, 3) << lines;
  EXPECT_NE(lines.find(R"("serial":"BAD")"), std::string::npos) << lines;

  // The first interrupt lets the running unit finish; nothing new starts.
  r = Invoke({"station", App(), "--record", record, "--simulate", "boot,latency-us=2000"}, "  flashing");
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("station: passed 1, failed 0"), std::string::npos) << r.out;

  r = Invoke({"station", App(), "--record", dir_.path() + "/no/such/dir/units.jsonl", "--simulate", "boot"});
  EXPECT_EQ(r.status, kExitFileError) << r.out;
  EXPECT_NE(r.out.find("record file not writable"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("simulated device"), std::string::npos) << "nothing may be flashed: " << r.out;
}

// Whatever ends a run, every unit taken has one final record, the counts
// agree with the records, and the exit status with the counts.
TEST_F(Cli, StationEndsEveryUnitWithARecordWhateverEndsTheRun) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* interrupt_on;  // empty: no signal
    int signal_number;
    int interrupts;
    int status;
    const char* summary;
    const char* final_result_name;
  };
  const std::vector<Case> cases = {
      {"a failed unit gone for good with an attempt left", {"--attempts", "2", "--count", "1",
       "--simulate", "boot,unplug-block=3"}, "", 0, 0, kExitUnitFailed, "passed 0, failed 1", "protocol-error"},
      {"Ctrl-C lets a unit on its way into its bootloader finish", {"--enter-boot", "--simulate", "app,restart-ms=400"},
       "waiting-boot", SIGINT, 1, kExitOk, "passed 1, failed 0", "ok"},
      {"a closed terminal does the same", {"--enter-boot", "--simulate", "app,restart-ms=400"}, "waiting-boot",
       SIGHUP, 1, kExitOk, "passed 1, failed 0", "ok"},
      {"SIGTERM cancels the flash, which is recorded", {"--simulate", "boot,latency-us=5000"}, "  flashing", SIGTERM,
       1, kExitUnitFailed, "passed 0, failed 1", "cancelled"},
      {"a second Ctrl-C fails the unit still on its way", {"--enter-boot", "--simulate", "app,restart-ms=2000"},
       "waiting-boot", SIGINT, 2, kExitUnitFailed, "passed 0, failed 1", "cancelled"},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string record = dir_.path() + "/signals-" + std::to_string(++run) + ".jsonl";
    std::vector<std::string> args = {"station", App(), "--record", record};
    args.insert(args.end(), c.args.begin(), c.args.end());
    // One unit in each case: a run whose signal finds no line to wait for
    // (a slow machine may never show a short phase) still ends.
    if (std::find(args.begin(), args.end(), "--count") == args.end()) args.insert(args.end(), {"--count", "1"});
    CliRunOptions options;
    options.interrupt_on = c.interrupt_on;
    options.signal_number = c.signal_number;
    options.interrupts = c.interrupts;
    if (c.interrupts > 1) options.interrupt_again_on = "station: no new units";
    const CliRun r = Invoke(args, options);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(std::string("station: ") + c.summary), std::string::npos) << r.out;
    std::ifstream in(record);
    std::string line, last_final;
    int finals = 0;
    while (std::getline(in, line)) {
      if (line.find("\"final\":true") == std::string::npos) continue;
      ++finals;
      last_final = line;
    }
    EXPECT_EQ(finals, 1) << "one unit, one final line";
    EXPECT_NE(last_final.find(std::string("\"result_name\":\"") + c.final_result_name + "\""), std::string::npos)
        << last_final;
  }
  EXPECT_NE(Invoke({"station", "--help"}).out.find("0 (the default) runs until Ctrl-C"), std::string::npos);
}

// A composite bootloader whose keyboard collection is listed first: every
// command reaches it on its own collection, as flash does.
TEST_F(Cli, CompositeBootloaderIsOpenedOnItsOwnCollectionByEveryCommand) {
  WriteIni("[Boot]\nUsage Page=FF00\nUsage=0001\n");
  const std::string composite = "boot,report-id=5,composite=1:9,composite-input=1,no-restart";
  const std::string record = dir_.path() + "/composite.jsonl";
  EXPECT_EQ(Invoke({"flash", App(), "--simulate", composite}).status, kExitOk);
  const CliRun info = Invoke({"info", "--json", "--simulate", composite});
  EXPECT_EQ(info.status, kExitOk) << info.out;
  EXPECT_NE(info.out.find("\"info_status\":0"), std::string::npos) << info.out;
  const CliRun station = Invoke({"station", App(), "--count", "1", "--record", record, "--simulate", composite});
  EXPECT_EQ(station.status, kExitOk) << station.out;
  std::ifstream in(record);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("\"result_name\":\"ok\""), std::string::npos) << line;
  // A report too short for a block: the record says so.
  const CliRun short_report =
      Invoke({"station", App(), "--count", "1", "--record", record, "--simulate", "boot,report-length=40"});
  EXPECT_EQ(short_report.status, kExitUnitFailed) << short_report.out;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("output report of 40 bytes is too short"), std::string::npos) << line;
}

TEST(SimArrivals, DevicesEndAtTheirArrivalTime) {
  std::vector<SimArrival> a;
  std::string error;
  ASSERT_TRUE(ParseSimArrivals("boot@0,boot@200,oldboot@400,boot,unplug-block=5@600,app", &a, &error)) << error;
  ASSERT_EQ(a.size(), 5u);
  const std::vector<std::pair<int, std::string>> want = {
      {0, "boot"}, {200, "boot"}, {400, "oldboot"}, {600, "boot,unplug-block=5"}, {600, "app"}};
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(a[i].delay_ms, want[i].first);
    EXPECT_EQ(a[i].text, want[i].second);
  }
  EXPECT_EQ(a[3].knobs.unplug_block, 5u);
  for (const char* bad : {"", "boot@0,", "boot@0,,boot", "boot@99999999999", "bogus@5", "boot@-1"}) {
    EXPECT_FALSE(ParseSimArrivals(bad, &a, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST_F(Cli, ConfigShowsDefaultsAndHandEditedValues) {
  CliRun r = Invoke({"config"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("(missing: defaults in use)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Boot/PID                       = 5048  (default)"), std::string::npos) << r.out;
  {
    std::ofstream ini(dir_.path() + "/Torvane.ini", std::ios::binary);
    ini << "\xEF\xBB\xBF; edited by hand\r\n[boot]\r\npid = 5049\r\n[Config]\r\nApp Address=8000\r\n";
  }
  r = Invoke({"config"});
  EXPECT_NE(r.out.find("Boot/PID                       = 5049  (file)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Config/App Address             = 00008000  (file)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Config/VID                     = 0534  (default)"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace torvane::cli
