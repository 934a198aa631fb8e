#include "app/Cp874.h"

#include <iconv.h>
#include <QHash>
#include <array>

namespace qav {

namespace {

// The upper half of the code page, read once from the C library's converter so that the
// table is the platform's own definition of Windows-874.
struct Cp874Table {
  std::array<char16_t, 128> toUnicode{};
  QHash<char16_t, unsigned char> fromUnicode;

  Cp874Table() {
    iconv_t cd = iconv_open("UTF-16LE", "CP874");
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-16LE", "WINDOWS-874");
    for (int i = 0; i < 128; ++i) {
      char in = static_cast<char>(0x80 + i);
      char out[4] = {};
      char* inp = &in;
      char* outp = out;
      size_t inLeft = 1;
      size_t outLeft = sizeof out;
      char16_t unicode = 0xFFFD;
      if (cd != reinterpret_cast<iconv_t>(-1) &&
          iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 2) {
        unicode = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                        static_cast<unsigned char>(out[1]) << 8);
      }
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
      toUnicode[i] = unicode;
      if (unicode != 0xFFFD) fromUnicode.insert(unicode, static_cast<unsigned char>(0x80 + i));
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

const Cp874Table& Table() {
  static const Cp874Table table;
  return table;
}

}  // namespace

QByteArray ToCp874(const QString& text) {
  const Cp874Table& table = Table();
  QByteArray out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < 0x80) {
      out.append(static_cast<char>(c));
      continue;
    }
    // A character outside the basic plane is two code units but one character.
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    auto it = table.fromUnicode.constFind(c);
    out.append(it != table.fromUnicode.constEnd() ? static_cast<char>(*it) : '?');
  }
  return out;
}

QString FromCp874(const QByteArray& bytes) {
  const Cp874Table& table = Table();
  QString out;
  out.reserve(bytes.size());
  for (char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    out.append(u < 0x80 ? QChar(u) : QChar(table.toUnicode[u - 0x80]));
  }
  return out;
}

}  // namespace qav
