// The embedded back end's pure parts on their own, each as a table of cases: the LIKE matcher,
// the comparison of texts, CONVERT's date styles, FORMAT's patterns and the reader of the
// statements it runs itself. The connections' tests show them end to end; these show each
// rule where it is made.
#include "db/Errors.h"
#include "db/embedded/TsqlCollation.h"
#include "db/embedded/TsqlFormat.h"
#include "db/embedded/TsqlStatements.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QStringList>

using namespace qav;
using namespace qav::db::embedded;

TEST(TsqlLikePatternTest, MatchesAsSqlServerReadsItsPatterns) {
  struct Case {
    const char* pattern;
    const char* text;
    bool matches;
    char escape = 0;
  };
  const Case cases[] = {
      {"a%", "abc", true},
      {"a_c", "ABC", true},  // letter case does not count
      {"%b%", "abc", true},
      {"b", "abc", false},
      {"%d%", "abc", false},
      {"abc", "abc  ", true},  // the text's trailing blanks do not count...
      {"abc ", "abc", false},  // ...the pattern's do
      {"[a-c]", "b", true},
      {"[a-c]", "d", false},
      {"[^a-c]", "d", true},
      {"a[xyz]c", "aXc", true},
      {"a[_]b", "a_b", true},
      {"a[_]b", "axb", false},
      {"a[%]", "a%", true},
      {"10!%", "10%", true, '!'},
      {"10!%", "100", false, '!'},
      {"%", "", true},
      {"_", "", false},
      {"บริษัท%", "บริษัท ทดสอบ จำกัด", true},
      {"%ทดสอบ_จำกัด", "บริษัท ทดสอบ จำกัด", true},
  };
  for (const Case& c : cases) {
    const TsqlLikePattern pattern(QString::fromUtf8(c.pattern),
                                  c.escape ? QChar::fromLatin1(c.escape) : QChar());
    EXPECT_EQ(pattern.Matches(QString::fromUtf8(c.text)), c.matches)
        << c.pattern << " / " << c.text;
  }
  // PATINDEX: where the first match begins, counted from 0 here.
  EXPECT_EQ(TsqlLikePattern(u"%b%").IndexIn(u"abcb"), 1);
  EXPECT_EQ(TsqlLikePattern(u"%z%").IndexIn(u"abc"), -1);
  EXPECT_EQ(TsqlLikePattern(u"%ทดสอบ%").IndexIn(u"บริษัท ทดสอบ จำกัด"), 7);
}

TEST(TsqlTextComparisonTest, IgnoresLetterCaseAndTrailingBlanks) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"abc", "ABC", 0},     {"abc", "abc   ", 0},
      {"ÉCOLE", "école", 0},  // Unicode letters, not ASCII only
      {"a", "b", -1},        {"B", "a", 1},
      {"abc ", "abd", -1},   {" abc", "abc", -1},  // leading blanks count
      {"ก", "ข", -1},        {"", "   ", 0},
      {"", "a", -1},
  };
  for (const Case& c : cases) {
    const int got = CompareTsqlText(QString::fromUtf8(c.a), QString::fromUtf8(c.b));
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " / " << c.b;
    const int back = CompareTsqlText(QString::fromUtf8(c.b), QString::fromUtf8(c.a));
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " / " << c.a;
  }
}

