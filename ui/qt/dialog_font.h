// The fonts the dialogs are shown in. The templates name Windows fonts
// ("Microsoft Sans Serif" 12 pt, "MS Shell Dlg" 8 pt) that Linux systems do
// not have; WenQuanYi Micro Hei stands in for both: it holds the Latin and
// the Chinese glyphs of every caption in one face, and its character cell
// at these sizes matches the Windows fonts' (9 x 19 and 6 x 13 pixels at
// 96 dpi), so the dialogs keep their template proportions.
#pragma once

#include <QFont>

#include "ui/dialog_units.h"

namespace torvane {

// Families tried in order; the first one installed gives the metrics.
QStringList DialogFontFamilies();

QFont MainDialogFont();   // stands in for the main window's template font
QFont AboutDialogFont();  // stands in for the About box's template font

// The base units of a font as the dialog's platform measures them.
DialogBaseUnits DialogBaseUnitsOf(const QFont& font);

}  // namespace torvane
