#include "text/ini_lines.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

// Each text as "line:section.key=value" entries and "line!reason" errors.
TEST(IniLines, EntriesAndErrorsByLine) {
  const struct {
    const char* text;
    const char* read;
  } cases[] = {
      {"\xEF\xBB\xBF[a]\r\nk = v \r\n", "2:a.k=v "},
      {"[a] ; note\rk=v;w\r\n# c\n; c\n\nj = x # y\n", "2:a.k=v;w 6:a.j=x "},
      {"[a]\nk = \"x ; y\"  ; z\nj = \" q \"\n", "2:a.k=x ; y 3:a.j= q  "},
      {"k = before\n[ s p ]\nk=\n", "1:.k=before 3:s p.k= "},
      {"[a\n[]\nno equals\n = v\nk = \"open\nk = \"x\" y\n",
       "1!not a section header: [a 2!not a section header: [] 3!not a \"key = value\" line: no equals "
       "4!a value without a key 5!k: the value's quote is not closed 6!k: text after the value's closing quote "},
      {"[a]\nk = \xC3\n\xE4\xB8\xAD = \xE6\x96\x87\nz = \xED\xA0\x80\n", "3:a.中=文 2!not UTF-8 text 4!not UTF-8 text "},
  };
  for (const auto& c : cases) {
    const IniLines ini = ReadIniLines(c.text);
    std::string read;
    for (const auto& e : ini.entries) read += std::to_string(e.line) + ":" + e.section + "." + e.key + "=" + e.value + " ";
    for (const auto& e : ini.errors) read += std::to_string(e.line) + "!" + e.reason + " ";
    EXPECT_EQ(read, c.read) << c.text;
  }
}

}  // namespace
}  // namespace torvane
