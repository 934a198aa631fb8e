#include "sql/TsqlLexer.h"

namespace qav::sql {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

bool IsHexDigit(char16_t c) {
  return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool IsBlank(char16_t c) {
  if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') return true;
  if (c < 0x80) return c == u'\v' || c == u'\f';
  return c == kByteOrderMark || QChar(c).isSpace();
}

// Letters, Thai included, and the characters SQL Server lets a name begin with.
bool IsWordStart(char16_t c) {
  if (c < 0x80) return IsAsciiLetter(c) || c == u'_' || c == u'#' || c == u'$';
  const QChar q(c);
  return q.isLetter() || q.isSurrogate();
}

// A Thai name carries its vowel and tone marks, which are marks, not letters.
bool IsWordPart(char16_t c) {
  if (c < 0x80)
    return IsAsciiLetter(c) || IsDigit(c) || c == u'_' || c == u'#' || c == u'$' || c == u'@';
  const QChar q(c);
  return q.isLetterOrNumber() || q.isMark() || q.isSurrogate();
}

char16_t CloseOf(char16_t open) {
  return open == u'[' ? u']' : open;
}

}  // namespace

int LexState::Pack() const {
  if (!IsOpen()) return 0;
  if (open == TokenKind::BlockComment) return 1 + 4 * depth;
  const int mark = close == u'\'' ? 0 : close == u'"' ? 1 : close == u']' ? 2 : 3;
  return 2 + 4 * mark;
}

LexState LexState::Unpack(int packed) {
  if (packed <= 0) return {};
  if (packed % 4 == 1) return {TokenKind::BlockComment, 0, packed / 4};
  static constexpr char16_t kMarks[] = {u'\'', u'"', u']', u'`'};
  const char16_t close = kMarks[(packed / 4) % 4];
  return {close == u'\'' ? TokenKind::String : TokenKind::QuotedName, close, 0};
}

Lexer::Lexer(QStringView text, LexState start, int firstLine)
    : text_(text), line_(firstLine), state_(start) {}

void Lexer::CountLines(qsizetype from, qsizetype to) {
  for (qsizetype i = from; i < to; ++i) {
    const char16_t c = text_[i].unicode();
    if (c == u'\n' || (c == u'\r' && (i + 1 >= text_.size() || text_[i + 1] != u'\n'))) ++line_;
  }
}

qsizetype Lexer::QuotedEnd(qsizetype from, char16_t close) {
  const qsizetype n = text_.size();
  for (qsizetype i = from; i < n; ++i) {
    if (text_[i] != close) continue;
    if (i + 1 < n && text_[i + 1] == close) {  // a doubled mark stands for itself
      ++i;
      continue;
    }
    return i + 1;
  }
  return -1;
}

qsizetype Lexer::CommentEnd(qsizetype from) {
  const qsizetype n = text_.size();
  for (qsizetype i = from; i + 1 < n; ++i) {
    if (text_[i] == u'/' && text_[i + 1] == u'*') {
      ++state_.depth;
      ++i;
    } else if (text_[i] == u'*' && text_[i + 1] == u'/') {
      ++i;
      if (--state_.depth == 0) return i + 1;
    }
  }
  return -1;
}

// Reads on from pos_ inside the construct that state_ holds open.
Token Lexer::Continue(Token t) {
  const TokenKind open = state_.open;
  const qsizetype end =
      open == TokenKind::BlockComment ? CommentEnd(pos_) : QuotedEnd(pos_, state_.close);
  t.construct = open;
  if (end < 0) {
    t.kind = TokenKind::Error;
    pos_ = text_.size();
  } else {
    t.kind = open;
    pos_ = end;
    state_ = {};
  }
  t.length = pos_ - t.start;
  CountLines(t.start, pos_);
  return t;
}

Token Lexer::Next() {
  Token t;
  t.start = pos_;
  t.line = line_;
  const qsizetype n = text_.size();
  if (pos_ >= n) return t;
  if (state_.IsOpen()) return Continue(t);

  const char16_t c = text_[pos_].unicode();
  const char16_t d = pos_ + 1 < n ? text_[pos_ + 1].unicode() : u'\0';
  auto finish = [&](TokenKind kind, qsizetype end) {
    t.kind = t.construct = kind;
    t.length = end - t.start;
    pos_ = end;
    return t;
  };
  auto open = [&](TokenKind kind, char16_t close, qsizetype skip) {
    state_ = {kind, close, kind == TokenKind::BlockComment ? 1 : 0};
    pos_ += skip;
    return Continue(t);
  };

  if (IsBlank(c)) {
    qsizetype end = pos_ + 1;
    while (end < n && IsBlank(text_[end].unicode())) ++end;
    CountLines(pos_, end);
    return finish(TokenKind::Space, end);
  }
  if (c == u'-' && d == u'-') {
    qsizetype end = pos_ + 2;
    while (end < n && text_[end] != u'\n' && text_[end] != u'\r') ++end;
    return finish(TokenKind::LineComment, end);
  }
  if (c == u'/' && d == u'*') return open(TokenKind::BlockComment, 0, 2);
  if (c == u'\'') return open(TokenKind::String, u'\'', 1);
  if ((c == u'N' || c == u'n') && d == u'\'') return open(TokenKind::String, u'\'', 2);
  if (c == u'[' || c == u'"' || c == u'`') return open(TokenKind::QuotedName, CloseOf(c), 1);

  qsizetype end = pos_ + 1;
  if (IsDigit(c) || (c == u'.' && IsDigit(d))) {
    if (c == u'0' && (d == u'x' || d == u'X')) {
      end = pos_ + 2;
      while (end < n && IsHexDigit(text_[end].unicode())) ++end;
      return finish(TokenKind::Number, end);
    }
    end = pos_;
    while (end < n && IsDigit(text_[end].unicode())) ++end;
    if (end < n && text_[end] == u'.') {
      ++end;
      while (end < n && IsDigit(text_[end].unicode())) ++end;
    }
    if (end < n && (text_[end] == u'e' || text_[end] == u'E')) {
      qsizetype e = end + 1;
      if (e < n && (text_[e] == u'+' || text_[e] == u'-')) ++e;
      if (e < n && IsDigit(text_[e].unicode())) {
        while (e < n && IsDigit(text_[e].unicode())) ++e;
        end = e;
      }
    }
    return finish(TokenKind::Number, end);
  }
  if (c == u'@' || IsWordStart(c)) {
    while (end < n && IsWordPart(text_[end].unicode())) ++end;
    return finish(c == u'@' ? TokenKind::Variable : TokenKind::Word, end);
  }
  if (c == u'?') {
    while (end < n && IsDigit(text_[end].unicode())) ++end;
    return finish(TokenKind::Param, end);
  }
  if (c == u':' && d != u':' && d != u'\0' && IsWordStart(d)) {
    ++end;
    while (end < n && IsWordPart(text_[end].unicode())) ++end;
    return finish(TokenKind::Param, end);
  }
  static constexpr char16_t kPairs[][2] = {{u'<', u'='}, {u'>', u'='}, {u'<', u'>'},
                                           {u'!', u'='}, {u'!', u'<'}, {u'!', u'>'},
                                           {u'|', u'|'}, {u'=', u'='}, {u':', u':'}};
  for (const auto& pair : kPairs)
    if (c == pair[0] && d == pair[1]) return finish(TokenKind::Operator, pos_ + 2);
  if (QChar::isHighSurrogate(c) && QChar::isLowSurrogate(d)) end = pos_ + 2;
  return finish(TokenKind::Operator, end);
}

Token Lexer::NextCode() {
  for (;;) {
    const Token t = Next();
    if (t.length == 0 || t.IsCode()) return t;
  }
}

bool IsWordPart(QChar c) {
  return IsWordPart(c.unicode());
}

std::vector<Token> Tokenize(QStringView text) {
  std::vector<Token> tokens;
  Lexer lexer(text);
  while (!lexer.AtEnd()) tokens.push_back(lexer.Next());
  return tokens;
}

std::vector<Token> CodeTokens(QStringView text) {
  std::vector<Token> tokens;
  Lexer lexer(text);
  for (Token t = lexer.NextCode(); t.length > 0; t = lexer.NextCode()) tokens.push_back(t);
  return tokens;
}

bool IsWord(QStringView text, const Token& t, QLatin1StringView word) {
  return t.kind == TokenKind::Word && t.length == word.size() &&
         t.Text(text).compare(word, Qt::CaseInsensitive) == 0;
}

bool IsOperator(QStringView text, const Token& t, QLatin1StringView op) {
  return t.kind == TokenKind::Operator && t.Text(text) == op;
}

QString StringValue(QStringView tokenText) {
  QStringView v = tokenText;
  if (v.startsWith(u'N') || v.startsWith(u'n')) v = v.mid(1);
  if (v.startsWith(u'\'')) v = v.mid(1);
  if (v.endsWith(u'\'')) v.chop(1);
  QString out = v.toString();
  return out.replace(QLatin1StringView("''"), QLatin1StringView("'"));
}

QString NameValue(QStringView tokenText) {
  if (tokenText.isEmpty()) return {};
  const char16_t first = tokenText.front().unicode();
  if (first != u'[' && first != u'"' && first != u'`') return tokenText.toString();
  const char16_t close = CloseOf(first);
  QStringView v = tokenText.mid(1);
  if (v.endsWith(close)) v.chop(1);
  QString out = v.toString();
  return out.replace(QString(2, QChar(close)), QString(QChar(close)));
}

QString ObjectName(QStringView written) {
  QString name;
  Lexer lexer(written);
  for (Token t = lexer.NextCode(); t.length > 0; t = lexer.NextCode()) {
    if (IsOperator(written, t, QLatin1StringView(";"))) break;
    if (t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName)
      name = NameValue(t.Text(written));
  }
  return name;
}

QString QuoteString(QStringView value) {
  QString v = value.toString();
  return u'\'' + v.replace(u'\'', QLatin1StringView("''")) + u'\'';
}

QString QuoteName(QStringView name) {
  QString v = name.toString();
  return u'[' + v.replace(u']', QLatin1StringView("]]")) + u']';
}

QString QuoteIdentifier(QStringView name) {
  QString v = name.toString();
  return u'"' + v.replace(u'"', QLatin1StringView("\"\"")) + u'"';
}

QString OpenConstructName(const LexState& state) {
  switch (state.open) {
    case TokenKind::String:
      return QStringLiteral("string");
    case TokenKind::QuotedName:
      return state.close == u']' ? QStringLiteral("bracketed name") : QStringLiteral("quoted name");
    default:
      return QStringLiteral("comment");
  }
}

}  // namespace qav::sql
