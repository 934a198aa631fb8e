#include "db/embedded/EmbeddedDialect.h"

#include "db/embedded/TsqlRewriter.h"
#include "sql/TsqlLexer.h"

#include <sqlite3.h>
#include <QRegularExpression>
#include <cstring>

namespace qav::db::embedded {

namespace {

struct Token {
  qsizetype start;
  qsizetype end;
  bool Is(QStringView s, char c) const { return end == start + 1 && s[start] == QLatin1Char(c); }
};

// The next token of code at or after pos; start == end == size at the end of the text.
Token NextToken(QStringView s, qsizetype pos) {
  if (pos >= s.size()) return {s.size(), s.size()};
  const sql::Token t = sql::Lexer(s.mid(pos)).NextCode();
  if (t.length == 0) return {s.size(), s.size()};
  return {pos + t.start, pos + t.End()};
}

// The end of the token that starts at pos.
qsizetype TokenEnd(QStringView s, qsizetype pos) {
  return NextToken(s, pos).end;
}

bool IsWord(QStringView s, const Token& t, QLatin1StringView word) {
  return t.end - t.start == word.size() &&
         s.mid(t.start, t.end - t.start).compare(word, Qt::CaseInsensitive) == 0;
}

bool IsAnyWord(QStringView s, const Token& t, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (IsWord(s, t, QLatin1StringView(w))) return true;
  return false;
}

}  // namespace

qsizetype SkipBlank(QStringView s, qsizetype pos) {
  return NextToken(s, pos).start;
}

bool IsKeywordAt(QStringView s, qsizetype pos, QLatin1StringView word) {
  if (pos < 0 || pos + word.size() > s.size()) return false;
  if (pos > 0 && sql::IsWordPart(s[pos - 1])) return false;
  return IsWord(s, Token{pos, TokenEnd(s, pos)}, word);
}

int CountPlaceholders(QStringView s) {
  int count = 0;
  for (const sql::Token& t : sql::CodeTokens(s))
    if (t.kind == sql::TokenKind::Param && t.length == 1 && s[t.start] == u'?') ++count;
  return count;
}

bool IsTsqlTextType(QStringView type) {
  for (const char* t : {"char", "varchar", "nchar", "nvarchar", "text", "ntext", "character"})
    if (type.compare(QLatin1StringView(t), Qt::CaseInsensitive) == 0) return true;
  return false;
}

QStringList TranslateAlterTableAdd(QStringView s) {
  Token t = NextToken(s, 0);
  if (!IsWord(s, t, QLatin1StringView("alter"))) return {};
  t = NextToken(s, t.end);
  if (!IsWord(s, t, QLatin1StringView("table"))) return {};
  const Token nameStart = NextToken(s, t.end);
  if (nameStart.start >= s.size()) return {};
  qsizetype nameEnd = nameStart.end;
  for (Token dot = NextToken(s, nameEnd); dot.Is(s, '.'); dot = NextToken(s, nameEnd))
    nameEnd = NextToken(s, dot.end).end;
  const QString table = s.mid(nameStart.start, nameEnd - nameStart.start).toString();

  t = NextToken(s, nameEnd);
  if (!IsWord(s, t, QLatin1StringView("add"))) return {};
  t = NextToken(s, t.end);
  if (IsWord(s, t, QLatin1StringView("column"))) t = NextToken(s, t.end);
  if (t.start >= s.size() ||
      IsAnyWord(s, t, {"constraint", "primary", "foreign", "unique", "check"}))
    return {};

  QStringView rest = s.mid(t.start).trimmed();
  while (rest.endsWith(u';')) rest = rest.chopped(1).trimmed();

  QStringList defs;
  qsizetype defStart = 0;
  int parens = 0;
  for (Token c = NextToken(rest, 0);; c = NextToken(rest, c.end)) {
    const bool atEnd = c.start >= rest.size();
    if (atEnd || (parens == 0 && c.Is(rest, ','))) {
      const QStringView def = rest.mid(defStart, c.start - defStart).trimmed();
      if (def.isEmpty()) return {};
      defs.append(def.toString());
      if (atEnd) break;
      defStart = c.end;
    } else if (c.Is(rest, '(')) {
      ++parens;
    } else if (c.Is(rest, ')')) {
      --parens;
    }
  }

  QStringList out;
  for (QString& def : defs) {
    const Token column = NextToken(def, 0);
    const Token type = NextToken(def, column.end);
    bool collated = false;
    for (Token w = type; w.start < def.size(); w = NextToken(def, w.end))
      if (IsWord(def, w, QLatin1StringView("collate"))) collated = true;
    if (!collated && IsTsqlTextType(QStringView(def).mid(type.start, type.end - type.start)))
      def += QLatin1StringView(" COLLATE NOCASE");
    out.append(QLatin1StringView("ALTER TABLE ") + table + QLatin1StringView(" ADD COLUMN ") + def);
  }
  return out;
}

std::optional<BackupStatement> ParseBackup(QStringView statement) {
  const std::vector<sql::Token> t = sql::CodeTokens(statement);
  std::size_t end = t.size();
  while (end > 0 && sql::IsOperator(statement, t[end - 1], QLatin1StringView(";"))) --end;
  auto word = [&](std::size_t i, const char* w) {
    return i < end && sql::IsWord(statement, t[i], QLatin1StringView(w));
  };
  if (!word(0, "backup") || !word(1, "database") || end < 7 || !word(3, "to") || !word(4, "disk") ||
      !sql::IsOperator(statement, t[5], QLatin1StringView("=")) ||
      t[6].kind != sql::TokenKind::String)
    return std::nullopt;
  if (t[2].kind != sql::TokenKind::Word && t[2].kind != sql::TokenKind::QuotedName)
    return std::nullopt;
  if (end > 7 && !word(7, "with")) return std::nullopt;
  for (std::size_t i = 8; i < end; ++i)
    if (sql::IsOperator(statement, t[i], QLatin1StringView(";"))) return std::nullopt;
  return BackupStatement{sql::NameValue(t[2].Text(statement)),
                         sql::StringValue(t[6].Text(statement))};
}

namespace {

// The T-SQL function a function of the translation stands for: tsql_left is LEFT, tsql_sum_int
// is SUM, ifnull is ISNULL.
QString TsqlFunctionName(const QString& name) {
  QString n = name.toLower();
  if (n == u"ifnull") return QStringLiteral("isnull");
  if (!n.startsWith(QLatin1StringView("tsql_"))) return n;
  n = n.mid(5);
  for (const char* suffix : {"_bigint", "_int"})
    if (n.endsWith(QLatin1StringView(suffix))) n.chop(static_cast<qsizetype>(strlen(suffix)));
  return n;
}

// SQL Server's count of arguments for the functions the suite knows: {least, most}.
std::optional<std::pair<int, int>> ArgumentCount(const QString& function) {
  static const struct {
    const char* name;
    int least, most;
  } kCounts[] = {
      {"left", 2, 2},    {"right", 2, 2},      {"substring", 3, 3}, {"round", 2, 3},
      {"power", 2, 2},   {"format", 2, 3},     {"sum", 1, 1},       {"avg", 1, 1},
      {"dateadd", 3, 3}, {"datediff", 3, 3},   {"datepart", 2, 2},  {"datename", 2, 2},
      {"year", 1, 1},    {"month", 1, 1},      {"day", 1, 1},       {"eomonth", 1, 2},
      {"getdate", 0, 0}, {"getutcdate", 0, 0}, {"charindex", 2, 3}, {"patindex", 2, 2},
      {"stuff", 4, 4},   {"replicate", 2, 2},  {"space", 1, 1},     {"str", 1, 3},
      {"isnull", 2, 2},
  };
  for (const auto& c : kCounts)
    if (function == QLatin1StringView(c.name)) return std::pair(c.least, c.most);
  return std::nullopt;
}

// Whether `name` stands in the statement as a table or an alias: a name not followed by ".".
bool NamesTableOrAlias(QStringView statement, QStringView name) {
  const std::vector<sql::Token> t = sql::CodeTokens(statement);
  for (std::size_t i = 0; i < t.size(); ++i)
    if ((t[i].kind == sql::TokenKind::Word || t[i].kind == sql::TokenKind::QuotedName) &&
        sql::NameValue(t[i].Text(statement)).compare(name, Qt::CaseInsensitive) == 0 &&
        !(i + 1 < t.size() && sql::IsOperator(statement, t[i + 1], QLatin1StringView("."))))
      return true;
  return false;
}

bool HasWord(QStringView statement, const char* word) {
  for (const sql::Token& t : sql::CodeTokens(statement))
    if (sql::IsWord(statement, t, QLatin1StringView(word))) return true;
  return false;
}

// Whether an aggregate's arguments hold another aggregate; a window's aggregate counts as none.
bool NestsAggregates(QStringView statement) {
  const std::vector<sql::Token> t = sql::CodeTokens(statement);
  auto is = [&](std::size_t i, const char* op) {
    return i < t.size() && sql::IsOperator(statement, t[i], QLatin1StringView(op));
  };
  // The depth of each open aggregate's "(", innermost last.
  std::vector<int> open;
  int depth = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (is(i, "(")) {
      ++depth;
    } else if (is(i, ")")) {
      if (!open.empty() && open.back() == depth) open.pop_back();
      --depth;
    } else if (t[i].kind == sql::TokenKind::Word && is(i + 1, "(")) {
      const QString name = TsqlFunctionName(t[i].Text(statement).toString());
      if (name != u"sum" && name != u"avg" && name != u"count" && name != u"min" && name != u"max")
        continue;
      // a window's aggregate: its OVER follows the ")" that closes its arguments
      int d = 0;
      std::size_t close = i + 1;
      for (; close < t.size(); ++close) {
        if (is(close, "(")) ++d;
        if (is(close, ")") && --d == 0) break;
      }
      if (close + 1 < t.size() && sql::IsWord(statement, t[close + 1], QLatin1StringView("over")))
        continue;
      if (!open.empty()) return true;
      open.push_back(depth + 1);
    }
  }
  return false;
}

// SQL Server's text (error 102) for SQLite's words on text it cannot read; empty for other
// messages. SQL Server names a keyword as such.
QString SyntaxErrorText(const QString& message, QStringView statement) {
  static const QRegularExpression kNear(QStringLiteral("^near \"(.*)\": syntax error$"));
  static const QRegularExpression kToken(QStringLiteral("^unrecognized token: \"(.*)\"$"));
  QString near;
  if (const QRegularExpressionMatch m = kNear.match(message); m.hasMatch()) {
    near = m.captured(1);
  } else if (const QRegularExpressionMatch t = kToken.match(message); t.hasMatch()) {
    near = t.captured(1);
  } else if (message == QLatin1StringView("incomplete input")) {
    const std::vector<sql::Token> tokens = sql::CodeTokens(statement);
    if (tokens.empty()) return {};
    near = statement.mid(tokens.back().start, tokens.back().length).toString();
  } else {
    return {};
  }
  static const char* const kKeywords[] = {
      "select", "from",   "where",  "group", "order",   "by",        "having",     "union",
      "insert", "update", "delete", "into",  "values",  "set",       "and",        "or",
      "not",    "null",   "is",     "in",    "like",    "between",   "join",       "on",
      "inner",  "left",   "right",  "outer", "full",    "cross",     "as",         "case",
      "when",   "then",   "else",   "end",   "top",     "distinct",  "exists",     "begin",
      "table",  "create", "drop",   "alter", "primary", "key",       "references", "declare",
      "all",    "any",    "some",   "with",  "except",  "intersect", "default",    "if"};
  for (const char* keyword : kKeywords)
    if (near.compare(QLatin1StringView(keyword), Qt::CaseInsensitive) == 0)
      return QStringLiteral("Incorrect syntax near the keyword '%1'.").arg(near);
  return QStringLiteral("Incorrect syntax near '%1'.").arg(near);
}

// SQL Server's text for SQLite's words on a name it does not know or a call it cannot make;
// empty for other messages.
QString NameErrorText(const QString& message, const QString& verb, QStringView statement) {
  static const QRegularExpression kForms[] = {
      QRegularExpression(QStringLiteral("^no such table: (?:main\\.|temp\\.)?(.+)$")),
      QRegularExpression(QStringLiteral("^no such column: (.+)$")),
      QRegularExpression(QStringLiteral("^ambiguous column name: (.+)$")),
      QRegularExpression(QStringLiteral("^no such function: (.+)$")),
      QRegularExpression(QStringLiteral("^table (.+) already exists$")),
      QRegularExpression(QStringLiteral("^wrong number of arguments to function (.+)\\(\\)$")),
      QRegularExpression(QStringLiteral("^misuse of aggregate(?: function|:) (.+)\\(\\)$")),
      QRegularExpression(QStringLiteral("^aggregate functions are not allowed in the GROUP BY")),
      QRegularExpression(QStringLiteral("^(?:table tsql_rows\\d+ has \\d+ values for 1 columns|"
                                        "sub-select returns \\d+ columns - expected 1)$")),
  };
  for (std::size_t form = 0; form < std::size(kForms); ++form) {
    const QRegularExpressionMatch m = kForms[form].match(message);
    if (!m.hasMatch()) continue;
    const QString name = m.captured(1);
    switch (form) {
      case 0:
        if (verb == u"DROP")
          return QStringLiteral(
                     "Cannot drop the table '%1', because it does not exist or you do not have "
                     "permission.")
              .arg(name);
        return QStringLiteral("Invalid object name '%1'.").arg(name);
      case 1: {
        // "x.Code": a column of a table the statement does not name, or one its table lacks.
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot > 0) {
          const QString table = name.left(dot).section(u'.', -1);
          if (!NamesTableOrAlias(statement, table))
            return QStringLiteral("The multi-part identifier \"%1\" could not be bound.").arg(name);
        }
        return QStringLiteral("Invalid column name '%1'.").arg(name.mid(dot + 1));
      }
      case 2:
        return QStringLiteral("Ambiguous column name '%1'.").arg(name);
      case 3:
        return QStringLiteral("'%1' is not a recognized built-in function name.").arg(name);
      case 4:
        return QStringLiteral("There is already an object named '%1' in the database.")
            .arg(sql::NameValue(name));
      case 5: {
        const QString function = TsqlFunctionName(name);
        const auto count = ArgumentCount(function);
        if (!count)
          return QStringLiteral("The %1 function was given a wrong number of arguments.")
              .arg(function);
        if (count->first == count->second)
          return QStringLiteral("The %1 function requires %2 argument(s).")
              .arg(function)
              .arg(count->first);
        return QStringLiteral("The %1 function requires %2 to %3 arguments.")
            .arg(function)
            .arg(count->first)
            .arg(count->second);
      }
      case 6:
        if (NestsAggregates(statement))
          return QStringLiteral(
              "Cannot perform an aggregate function on an expression containing an aggregate or "
              "a subquery.");
        if (HasWord(statement, "where"))
          return QStringLiteral(
              "An aggregate may not appear in the WHERE clause unless it is in a subquery "
              "contained in a HAVING clause or a select list, and the column being aggregated is "
              "an outer reference.");
        return QStringLiteral("misuse of aggregate function %1()").arg(TsqlFunctionName(name));
      case 7:
        return QStringLiteral(
            "Cannot use an aggregate or a subquery in an expression used for the group by list "
            "of a GROUP BY clause.");
      default:
        return QStringLiteral(
            "Only one expression can be specified in the select list when the subquery is not "
            "introduced with EXISTS.");
    }
  }
  return {};
}

}  // namespace

