#include "ui/NamedColors.h"

#include <iterator>

namespace qav {

namespace {

struct Entry {
  TNamedColor name;
  QRgb rgb;
};

constexpr Entry kPalette[] = {
    {TNamedColor::Black, 0x000000},  {TNamedColor::Maroon, 0x800000},
    {TNamedColor::Green, 0x008000},  {TNamedColor::Olive, 0x808000},
    {TNamedColor::Navy, 0x000080},   {TNamedColor::Purple, 0x800080},
    {TNamedColor::Teal, 0x008080},   {TNamedColor::Grey, 0x808080},
    {TNamedColor::Silver, 0xC0C0C0}, {TNamedColor::Red, 0xFF0000},
    {TNamedColor::Lime, 0x00FF00},   {TNamedColor::Yellow, 0xFFFF00},
    {TNamedColor::Blue, 0x0000FF},   {TNamedColor::Fuchsia, 0xFF00FF},
    {TNamedColor::Aqua, 0x00FFFF},   {TNamedColor::White, 0xFFFFFF},
};

}  // namespace

QColor NamedColor(TNamedColor name) {
  for (const Entry& e : kPalette)
    if (e.name == name) return QColor::fromRgb(e.rgb);
  return {};
}

}  // namespace qav
