// The yield report's figures from record lines: how a unit's lines count,
// and what happens to lines that are not record lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/yield_report.h"

namespace torvane {
namespace {

std::string Line(int unit, bool final, const char* result, int attempt = 1, double duration = 1.0,
                 const char* end = "2026-12-07T14:10:00.000+01:00", const char* serial = "") {
  char text[512];
  std::snprintf(text, sizeof(text),
                R"({"unit":%d,"end":"%s","serial":"%s","attempt":%d,"result":0,"result_name":"%s",)"
                R"("duration_s":%.3f,"detail":"","final":%s})",
                unit, end, serial, attempt, result, duration, final ? "true" : "false");
  return text;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

std::string Causes(const YieldReport& r) {
  std::string text;
  for (const auto& [cause, n] : r.failures_by_cause) text += cause + "=" + std::to_string(n) + " ";
  return text;
}

TEST(YieldReport, CountsEachUnitOnceByItsLastFinalLine) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    int units, passed, first_pass, retries, unfinished, bad;
    const char* causes;
  };
  const std::vector<Case> cases = {
      {"one pass", {Join({Line(1, true, "ok")})}, 1, 1, 1, 0, 0, 0, ""},
      {"passed on the second attempt",
       {Join({Line(1, false, "protocol-error"), Line(1, true, "ok", 2)})}, 1, 1, 0, 1, 0, 0, ""},
      {"a later final line without a flash decides",
       {Join({Line(1, false, "protocol-error"), Line(2, true, "ok"), Line(1, true, "no-application")})},
       2, 1, 1, 0, 0, 0, "no-application=1 "},
      {"failures most first",
       {Join({Line(1, true, "start-busy"), Line(2, true, "protocol-error"), Line(3, true, "protocol-error")})},
       3, 0, 0, 0, 0, 0, "protocol-error=2 start-busy=1 "},
      {"torn and foreign lines are skipped and counted",
       {Join({Line(1, true, "ok"), R"({"unit":2,"end":"2026-12)", R"({"version":2,"unit":3})", "garbage",
              R"({"unit":4,"final":"yes"})"}) + R"({"unit":5,"fin)"},
       1, 1, 1, 0, 0, 5, ""},
      {"the same number in two files is two units",
       {Join({Line(1, true, "ok")}), Join({Line(1, true, "protocol-error")})}, 2, 1, 1, 0, 0, 0,
       "protocol-error=1 "},
      {"a second run appended to the same file numbers again",
       {Join({Line(1, true, "ok"), Line(1, true, "ok")})}, 2, 2, 2, 0, 0, 0, ""},
      {"a unit without its final line is unfinished",
       {Join({Line(1, false, "protocol-error"), Line(2, true, "ok")})}, 1, 1, 1, 0, 1, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<RecordFileText> files;
    for (size_t i = 0; i < c.files.size(); ++i) files.push_back({"f" + std::to_string(i), c.files[i]});
    const YieldReport r = BuildYieldReport(files, {});
    EXPECT_EQ(r.units, c.units) << c.what;
    EXPECT_EQ(r.passed, c.passed) << c.what;
    EXPECT_EQ(r.failed, c.units - c.passed) << c.what;
    EXPECT_EQ(r.first_pass, c.first_pass) << c.what;
    EXPECT_EQ(r.retries, c.retries) << c.what;
    EXPECT_EQ(r.unfinished, c.unfinished) << c.what;
    EXPECT_EQ(r.BadLines(), c.bad) << c.what;
    EXPECT_EQ(Causes(r), c.causes) << c.what;
  }
}

TEST(YieldReport, BadLinesNameTheFirstLineAndWhy) {
  const YieldReport r =
      BuildYieldReport({{"a", Join({Line(1, true, "ok"), "", R"({"unit":2})", R"({"unit":2)"})}}, {});
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].lines, 3);
  EXPECT_EQ(r.files[0].bad_lines, 2);
  EXPECT_EQ(r.files[0].first_bad_line, 3);
  EXPECT_NE(r.files[0].first_bad_reason.find("final"), std::string::npos) << r.files[0].first_bad_reason;
}

TEST(YieldReport, DurationsHoursSerialsAndWindow) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 20; ++i) {
    // Units 1-10 end at 14:xx, 11-20 at 15:xx (+01:00); a retried unit's
    // durations add up.
    const std::string end = std::string("2026-12-07T") + (i <= 10 ? "14" : "15") + ":30:00.000+01:00";
    const std::string serial = "S" + std::to_string(i % 3);
    if (i == 20) lines.push_back(Line(i, false, "protocol-error", 1, 10.0, end.c_str(), serial.c_str()));
    lines.push_back(Line(i, true, "ok", i == 20 ? 2 : 1, i == 20 ? 10.0 : i, end.c_str(), serial.c_str()));
  }
  YieldReport r = BuildYieldReport({{"a", Join(lines)}}, {});
  EXPECT_DOUBLE_EQ(r.mean_duration_s, 10.5);
  EXPECT_DOUBLE_EQ(r.p95_duration_s, 19.0);
  ASSERT_EQ(r.units_per_hour.size(), 2u);
  EXPECT_EQ(r.units_per_hour[0], std::make_pair(std::string("2026-12-07T14:00+01:00"), 10));
  EXPECT_EQ(r.units_per_hour[1], std::make_pair(std::string("2026-12-07T15:00+01:00"), 10));
  EXPECT_EQ(r.serials, (std::vector<std::string>{"S0", "S1", "S2"}));

  // 14:30+01:00 is 13:30Z: since 14:00Z keeps the second hour only.
  YieldReportWindow window;
  ASSERT_TRUE(ParseRecordTime("2026-12-07T14:00Z", &*(window.since_ms = 0)));
  r = BuildYieldReport({{"a", Join(lines)}}, window);
  EXPECT_EQ(r.units, 10);
  EXPECT_EQ(r.outside_window, 10);
}

TEST(YieldReport, SerialNumbersWrittenAreThoseOfPassedFlashes) {
  // A failed attempt's serial number went back to the line (it is not in
  // the unit); a passed one is; one in two passed units is a duplicate.
  auto with_number = [](std::string line, const char* number) {
    return line.insert(line.size() - 1, std::string(R"(,"serial_number":")") + number + "\"");
  };
  const std::string text = Join({with_number(Line(1, false, "protocol-error"), "SN1"),
                                 with_number(Line(1, true, "ok", 2), "SN2"), with_number(Line(2, true, "ok"), "SN1"),
                                 with_number(Line(3, true, "protocol-error"), "SN3"), Line(4, true, "ok"),
                                 with_number(Line(5, true, "ok"), "SN2")});
  const YieldReport r = BuildYieldReport({{"a", text}}, {});
  EXPECT_EQ(r.serial_numbers, (std::vector<std::string>{"SN1", "SN2"}));
  EXPECT_EQ(r.duplicate_serial_numbers, (std::vector<std::string>{"SN2"}));
}

TEST(YieldReport, RecordTimes) {
  int64_t ms = 0;
  ASSERT_TRUE(ParseRecordTime("1970-01-01T01:00:01.250+01:00", &ms));
  EXPECT_EQ(ms, 1250);
  ASSERT_TRUE(ParseRecordTime("2000-03-01 00:00Z", &ms));
  EXPECT_EQ(ms, 951868800000);
  for (const char* bad : {"", "yesterday", "2026-13-01T00:00Z", "2026-02-29T00:00Z", "2026-12-07T14:00+1", "2026-12-07T14:00:00.Z"})
    EXPECT_FALSE(ParseRecordTime(bad, &ms)) << bad;
}

}  // namespace
}  // namespace torvane
