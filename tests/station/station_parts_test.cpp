// The station's small parts: record lines, JSON text, checksums, the record file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

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
