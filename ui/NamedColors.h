#pragma once

#include <QColor>

namespace qav {

// The colours the windows are described in by name. They are the classic 16-colour palette of
// the platform the suite's windows were drawn on, where "green" is (0, 128, 0) and the bright
// green is "lime"; Qt's own Qt::green is that lime, so windows take their colours from here.
enum class TNamedColor {
  Black,
  Maroon,
  Green,
  Olive,
  Navy,
  Purple,
  Teal,
  Grey,
  Silver,
  Red,
  Lime,
  Yellow,
  Blue,
  Fuchsia,
  Aqua,
  White,
};

QColor NamedColor(TNamedColor name);

}  // namespace qav
