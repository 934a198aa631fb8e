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

char* EncodeCp874FromUtf8(std::string_view utf8, char* out, qsizetype* unmapped) {
  const auto& table = Table().fromUnicode;
  qsizetype missing = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* const end = p + utf8.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      *out++ = static_cast<char>(lead);
      ++p;
      continue;
    }
    // The lead byte tells the length; Thai letters take three bytes (E0 B8 81 to E0 B9 9B).
    const int more = (lead & 0xE0) == 0xC0   ? 1
                     : (lead & 0xF0) == 0xE0 ? 2
                     : (lead & 0xF8) == 0xF0 ? 3
                                             : 0;
    char32_t c = lead & (0x3F >> more);
    bool valid = more > 0 && end - p > more;
    for (int i = 1; valid && i <= more; ++i) {
      valid = (p[i] & 0xC0) == 0x80;
      c = (c << 6) | (p[i] & 0x3F);
    }
    // An overlong form is malformed too.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (!valid || c < kLeast[more]) {
      *out++ = '?';
      ++missing;
      ++p;
      continue;
    }
    p += more + 1;
    const unsigned char b = c < 0x10000 ? table[c] : 0;
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
