#include "core/Exception.h"
#include "core/FormatSettings.h"

#include <gtest/gtest.h>

using namespace qav;

TEST(FormatSettings, StrToIntTakesADecimalInt32AndNothingElse) {
  EXPECT_EQ(StrToInt("12"), 12);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483648LL);
  EXPECT_EQ(StrToInt("+7"), 7);
  for (const char* bad :
       {"", " 1", "1 ", "12\n", "12\r\n", "\n12", "12x", "0x1F", "2147483648", "1.0"}) {
    try {
      StrToInt(QString::fromLatin1(bad));
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(bad));
    }
  }
}

TEST(FormatSettings, StrToDateReadsTheShortDateFormatsOrder) {
  TFormatSettings dmy;
  dmy.ShortDateFormat = "dd/mm/yyyy";
  const int year = QDate::currentDate().year();
  struct Case {
    const char* text;
    QDate date;  // invalid: refused
  };
  const Case cases[] = {
      {"09/12/2026", QDate(2026, 12, 9)},
      {"9/1/2026", QDate(2026, 1, 9)},
      {"09/12", QDate(year, 12, 9)},
      {"1/1/99", QDate(1999, 1, 1)},  // two-digit years fall within 50 years of now (2000-2048)
      {"31/02/2026", QDate()},
      {"09-12-2026", QDate()},
      {"", QDate()},
      {"09/12/2026/1", QDate()},
      {"aa/12/2026", QDate()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.date.isValid()) {
      EXPECT_EQ(StrToDate(QString::fromLatin1(c.text), dmy), c.date);
    } else {
      EXPECT_THROW(StrToDate(QString::fromLatin1(c.text), dmy), EConvertError);
    }
  }
  TFormatSettings mdy;
  mdy.ShortDateFormat = "m/d/yyyy";
  EXPECT_EQ(StrToDate("12/9/2026", mdy), QDate(2026, 12, 9));
}
