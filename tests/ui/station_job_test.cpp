// A job in the station window, whatever toolkit draws it: its problems
// keep it closed, and a locked job's setup is the job's until the admin
// password is given.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/ui/job_files.h"
#include "ui/station_job.h"

namespace torvane {
namespace {

TEST(StationJob, ProblemsKeepItClosedAndALockKeepsItsSetupUntilThePassword) {
  testing::TempDir dir;
  const std::string image = dir.Write("fw.bin", testing::PatternBytes(4096));
  StationJob job;
  std::vector<std::string> problems;
  EXPECT_FALSE(job.Open(testing::WriteJobFile(image, "bad.ini", "count = many\ncolour = red\n"), &problems));
  ASSERT_EQ(problems.size(), 2u) << problems[0] << "\n" << problems[1];
  EXPECT_NE(problems[0].find("bad.ini:4: job.count: "), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("bad.ini:5: job.colour: "), std::string::npos) << problems[1];
  EXPECT_FALSE(job.Loaded());

  ASSERT_TRUE(job.Open(testing::WriteJobFile(image, "line.ini", "name = 主板 A2\ncount = 5\nrecord = line.jsonl\n", "",
                                             "secret"),
                       &problems))
      << problems.front();
  EXPECT_EQ(job.Text(), "作业: 主板 A2 (line.ini)   已锁定");
  struct Field {
    JobField field;
    bool fixed;
  };
  const Field fields[] = {{JobField::kImage, true},     {JobField::kCount, true},   {JobField::kRecord, true},
                          {JobField::kAttempts, false}, {JobField::kAddress, false}, {JobField::kEnterBoot, false}};
  const auto options = [&] {
    StationSession::RunOptions o;
    o.count = 99;
    o.attempts = 3;
    o.record_path = "mine.jsonl";
    job.Apply(&o);
    return o;
  };
  for (const Field& f : fields) EXPECT_EQ(job.Editable(f.field), !f.fixed) << static_cast<int>(f.field);
  EXPECT_EQ(options().count, 5);
  EXPECT_TRUE(options().record_path.ends_with("line.jsonl")) << options().record_path;
  EXPECT_EQ(options().attempts, 3);
  EXPECT_TRUE(options().image_path.ends_with("fw.bin")) << options().image_path;
  EXPECT_EQ(options().job, job.Job());

  EXPECT_FALSE(job.Unlock("Secret"));
  EXPECT_TRUE(job.Locked());
  EXPECT_TRUE(job.Unlock("secret"));
  EXPECT_EQ(job.Text(), "作业: 主板 A2 (line.ini)   已解锁");
  for (const Field& f : fields) EXPECT_TRUE(job.Editable(f.field));
  EXPECT_EQ(options().count, 99);
  EXPECT_EQ(options().record_path, "mine.jsonl");

  // A job that cannot be opened leaves the open one as it was.
  EXPECT_FALSE(job.Open(dir.path() + "/missing.ini", &problems));
  EXPECT_EQ(problems.size(), 1u);
  EXPECT_EQ(job.Text(), "作业: 主板 A2 (line.ini)   已解锁");
}

}  // namespace
}  // namespace torvane
