#include "ui/qt/dialog_font.h"

#include <QFontMetrics>
#include <QStringList>

#include "ui/dialog_template.h"

namespace torvane {

QStringList DialogFontFamilies() {
  return {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("Noto Sans SC"), QStringLiteral("Droid Sans Fallback"),
          QStringLiteral("DejaVu Sans")};
}

namespace {

QFont DialogFont(int points) {
  QFont font;
  font.setFamilies(DialogFontFamilies());
  font.setPointSize(points);
  font.setWeight(QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace

QFont MainDialogFont() { return DialogFont(kMainDialogFontPoints); }

QFont AboutDialogFont() { return DialogFont(kAboutDialogFontPoints); }

DialogBaseUnits DialogBaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet_width =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // Average over the 52 letters, rounded to the nearest pixel.
  return DialogBaseUnits{(alphabet_width / 26 + 1) / 2, metrics.height()};
}

}  // namespace torvane
