#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <vector>

// The lexical rules of T-SQL text, in one place: every reader of SQL text (the script runner,
// the statement counter, the parameter scanner, the embedded back end, the test server, the
// console's colouring) works on these tokens and adds only its own rules on top.
namespace qav::sql {

enum class TokenKind : unsigned char {
  Space,         // blanks, line ends and byte-order marks
  LineComment,   // "--" up to the end of its line; the line end is not part of it
  BlockComment,  // "/* ... */", nested as SQL Server nests them
  Word,          // a keyword or bare name; "#temp" and "##global" names are words too
  QuotedName,    // [name] with "]]" inside, "name" with '""' inside, and SQLite's `name`
  String,        // 'text' with "''" inside, and N'text'
  Number,        // 12, 1.5, .5, 1e+5, 0x1F
  Variable,      // @name and @@name
  Param,         // ?, ?NNN and :name, the placeholders of the program's own statements
  Operator,      // one character, or one of <= >= <> != !< !> || == ::
  Error,         // a string, name or block comment still open at the end of the text
};

struct Token {
  TokenKind kind = TokenKind::Space;
  // What the token is made of: its kind, or for an Error the construct left open (String,
  // QuotedName or BlockComment), so that a reader of one line at a time can go on with it.
  TokenKind construct = TokenKind::Space;
  qsizetype start = 0;
  qsizetype length = 0;
  int line = 1;  // the line of its first character

  qsizetype End() const { return start + length; }
  QStringView Text(QStringView source) const { return source.mid(start, length); }
  // Neither blanks nor a comment.
  bool IsCode() const {
    return construct != TokenKind::Space && construct != TokenKind::LineComment &&
           construct != TokenKind::BlockComment;
  }
  bool IsComment() const {
    return construct == TokenKind::LineComment || construct == TokenKind::BlockComment;
  }
};

// Where a text begins: in code, or inside a string, name or block comment that the text before
// it left open (the previous line of a script, the previous block of an editor).
struct LexState {
  TokenKind open = TokenKind::Space;  // Space for none; String, QuotedName or BlockComment
  char16_t close = 0;                 // the closing mark of an open string or name
  int depth = 0;                      // the nesting of an open block comment

  bool IsOpen() const { return open != TokenKind::Space; }
  // As one non-negative number, for QSyntaxHighlighter's block state, and back.
  int Pack() const;
  static LexState Unpack(int packed);
  friend bool operator==(const LexState&, const LexState&) = default;
};

// Reads a text token by token, blanks and comments included. Line ends are LF, CR LF and a lone
// CR alike.
class Lexer {
 public:
  explicit Lexer(QStringView text, LexState start = {}, int firstLine = 1);

  bool AtEnd() const { return pos_ >= text_.size(); }
  // The next token; at the end of the text, an empty Space token.
  Token Next();
  // The next token that is neither blanks nor a comment; at the end, an empty Space token.
  Token NextCode();
  // The state after the last token read: open when the text ended inside a construct.
  LexState State() const { return state_; }
  qsizetype Position() const { return pos_; }

 private:
  Token Continue(Token t);
  qsizetype QuotedEnd(qsizetype from, char16_t close);
  qsizetype CommentEnd(qsizetype from);
  void CountLines(qsizetype from, qsizetype to);

  QStringView text_;
  qsizetype pos_ = 0;
  int line_ = 1;
  LexState state_;
};

// True for a character that may stand inside a bare name (after its first character).
bool IsWordPart(QChar c);

// Every token of a text, in order.
std::vector<Token> Tokenize(QStringView text);
// The tokens that are neither blanks nor comments.
std::vector<Token> CodeTokens(QStringView text);

// True when `t` is the word `word`, compared as SQL Server compares keywords.
bool IsWord(QStringView text, const Token& t, QLatin1StringView word);
// True when `t` is the operator or punctuation `op`.
bool IsOperator(QStringView text, const Token& t, QLatin1StringView op);

// The value a String token stands for: without its N, its quotes and the doubling inside.
QString StringValue(QStringView tokenText);
// The name a Word or QuotedName token stands for: [a]]b] is a]b, "a""b" is a"b.
QString NameValue(QStringView tokenText);
// The object a multi-part name written as "Name", "dbo.Name", "[dbo].[Name]" or "Name;1" (a
// procedure's number) names: its last part, without quotes.
QString ObjectName(QStringView written);
// A string token for a value, and a bracketed name token for a name.
QString QuoteString(QStringView value);
QString QuoteName(QStringView name);
// A "quoted" name token, the form SQLite and SQL Server both read.
QString QuoteIdentifier(QStringView name);

// "string", "quoted name", "bracketed name" or "comment": what a state holds open, in the words
// of the program's messages.
QString OpenConstructName(const LexState& state);

}  // namespace qav::sql
