#include "db/embedded/TsqlStatements.h"

#include "db/embedded/ServerErrors.h"
#include "db/embedded/TsqlRewriter.h"
#include "db/embedded/TsqlTokens.h"

namespace qav::db::embedded {

namespace {

using Kind = TsqlToken::Kind;
using Tokens = std::vector<TsqlToken>;

bool IsSymbol(const Tokens& t, std::size_t i, QStringView s) {
  return i < t.size() && t[i].kind == Kind::Symbol && t[i].text == s;
}

// Splits [from, to) at the top-level commas.
std::vector<std::pair<std::size_t, std::size_t>> SplitCommas(const Tokens& t, std::size_t from,
                                                             std::size_t to) {
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  int depth = 0;
  std::size_t start = from;
  for (std::size_t i = from; i < to; ++i) {
    if (IsSymbol(t, i, u"("))
      ++depth;
    else if (IsSymbol(t, i, u")"))
      --depth;
    else if (depth == 0 && IsSymbol(t, i, u",")) {
      parts.emplace_back(start, i);
      start = i + 1;
    }
  }
  parts.emplace_back(start, to);
  return parts;
}

QString Join(const Tokens& t, std::size_t from, std::size_t to) {
  QString out;
  for (std::size_t i = from; i < to; ++i) out += (i == from ? QString() : t[i].lead) + t[i].text;
  return out;
}

void ParseDeclare(const Tokens& t, std::size_t end, TsqlStatement& s) {
  for (const auto& [from, to] : SplitCommas(t, 1, end)) {
    if (from >= to || t[from].kind != Kind::Variable) {
      if (from < to && t[from].kind == Kind::Word && from + 1 < to && t[from + 1].Is(u"cursor"))
        RefuseTsql(QStringLiteral("cursors"));
      RaiseServerError(ServerError::SyntaxNearKeyword, {QStringLiteral("DECLARE")});
    }
    TsqlStatement::Assignment a;
    a.variable = t[from].text;
    std::size_t typeStart = from + 1;
    if (typeStart < to && t[typeStart].Is(u"as")) ++typeStart;
    std::size_t eq = typeStart;
    while (eq < to && !IsSymbol(t, eq, u"=")) ++eq;
    if (typeStart >= eq) RaiseServerError(ServerError::SyntaxNear, {a.variable});
    if (t[typeStart].Is(u"table")) RefuseTsql(QStringLiteral("table variables"));
    if (t[typeStart].Is(u"cursor")) RefuseTsql(QStringLiteral("cursors"));
    for (std::size_t i = typeStart; i < eq; ++i) a.type += t[i].text;
    a.type = a.type.toLower();
    if (eq < to) a.expression = Join(t, eq + 1, to);
    s.assignments.push_back(std::move(a));
  }
}

// SELECT @a = expr, @b = expr [FROM ...]
bool ParseSelectAssign(const Tokens& t, std::size_t end, TsqlStatement& s) {
  if (!(1 < end && t[1].kind == Kind::Variable && IsSymbol(t, 2, u"="))) return false;
  std::size_t listEnd = 1;
  int depth = 0;
  for (; listEnd < end; ++listEnd) {
    if (IsSymbol(t, listEnd, u"("))
      ++depth;
    else if (IsSymbol(t, listEnd, u")"))
      --depth;
    else if (depth == 0 && t[listEnd].IsAny({"from", "where", "order", "group", "union"}))
      break;
  }
  for (const auto& [from, to] : SplitCommas(t, 1, listEnd)) {
    if (!(from + 2 < to + 1 && t[from].kind == Kind::Variable && IsSymbol(t, from + 1, u"=")))
      RaiseServerError(ServerError::AssignWithRetrieval);
    s.assignments.push_back({t[from].text, QString(), Join(t, from + 2, to)});
  }
  s.kind = TsqlStatement::Kind::SelectAssign;
  if (listEnd < end) s.rest = Join(t, listEnd, end);
  return true;
}

}  // namespace

TsqlStatement ParseTsqlStatement(QStringView statement) {
  TsqlStatement s;
  const TsqlTokens parsed = Tokenize(statement);
  const Tokens& t = parsed.tokens;
  if (t.empty()) return s;
  const TsqlToken& verb = t[0];

  for (const char* refused :
       {"merge", "while", "goto",       "throw", "exec",     "execute", "open",
        "fetch", "close", "deallocate", "grant", "revoke",   "deny",    "use",
        "dbcc",  "bulk",  "waitfor",    "break", "continue", "go"}) {
    if (verb.IsAny({refused})) RefuseTsql(verb.text.toUpper());
  }
  if (verb.IsAny({"create", "alter"}) && t.size() > 1 &&
      t[1].IsAny({"procedure", "proc", "function"}))
    RefuseTsql(QStringLiteral("%1 %2").arg(verb.text.toUpper(), t[1].text.toUpper()));
  if (verb.Is(u"begin") && t.size() > 1 && t[1].IsAny({"try", "catch"}))
    RefuseTsql(QStringLiteral("TRY ... CATCH"));

  std::size_t end = t.size();
  while (end > 0 && IsSymbol(t, end - 1, u";")) --end;
  if (verb.Is(u"declare")) {
    s.kind = TsqlStatement::Kind::Declare;
    ParseDeclare(t, end, s);
  } else if (verb.Is(u"set") && t.size() > 1 && t[1].kind == Kind::Variable) {
    s.kind = TsqlStatement::Kind::SetVariable;
    TsqlStatement::Assignment a;
    a.variable = t[1].text;
    std::size_t eq = 2;
    QString op;
    if (eq < end && t[eq].kind == Kind::Symbol && QStringView(u"+-*/").contains(t[eq].text) &&
        IsSymbol(t, eq + 1, u"=")) {
      op = t[eq].text;
      ++eq;
    }
    if (!IsSymbol(t, eq, u"=")) RaiseServerError(ServerError::SyntaxNear, {a.variable});
    a.expression = Join(t, eq + 1, end);
    if (op == u"+")
      a.expression = QStringLiteral("tsql_add(%1, (%2))").arg(a.variable, a.expression);
    else if (op == u"-")
      a.expression = QStringLiteral("tsql_sub(%1, (%2))").arg(a.variable, a.expression);
    else if (op == u"/")
      a.expression = QStringLiteral("tsql_div(%1, (%2))").arg(a.variable, a.expression);
    else if (op == u"*")
      a.expression = QStringLiteral("tsql_mul(%1, (%2))").arg(a.variable, a.expression);
    s.assignments.push_back(std::move(a));
  } else if (verb.Is(u"set") && t.size() > 1 && t[1].kind == Kind::Word) {
    // Options that change answers are refused; the rest change nothing here.
    if (t[1].IsAny({"rowcount", "dateformat", "datefirst", "language"}))
      RefuseTsql(QStringLiteral("SET %1").arg(t[1].text.toUpper()));
    s.kind = TsqlStatement::Kind::SetOption;
  } else if (verb.Is(u"print")) {
    s.kind = TsqlStatement::Kind::Print;
    s.expression = Join(t, 1, end);
  } else if (verb.Is(u"raiserror")) {
    if (!IsSymbol(t, 1, u"("))
      RaiseServerError(ServerError::SyntaxNear, {QStringLiteral("RAISERROR")});
    const std::size_t close = MatchingParen(t, 1);
    const auto args = SplitCommas(t, 2, std::min(close, t.size()));
    if (args.size() < 3) RaiseServerError(ServerError::SyntaxNear, {QStringLiteral("RAISERROR")});
    s.kind = TsqlStatement::Kind::RaiseError;
    s.expression = Join(t, args[0].first, args[0].second);
    s.severity = Join(t, args[1].first, args[1].second).toInt();
  } else if (verb.Is(u"select")) {
    ParseSelectAssign(t, end, s);
  }
  return s;
}

}  // namespace qav::db::embedded
