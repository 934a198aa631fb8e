#include "db/DateTime.h"

#include <gtest/gtest.h>

using qav::db::DateTimeParts;
using qav::db::DecodeDateTime;
using qav::db::EncodeDateTime;
using qav::db::FormatIsoDateTime;
using qav::db::ParseIsoDateTime;
using qav::db::ReadFixedDateTime;

TEST(DateTime, EncodesTheToolkitsDayNumbers) {
  struct Case {
    QDate date;
    QTime time;
    double expected;
  };
  const Case cases[] = {
      {QDate(1899, 12, 30), QTime(0, 0), 0.0},
      {QDate(1900, 1, 1), QTime(0, 0), 2.0},
      {QDate(2024, 1, 31), QTime(12, 0), 45322.5},
      {QDate(2079, 6, 4), QTime(0, 0), 65535.0},  // the last day a 16-bit day number holds
      {QDate(1899, 12, 29), QTime(6, 0),
       -1.25},  // before the epoch the fraction still counts forward
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date.toString(Qt::ISODate).toStdString());
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.date, c.time), c.expected);
    const QDateTime back = DecodeDateTime(c.expected);
    EXPECT_EQ(back.date(), c.date);
    EXPECT_EQ(back.time(), c.time);
  }
}

TEST(DateTime, ParsesDatabaseTextsAndRefusesOthers) {
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime(u"2024-01-31"), 45322.0);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime(u"2024-01-31 12:00:00"), 45322.5);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime(u"2024-01-31T06:00"), 45322.25);
  EXPECT_DOUBLE_EQ(*ParseIsoDateTime(u"18:00:00"), 0.75);
  EXPECT_EQ(DecodeDateTime(*ParseIsoDateTime(u"2024-01-31 10:20:30.125")).time(),
            QTime(10, 20, 30, 125));
  for (const char16_t* bad :
       {u"", u"31/01/2024", u"2024-02-30", u"2024-01-31 25:00", u"abc", u"2024-01-31 10:20 junk"})
    EXPECT_FALSE(ParseIsoDateTime(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

TEST(DateTime, FormatsWithoutTrailingZeroParts) {
  EXPECT_EQ(FormatIsoDateTime(45322.0), "2024-01-31");
  EXPECT_EQ(FormatIsoDateTime(45322.5), "2024-01-31 12:00:00");
  EXPECT_EQ(FormatIsoDateTime(*ParseIsoDateTime(u"2024-01-31 10:20:30.125")),
            "2024-01-31 10:20:30.125");
}

// The fixed form the functions read on every row, and the calendar arithmetic beside QDate's.
TEST(DateTime, ReadsTheFixedFormAndCountsDaysAsQDateDoes) {
  struct Case {
    const char* text;
    const char* expected;  // FormatIsoDateTime of the value; nullptr: refused
  };
  const Case cases[] = {{"2024-01-31", "2024-01-31"},
                        {"2024-01-31 13:05", "2024-01-31 13:05:00"},
                        {"2024-01-31T13:05:07", "2024-01-31 13:05:07"},
                        {"2024-02-29 13:05:07.1239999", "2024-02-29 13:05:07.123"},
                        {"2023-02-29", nullptr},
                        {"2024-01-31 24:00", nullptr},
                        {"2024-01-31 ", nullptr},
                        {"2024-01-31 13:05:07.", nullptr},
                        {"2024-1-31", nullptr},
                        {"31/01/2024", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parts = ReadFixedDateTime(c.text);
    ASSERT_EQ(parts.has_value(), c.expected != nullptr);
    if (!parts) continue;
    parts->nanos = parts->nanos / 1000000 * 1000000;
    EXPECT_EQ(FormatIsoDateTime(parts->Encode()).toStdString(), c.expected);
  }
  const qint64 epoch = QDate(1970, 1, 1).toJulianDay();
  for (qint64 day = QDate(1600, 1, 1).toJulianDay(); day < QDate(10000, 1, 1).toJulianDay();
       day += 997) {
    const QDate want = QDate::fromJulianDay(day);
    const DateTimeParts p = DateTimeParts::FromDays(day - epoch, 45296789);
    ASSERT_EQ(QDate(p.year, p.month, p.day), want);
    ASSERT_EQ(p.Days(), day - epoch);
    ASSERT_EQ(p.Encode(), EncodeDateTime(want, QTime(12, 34, 56, 789)));
  }
}
