// A short fuzz run of the script splitter and the parameter scanner on random and mutated
// scripts: they must neither crash nor hang, fail only with a database error naming a line, and
// leave no comment in any statement they hand on.
#include "db/Errors.h"
#include "db/Params.h"
#include "script/ScriptQuery.h"
#include "script/ScriptSplitter.h"
#include "sql/TsqlLexer.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <random>

using namespace qav;

namespace {

const char16_t* const kFragments[] = {
    u"'",   u"\"", u"[",    u"]",  u"--", u"/*", u"*/", u";",      u"/",      u" ", u"\t",
    u"''",  u"]]", u"\"\"", u":p", u"%m", u"::", u"%%", u"select", u"from t", u"x", u"1",
    u"ไทย", u"\r", u"\n",   u"-",  u"*",  u"G",  u"(",  u")",      u",",      u".", u"\U0001F600",
};

const QStringList kSeeds[] = {
    {"insert into t4 values(1) -- old value ; delete from Customer"},
    {"select 1 /* block ; comment */ from t", "/", "insert into t values('x;y')"},
    {"select [a]]b], \"c\"\"d\", 'e''f'; select 2", "/*", "/", "*/", "/"},
    {"backup database [DE'MO] To Disk = 'C:\\sub\\a\"b%c.Bak' with Format"},
    {"select :p, %m from t where a = ':q' -- :r", "  /", "select 'multi", "line'", "G"},
};

QString RandomText(std::mt19937& random, int maxFragments) {
  QString text;
  const int count = std::uniform_int_distribution<int>(0, maxFragments)(random);
  for (int i = 0; i < count; ++i) {
    if (random() % 8 == 0)
      text += QChar(static_cast<char16_t>(std::uniform_int_distribution<int>(1, 0x7f)(random)));
    else
      text += QString::fromUtf16(kFragments[random() % std::size(kFragments)]);
  }
  return text;
}

QStringList RandomScript(std::mt19937& random) {
  QStringList lines;
  const int count = std::uniform_int_distribution<int>(0, 10)(random);
  for (int i = 0; i < count; ++i) lines << RandomText(random, 10);
  return lines;
}

QStringList Mutated(std::mt19937& random) {
  QStringList lines = kSeeds[random() % std::size(kSeeds)];
  const int edits = std::uniform_int_distribution<int>(1, 6)(random);
  for (int e = 0; e < edits; ++e) {
    if (lines.isEmpty()) lines << QString();
    QString& line = lines[static_cast<qsizetype>(random() % lines.size())];
    const qsizetype at = line.isEmpty() ? 0 : static_cast<qsizetype>(random() % line.size());
    switch (random() % 4) {
      case 0:
        line.insert(at, RandomText(random, 2));
        break;
      case 1:
        line.remove(at, 1 + static_cast<qsizetype>(random() % 4));
        break;
      case 2:
        lines.insert(static_cast<qsizetype>(random() % (lines.size() + 1)), RandomText(random, 3));
        break;
      default:
        lines.removeAt(static_cast<qsizetype>(random() % lines.size()));
        break;
    }
  }
  return lines;
}

// The statements hold no comment, and end outside any literal.
void CheckStatements(const QStringList& script, const std::vector<TScriptStatement>& statements) {
  int previous = -1;
  for (const TScriptStatement& s : statements) {
    ASSERT_FALSE(s.lines.isEmpty());
    ASSERT_GE(s.lastLine, previous);
    ASSERT_LT(s.lastLine, script.size());
    previous = s.lastLine;
    const QString text = s.lines.join(QStringLiteral("\r\n"));
    sql::Lexer lexer(text);
    while (!lexer.AtEnd()) {
      const sql::Token t = lexer.Next();
      ASSERT_FALSE(t.IsComment()) << text.toStdString();
      ASSERT_GE(t.length, 1);
    }
    ASSERT_FALSE(lexer.State().IsOpen()) << text.toStdString();
  }
}

}  // namespace

TEST(ScriptSplitterFuzz, RandomAndMutatedScriptsSplitWithoutFault) {
  std::mt19937 random(20261210);
  static const QRegularExpression kLineError(QStringLiteral("^Unterminated .+ on line \\d+$"));
  const QChar terms[] = {u'/', u';', u'\'', u'G', u'-'};
  int runs = 0;
  int failures = 0;
  TScriptQuery query;
  // Bounded by count, never by the clock, so that a busy machine runs the same cases.
  for (; runs < 4000; ++runs) {
    const QStringList script = runs % 2 ? Mutated(random) : RandomScript(random);
    const bool semicolonTerm = random() % 4 != 0;
    const QChar term = terms[random() % std::size(terms)];
    SCOPED_TRACE(script.join(QStringLiteral("|")).toStdString());
    try {
      const auto statements = SplitScript(script, semicolonTerm, term);
      CheckStatements(script, statements);
      for (const TScriptStatement& s : statements) {
        query.SetSQL(s.lines);
        ASSERT_GE(query.ExpandedText().size(), 0);
      }
    } catch (const db::EDatabaseError& e) {
      ASSERT_TRUE(kLineError.match(e.Message()).hasMatch()) << e.Message().toStdString();
      ++failures;
    }
    const QString joined = script.join(QStringLiteral("\r\n"));
    for (const auto& t : db::ScanParamTokens(joined, u':')) {
      ASSERT_GE(t.start, 0);
      ASSERT_LE(t.start + t.length, joined.size());
      ASSERT_EQ(joined[t.start], u':');
    }
    if (HasFatalFailure()) return;
  }
  // Both outcomes were met often enough for the run to mean something.
  EXPECT_GT(runs, 200);
  EXPECT_GT(failures, 10);
  EXPECT_GT(runs - failures, 10);
}
