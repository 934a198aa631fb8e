#include "batch/StatementCount.h"

#include "sql/TsqlLexer.h"

#include <vector>

namespace qav {

namespace {

// A token of code with the parentheses around it.
struct Token {
  sql::Token token;
  int depth = 0;
  qsizetype end() const { return token.End(); }
};

std::vector<Token> Tokenize(QStringView s) {
  std::vector<Token> tokens;
  int depth = 0;
  for (const sql::Token& t : sql::CodeTokens(s)) {
    if (sql::IsOperator(s, t, QLatin1StringView(")"))) depth = std::max(depth - 1, 0);
    tokens.push_back({t, depth});
    if (sql::IsOperator(s, t, QLatin1StringView("("))) ++depth;
  }
  return tokens;
}

bool Is(QStringView s, const Token& t, QLatin1StringView word) {
  return sql::IsWord(s, t.token, word);
}

bool IsSemicolon(QStringView s, const Token& t) {
  return sql::IsOperator(s, t.token, QLatin1StringView(";"));
}

bool IsAnyOf(QStringView s, const Token& t, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (Is(s, t, QLatin1StringView(w))) return true;
  return false;
}

}  // namespace

QString CountStatementFor(const QString& sql) {
  const QStringView s(sql);
  std::vector<Token> tokens = Tokenize(s);
  if (tokens.empty() || !IsAnyOf(s, tokens.front(), {"select", "with"})) return {};

  // One statement: whatever follows a top-level ";" may only be more of them.
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].depth != 0 || !IsSemicolon(s, tokens[k])) continue;
    for (size_t m = k + 1; m < tokens.size(); ++m)
      if (!IsSemicolon(s, tokens[m])) return {};
    tokens.resize(k);
    break;
  }
  if (tokens.empty()) return {};

  size_t orderBy = tokens.size();
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.depth != 0) continue;
    if (IsAnyOf(s, t, {"into", "insert", "update", "delete", "merge", "exec", "execute"}))
      return {};
    if (Is(s, t, QLatin1StringView("order")) && k + 1 < tokens.size() &&
        Is(s, tokens[k + 1], QLatin1StringView("by")))
      orderBy = k;
  }
  // What the ORDER BY carries along (a limit, a page, TOP ... WITH TIES) keeps it.
  qsizetype end = tokens.back().end();
  if (orderBy < tokens.size()) {
    bool keep = false;
    for (size_t k = orderBy + 2; k < tokens.size(); ++k)
      if (tokens[k].depth == 0 &&
          IsAnyOf(s, tokens[k],
                  {"limit", "offset", "fetch", "for", "option", "union", "except", "intersect"}))
        keep = true;
    for (size_t k = 0; k < orderBy; ++k)
      if (tokens[k].depth == 0 && Is(s, tokens[k], QLatin1StringView("ties"))) keep = true;
    if (!keep) end = tokens[orderBy - 1].end();
  }
  // The line breaks keep a closing "--" comment from swallowing the parenthesis.
  return QStringLiteral("select count(*) from (\n") + sql.left(end) +
         QStringLiteral("\n) qav_rows");
}

}  // namespace qav
