// One JSON object of one line: what is read, and what is refused.
#include <gtest/gtest.h>

#include "text/json_reader.h"

namespace torvane {
namespace {

TEST(JsonReader, ReadsTheMembersOfOneObject) {
  JsonMembers m;
  std::string error;
  ASSERT_TRUE(ReadJsonObject(
      R"( {"s":"a\"\\\/\n\u00e9\ud83d\ude00\ud800","n":-1.5e2,"t":true,"f":false,"z":null,"o":{"a":[1,{}]},"e":[]} )",
      &m, &error))
      << error;
  EXPECT_EQ(m["s"].text, "a\"\\/\n\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
  EXPECT_EQ(m["n"].number, -150);
  EXPECT_TRUE(m["t"].boolean);
  EXPECT_EQ(m["f"].kind, JsonValue::kBool);
  EXPECT_EQ(m["z"].kind, JsonValue::kNull);
  EXPECT_EQ(m["o"].text, R"({"a":[1,{}]})");
  EXPECT_EQ(m["e"].kind, JsonValue::kArray);
  ASSERT_TRUE(ReadJsonObject("{}", &m, &error));
  EXPECT_TRUE(m.empty());
}

TEST(JsonReader, RefusesWhatIsNotExactlyOneObject) {
  for (const char* bad : {"", "[1]", "\"x\"", R"({"a":1)", R"({"a":"b)", R"({"a":1}x)", R"({"a":1}{"b":2})",
                          R"({"a":01})", R"({"a":1.})", R"({"a":-})", R"({"a":tru})", R"({a:1})", R"({"a":1,})",
                          R"({"a":"\x"})", R"({"a":"\u12"})", "{\"a\":\"\t\"}", R"({"a":1,"a":2})",
                          R"({"a":[1,]})", R"({"a":1e999})", R"({"a":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]})"}) {
    JsonMembers m;
    std::string error;
    EXPECT_FALSE(ReadJsonObject(bad, &m, &error)) << bad;
    EXPECT_NE(error.find(" at byte "), std::string::npos) << bad;
    EXPECT_TRUE(m.empty()) << bad;
  }
}

}  // namespace
}  // namespace torvane
