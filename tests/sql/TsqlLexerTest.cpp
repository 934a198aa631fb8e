#include "core/Exception.h"
#include "sql/Batches.h"
#include "sql/TsqlLexer.h"

#include <gtest/gtest.h>
#include <QStringList>

using namespace qav::sql;

namespace {

QString KindName(TokenKind kind) {
  switch (kind) {
    case TokenKind::Space:
      return QStringLiteral("space");
    case TokenKind::LineComment:
      return QStringLiteral("line-comment");
    case TokenKind::BlockComment:
      return QStringLiteral("comment");
    case TokenKind::Word:
      return QStringLiteral("word");
    case TokenKind::QuotedName:
      return QStringLiteral("name");
    case TokenKind::String:
      return QStringLiteral("string");
    case TokenKind::Number:
      return QStringLiteral("number");
    case TokenKind::Variable:
      return QStringLiteral("variable");
    case TokenKind::Param:
      return QStringLiteral("param");
    case TokenKind::Operator:
      return QStringLiteral("op");
    case TokenKind::Error:
      return QStringLiteral("error");
  }
  return {};
}

// The tokens other than blanks as "kind(text)", an error as "error:construct(text)@line".
QString Describe(QStringView text) {
  QStringList parts;
  for (const Token& t : Tokenize(text)) {
    if (t.kind == TokenKind::Space) continue;
    QString part = KindName(t.kind);
    if (t.kind == TokenKind::Error) part += u':' + KindName(t.construct);
    part += u'(' + t.Text(text).toString() + u')';
    if (t.kind == TokenKind::Error) part += u'@' + QString::number(t.line);
    parts << part;
  }
  return parts.join(u' ');
}

struct LexCase {
  const char16_t* text;
  const char16_t* tokens;
};

const LexCase kLexCases[] = {
    // Nested comments hide everything in them, however deep.
    {u"/* outer /* inner */ delete from Customer; */ select 1",
     u"comment(/* outer /* inner */ delete from Customer; */) word(select) number(1)"},
    {u"/* a /* b */ c */ select 2 as x",
     u"comment(/* a /* b */ c */) word(select) number(2) word(as) word(x)"},
    {u"/*1/*2/*3*/2*/1*/x", u"comment(/*1/*2/*3*/2*/1*/) word(x)"},
    {u"/*/ x */y", u"comment(/*/ x */) word(y)"},
    // Quotes doubled inside strings and names.
    {u"select 1 as [a]]b]", u"word(select) number(1) word(as) name([a]]b])"},
    {u"'it''s' N'ไทย' n'x' \"a\"\"b\" `c`",
     u"string('it''s') string(N'ไทย') string(n'x') name(\"a\"\"b\") name(`c`)"},
    // Comment markers inside strings and names are text, and quotes inside comments are too.
    {u"'--x' '/*' [/*] \"--\" -- 'open\nx",
     u"string('--x') string('/*') name([/*]) name(\"--\") line-comment(-- 'open) word(x)"},
    {u"/* it's */ 'a'", u"comment(/* it's */) string('a')"},
    // Names, variables, temporary tables, Thai words with their marks.
    {u"select @v, @@rowcount from #t join ##g",
     u"word(select) variable(@v) op(,) variable(@@rowcount) word(from) word(#t) word(join) "
     u"word(##g)"},
    {u"ชื่อลูกค้า=:ชื่อ", u"word(ชื่อลูกค้า) op(=) param(:ชื่อ)"},
    {u"? ?12 a::b :p", u"param(?) param(?12) word(a) op(::) word(b) param(:p)"},
    // Numbers and operators.
    {u"1.5e+3 .5 0x1F 12abc 1e",
     u"number(1.5e+3) number(.5) number(0x1F) number(12) word(abc) number(1) word(e)"},
    {u"a<>b>=c!=d!<e||f<g",
     u"word(a) op(<>) word(b) op(>=) word(c) op(!=) word(d) op(!<) word(e) op(||) word(f) op(<) "
     u"word(g)"},
    {u"a-b--c\r\nd/e", u"word(a) op(-) word(b) line-comment(--c) word(d) op(/) word(e)"},
    // A byte-order mark is a blank.
    {u"\uFEFFselect\uFEFF1", u"word(select) number(1)"},
    // What is never closed runs to the end as an error naming the line where it began.
    {u"select 'abc", u"word(select) error:string('abc)@1"},
    {u"select\n[abc\n", u"word(select) error:name([abc\n)@2"},
    {u"x\r\r\"q", u"word(x) error:name(\"q)@3"},
    {u"a /* b /* c */ d", u"word(a) error:comment(/* b /* c */ d)@1"},
    {u"'it''", u"error:string('it'')@1"},
};

TEST(TsqlLexer, ReadsEachFormAsSqlServerDoes) {
  for (const LexCase& c : kLexCases) {
    const QString text = QString::fromUtf16(c.text);
    EXPECT_EQ(Describe(text), QString::fromUtf16(c.tokens)) << text.toStdString();
  }
}

TEST(TsqlLexer, TokensCoverTheTextAndCountLinesOfEveryEnding) {
  const QString text = QStringLiteral("a\r\nb\rc\nd '\r\n' e /*\r*/ f\n\ng");
  const std::vector<Token> tokens = Tokenize(text);
  qsizetype at = 0;
  QStringList lines;
  for (const Token& t : tokens) {
    ASSERT_EQ(t.start, at);
    ASSERT_GT(t.length, 0);
    at = t.End();
    if (t.kind == TokenKind::Word) lines << t.Text(text).toString() + QString::number(t.line);
  }
  EXPECT_EQ(at, text.size());
  EXPECT_EQ(lines, QStringList({"a1", "b2", "c3", "d4", "e5", "f6", "g8"}));
}

// A reader of one line at a time (the script runner, the editor's colouring) carries the state
// from line to line and meets the same tokens as a reader of the whole text.
TEST(TsqlLexer, LineByLineReadingGoesOnWhereTheLineBeforeLeftOff) {
  for (const LexCase& c : kLexCases) {
    const QString text = QString::fromUtf16(c.text);
    QString whole;
    for (const Token& t : Tokenize(text))
      if (t.kind != TokenKind::Space) whole += KindName(t.construct) + u' ';
    QString lineWise;
    LexState state;
    TokenKind last = TokenKind::Space;
    for (const QString& line : text.split(u'\n')) {
      Lexer lexer(line, LexState::Unpack(state.Pack()));
      while (!lexer.AtEnd()) {
        const Token t = lexer.Next();
        if (t.kind == TokenKind::Space) continue;
        // A construct over several lines is one token of the whole text.
        if (!(state.IsOpen() && t.start == 0 && last == t.construct))
          lineWise += KindName(t.construct) + u' ';
        last = t.construct;
      }
      state = lexer.State();
    }
    EXPECT_EQ(lineWise, whole) << text.toStdString();
  }
}

TEST(TsqlLexer, AMegabyteLiteralIsOneToken) {
  const QString literal = u'\'' + QString(1 << 20, u'ก') + QStringLiteral("''x'");
  const QString text = QStringLiteral("select ") + literal + QStringLiteral(" as big");
  const std::vector<Token> code = CodeTokens(text);
  ASSERT_EQ(code.size(), 4u);
  EXPECT_EQ(code[1].kind, TokenKind::String);
  EXPECT_EQ(code[1].length, literal.size());
  EXPECT_EQ(StringValue(code[1].Text(text)).size(), (1 << 20) + 2);
}

TEST(TsqlLexer, ValuesOfStringsAndNames) {
  EXPECT_EQ(StringValue(u"N'it''s'"), QStringLiteral("it's"));
  EXPECT_EQ(NameValue(u"[a]]b]"), QStringLiteral("a]b"));
  EXPECT_EQ(NameValue(u"\"a\"\"b\""), QStringLiteral("a\"b"));
  EXPECT_EQ(NameValue(u"Customer"), QStringLiteral("Customer"));
  EXPECT_EQ(QuoteString(u"it's"), QStringLiteral("'it''s'"));
  EXPECT_EQ(QuoteName(u"a]b"), QStringLiteral("[a]]b]"));
  for (int packed : {0, 1 + 4 * 3, 2, 2 + 4, 2 + 8, 2 + 12})
    EXPECT_EQ(LexState::Unpack(packed).Pack(), packed);
}

struct BatchCase {
  const char16_t* script;
  QStringList batches;  // each as "firstLine*repeat:text"
};

QStringList DescribeBatches(const std::vector<Batch>& batches) {
  QStringList out;
  for (const Batch& b : batches)
    out << QStringLiteral("%1*%2:%3").arg(b.firstLine).arg(b.repeat).arg(b.text);
  return out;
}

TEST(SplitBatches, SplitsAtGoLinesOnly) {
  const BatchCase cases[] = {
      {u"select 1\nGO\nselect 2", {"1*1:select 1\n", "3*1:select 2"}},
      {u"select 1\r\n  go  \r\nselect 2\r\nGo 3 -- thrice\r\n",
       {"1*1:select 1\r\n", "3*3:select 2\r\n"}},
      {u"select 1\rgO\rselect 2", {"1*1:select 1\r", "3*1:select 2"}},
      // Not alone on its line, or inside a string or a comment: no separator.
      {u"select 1 go\nselect 'x\nGO\n'\n/*\ngo\n*/",
       {"1*1:select 1 go\nselect 'x\nGO\n'\n/*\ngo\n*/"}},
      {u"select go.x from go\ngo.y\nGO;", {"1*1:select go.x from go\ngo.y\nGO;"}},
      // Batches of nothing but blanks and comments are not sent.
      {u"GO\n-- note\nGO\n\nselect 1\nGO\n", {"4*1:\nselect 1\n"}},
      // A comment never closed is no batch of comments: the server must refuse it.
      {u"select 1 as a\nGO\n/* select 2 as b", {"1*1:select 1 as a\n", "3*1:/* select 2 as b"}},
      {u"", {}},
  };
  for (const BatchCase& c : cases) {
    const QString script = QString::fromUtf16(c.script);
    EXPECT_EQ(DescribeBatches(SplitBatches(script)), c.batches) << script.toStdString();
  }
}

TEST(SplitBatches, ABadCountNamesItsLine) {
  for (const char16_t* script : {u"select 1\nGO 0\n", u"select 1\nGO 99999999999\n"}) {
    try {
      SplitBatches(QString::fromUtf16(script));
      ADD_FAILURE() << "no error";
    } catch (const qav::EConvertError& e) {
      EXPECT_EQ(e.Message(),
                QStringLiteral("Incorrect syntax was encountered while parsing GO on line 2"));
    }
  }
}

}  // namespace
