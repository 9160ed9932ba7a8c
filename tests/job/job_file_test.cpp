#include "job/job_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/serial_value.h"
#include "platform/utf8_path.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::PatternBytes;
using testing::TempDir;

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

const char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST(JobFile, ReadsAGoodJob) {
  TempDir dir;
  dir.Write("fw.bin", PatternBytes(64));
  dir.Write("serials.txt", Text("# first batch\r\nSN0007\r\n\r\nSN000a\n"));
  const std::string path = dir.Write(
      "line.ini",
      Text("\xEF\xBB\xBF[Job]\nName = \"主板 A2 ; 量产\"  ; quoted\nimage = fw.bin\nSHA256 = " + std::string(kSha) +
           "\naddress = 0x08004000\ncount = 2\nattempts = 3\nenter_boot = yes\nenter_boot_wait = 9\n"
           "record = out/../line.jsonl\n[slots]\n1-1.2 = 槽3\n1-1.3 = 槽4\n"
           "[serial]\naddress = 8004010\nwidth = 6\nformat = hex\nprefix = SN\nlist = serials.txt\n"));
  ProductionJob job;
  std::vector<JobProblem> problems;
  ASSERT_TRUE(LoadJobFile(path, &job, &problems)) << JobProblemText(path, problems.front());
  EXPECT_EQ(job.name, "主板 A2 ; 量产");
  // As paths: Windows writes its own separator.
  const auto in_dir = [&](const char* name) { return platform::PathFromUtf8(dir.path() + "/" + name); };
  EXPECT_EQ(platform::PathFromUtf8(job.image_path), in_dir("fw.bin"));
  EXPECT_EQ(platform::PathFromUtf8(job.record_path), in_dir("line.jsonl"));
  EXPECT_EQ(job.address, "0x08004000");
  EXPECT_EQ(job.count, 2);
  EXPECT_EQ(job.attempts, 3);
  EXPECT_TRUE(job.enter_boot);
  EXPECT_EQ(job.enter_boot_wait_s, 9);
  EXPECT_EQ(job.slot_map.at("1-1.3"), "槽4");
  ASSERT_TRUE(job.serial);
  EXPECT_EQ(job.serial->address, 0x08004010u);
  EXPECT_EQ(job.serial->list_values, (std::vector<std::string>{"SN0007", "SN000a"}));
  EXPECT_EQ(platform::PathFromUtf8(job.serial->journal_path), in_dir("line.ini.serials"));
  EXPECT_EQ(job.key_lines.at("job.sha256"), 4);
  EXPECT_FALSE(job.lock);
}

