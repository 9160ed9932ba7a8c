// The dialog templates of dialog_template.h written as resource-script text
// (DIALOGEX), for the Windows front end's resources: ui/win32/dialogs.rc is
// this text, and a test keeps the two equal, so the native dialog and the
// table every front end is built from cannot drift apart.
#pragma once

#include <string>

namespace torvane {

// The resource script of dialogs 102 and 100. A caption that ends in the
// program's version names TORVANE_VERSION instead, so the script follows
// the version.
std::string DialogTemplatesRcText();

}  // namespace torvane
