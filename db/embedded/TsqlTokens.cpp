#include "db/embedded/TsqlTokens.h"

namespace qav::db::embedded {

namespace {

bool IsNameChar(QChar c) {
  return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

bool IsDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// The end of the blanks and comments at pos.
qsizetype SkipLead(QStringView s, qsizetype pos) {
  const qsizetype n = s.size();
  while (pos < n) {
    if (s[pos].isSpace()) {
      ++pos;
    } else if (s[pos] == u'-' && pos + 1 < n && s[pos + 1] == u'-') {
      while (pos < n && s[pos] != u'\n') ++pos;
    } else if (s[pos] == u'/' && pos + 1 < n && s[pos + 1] == u'*') {
      const qsizetype close = s.indexOf(QLatin1StringView("*/"), pos + 2);
      pos = close < 0 ? n : close + 2;
    } else {
      break;
    }
  }
  return pos;
}

qsizetype QuotedEnd(QStringView s, qsizetype pos, QChar close) {
  for (qsizetype i = pos + 1; i < s.size(); ++i) {
    if (s[i] != close) continue;
    if (i + 1 < s.size() && s[i + 1] == close) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return s.size();
}

qsizetype NumberEnd(QStringView s, qsizetype pos) {
  const qsizetype n = s.size();
  qsizetype i = pos;
  if (s[i] == u'0' && i + 1 < n && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    i += 2;
    while (i < n && (IsDigit(s[i]) || QStringView(u"abcdefABCDEF").contains(s[i]))) ++i;
    return i;
  }
  while (i < n && IsDigit(s[i])) ++i;
  if (i < n && s[i] == u'.') {
    ++i;
    while (i < n && IsDigit(s[i])) ++i;
  }
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    qsizetype j = i + 1;
    if (j < n && (s[j] == u'+' || s[j] == u'-')) ++j;
    if (j < n && IsDigit(s[j])) {
      while (j < n && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

}  // namespace

bool TsqlToken::IsAny(std::initializer_list<const char*> words) const {
  if (kind != Kind::Word) return false;
  for (const char* w : words)
    if (text.compare(QLatin1StringView(w), Qt::CaseInsensitive) == 0) return true;
  return false;
}

QString TsqlTokens::Text() const {
  QString out;
  for (const TsqlToken& t : tokens) out += t.lead + t.text;
  return out + tail;
}

TsqlTokens Tokenize(QStringView s) {
  TsqlTokens result;
  const qsizetype n = s.size();
  qsizetype pos = 0;
  for (;;) {
    const qsizetype start = SkipLead(s, pos);
    if (start >= n) {
      result.tail = s.mid(pos).toString();
      return result;
    }
    TsqlToken t;
    t.lead = s.mid(pos, start - pos).toString();
    const QChar c = s[start];
    const QChar next = start + 1 < n ? s[start + 1] : QChar();
    qsizetype end = start + 1;
    qsizetype textStart = start;
    if (c == u'\'') {
      t.kind = TsqlToken::Kind::String;
      end = QuotedEnd(s, start, c);
    } else if ((c == u'N' || c == u'n') && next == u'\'') {
      // SQLite has no national literals; its texts are Unicode throughout.
      t.kind = TsqlToken::Kind::String;
      textStart = start + 1;
      end = QuotedEnd(s, start + 1, next);
    } else if (c == u'"' || c == u'`' || c == u'[') {
      t.kind = TsqlToken::Kind::Name;
      end = QuotedEnd(s, start, c == u'[' ? QChar(u']') : c);
    } else if (IsDigit(c) || (c == u'.' && IsDigit(next))) {
      t.kind = TsqlToken::Kind::Number;
      end = NumberEnd(s, start);
    } else if (c == u'@') {
      t.kind = TsqlToken::Kind::Variable;
      while (end < n && IsNameChar(s[end])) ++end;
    } else if (IsNameChar(c)) {
      t.kind = TsqlToken::Kind::Word;
      while (end < n && IsNameChar(s[end])) ++end;
    } else if (c == u'?') {
      t.kind = TsqlToken::Kind::Param;
      while (end < n && IsDigit(s[end])) ++end;
    } else if (c == u':' && IsNameChar(next)) {
      t.kind = TsqlToken::Kind::Param;
      ++end;
      while (end < n && IsNameChar(s[end])) ++end;
    } else {
      t.kind = TsqlToken::Kind::Symbol;
      static const char* const kPairs[] = {"<=", ">=", "<>", "!=", "||", "==", "!<", "!>"};
      for (const char* p : kPairs)
        if (c == QLatin1Char(p[0]) && next == QLatin1Char(p[1])) end = start + 2;
    }
    t.text = s.mid(textStart, end - textStart).toString();
    t.end = end;
    result.tokens.push_back(std::move(t));
    pos = end;
  }
}

QString StringValue(const TsqlToken& token) {
  QString v = token.text.mid(1);
  if (v.endsWith(u'\'')) v.chop(1);
  return v.replace(QLatin1StringView("''"), QLatin1StringView("'"));
}

QString QuoteString(const QString& value) {
  QString v = value;
  return u'\'' + v.replace(u'\'', QLatin1StringView("''")) + u'\'';
}

std::size_t MatchingParen(const std::vector<TsqlToken>& tokens, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    if (tokens[i].kind != TsqlToken::Kind::Symbol) continue;
    if (tokens[i].text == u'(') {
      ++depth;
    } else if (tokens[i].text == u')' && --depth == 0) {
      return i;
    }
  }
  return tokens.size();
}

}  // namespace qav::db::embedded