// Each bad file gives (at least) this problem, with its line and key.
TEST(JobFile, RefusesEachProblemByLineAndKey) {
  const std::string head = "[job]\nimage = fw.bin\nsha256 = " + std::string(kSha) + "\n";  // lines 1-3
  const std::string serial = "count = 5\n[serial]\naddress = 0x100\n";                     // lines 4-6
  struct Case {
    std::string text;
    int line;
    const char* key;
    const char* reason;  // part of the reason
  };
  const Case cases[] = {
      {head + "colour = red\n", 4, "job.colour", "unknown key"},
      {head + "[extra]\n", 4, "", "unknown section [extra]"},
      {head + "count = 1\nCount = 2\n", 5, "job.count", "given again (first on line 4)"},
      {head + "count = -1\n", 4, "job.count", "not a whole number"},
      {head + "attempts = 0\n", 4, "job.attempts", "from 1 to 1000"},
      {head + "address = 0x1_000\n", 4, "job.address", "expected auto or a hexadecimal address"},
      {head + "enter_boot = maybe\n", 4, "job.enter_boot", "expected yes or no"},
      {head + "record = nowhere/r.jsonl\n", 4, "job.record", "no folder"},
      {"[job]\nimage = none.bin\nsha256 = " + std::string(kSha) + "\n", 2, "job.image", "no such file"},
      {"[job]\nimage = fw.bin\n", 1, "job.sha256", "missing"},
      {"[job]\nimage =\nsha256 = " + std::string(kSha) + "\n", 2, "job.image", "empty"},
      {"[job]\nimage = fw.bin\nsha256 = 12ab\n", 3, "job.sha256", "not 64 hex digits"},
      {head + "this line\n", 4, "", "not a \"key = value\" line"},
      {head + "[slots]\n1-1 = A\n1-2 = A\n", 6, "slots.1-2", "slot name \"A\" given again"},
      {head + serial + "width = 2\nformat = le\nstart = 65000\nlast = 70000\n", 7, "serial.width",
       "2 bytes cannot hold serial.last 70000 in le"},
      {head + serial + "width = 4\nformat = dec\nprefix = SN\nstart = 100\n", 7, "serial.width",
       "2 digits cannot hold serial.start 100 in dec"},
      {head + serial + "width = 9\nformat = be\nstart = 1\n", 7, "serial.width", "be takes 1 to 8 bytes"},
      {head + serial + "width = 2\nformat = dec\nprefix = SN\nstart = 1\n", 7, "serial.width", "dec takes 3 to 64"},
      {head + serial + "width = 4\nformat = le\nstart = 1\nstep = 0\n", 10, "serial.step", "0: every unit"},
      {head + serial + "width = 4\nformat = le\nstart = 1\nlist = s.txt\n", 9, "serial.start", "keep one source"},
      {head + serial + "width = 4\nformat = le\nprefix = SN\nstart = 1\n", 9, "serial.prefix", "only dec and hex"},
      {head + serial + "width = 4\nformat = dec\nprefix = S\xC3\xA9\nstart = 1\n", 9, "serial.prefix",
       "not printable ASCII"},
      {head + serial + "width = 4\nformat = bcd\nstart = 1\n", 8, "serial.format", "expected le, be, dec or hex"},
      {head + serial + "width = 4\nformat = le\n", 5, "serial.start", "missing"},
      {head + serial + "width = 4\nformat = le\nstart = 1\nlast = 3\n", 4, "job.count",
       "5 units, but the serial source holds 3"},
      {head + "[serial]\naddress = 0x100\nwidth = 4\nformat = le\nstart = 1\n", 4, "job.count", "needs count = 1"},
      {head + serial + "width = 4\nformat = dec\nlist = dup.txt\n", 9, "serial.list",
       "dup.txt:3: \"0012\" is there already (line 1)"},
      {head + serial + "width = 4\nformat = le\nlist = dup.txt\n", 9, "serial.list",
       "dup.txt:4: \"0x0C\" is there already (line 1)"},
      {head + serial + "width = 2\nformat = dec\nlist = dup.txt\n", 9, "serial.list", "dup.txt:1: \"0012\" is not 2"},
      {head + serial + "width = 4\nformat = le\nlist = empty.txt\n", 9, "serial.list", "holds no serial numbers"},
      {head + serial + "width = 4\nformat = le\nlist = gone.txt\n", 9, "serial.list", "no such file"},
      {head + serial + "width = 4\nformat = le\nstart = 1\njournal = line.ini\n", 10, "serial.journal",
       "would overwrite the job file"},
      {head + "[lock]\npassword = pbkdf2-sha256$999$00112233445566778899$00\n", 5, "lock.password",
       "iterations must be"},
      {head + "[lock]\npassword = hunter2\n", 5, "lock.password", "expected pbkdf2-sha256$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TempDir dir;
    dir.Write("fw.bin", PatternBytes(64));
    dir.Write("dup.txt", Text("0012\n0013\n0012\n0x0C\n"));
    dir.Write("empty.txt", Text("# none yet\n\n"));
    const std::string path = dir.Write("line.ini", Text(c.text));
    ProductionJob job;
    std::vector<JobProblem> problems;
    EXPECT_FALSE(LoadJobFile(path, &job, &problems));
    bool found = false;
    std::string all;
    for (const JobProblem& p : problems) {
      all += JobProblemText("line.ini", p) + "\n";
      found |= p.line == c.line && p.key == c.key && p.reason.find(c.reason) != std::string::npos;
    }
    EXPECT_TRUE(found) << all;
  }
}

TEST(JobFile, ImageAgainstItsPin) {
  TempDir dir;
  dir.Write("fw.bin", PatternBytes(64));
  PreparedImage image;
  ASSERT_TRUE(PrepareImage({dir.path() + "/fw.bin", ""}, CHECKSUM_CRC16, &image));
  const std::string sha = PreparedImageSha256(image);
  ASSERT_EQ(sha.size(), 64u);
  struct Case {
    std::string sha;
    uint32_t serial_address;
    bool ok;
    uint32_t offset;
    std::string reason;
  };
  const Case cases[] = {
      {sha, 0x1000, true, 0, ""},
      {sha, 0x103C, true, 0x3C, ""},
      {sha, 0x103D, false, 0, "0x0000103D...0x00001040 is not inside the image at 0x00001000...0x0000103F"},
      {sha, 0x0FFF, false, 0, "is not inside"},
      {kSha, 0x1000, false, 0, "its SHA-256 is " + sha + ", the job pins " + kSha},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial_address);
    ProductionJob job;
    job.sha256 = c.sha;
    job.key_lines["job.sha256"] = 3;
    job.serial.emplace();
    job.serial->address = c.serial_address;
    job.serial->width = 4;
    uint32_t offset = 99;
    std::vector<JobProblem> problems;
    EXPECT_EQ(CheckJobImage(job, image, 0x1000, &offset, &problems), c.ok);
    if (c.ok) {
      EXPECT_EQ(offset, c.offset);
    } else {
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos) << problems[0].reason;
      EXPECT_EQ(problems[0].line, problems[0].key == "job.sha256" ? 3 : 0);
    }
  }
}

}  // namespace
}  // namespace torvane
