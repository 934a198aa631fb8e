#include "platform/CodePage.h"

#include <iconv.h>
#include <QByteArray>

namespace qav::platform {

bool CodePageUpperHalf(int codePage, std::array<char16_t, 128>& table) {
  table.fill(u'\uFFFD');
  iconv_t cd = iconv_open("UTF-16LE", QByteArray("CP" + QByteArray::number(codePage)).constData());
  if (cd == reinterpret_cast<iconv_t>(-1))
    cd = iconv_open("UTF-16LE", QByteArray("WINDOWS-" + QByteArray::number(codePage)).constData());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  for (int i = 0; i < 128; ++i) {
    char in = static_cast<char>(0x80 + i);
    char out[4] = {};
    char* inp = &in;
    char* outp = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 2)
      table[static_cast<size_t>(i)] = static_cast<char16_t>(
          static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return true;
}

}  // namespace qav::platform
