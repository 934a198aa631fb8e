#include "console/SqlHighlighter.h"

#include "sql/TsqlLexer.h"

#include <QSet>
#include <QTextCharFormat>

namespace qav {

namespace {

QTextCharFormat Format(const QColor& colour, bool bold = false) {
  QTextCharFormat f;
  f.setForeground(colour);
  if (bold) f.setFontWeight(QFont::Bold);
  return f;
}

// The reserved words and the everyday function and type names people type into the console.
const QSet<QString>& Keywords() {
  static const QSet<QString> words = [] {
    QSet<QString> set;
    for (const char* w :
         {"add",           "all",        "alter",    "and",       "any",      "as",
          "asc",           "backup",     "begin",    "between",   "by",       "case",
          "cast",          "check",      "close",    "collate",   "column",   "commit",
          "constraint",    "convert",    "create",   "cross",     "cursor",   "database",
          "deallocate",    "declare",    "default",  "delete",    "desc",     "disk",
          "distinct",      "drop",       "else",     "end",       "exec",     "execute",
          "exists",        "fetch",      "for",      "foreign",   "from",     "full",
          "function",      "go",         "goto",     "grant",     "group",    "having",
          "identity",      "if",         "in",       "index",     "inner",    "insert",
          "into",          "is",         "join",     "key",       "left",     "like",
          "merge",         "not",        "null",     "nocount",   "of",       "off",
          "offset",        "on",         "open",     "option",    "or",       "order",
          "outer",         "over",       "percent",  "primary",   "print",    "procedure",
          "raiserror",     "references", "return",   "right",     "rollback", "rows",
          "select",        "set",        "table",    "then",      "top",      "tran",
          "transaction",   "truncate",   "union",    "unique",    "update",   "use",
          "values",        "view",       "when",     "where",     "while",    "with",
          "int",           "bigint",     "smallint", "tinyint",   "bit",      "decimal",
          "numeric",       "money",      "float",    "real",      "date",     "datetime",
          "smalldatetime", "datetime2",  "time",     "char",      "varchar",  "nchar",
          "nvarchar",      "text",       "ntext",    "varbinary", "count",    "sum",
          "min",           "max",        "avg",      "isnull",    "coalesce", "getdate",
          "dateadd",       "datediff",   "year",     "month",     "day"})
      set.insert(QString::fromLatin1(w));
    return set;
  }();
  return words;
}

}  // namespace

TSqlHighlighter::TSqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {}

bool TSqlHighlighter::IsKeyword(QStringView word) {
  return Keywords().contains(word.toString().toLower());
}

void TSqlHighlighter::highlightBlock(const QString& text) {
  static const QTextCharFormat keyword = Format(Qt::blue, true);
  static const QTextCharFormat string = Format(Qt::red);
  static const QTextCharFormat comment = Format(QColor(0, 128, 0));
  static const QTextCharFormat variable = Format(QColor(0, 128, 128));
  const int previous = previousBlockState();
  sql::Lexer lexer(text, previous < 0 ? sql::LexState{} : sql::LexState::Unpack(previous));
  while (!lexer.AtEnd()) {
    const sql::Token t = lexer.Next();
    const QTextCharFormat* format = nullptr;
    switch (t.construct) {
      case sql::TokenKind::Word:
        if (IsKeyword(t.Text(text))) format = &keyword;
        break;
      case sql::TokenKind::String:
        format = &string;
        break;
      case sql::TokenKind::LineComment:
      case sql::TokenKind::BlockComment:
        format = &comment;
        break;
      case sql::TokenKind::Variable:
        format = &variable;
        break;
      default:
        break;
    }
    if (format) setFormat(static_cast<int>(t.start), static_cast<int>(t.length), *format);
  }
  setCurrentBlockState(lexer.State().Pack());
}

}  // namespace qav