QString ServerErrorText(int code, const QString& message, const QString& verb,
                        const QStringList& tables, bool childSide, QStringView statement) {
  const qsizetype colon = message.indexOf(QLatin1StringView(": "));
  const QString detail = colon < 0 ? QString() : message.mid(colon + 2).trimmed();
  switch (code) {
    case SQLITE_INTERRUPT:
      return QStringLiteral("Operation canceled");
    case SQLITE_ERROR:
      // SQLite's parser and its expression trees stop at a depth, as SQL Server's compiler does.
      if (message.startsWith(QLatin1StringView("Expression tree is too large")) ||
          message == QLatin1StringView("parser stack overflow"))
        return QStringLiteral(
            "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
            "up into smaller queries.");
      if (QString text = NameErrorText(message, verb, statement); !text.isEmpty()) return text;
      if (QString text = SyntaxErrorText(message, statement); !text.isEmpty()) return text;
      break;
    case SQLITE_CONSTRAINT_NOTNULL: {
      const qsizetype dot = detail.lastIndexOf(u'.');
      if (dot <= 0) break;
      return QStringLiteral(
                 "Cannot insert the value NULL into column '%1', table '%2'; column does not "
                 "allow nulls. %3 fails.")
          .arg(detail.mid(dot + 1), detail.left(dot),
               verb == QLatin1StringView("UPDATE") ? verb : QStringLiteral("INSERT"));
    }
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY: {
      QString table;
      QStringList columns;
      for (const QString& part : detail.split(QLatin1StringView(", "), Qt::SkipEmptyParts)) {
        const qsizetype dot = part.lastIndexOf(u'.');
        if (dot <= 0) {
          columns.clear();
          break;
        }
        if (table.isEmpty()) table = part.left(dot);
        columns.append(part.mid(dot + 1));
      }
      if (columns.isEmpty())
        return QStringLiteral("Cannot insert duplicate key row. (%1)").arg(message);
      return QStringLiteral(
                 "Cannot insert duplicate key row in object '%1' with unique index '%2'.")
          .arg(table, columns.join(QLatin1StringView(", ")));
    }
    case SQLITE_CONSTRAINT_FOREIGNKEY: {
      if (verb != QLatin1StringView("DELETE") && verb != QLatin1StringView("INSERT") &&
          verb != QLatin1StringView("UPDATE") && verb != QLatin1StringView("REPLACE"))
        break;
      // Deleting or changing a referenced row conflicts with the referencing tables; a row whose
      // parent is missing conflicts with its own foreign key.
      const bool reference = verb == QLatin1StringView("DELETE") ||
                             (verb == QLatin1StringView("UPDATE") && !childSide);
      QString text =
          QStringLiteral("%1 statement conflicted with COLUMN %2 constraint")
              .arg(verb == QLatin1StringView("REPLACE") ? QStringLiteral("INSERT") : verb,
                   reference ? QStringLiteral("REFERENCE") : QStringLiteral("FOREIGN KEY"));
      if (tables.size() == 1)
        text += QStringLiteral(" on table '%1'").arg(tables.first());
      else if (tables.size() > 1)
        text += QStringLiteral(" on one of the tables '%1'")
                    .arg(tables.join(QLatin1StringView("', '")));
      return text + u'.';
    }
    default:
      break;
  }
  return message;
}

}  // namespace qav::db::embedded
