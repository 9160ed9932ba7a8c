// torvane-cli station --job: a production job run end to end on simulated
// units, what it refuses before any device is touched, and a run killed and
// started again.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/exit_codes.h"
#include "job/job_file.h"
#include "job/job_lock.h"
#include "tests/cli/cli_runner.h"
#include "text/json_reader.h"

namespace torvane::cli {
namespace {

using testing::PatternBytes;

// Serial numbers at App Address + 0x100, 8 ASCII characters.
constexpr const char* kReads = ",serial-at=1100:8:dec:SN";

class StationJobCli : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    image_ = dir_.Write("fw.bin", PatternBytes(4800));
    PreparedImage prepared;
    ASSERT_TRUE(PrepareImage({image_, ""}, CHECKSUM_CRC16, &prepared));
    sha_ = PreparedImageSha256(prepared);
    record_ = dir_.path() + "/units.jsonl";
  }
  // Four slots, a counter from SN001000; `job_extra` goes into [job],
  // `serial_extra` into [serial].
  std::string WriteJob(const std::string& job_extra = "", const std::string& serial_extra = "",
                       const std::string& sha = "") const {
    const std::string path = dir_.path() + "/job.ini";
    std::ofstream(path, std::ios::binary)
        << "[job]\nimage = fw.bin\nsha256 = " << (sha.empty() ? sha_ : sha) << "\ncount = 4\nrecord = units.jsonl\n"
        << job_extra << "[slots]\nbay-1 = 槽1\nbay-2 = 槽2\nbay-3 = 槽3\nbay-4 = 槽4\n"
        << "[serial]\naddress = 0x1100\nwidth = 8\nformat = dec\nprefix = SN\nstart = 1000\n" << serial_extra;
    return path;
  }
  std::vector<std::string> RecordLines() const {
    std::ifstream in(record_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Serial numbers of the passed units in the record.
  std::vector<std::string> PassedSerials() const {
    std::vector<std::string> serials;
    for (const std::string& line : RecordLines()) {
      JsonMembers m;
      std::string error;
      EXPECT_TRUE(ReadJsonObject(line, &m, &error)) << error;
      if (m["result_name"].text == "ok") serials.push_back(m["serial_number"].text);
    }
    return serials;
  }

  std::string image_;
  std::string sha_;
  std::string record_;
};

// The serial numbers the simulated devices read from what they received.
std::vector<std::string> DeviceSerials(const std::string& out) {
  std::vector<std::string> serials;
  const std::regex said(R"(simulated device \d+: .* serial=(\S+))");
  for (std::sregex_iterator it(out.begin(), out.end(), said), end; it != end; ++it) serials.push_back((*it)[1]);
  return serials;
}

TEST_F(StationJobCli, FlashesItsSlotsWithDistinctSerialsSkipsTheRestAndTheReportAgrees) {
  const std::string k = kReads;
  const CliRun r = Invoke({"station", "--job", WriteJob(), "--simulate-arrivals",
                           "boot,port=bay-1" + k + "@0,boot,port=bay-9" + k + "@0,boot,port=bay-2" + k +
                               "@0,boot,port=bay-3" + k + "@50,boot,port=bay-4" + k + "@100"});
  ASSERT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("port bay-9  skipped: port bay-9 is not in the job's slot map"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("4 / 4  passed 4"), std::string::npos) << r.out;
  std::vector<std::string> devices = DeviceSerials(r.out);
  std::sort(devices.begin(), devices.end());
  EXPECT_EQ(devices, (std::vector<std::string>{"SN001000", "SN001001", "SN001002", "SN001003"})) << r.out;
  std::vector<std::string> recorded = PassedSerials();
  std::sort(recorded.begin(), recorded.end());
  EXPECT_EQ(recorded, devices);
  for (const std::string& line : RecordLines()) EXPECT_NE(line.find(R"("slot":"槽)"), std::string::npos) << line;

  const CliRun report = Invoke({"report", record_, "--json"});
  ASSERT_EQ(report.status, kExitOk) << report.out;
  JsonMembers m;
  std::string error;
  ASSERT_TRUE(ReadJsonObject(report.out.substr(0, report.out.find('\n')), &m, &error)) << error << report.out;
  EXPECT_EQ(m["units"].number, 4);
  EXPECT_EQ(m["passed"].number, 4);
  EXPECT_EQ(m["serial_numbers"].text, R"(["SN001000","SN001001","SN001002","SN001003"])");
  EXPECT_EQ(m["duplicate_serial_numbers"].text, "[]");
}

TEST_F(StationJobCli, AJobProblemOrAConflictingOptionIsRefusedBeforeAnyDevice) {
  const std::string lock = "[lock]\npassword = " + MakeJobLockValue("pw", 1000) + "\n";
  struct Refusal {
    const char* what;
    std::string job_extra;
    std::string serial_extra;  // a locked job's [lock] follows its [serial]
    std::vector<std::string> args;
    std::string says;
  };
  const Refusal refusals[] = {
      {"another count", "", "", {"--count", "5"}, "job.ini:4: job.count: --count 5 differs from the job's 4"},
      {"another image", "", "", {App()}, "job.image: IMAGE " + App() + " differs"},
      {"enter-boot the job turns off",
       "enter_boot = no\n",
       "",
       {"--enter-boot"},
       "job.ini:6: job.enter_boot: --enter-boot differs from the job's no"},
      {"another record", "", "", {"--record", "other.jsonl"}, "job.record: --record other.jsonl differs"},
      {"a locked job's own value", "", lock, {"--count", "4"}, "job.count: the job is locked: --count cannot be given"},
      {"a locked job, a key it leaves", "", lock, {"--attempts", "1"}, "the job is locked: --attempts cannot be given"},
      {"the pin of another image", "", "", {}, "job.sha256: the image is not the pinned one"},
      {"an unknown key", "", "colour = red\n", {}, "job.ini:17: serial.colour"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    const bool pin = std::string(refusal.what).find("pin") != std::string::npos;
    const std::string job = WriteJob(refusal.job_extra, refusal.serial_extra, pin ? std::string(64, 'a') : "");
    std::vector<std::string> args = {"station", "--job", job, "--simulate", std::string("boot,port=bay-1") + kReads};
    args.insert(args.end(), refusal.args.begin(), refusal.args.end());
    const CliRun r = Invoke(args);
    EXPECT_EQ(r.status, kExitUsage) << r.out;
    EXPECT_NE(r.out.find(refusal.says), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("flashing"), std::string::npos) << "no device may be touched: " << r.out;
  }
  const CliRun r = Invoke({"station", "--simulate", "boot"});
  EXPECT_EQ(r.status, kExitUsage) << r.out;
  EXPECT_NE(r.out.find("IMAGE or --job FILE is required"), std::string::npos) << r.out;
}

TEST_F(StationJobCli, AKilledRunAndItsRestartNeverGiveASerialTwice) {
  const std::string job = WriteJob();
  const std::string k = kReads;
  // One unit passes at once, three are still in their flash when the tool
  // is killed.
  CliRunOptions kill;
  kill.interrupt_on = "port bay-1  passed";
  kill.signal_number = SIGKILL;
  const CliRun first = Invoke({"station", "--job", job, "--simulate-arrivals",
                               "boot,port=bay-1,latency-us=1000" + k + "@0,boot,port=bay-2,latency-us=5000" + k +
                                   "@0,boot,port=bay-3,latency-us=5000" + k + "@0,boot,port=bay-4,latency-us=5000" +
                                   k + "@0"},
                              kill);
  ASSERT_EQ(first.status, 128 + SIGKILL) << first.out;
  const std::vector<std::string> first_passed = PassedSerials();
  ASSERT_GE(first_passed.size(), 1u);
  std::set<std::string> reserved_before;
  {
    std::ifstream in(dir_.path() + "/job.ini.serials");
    const std::regex reserve(R"(^reserve \d+ unit \d+ (\S+)$)");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
      if (std::regex_match(line, m, reserve)) reserved_before.insert(m[1]);
    }
  }
  ASSERT_EQ(reserved_before.size(), 4u) << "every unit had its serial before its flash";

  const CliRun second = Invoke({"station", "--job", job, "--simulate-arrivals",
                                "boot,port=bay-1" + k + "@0,boot,port=bay-2" + k + "@0,boot,port=bay-3" + k +
                                    "@0,boot,port=bay-4" + k + "@0"});
  ASSERT_EQ(second.status, kExitOk) << second.out;
  for (const std::string& serial : DeviceSerials(second.out)) {
    EXPECT_EQ(reserved_before.count(serial), 0u) << serial << " was given before the kill";
  }
  // Units counted = units recorded; no serial in two passed units.
  const std::vector<std::string> passed = PassedSerials();
  EXPECT_EQ(passed.size(), first_passed.size() + 4);
  EXPECT_EQ(std::set<std::string>(passed.begin(), passed.end()).size(), passed.size());
  const CliRun report = Invoke({"report", record_});
  EXPECT_NE(report.out.find("Passed:            " + std::to_string(passed.size())), std::string::npos) << report.out;
  EXPECT_EQ(report.out.find("IN MORE THAN ONE UNIT"), std::string::npos) << report.out;
}

}  // namespace
}  // namespace torvane::cli
