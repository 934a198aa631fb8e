#pragma once

#include "sql/TsqlLexer.h"

#include <QString>
#include <QStringView>
#include <vector>

namespace qav::db::embedded {

// One token of T-SQL text with the blanks and comments in front of it, so that joining every
// token's lead and text gives the text back.
struct TsqlToken {
  enum class Kind {
    Word,      // a name or keyword, unquoted
    Name,      // [bracketed], "quoted" or `quoted` name
    String,    // 'text' with doubled quotes inside; an N'...' literal loses its N
    Number,    // 12, 1.5, .5, 1e+5, 0x1F
    Variable,  // @name (and @@name)
    Param,     // ?, ?NNN, :name
    Symbol,    // an operator or punctuation: one character, or <=, >=, <>, !=, ||, ==, !<, !>
  };
  Kind kind = Kind::Symbol;
  QString text;
  QString lead;
  qsizetype end = 0;  // index in the source after the token

  bool Is(QStringView s) const {
    return (kind == Kind::Word || kind == Kind::Symbol) &&
           text.compare(s, Qt::CaseInsensitive) == 0;
  }
  bool IsAny(std::initializer_list<const char*> words) const;
};

struct TsqlTokens {
  std::vector<TsqlToken> tokens;
  QString tail;  // blanks and comments after the last token
  // What is still open at the end of the text: an unterminated string, name or comment, which
  // runs to the end as the last token or in the tail.
  sql::LexState unterminated;
  QString Text() const;
};

// Splits T-SQL into tokens with the one lexer of SQL text.
TsqlTokens Tokenize(QStringView text);

// The value of a 'quoted' string token, doubled quotes made single.
QString StringValue(const TsqlToken& token);
// A string token's text for a value.
QString QuoteString(const QString& value);

// Index of the ")" closing the "(" at `open`, or tokens.size() when it is not closed.
std::size_t MatchingParen(const std::vector<TsqlToken>& tokens, std::size_t open);

}  // namespace qav::db::embedded
