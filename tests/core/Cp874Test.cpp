// Code page 874 from the database's UTF-8 bytes: the same bytes and counts as through UTF-16,
// and a "?" per byte of a malformed sequence.
#include "core/Cp874.h"

#include <gtest/gtest.h>
#include <string>

using qav::EncodeCp874FromUtf8;
using qav::ToCp874;

TEST(Cp874, FromUtf8AsFromUtf16AndMalformedBytesAsQuestionMarks) {
  struct Case {
    std::string utf8;
    QByteArray expected;  // empty: as ToCp874 makes it from the decoded text
    qsizetype unmapped;
  };
  const Case cases[] = {
      {"", "", 0},
      {"Code 42\t,\"\r\n", {}, 0},
      {"ลูกค้า 1", {}, 0},
      {"หมายเหตุ ๑๒๓ ฿", {}, 0},
      {"€ … “x”", {}, 0},          // the code page's own upper half outside Thai
      {"日本😀 é", "??? ?", 4},     // outside the code page; the emoji is one character
      {"ก\xE0\xB8", "\xA1??", 2},  // cut short at the end
      {"\xC0\x80"
       "A",
       "??A", 2},  // an overlong form
      {"\xFF\xB8"
       "ก",
       "??\xA1", 2},  // no lead byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    QByteArray out(static_cast<qsizetype>(c.utf8.size()), '\0');
    qsizetype unmapped = 0;
    out.truncate(EncodeCp874FromUtf8(c.utf8, out.data(), &unmapped) - out.data());
    qsizetype viaUtf16Unmapped = 0;
    const QByteArray viaUtf16 = ToCp874(QString::fromStdString(c.utf8), &viaUtf16Unmapped);
    EXPECT_EQ(out, c.expected.isNull() ? viaUtf16 : c.expected);
    EXPECT_EQ(unmapped, c.unmapped);
    if (c.expected.isNull()) {
      EXPECT_EQ(unmapped, viaUtf16Unmapped);
    }
  }
}
