// Windows names: drive, UNC and rooted paths are absolute; the executable's
// directory is matched without regard to letter case or slash direction.
#include <gtest/gtest.h>

#include "platform/path_syntax.h"
#include "settings/app_paths.h"

namespace torvane {
namespace {

TEST(PathSyntax, AbsoluteNames) {
  struct Case {
    const char* path;
    bool absolute;
  } cases[] = {{"C:\\fw\\app.bin", true}, {"c:/fw/app.bin", true}, {"\\\\server\\share\\a.bin", true},
               {"\\fw\\a.bin", true},     {"/fw/a.bin", true},     {"C:app.bin", false},
               {"app.bin", false},        {"fw\\app.bin", false},  {"", false}};
  for (const Case& c : cases) EXPECT_EQ(platform::IsAbsolutePath(c.path), c.absolute) << c.path;
}

TEST(MakeAbsolutePath, PrefixComparisonIgnoresCaseAndSlashes) {
  const char* dir = "C:\\Program Files\\Torvane\\";
  EXPECT_EQ(MakeAbsolutePath("Torvane.ini", dir), "C:\\Program Files\\Torvane\\Torvane.ini");
  EXPECT_EQ(MakeAbsolutePath("D:\\fw\\app.bin", dir), "D:\\fw\\app.bin");
  EXPECT_EQ(MakeAbsolutePath("Rel\\Dir\\x.bin", "rel/dir/"), "Rel\\Dir\\x.bin");
  EXPECT_EQ(MakeAbsolutePath("Rel\\", "Rel\\Dir\\"), "Rel\\Dir\\Rel\\");
}

}  // namespace
}  // namespace torvane
