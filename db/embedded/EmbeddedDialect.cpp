#include "db/embedded/EmbeddedDialect.h"

#include "db/embedded/ServerErrors.h"
#include "db/embedded/TsqlFunctions.h"
#include "db/embedded/TsqlRewriter.h"
#include "sql/TsqlLexer.h"

#include <sqlite3.h>
#include <QRegularExpression>

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
  const TsqlFunction* f = TsqlFunctionCalled(name);
  return f ? QString::fromLatin1(f->name) : name.toLower();
}

// SQL Server's count of arguments for the functions the suite knows: {least, most}.
std::optional<std::pair<int, int>> ArgumentCount(const QString& function) {
  const TsqlFunction* f = FindTsqlFunction(function);
  if (!f) return std::nullopt;
  return std::pair(f->least, f->most);
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
      const TsqlFunction* f = TsqlFunctionCalled(t[i].Text(statement));
      if (!f || !f->Is(kAggregate)) continue;
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

// SQL Server's error 102 for SQLite's words on text it cannot read (156 for a keyword, which
// SQL Server names as such); no row and no text for other messages.
ServerFailure SyntaxError(const QString& message, QStringView statement) {
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
      return ServerFailure::Of(ServerError::SyntaxNearKeyword, {near});
  return ServerFailure::Of(ServerError::SyntaxNear, {near});
}

// SQL Server's error for SQLite's words on a name it does not know or a call it cannot make;
// no row and no text for other messages.
ServerFailure NameError(const QString& message, const QString& verb, QStringView statement) {
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
        if (verb == u"DROP") return ServerFailure::Of(ServerError::CannotDropTable, {name});
        return ServerFailure::Of(ServerError::InvalidObject, {name});
      case 1: {
        // "x.Code": a column of a table the statement does not name, or one its table lacks.
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot > 0) {
          const QString table = name.left(dot).section(u'.', -1);
          if (!NamesTableOrAlias(statement, table))
            return ServerFailure::Of(ServerError::UnboundIdentifier, {name});
        }
        return ServerFailure::Of(ServerError::InvalidColumn, {name.mid(dot + 1)});
      }
      case 2:
        return ServerFailure::Of(ServerError::AmbiguousColumn, {name});
      case 3:
        return ServerFailure::Of(ServerError::UnknownFunction, {name});
      case 4:
        return ServerFailure::Of(ServerError::ObjectExists, {sql::NameValue(name)});
      case 5: {
        const QString function = TsqlFunctionName(name);
        const auto count = ArgumentCount(function);
        if (!count) return ServerFailure::Of(ServerError::WrongArgumentCount, {function});
        if (count->first == count->second)
          return ServerFailure::Of(ServerError::ArgumentCount,
                                   {function, QString::number(count->first)});
        return ServerFailure::Of(
            ServerError::ArgumentRange,
            {function, QString::number(count->first), QString::number(count->second)});
      }
      case 6:
        if (NestsAggregates(statement)) return ServerFailure::Of(ServerError::AggregateOfAggregate);
        if (HasWord(statement, "where")) return ServerFailure::Of(ServerError::AggregateInWhere);
        return {nullptr,
                QStringLiteral("misuse of aggregate function %1()").arg(TsqlFunctionName(name))};
      case 7:
        return ServerFailure::Of(ServerError::AggregateInGroupBy);
      default:
        return ServerFailure::Of(ServerError::OneExpressionInSubquery);
    }
  }
  return {};
}

}  // namespace

ServerFailure ServerFailure::Of(ServerError error, const QStringList& args) {
  return {&ServerErrorInfo(error), ServerErrorMessage(error, args)};
}

ServerFailure ServerErrorOf(int code, const QString& message, const QString& verb,
                            const QStringList& tables, bool childSide, QStringView statement) {
  // A failure of a function of the translation is known by its number already.
  if (const ServerErrorRow* row = FailedCall(message)) return {row, message};
  const qsizetype colon = message.indexOf(QLatin1StringView(": "));
  const QString detail = colon < 0 ? QString() : message.mid(colon + 2).trimmed();
  switch (code) {
    case SQLITE_INTERRUPT:
      return ServerFailure::Of(ServerError::Canceled);
    case SQLITE_ERROR: {
      // SQLite's parser and its expression trees stop at a depth, as SQL Server's compiler does.
      if (message.startsWith(QLatin1StringView("Expression tree is too large")) ||
          message == QLatin1StringView("parser stack overflow"))
        return ServerFailure::Of(ServerError::NestedTooDeeply);
      if (ServerFailure name = NameError(message, verb, statement); !name.text.isEmpty())
        return name;
      if (ServerFailure syntax = SyntaxError(message, statement); !syntax.text.isEmpty())
        return syntax;
      break;
    }
    case SQLITE_CONSTRAINT_NOTNULL: {
      const qsizetype dot = detail.lastIndexOf(u'.');
      if (dot <= 0) break;
      return ServerFailure::Of(
          ServerError::NullNotAllowed,
          {detail.mid(dot + 1), detail.left(dot),
           verb == QLatin1StringView("UPDATE") ? verb : QStringLiteral("INSERT")});
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
      if (columns.isEmpty()) return ServerFailure::Of(ServerError::DuplicateKeyUnnamed, {message});
      return ServerFailure::Of(ServerError::DuplicateKey,
                               {table, columns.join(QLatin1StringView(", "))});
    }
    case SQLITE_CONSTRAINT_FOREIGNKEY: {
      if (verb != QLatin1StringView("DELETE") && verb != QLatin1StringView("INSERT") &&
          verb != QLatin1StringView("UPDATE") && verb != QLatin1StringView("REPLACE"))
        break;
      // Deleting or changing a referenced row conflicts with the referencing tables; a row whose
      // parent is missing conflicts with its own foreign key.
      const bool reference = verb == QLatin1StringView("DELETE") ||
                             (verb == QLatin1StringView("UPDATE") && !childSide);
      QString where;
      if (tables.size() == 1)
        where = QStringLiteral(" on table '%1'").arg(tables.first());
      else if (tables.size() > 1)
        where = QStringLiteral(" on one of the tables '%1'")
                    .arg(tables.join(QLatin1StringView("', '")));
      return ServerFailure::Of(
          ServerError::ForeignKeyConflict,
          {verb == QLatin1StringView("REPLACE") ? QStringLiteral("INSERT") : verb,
           reference ? QStringLiteral("REFERENCE") : QStringLiteral("FOREIGN KEY"), where});
    }
    default:
      break;
  }
  return {nullptr, message};
}

}  // namespace qav::db::embedded
