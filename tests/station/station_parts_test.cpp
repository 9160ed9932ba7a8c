// The station's small parts: record lines, JSON text, checksums, the record file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "station/image_digest.h"
#include "station/json_text.h"
#include "station/record_file.h"
#include "station/unit_record.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

TEST(JsonText, QuotesEscapesAndRepairsText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", R"("plain")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"line\nend\t\x01", R"("line\u000aend\u0009\u0001")"},
      {"设备", "\"设备\""},
      {"bad\xFF" "byte", "\"bad\xEF\xBF\xBD" "byte\""},
      {"cut\xE8\xAE", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a UTF-16 surrogate is not UTF-8
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(JsonQuote(text), json) << text;
  EXPECT_EQ(JsonObject().Add("n", 3).Add("x", 0.5).Add("ok", true).AddNull("z").Text(),
            R"({"n":3,"x":0.500,"ok":true,"z":null})");
}

TEST(ImageDigest, MatchesKnownValues) {
  const std::string text = "123456789";
  const ImageDigest d = DigestBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  EXPECT_EQ(d.crc32, 0xCBF43926u);
  EXPECT_EQ(d.sha256, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225");
  EXPECT_EQ(DigestBytes(nullptr, 0).sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(UnitRecord, LineCarriesEveryFieldWithZoneTimes) {
  UnitRecord r;
  r.start = std::chrono::system_clock::from_time_t(1'800'000'000);
  r.end = r.start + std::chrono::milliseconds(1250);
  r.port = "1-1.2";
  r.serial = "S\"1";
  r.vendor_id = 0x484F;
  r.product_id = 0x5048;
  r.kind = DS_BOOT;
  r.result = 3;
  r.size = 20000;
  r.digest.crc32 = 0xAB;
  const std::string line = UnitRecordLine(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  for (const char* part : {R"("port":"1-1.2")", R"("serial":"S\"1")", R"("vid_pid":"484F:5048")",
                           R"("kind":"bootloader")", R"("result":3,"result_name":"protocol-error")",
                           R"("crc32":"000000ab")", R"("size":20000)"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
  const std::string start = IsoTimeWithZone(r.start);
  ASSERT_EQ(start.size(), 29u) << start;  // 2027-01-15T08:00:00.000+00:00
  EXPECT_EQ(start.substr(19, 4), ".000");
  EXPECT_TRUE(start[23] == '+' || start[23] == '-') << start;
  EXPECT_EQ(IsoTimeWithZone(r.end).substr(19, 4), ".250");
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RecordFile, RefusesWithoutBlockingWhatIsNoRecordFile) {
  testing::TempDir dir;
  const std::string image = dir.dir() + "app.bin", header = dir.dir() + "boot.hdr";
  WriteText(image, "firmware");
  WriteText(header, "header");
  ASSERT_EQ(mkfifo((dir.dir() + "fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink(image.c_str(), (dir.dir() + "link").c_str()), 0);
  ASSERT_EQ(link(header.c_str(), (dir.dir() + "hard").c_str()), 0);
  // A reader for the FIFO after a while, so an open that waits for one ends
  // (and shows in the time) instead of hanging the test.
  std::atomic<bool> done{false};
  std::thread unblock([&] {
    for (int i = 0; i < 40 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done) return;
    const int fd = open((dir.dir() + "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (fd >= 0) close(fd);
  });
  const struct {
    std::string path;
    RecordPathProblem problem;
    const char* says;
  } cases[] = {
      {"", RecordPathProblem::kEmpty, "empty"},
      {dir.dir() + "fifo", RecordPathProblem::kNotRegularFile, kRecordNotRegularText},
      {"/dev/null", RecordPathProblem::kNotRegularFile, kRecordNotRegularText},
      {dir.path(), RecordPathProblem::kNotRegularFile, kRecordNotRegularText},
      {image, RecordPathProblem::kInputFile, kRecordInputFileText},
      {dir.dir() + "link", RecordPathProblem::kInputFile, kRecordInputFileText},
      {dir.dir() + "hard", RecordPathProblem::kInputFile, kRecordInputFileText},
      {dir.dir() + "no/such/folder.jsonl", RecordPathProblem::kSystem, "No such file"},
      {dir.dir() + "new.jsonl", RecordPathProblem::kNone, ""},
  };
  for (const auto& c : cases) {
    const auto began = std::chrono::steady_clock::now();
    std::string check_error, open_error;
    const RecordPathProblem problem = CheckRecordPath(c.path, {image, "", header}, &check_error);
    RecordFile file;
    const bool opened = file.Open(c.path, &open_error, {image, "", header});
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1)) << c.path;
    // A missing folder is only found when the file is created.
    if (c.problem != RecordPathProblem::kSystem) {
      EXPECT_EQ(problem, c.problem) << c.path;
    }
    EXPECT_EQ(opened, c.problem == RecordPathProblem::kNone) << c.path;
    EXPECT_NE(open_error.find(c.says), std::string::npos) << c.path << ": " << open_error;
  }
  done = true;
  unblock.join();
  EXPECT_EQ(ReadAll(image), "firmware");
  EXPECT_EQ(ReadAll(header), "header");
}

TEST(RecordFile, EveryRecordStartsOnALineOfItsOwn) {
  testing::TempDir dir;
  const struct {
    std::string before, after;
  } cases[] = {
      {"", "{\"u\":2}\n"},
      {"{\"u\":1}\n", "{\"u\":1}\n{\"u\":2}\n"},
      {"{\"u\":1}\n{\"u\":", "{\"u\":1}\n{\"u\":\n{\"u\":2}\n"},  // torn by a crash
  };
  for (const auto& c : cases) {
    const std::string path = dir.dir() + "units.jsonl";
    WriteText(path, c.before);
    RecordFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, &error)) << error;
    ASSERT_TRUE(file.Append("{\"u\":2}", &error)) << error;
    EXPECT_EQ(ReadAll(path), c.after) << c.before;
  }
}

// A full disk, played by a file size limit: the write lands partly and the
// partial line is cut off again, leaving whole lines only.
TEST(RecordFile, ShortWriteIsCutBack) {
  testing::TempDir dir;
  const std::string path = dir.dir() + "units.jsonl";
  const std::string first = "{\"u\":1}\n";
  WriteText(path, first);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{first.size() + 40, first.size() + 40};
    RecordFile file;
    std::string error;
    if (!file.Open(path, &error) || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    if (file.Append(std::string(100, 'x'), &error)) _exit(11);
    _exit(error.find(kRecordCutBackText) != std::string::npos ? 0 : 12);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadAll(path), first);
}

// Another station holding the file's lock holds this append back.
TEST(RecordFile, AppendWaitsForTheFileLock) {
  testing::TempDir dir;
  const std::string path = dir.dir() + "units.jsonl";
  RecordFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  const int other = open(path.c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  std::thread append([&] { EXPECT_TRUE(file.Append("{\"u\":1}", &error)) << error; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ReadAll(path), "");
  flock(other, LOCK_UN);
  append.join();
  close(other);
  EXPECT_EQ(ReadAll(path), "{\"u\":1}\n");
}

TEST(RecordFile, ConcurrentWritersNeverInterleaveLines) {
  testing::TempDir dir;
  const std::string path = dir.dir() + "units.jsonl";
  constexpr int kWriters = 4, kLines = 200;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      RecordFile file;
      std::string error;
      if (!file.Open(path, &error)) _exit(1);
      const std::string line(3000 + w, static_cast<char>('a' + w));
      for (int i = 0; i < kLines; ++i) {
        if (!file.Append(line, &error)) _exit(2);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::ifstream in(path);
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.size(), 3000u + static_cast<size_t>(line[0] - 'a'));
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "interleaved line " << count;
  }
  EXPECT_EQ(count, kWriters * kLines);
}

}  // namespace
}  // namespace torvane
