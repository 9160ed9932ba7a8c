// torvane-cli job check, lock and unlock on job files in a folder of their own.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cli/exit_codes.h"
#include "job/job_file.h"
#include "job/serial_journal.h"
#include "tests/cli/cli_runner.h"

namespace torvane::cli {
namespace {

using testing::PatternBytes;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class JobCli : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    image_ = dir_.Write("fw.bin", PatternBytes(256));
    PreparedImage prepared;
    ASSERT_TRUE(PrepareImage({image_, ""}, CHECKSUM_CRC16, &prepared));
    sha_ = PreparedImageSha256(prepared);
    dir_.Write("serials.txt", {'7', '\n', '8', '\n', '7', '\n'});
  }
  // Lines 1-7; the serial section's keys follow from line 8.
  std::string Job(const std::string& sha, const std::string& more = "") const {
    return "; line 3\r\n[job]\r\nname = 主板\r\nimage = fw.bin\r\nsha256 = " + sha +
           "\r\naddress = 8000000\r\ncount = 3\r\n" + more;
  }
  std::string WriteJob(const std::string& text) const {
    const std::string path = dir_.path() + "/job.ini";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  CliRun WithInput(std::vector<std::string> args, const std::string& input) {
    CliRunOptions options;
    options.input = input;
    return Invoke(std::move(args), options);
  }

  std::string image_;
  std::string sha_;
};

TEST_F(JobCli, CheckSummarisesAGoodJobAndCountsTheJournal) {
  const std::string job = WriteJob(Job(sha_, "[serial]\naddress = 0x80000F8\nwidth = 8\nformat = dec\nprefix = SN\n"
                                             "start = 1000\nstep = 5\nlast = 1020\n"));
  CliRun r = Invoke({"job", "check", job});
  ASSERT_EQ(r.status, kExitOk) << r.out;
  for (const std::string& said : {std::string("job:      主板\n"), "SHA-256:  " + sha_, std::string("image offset 0xF8"),
                                  std::string("counter from SN001000 step 5, 5 in all"), std::string("not started yet")}) {
    EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;
  }
  // Three serials used up by earlier runs, one left reserved by a run that
  // stopped: one is left for three units, and the check writes nothing.
  ProductionJob loaded;
  std::vector<JobProblem> problems;
  ASSERT_TRUE(LoadJobFile(job, &loaded, &problems));
  {
    std::string error;
    auto journal = SerialJournal::Open(*loaded.serial, &error);
    ASSERT_TRUE(journal) << error;
    for (uint64_t unit = 1; unit <= 4; ++unit) {
      SerialLease lease;
      ASSERT_TRUE(journal->Reserve(unit, &lease, &error)) << error;
      if (unit < 4) {
        ASSERT_TRUE(journal->Commit(lease, &error)) << error;
      }
    }
  }
  const std::string journal_before = ReadText(loaded.serial->journal_path);
  r = Invoke({"job", "check", job});
  EXPECT_EQ(ReadText(loaded.serial->journal_path), journal_before) << "a check leaves the journal as it was";
  EXPECT_EQ(r.status, kExitUsage) << r.out;
  EXPECT_NE(r.out.find("job.ini:7: job.count: 3 units, but only 1 serial is left"), std::string::npos) << r.out;
}

// Each refusal names the file, line and key; nothing else is printed.
TEST_F(JobCli, CheckRefusesABadJobByLineAndKey) {
  struct Case {
    std::string text;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {Job(sha_, "colour = red\n"), kExitUsage, "job.ini:8: job.colour: unknown key"},
      {Job(std::string(64, 'a')), kExitUsage,
       "job.ini:5: job.sha256: the image is not the pinned one: its SHA-256 is " + sha_},
      {Job(sha_, "[serial]\naddress = 0x80000FD\nwidth = 4\nformat = le\nstart = 1\n"), kExitUsage,
       "job.ini:9: serial.address: 0x080000FD...0x08000100 is not inside the image at 0x08000000...0x080000FF"},
      {Job(sha_, "[serial]\naddress = 0x8000000\nwidth = 1\nformat = le\nlist = serials.txt\n"), kExitUsage,
       "job.ini:12: serial.list: serials.txt:3: \"7\" is there already (line 1)"},
      {Job(sha_, "[serial]\naddress = 0x8000000\nwidth = 1\nformat = le\nstart = 1\njournal = fw.bin\n"), kExitUsage,
       "job.ini:13: serial.journal: the same file as"},
      {Job(sha_, "[serial]\naddress = 0x8000000\nwidth = 1\nformat = le\nstart = 1\njournal = serials.txt\n"),
       kExitUsage, "job.ini:13: serial.journal: "},
  };
  for (const Case& c : cases) {
    const CliRun r = Invoke({"job", "check", WriteJob(c.text)});
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(r.out.rfind(dir_.path() + "/" + c.said, 0), 0u) << c.said << "\n" << r.out;
  }
  EXPECT_EQ(Invoke({"job", "check", dir_.path() + "/none.ini"}).status, kExitFileError);
  // A job not pinned yet is told the digest to pin.
  const CliRun r = Invoke({"job", "check", WriteJob(Job("12"))});
  EXPECT_NE(r.out.find("job.ini:5: job.sha256: \"12\" is not 64 hex digits\nthe image's SHA-256, to pin it: sha256 = " + sha_),
            std::string::npos) << r.out;
}

TEST_F(JobCli, LockAndUnlockKeepTheRestOfTheFile) {
  const std::string original = Job(sha_, "[slots]\n1-1.2 = 槽3 ; left\n");
  const std::string job = WriteJob(original);
  CliRun r = WithInput({"job", "lock", job}, "");
  EXPECT_EQ(r.status, kExitUsage) << r.out;
  ASSERT_EQ(WithInput({"job", "lock", job}, "班长\n").status, kExitOk);
  const std::string locked = ReadText(job);
  EXPECT_EQ(locked.rfind(original + "[lock]\r\npassword = pbkdf2-sha256$200000$", 0), 0u) << locked;
  r = Invoke({"job", "check", job});
  EXPECT_NE(r.out.find("lock:     locked"), std::string::npos) << r.out;

  // Another lock takes the current password first; a wrong one changes nothing.
  EXPECT_EQ(WithInput({"job", "lock", job}, "班长2\nnew\n").status, kExitUsage);
  EXPECT_EQ(WithInput({"job", "unlock", job}, "班\n").status, kExitUsage);
  EXPECT_EQ(ReadText(job), locked);
  ASSERT_EQ(WithInput({"job", "lock", job}, "班长\nnew\n").status, kExitOk);
  EXPECT_NE(ReadText(job), locked);
  EXPECT_EQ(WithInput({"job", "unlock", job}, "new\n").status, kExitOk);
  EXPECT_EQ(ReadText(job), original);
  EXPECT_EQ(WithInput({"job", "unlock", job}, "new\n").status, kExitUsage);  // not locked
}

}  // namespace
}  // namespace torvane::cli
