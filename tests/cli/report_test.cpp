// torvane-cli report against the record file a station run wrote.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "cli/exit_codes.h"
#include "text/json_reader.h"
#include "tests/cli/cli_runner.h"

namespace torvane::cli {
namespace {

TEST_F(Cli, ReportAgreesWithTheStationsRecord) {
  const std::string record = dir_.path() + "/units.jsonl";
  const CliRun station = Invoke({"station", App(), "--count", "3", "--record", record, "--simulate-arrivals",
                                 "boot,serial=A1@0,boot,serial=A2@100,boot,silent-block=2,serial=BAD@200"});
  ASSERT_EQ(station.status, kExitUnitFailed) << station.out;

  // What the record itself says: units by final line, the passed ones, serials.
  int finals = 0, passed = 0;
  std::set<std::string> serials;
  {
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) {
      JsonMembers m;
      std::string error;
      ASSERT_TRUE(ReadJsonObject(line, &m, &error)) << error << ": " << line;
      if (!m["final"].boolean) continue;
      ++finals;
      passed += m["result_name"].text == "ok";
      serials.insert(m["serial"].text);
    }
  }
  ASSERT_EQ(finals, 3);
  std::ofstream(record, std::ios::app) << R"({"unit":7,"final":tr)";  // a line torn by a crash

  CliRun r = Invoke({"report", record, "--json"});
  ASSERT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("1 line skipped"), std::string::npos) << "said on standard error too: " << r.out;
  const std::string json = r.out.substr(r.out.find("{\"files\""));
  JsonMembers m;
  std::string error;
  ASSERT_TRUE(ReadJsonObject(json.substr(0, json.find('\n')), &m, &error)) << error << ": " << json;
  EXPECT_EQ(m["units"].number, finals);
  EXPECT_EQ(m["passed"].number, passed);
  EXPECT_EQ(m["failed"].number, finals - passed);
  EXPECT_EQ(m["bad_lines"].number, 1);
  EXPECT_NE(m["failures_by_cause"].text.find(R"({"cause":"protocol-error","units":1})"), std::string::npos);
  std::string expected_serials;
  for (const auto& s : serials) expected_serials += (expected_serials.empty() ? "[\"" : ",\"") + s + "\"";
  EXPECT_EQ(m["serials"].text, expected_serials + "]");

  // Two stations' files at once; a window that leaves everything out.
  std::filesystem::copy_file(record, dir_.path() + "/second.jsonl");
  r = Invoke({"report", record, dir_.path() + "/second.jsonl"});
  EXPECT_EQ(r.status, kExitOk) << r.out;
  EXPECT_NE(r.out.find("Units:             6\n"), std::string::npos) << r.out;
  r = Invoke({"report", record, "--since", "2999-01-01T00:00Z"});
  EXPECT_NE(r.out.find("Units:             0 (3 more outside --since/--until)"), std::string::npos) << r.out;

  EXPECT_EQ(Invoke({"report", dir_.path() + "/missing.jsonl"}).status, kExitFileError);
  EXPECT_EQ(Invoke({"report", record, "--until", "yesterday"}).status, kExitUsage);
}

}  // namespace
}  // namespace torvane::cli
