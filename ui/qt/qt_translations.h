// Qt's own Chinese texts (Debian package qt6-translations-l10n), so that the
// standard dialogs and buttons (the file chooser's labels, Yes/No/OK/Cancel)
// speak the same language as the rest of the program, whatever the locale.
#pragma once

namespace torvane {

// Loads qtbase_zh_CN into the running application; false when the
// translation file is not installed (the standard texts stay English).
bool InstallQtChineseTranslations();

}  // namespace torvane
