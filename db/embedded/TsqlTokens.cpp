#include "db/embedded/TsqlTokens.h"

#include "sql/TsqlLexer.h"

namespace qav::db::embedded {

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
  qsizetype pos = 0;  // the end of the last token taken
  sql::Lexer lexer(s);
  for (sql::Token t = lexer.NextCode(); t.length > 0; t = lexer.NextCode()) {
    TsqlToken token;
    token.lead = s.mid(pos, t.start - pos).toString();
    qsizetype textStart = t.start;
    switch (t.construct) {
      case sql::TokenKind::Word:
        token.kind = TsqlToken::Kind::Word;
        break;
      case sql::TokenKind::QuotedName:
        token.kind = TsqlToken::Kind::Name;
        break;
      case sql::TokenKind::String:
        token.kind = TsqlToken::Kind::String;
        // SQLite has no national literals; its texts are Unicode throughout.
        if (s[t.start] != u'\'') ++textStart;
        break;
      case sql::TokenKind::Number:
        token.kind = TsqlToken::Kind::Number;
        break;
      case sql::TokenKind::Variable:
        token.kind = TsqlToken::Kind::Variable;
        break;
      case sql::TokenKind::Param:
        token.kind = TsqlToken::Kind::Param;
        break;
      default:
        token.kind = TsqlToken::Kind::Symbol;
        break;
    }
    if (t.kind == sql::TokenKind::Error) result.unterminated = lexer.State();
    token.text = s.mid(textStart, t.End() - textStart).toString();
    token.end = t.End();
    result.tokens.push_back(std::move(token));
    pos = t.End();
  }
  result.tail = s.mid(pos).toString();
  if (lexer.State().IsOpen()) result.unterminated = lexer.State();
  return result;
}

QString StringValue(const TsqlToken& token) {
  return sql::StringValue(token.text);
}

QString QuoteString(const QString& value) {
  return sql::QuoteString(value);
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
