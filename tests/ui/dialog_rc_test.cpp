// The Windows dialog templates (ui/win32/dialogs.rc) are the text generated
// from the control table every front end is built from. On a difference the
// expected text is written beside the test program; copy it over the file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ui/dialog_rc.h"

namespace torvane {
namespace {

TEST(DialogRc, ResourceScriptIsTheTableAsGenerated) {
  std::ifstream file(TORVANE_DIALOGS_RC, std::ios::binary);
  ASSERT_TRUE(file) << TORVANE_DIALOGS_RC;
  std::stringstream committed;
  committed << file.rdbuf();
  const std::string expected = DialogTemplatesRcText();
  if (committed.str() != expected) {
    std::ofstream("dialogs.rc.expected", std::ios::binary) << expected;
    FAIL() << TORVANE_DIALOGS_RC << " differs from the control table: see dialogs.rc.expected";
  }
}

TEST(DialogRc, EveryControlOfTheTableIsInTheScript) {
  const std::string text = DialogTemplatesRcText();
  EXPECT_NE(text.find("102 DIALOGEX 0,0,240,235"), std::string::npos);
  EXPECT_NE(text.find("PUSHBUTTON      \"开启烧录模式\",1005,22,89,60,16"), std::string::npos);
  EXPECT_NE(text.find("\"RICHEDIT50W\""), std::string::npos);
  EXPECT_NE(text.find("\"Torvane, Version \" TORVANE_VERSION"), std::string::npos) << text;
}

}  // namespace
}  // namespace torvane
