#include "db/embedded/EmbeddedDialect.h"

#include "db/embedded/TsqlRewriter.h"
#include "sql/TsqlLexer.h"

#include <sqlite3.h>

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

// "Begin" that opens a block, as opposed to SQLite's "BEGIN [TRANSACTION]".
bool IsBlockBegin(QStringView s, const Token& t) {
  if (!IsWord(s, t, QLatin1StringView("begin"))) return false;
  const Token next = NextToken(s, t.end);
  return next.start < s.size() && !next.Is(s, ';') &&
         !IsAnyWord(s, next, {"tran", "transaction", "deferred", "immediate", "exclusive"});
}

// Words that start a statement, and so end the condition of an If.
bool StartsStatement(QStringView s, const Token& t) {
  if (!IsAnyWord(s, t,
                 {"begin",   "select",  "insert",  "update",  "delete",   "alter",     "create",
                  "drop",    "exec",    "execute", "set",     "print",    "return",    "if",
                  "declare", "with",    "backup",  "replace", "truncate", "raiserror", "vacuum",
                  "pragma",  "analyze", "reindex", "commit",  "rollback", "savepoint", "release"}))
    return false;
  // replace(...) and the like are functions inside the condition
  return !NextToken(s, t.end).Is(s, '(');
}

// Index after the ")" that closes the "(" at open, or -1 when it is not closed.
qsizetype MatchingParen(QStringView s, qsizetype open) {
  int depth = 0;
  for (Token t{open, TokenEnd(s, open)}; t.start < s.size(); t = NextToken(s, t.end)) {
    if (t.Is(s, '('))
      ++depth;
    else if (t.Is(s, ')') && --depth == 0)
      return t.end;
  }
  return -1;
}

// The statements of one branch of an If starting at pos: a Begin ... End block, a nested If,
// or one simple statement. Returns the branch text and where it ends.
std::optional<IfStatement> ParseIfAt(QStringView s, qsizetype pos, int depth);

// `depth`: the If statements around it, refused past kMaxTsqlNesting.
std::optional<std::pair<QString, qsizetype>> ParseBranch(QStringView s, qsizetype pos, int depth) {
  const Token first = NextToken(s, pos);
  if (first.start >= s.size()) return std::nullopt;
  if (IsBlockBegin(s, first)) {
    int depth = 1;
    for (Token t = NextToken(s, first.end); t.start < s.size(); t = NextToken(s, t.end)) {
      if (IsBlockBegin(s, t) || IsWord(s, t, QLatin1StringView("case"))) {
        ++depth;
      } else if (IsWord(s, t, QLatin1StringView("end")) && --depth == 0) {
        return std::pair(s.mid(first.end, t.start - first.end).toString(), t.end);
      }
    }
    return std::nullopt;
  }
  if (IsWord(s, first, QLatin1StringView("if"))) {
    const auto nested = ParseIfAt(s, first.start, depth + 1);
    if (!nested) return std::nullopt;
    return std::pair(s.mid(first.start, nested->end - first.start).toString(), nested->end);
  }
  const qsizetype end = StatementEnd(s, first.start);
  if (end == first.start) return std::nullopt;
  return std::pair(s.mid(first.start, end - first.start).toString(), end);
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

qsizetype StatementEnd(QStringView s, qsizetype pos) {
  int parens = 0;
  int blocks = 0;  // Case ... End, and Begin ... End as in trigger bodies
  for (Token t = NextToken(s, pos); t.start < s.size(); t = NextToken(s, t.end)) {
    if (t.Is(s, '(')) {
      ++parens;
    } else if (t.Is(s, ')')) {
      if (parens > 0) --parens;
    } else if (parens == 0) {
      if (t.Is(s, ';') && blocks == 0) return t.start;
      if (IsWord(s, t, QLatin1StringView("case")) || (t.start > pos && IsBlockBegin(s, t))) {
        ++blocks;
      } else if (IsWord(s, t, QLatin1StringView("end"))) {
        if (blocks == 0) return t.start;
        --blocks;
      } else if (blocks == 0 && IsWord(s, t, QLatin1StringView("else"))) {
        return t.start;
      }
    }
  }
  return s.size();
}

int CountPlaceholders(QStringView s) {
  int count = 0;
  for (const sql::Token& t : sql::CodeTokens(s))
    if (t.kind == sql::TokenKind::Param && t.length == 1 && s[t.start] == u'?') ++count;
  return count;
}

std::optional<IfStatement> ParseIf(QStringView s, qsizetype pos) {
  return ParseIfAt(s, pos, 0);
}

namespace {

std::optional<IfStatement> ParseIfAt(QStringView s, qsizetype pos, int depth) {
  if (depth > kMaxTsqlNesting) RefuseTsqlNesting();
  const Token ifWord = NextToken(s, pos);
  if (!IsWord(s, ifWord, QLatin1StringView("if"))) return std::nullopt;

  // The condition runs up to the first word that starts a statement outside parentheses.
  qsizetype condEnd = ifWord.end;
  Token t = NextToken(s, ifWord.end);
  for (;; t = NextToken(s, t.end)) {
    if (t.start >= s.size()) return std::nullopt;
    if (t.Is(s, '(')) {
      const qsizetype close = MatchingParen(s, t.start);
      if (close < 0) return std::nullopt;
      t.end = close;
    } else if (t.Is(s, ')') || t.Is(s, ';')) {
      return std::nullopt;
    } else if (condEnd > ifWord.end && StartsStatement(s, t)) {
      break;
    }
    condEnd = t.end;
  }
  IfStatement form;
  form.condition = s.mid(ifWord.end, condEnd - ifWord.end).trimmed().toString();

  auto thenPart = ParseBranch(s, t.start, depth);
  if (!thenPart) return std::nullopt;
  form.thenPart = std::move(thenPart->first);
  form.end = thenPart->second;

  // T-SQL allows "If c stmt; Else stmt".
  Token next = NextToken(s, form.end);
  if (next.Is(s, ';')) {
    const Token afterSemicolon = NextToken(s, next.end);
    if (IsWord(s, afterSemicolon, QLatin1StringView("else"))) next = afterSemicolon;
  }
  if (IsWord(s, next, QLatin1StringView("else"))) {
    auto elsePart = ParseBranch(s, next.end, depth);
    if (!elsePart) return std::nullopt;
    form.elsePart = std::move(elsePart->first);
    form.end = elsePart->second;
  }
  return form;
}

}  // namespace

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

QString ServerErrorText(int code, const QString& message, const QString& verb,
                        const QStringList& tables, bool childSide) {
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
