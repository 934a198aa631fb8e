#include "core/Cp874.h"

#include "platform/CodePage.h"

#include <array>

namespace qav {

namespace {

// The upper half of the code page, read once from the operating system so that the table is
// the platform's own definition of Windows-874.
struct Cp874Table {
  std::array<char16_t, 128> toUnicode{};
  // Every character of the basic plane to its byte; 0 where the code page has none.
  std::array<unsigned char, 65536> fromUnicode{};

  Cp874Table() {
    platform::CodePageUpperHalf(874, toUnicode);
    for (int i = 0; i < 128; ++i) {
      const char16_t unicode = toUnicode[static_cast<size_t>(i)];
      if (unicode != 0xFFFD) fromUnicode[unicode] = static_cast<unsigned char>(0x80 + i);
    }
    for (int c = 1; c < 0x80; ++c)
      fromUnicode[static_cast<size_t>(c)] = static_cast<unsigned char>(c);
  }
};

const Cp874Table& Table() {
  static const Cp874Table table;
  return table;
}

}  // namespace

char* EncodeCp874(QStringView text, char* out, qsizetype* unmapped) {
  const auto& table = Table().fromUnicode;
  qsizetype missing = 0;
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  for (; p < end; ++p) {
    const char16_t c = *p;
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      continue;
    }
    // A character outside the basic plane is two code units but one character.
    if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(p[1])) ++p;
    const unsigned char b = table[c];
    if (b) {
      *out++ = static_cast<char>(b);
    } else {
      *out++ = '?';
      ++missing;
    }
  }
  if (unmapped) *unmapped += missing;
  return out;
}

QByteArray ToCp874(const QString& text, qsizetype* unmapped) {
  QByteArray out(text.size(), Qt::Uninitialized);
  out.truncate(EncodeCp874(text, out.data(), unmapped) - out.data());
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