TEST(TsqlDateStyleTest, WritesConvertsStyles) {
  const QDateTime at(QDate(2024, 3, 5), QTime(13, 4, 9, 123));
  struct Case {
    int style;
    const char* text;  // nullptr: a style CONVERT refuses
  };
  const Case cases[] = {
      {1, "03/05/24"},
      {3, "05/03/24"},
      {101, "03/05/2024"},
      {103, "05/03/2024"},
      {104, "05.03.2024"},
      {106, "05 Mar 2024"},
      {108, "13:04:09"},
      {112, "20240305"},
      {120, "2024-03-05 13:04:09"},
      {121, "2024-03-05 13:04:09.123"},
      {126, "2024-03-05T13:04:09.123"},
      {100, "Mar  5 2024  1:04PM"},
      {99, nullptr},
      {150, nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<QString> text = DateStyleText(at, c.style);
    if (c.text) {
      EXPECT_EQ(text.value_or(QStringLiteral("(refused)")), QString::fromLatin1(c.text)) << c.style;
    } else {
      EXPECT_FALSE(text.has_value()) << c.style << ": " << text->toStdString();
    }
  }
  // Read back: the day-first and month-first styles tell 5 March from 3 May.
  EXPECT_EQ(ParseTsqlDate(u"05/03/2024", 103), QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
  EXPECT_EQ(ParseTsqlDate(u"05/03/2024", 101), QDateTime(QDate(2024, 5, 3), QTime(0, 0)));
  EXPECT_FALSE(ParseTsqlDate(u"31/02/2024", 103).has_value());
}

TEST(TsqlFormatTest, WritesDotNetPatternsForEnUs) {
  const QDateTime at(QDate(2024, 3, 5), QTime(13, 4, 9));
  struct DateCase {
    const char* pattern;
    const char* text;  // nullptr: NULL, as SQL Server gives for a pattern .NET does not know
  };
  const DateCase dates[] = {
      {"dd/MM/yyyy", "05/03/2024"},
      {"yyyy-MM-dd HH:mm:ss", "2024-03-05 13:04:09"},
      {"dddd d MMMM yyyy", "Tuesday 5 March 2024"},
      {"hh:mm tt", "01:04 PM"},
      {"d", "3/5/2024"},
      {"D", "Tuesday, March 5, 2024"},
      {"s", "2024-03-05T13:04:09"},
      {"M", "March 5"},
      {"Y", "March 2024"},
      {"Q", nullptr},
  };
  for (const DateCase& c : dates) {
    const std::optional<QString> text = FormatDate(at, QString::fromLatin1(c.pattern));
    if (c.text)
      EXPECT_EQ(text.value_or(QStringLiteral("(NULL)")), QString::fromLatin1(c.text)) << c.pattern;
    else
      EXPECT_FALSE(text.has_value()) << c.pattern;
  }

  struct NumberCase {
    double value;
    bool integral;
    const char* pattern;
    const char* text;
  };
  const NumberCase numbers[] = {
      {1234.5, false, "#,##0.00", "1,234.50"},
      {1234.5, false, "0.00", "1234.50"},
      {0.5, false, "0%", "50%"},
      {-1234.5, false, "N2", "-1,234.50"},
      {3.14159, false, "F2", "3.14"},
      {1234.5, false, "C", "$1,234.50"},
      {-1234.5, false, "C", "($1,234.50)"},
      {0.123, false, "P", "12.30 %"},
      {42, true, "D5", "00042"},
      {255, true, "X", "FF"},
      {-5, false, "0.00;(0.00)", "(5.00)"},
      {0, false, "#,##0;(#,##0);-", "-"},
  };
  for (const NumberCase& c : numbers)
    EXPECT_EQ(FormatNumber(c.value, c.integral, QString::fromLatin1(c.pattern))
                  .value_or(QStringLiteral("(NULL)")),
              QString::fromLatin1(c.text))
        << c.value << " " << c.pattern;
}

namespace {

// A statement as read: its kind, then each assignment as "variable:type=expression", then
// "rest", "expression" and "severity" where they are set.
QString Describe(const TsqlStatement& s) {
  static const char* const kKinds[] = {"Other",     "Declare", "SetVariable", "SelectAssign",
                                       "SetOption", "Print",   "RaiseError"};
  QStringList parts{QString::fromLatin1(kKinds[static_cast<int>(s.kind)])};
  for (const TsqlStatement::Assignment& a : s.assignments)
    parts << a.variable + (a.type.isEmpty() ? QString() : u':' + a.type) + u'=' + a.expression;
  if (!s.rest.isEmpty()) parts << QStringLiteral("rest ") + s.rest;
  if (!s.expression.isEmpty()) parts << QStringLiteral("expression ") + s.expression;
  if (s.severity) parts << QStringLiteral("severity %1").arg(s.severity);
  return parts.join(QStringLiteral(" | "));
}

}  // namespace

TEST(TsqlStatementReaderTest, ReadsTheStatementsTheConnectionRunsItself) {
  struct Case {
    const char* statement;
    const char* read;  // "!" and a part of the error for a statement refused
  };
  const Case cases[] = {
      {"select Code from Customer", "Other"},
      {"declare @a int = 5, @b VarChar(10);", "Declare | @a:int=5 | @b:varchar(10)="},
      {"set @a = @a * 2", "SetVariable | @a=@a * 2"},
      {"set @a += 2", "SetVariable | @a=tsql_add(@a, (2))"},
      {"select @a = 1, @b = Code from Customer where Id = 3",
       "SelectAssign | @a=1 | @b=Code | rest from Customer where Id = 3"},
      {"set nocount on", "SetOption"},
      {"print 'from ' + @b", "Print | expression 'from ' + @b"},
      {"raiserror('done', 16, 1)", "RaiseError | expression 'done' | severity 16"},
      {"merge into Customer using x on 1 = 1", "!the embedded demo suite does not support MERGE"},
      {"declare @t table (i int)", "!the embedded demo suite does not support table variables"},
      {"raiserror 'x'", "!Incorrect syntax near 'RAISERROR'."},
      {"begin try select 1 end try", "!the embedded demo suite does not support TRY ... CATCH"},
  };
  for (const Case& c : cases) {
    const QString expected = QString::fromUtf8(c.read);
    try {
      const TsqlStatement s = ParseTsqlStatement(QString::fromUtf8(c.statement));
      EXPECT_EQ(Describe(s), expected) << c.statement;
    } catch (const db::EDBEngineError& e) {
      EXPECT_TRUE(expected.startsWith(u'!') && e.Message().contains(expected.mid(1)))
          << c.statement << ": " << e.Message().toStdString();
    }
  }
}
