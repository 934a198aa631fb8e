// The console's colouring of T-SQL, a table of scripts and the pieces each line gets coloured.
#include "console/SqlHighlighter.h"

#include <gtest/gtest.h>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using namespace qav;

namespace {

// Every coloured piece of the document, line by line: "K" keyword, "S" string, "C" comment,
// "V" variable, a colon and the piece's text; lines parted by " / ".
QString Coloured(const QString& script) {
  QTextDocument document(script);
  TSqlHighlighter highlighter(&document);
  highlighter.rehighlight();
  QStringList lines;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    QStringList pieces;
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
      const QColor colour = range.format.foreground().color();
      const char* kind = colour == QColor(Qt::blue) && range.format.fontWeight() == QFont::Bold
                             ? "K"
                         : colour == QColor(Qt::red)     ? "S"
                         : colour == QColor(0, 128, 0)   ? "C"
                         : colour == QColor(0, 128, 128) ? "V"
                                                         : "?";
      pieces << QString::fromLatin1(kind) + u':' + block.text().mid(range.start, range.length);
    }
    lines << pieces.join(u' ');
  }
  return lines.join(QStringLiteral(" / "));
}

}  // namespace

TEST(SqlHighlighterTest, ColoursEachKindOfTokenAcrossLines) {
  struct Case {
    const char* script;
    const char* coloured;
  };
  const Case cases[] = {
      {"select Code from Customer", "K:select K:from"},
      {"SELECT [select], \"from\" FROM t", "K:SELECT K:FROM"},  // quoted names are names
      {"where Name = N'it''s' -- note", "K:where S:N'it''s' C:-- note"},
      {"declare @v int = @@rowcount", "K:declare V:@v K:int V:@@rowcount"},
      // Comments and strings over several lines colour whole, each line from the state the
      // line before ended in; comments nest as SQL Server nests them.
      {"/* a\nb */ select", "C:/* a / C:b */ K:select"},
      {"/* /* x */ still */ go", "C:/* /* x */ still */ K:go"},
      {"select 'a\nb' + x", "K:select S:'a / S:b'"},
      {"-- 'not a string\nselect 1", "C:-- 'not a string / K:select"},
      {"print 'บริษัท' -- ไทย", "K:print S:'บริษัท' C:-- ไทย"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Coloured(QString::fromUtf8(c.script)), QString::fromUtf8(c.coloured)) << c.script;
}
