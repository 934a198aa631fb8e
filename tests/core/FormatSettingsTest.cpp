#include "core/Exception.h"
#include "core/FormatSettings.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <string>

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

TEST(FormatSettings, FloatToStrGivesFifteenSignificantDigitsInTheGeneralForm) {
  TFormatSettings fs;
  fs.DecimalSeparator = u',';
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1200.5, "1200,5"},
      {-0.25, "-0,25"},
      {0.1 + 0.2, "0,3"},  // 17 digits to read back, 15 shown
      {1.0 / 3, "0,333333333333333"},
      {2.0 / 3, "0,666666666666667"},
      {1.0 / 7777, "0,000128584287000129"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.9, "1E15"},  // rounds up into the exponent form
      {1e15, "1E15"},
      {1.5e20, "1,5E20"},
      {0.00001, "0,00001"},
      {0.0000099, "9,9E-6"},
      {0.000001234, "1,234E-6"},
      {12.34, "12,34"},
      {4.35, "4,35"},
      {100, "100"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatToStr(c.value, fs).toStdString(), c.text) << c.value;
    // The bytes for the 8-bit files: the same with the point.
    char buf[kNumberChars];
    std::string point = c.text;
    std::replace(point.begin(), point.end(), ',', '.');
    EXPECT_EQ(std::string(buf, FloatToChars(c.value, buf)), point) << c.value;
  }
}

TEST(FormatSettings, TheBytesOfDatesAndMoneyAreThoseOfTheirTexts) {
  TFormatSettings fs;
  fs.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
  const QDate date(2024, 3, 5);
  const QTime times[] = {QTime(0, 0), QTime(7, 5, 9), QTime(23, 59, 59, 999)};
  const auto bytes = [](char* start, char* end) {
    return end ? QString::fromLatin1(start, end - start) : QStringLiteral("(none)");
  };
  char buf[64];
  for (const char* pattern : {"dd/mm/yyyy", "d-m-yy 'at' h:n", "yyyy\"mm\"dd hh:nn:ss"})
    for (const QTime& time : times) {
      SCOPED_TRACE(pattern);
      fs.LongTimeFormat = QString::fromLatin1(pattern);
      const TDateFields at = TDateFields::Of(date, time);
      EXPECT_EQ(bytes(buf, DateTimeToChars(at, buf, buf + sizeof buf, fs)),
                DateTimeToStr(date, time, fs));
      EXPECT_EQ(bytes(buf, FormatDateTimeChars(fs.LongTimeFormat, at, buf, buf + sizeof buf, fs)),
                FormatDateTime(fs.LongTimeFormat, date, time, fs));
    }
  // A separator beyond ASCII, or too little room: no bytes, the caller takes the text.
  EXPECT_EQ(DateTimeToChars(TDateFields::Of(date, times[1]), buf, buf + 10, fs), nullptr);
  fs.DateSeparator = QChar(0x0E01);
  EXPECT_EQ(DateTimeToChars(TDateFields::Of(date, times[1]), buf, buf + sizeof buf, fs), nullptr);

  for (double money : {0.0, 12.5, -0.0001, 1234567.8912, 123456.00005, -1e20}) {
    fs.DecimalSeparator = u'.';
    EXPECT_EQ(bytes(buf, CurrToChars(money, buf)), CurrToStr(money, fs)) << money;
  }
}
