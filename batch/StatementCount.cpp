#include "batch/StatementCount.h"

#include <vector>

namespace qav {

namespace {

struct Token {
  qsizetype start = 0;
  qsizetype end = 0;
  int depth = 0;      // parentheses around it
  bool word = false;  // a keyword or a bare name
};

bool IsWordChar(QChar c) {
  return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// The tokens of T-SQL or SQLite text: words, quoted texts and names, and single characters;
// blanks and comments are left out. An unterminated quote or comment runs to the end.
std::vector<Token> Tokenize(QStringView s) {
  std::vector<Token> tokens;
  const qsizetype n = s.size();
  int depth = 0;
  qsizetype i = 0;
  while (i < n) {
    const QChar c = s[i];
    if (c.isSpace()) {
      ++i;
      continue;
    }
    if (c == u'-' && i + 1 < n && s[i + 1] == u'-') {
      while (i < n && s[i] != u'\n') ++i;
      continue;
    }
    if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
      const qsizetype close = s.indexOf(u"*/", i + 2);
      i = close < 0 ? n : close + 2;
      continue;
    }
    Token t{i, i + 1, depth, false};
    if (c == u'\'' || c == u'"' || c == u'`' || c == u'[') {
      const QChar close = c == u'[' ? QChar(u']') : c;
      qsizetype j = i + 1;
      for (; j < n; ++j) {
        if (s[j] != close) continue;
        if (j + 1 < n && s[j + 1] == close) {  // a doubled quote stands for itself
          ++j;
          continue;
        }
        break;
      }
      t.end = std::min(j + 1, n);
    } else if (IsWordChar(c)) {
      qsizetype j = i + 1;
      while (j < n && IsWordChar(s[j])) ++j;
      t.end = j;
      t.word = true;
    } else if (c == u'(') {
      ++depth;
    } else if (c == u')') {
      depth = std::max(depth - 1, 0);
      t.depth = depth;
    }
    tokens.push_back(t);
    i = t.end;
  }
  return tokens;
}

bool Is(QStringView s, const Token& t, QLatin1StringView word) {
  return t.word && s.mid(t.start, t.end - t.start).compare(word, Qt::CaseInsensitive) == 0;
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
    if (tokens[k].depth != 0 || s[tokens[k].start] != u';' || tokens[k].word) continue;
    for (size_t m = k + 1; m < tokens.size(); ++m)
      if (s[tokens[m].start] != u';' || tokens[m].word) return {};
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
  qsizetype end = tokens.back().end;
  if (orderBy < tokens.size()) {
    bool keep = false;
    for (size_t k = orderBy + 2; k < tokens.size(); ++k)
      if (tokens[k].depth == 0 &&
          IsAnyOf(s, tokens[k],
                  {"limit", "offset", "fetch", "for", "option", "union", "except", "intersect"}))
        keep = true;
    for (size_t k = 0; k < orderBy; ++k)
      if (tokens[k].depth == 0 && Is(s, tokens[k], QLatin1StringView("ties"))) keep = true;
    if (!keep) end = tokens[orderBy - 1].end;
  }
  // The line breaks keep a closing "--" comment from swallowing the parenthesis.
  return QStringLiteral("select count(*) from (\n") + sql.left(end) +
         QStringLiteral("\n) qav_rows");
}

}  // namespace qav
