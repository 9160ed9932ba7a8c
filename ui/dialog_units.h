// Dialog units: window templates give positions and sizes in units of a
// quarter of the dialog font's average character width (horizontally) and
// an eighth of its character height (vertically). This converts them to
// pixels the way the template's platform does (each toolkit measures its
// font's base units), rounding as MulDiv does.
#pragma once

namespace torvane {

// A rectangle in dialog units: left, top, width, height.
struct DialogRect {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
};

// The dialog font's base units in pixels: average character width (over
// "A".."Z" and "a".."z", rounded) and character height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// a * b / c rounded to the nearest integer, halves away from zero; 0 when
// c is 0.
int MulDiv(int a, int b, int c);

int DialogUnitsToPixelsX(int units, DialogBaseUnits base);
int DialogUnitsToPixelsY(int units, DialogBaseUnits base);

}  // namespace torvane
