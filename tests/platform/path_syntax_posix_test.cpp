// Linux names: case counts when a path is compared with the executable's
// directory, and only a leading '/' makes a path absolute.
#include <gtest/gtest.h>

#include "platform/path_syntax.h"
#include "settings/app_paths.h"

namespace torvane {
namespace {

TEST(MakeAbsolutePath, PrefixComparisonIsCaseSensitive) {
  // A directory given relative shows the prefix rule on its own.
  EXPECT_EQ(MakeAbsolutePath("Rel/Dir/x.bin", "Rel/Dir/"), "Rel/Dir/x.bin");
  EXPECT_EQ(MakeAbsolutePath("rel/dir/x.bin", "Rel/Dir/"), "Rel/Dir/rel/dir/x.bin");
  // A name shorter than the directory is compared whole, so it is prefixed.
  EXPECT_EQ(MakeAbsolutePath("Rel/", "Rel/Dir/"), "Rel/Dir/Rel/");
  // A Windows drive name is a relative name here.
  EXPECT_EQ(MakeAbsolutePath("C:\\fw\\app.bin", "/opt/t/"), "/opt/t/C:\\fw\\app.bin");
  EXPECT_FALSE(platform::IsAbsolutePath("C:/fw"));
}

}  // namespace
}  // namespace torvane
