#include "ui/dialog_units.h"

namespace torvane {

int MulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const long long product = static_cast<long long>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const long long magnitude_num = product < 0 ? -product : product;
  const long long magnitude_den = c < 0 ? -static_cast<long long>(c) : c;
  const long long rounded = (magnitude_num * 2 + magnitude_den) / (magnitude_den * 2);
  return static_cast<int>(negative ? -rounded : rounded);
}

int DialogUnitsToPixelsX(int units, DialogBaseUnits base) { return MulDiv(units, base.x, 4); }

int DialogUnitsToPixelsY(int units, DialogBaseUnits base) { return MulDiv(units, base.y, 8); }

}  // namespace torvane
