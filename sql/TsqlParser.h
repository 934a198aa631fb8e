#pragma once

#include "core/Exception.h"
#include "sql/TsqlLexer.h"

#include <QString>
#include <QStringView>
#include <vector>

// T-SQL read once, as a tree: a batch gives its statements, a query its clauses and set
// operations, an expression its operators and operands. Every node keeps the run of tokens it
// was read from, so that printing a tree gives its text back byte for byte, and what the parser
// does not understand stays a raw node instead of being dropped. The parser is linear in the
// length of the text and its nesting is bounded: past kMaxNesting levels it reports SQL Server's
// error 191 instead of recursing further.
namespace qav::sql {

// Nested parentheses, CASE, subqueries and blocks that one statement may hold.
inline constexpr int kMaxNesting = 256;

// A run of code tokens [first, last) of a parsed text and the characters they cover; blanks and
// comments between the tokens are inside it, those around it are not.
struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
  qsizetype start = 0;
  qsizetype end = 0;

  bool Empty() const { return last <= first; }
  qsizetype Length() const { return end - start; }
};

// What a text is made of, read once: every token (blanks and comments included) and the code
// tokens that spans count in.
class TokenText {
 public:
  explicit TokenText(QString text, int firstLine = 1);

  const QString& Text() const { return text_; }
  // The code tokens: neither blanks nor comments.
  const std::vector<Token>& Code() const { return code_; }
  const Token& operator[](std::size_t i) const { return code_[i]; }
  std::size_t Size() const { return code_.size(); }
  // The text from the first character of code token `first` to the last of token `last - 1`.
  Span SpanOf(std::size_t first, std::size_t last) const;
  QStringView TextOf(const Span& s) const { return QStringView(text_).mid(s.start, s.Length()); }
  QStringView TextOf(std::size_t i) const { return code_[i].Text(text_); }
  // What the text leaves open at its end: a string, name or comment never closed.
  LexState Unterminated() const { return end_; }

  bool IsWord(std::size_t i, QLatin1StringView word) const;
  bool IsWordIn(std::size_t i, std::initializer_list<const char*> words) const;
  bool IsOperator(std::size_t i, QLatin1StringView op) const;
  // For the "(" at code token i, the index of its ")", or Size() when it is never closed.
  std::size_t Match(std::size_t i) const { return match_[i]; }

 private:
  QString text_;
  std::vector<Token> code_;
  std::vector<std::size_t> match_;
  LexState end_;
};

// ----------------------------------------------------------------------------------------------
// Statements

enum class StatementKind : unsigned char {
  Select,  // SELECT, a WITH query, or a query in parentheses
  Insert,
  Update,
  Delete,
  Merge,
  BulkInsert,
  Create,
  CreateModule,  // CREATE or ALTER PROCEDURE, FUNCTION, TRIGGER, VIEW: to the end of the batch
  Alter,
  Drop,
  Truncate,
  Declare,
  Set,
  Print,
  RaiseError,
  Throw,
  Execute,
  Use,
  Return,
  Break,
  Continue,
  Goto,
  Label,  // name:
  WaitFor,
  If,        // condition, then body[0], else body[1]
  While,     // condition, body[0]
  Block,     // BEGIN ... END: body
  TryCatch,  // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH: body[0] the try, body[1] the catch
  BeginTransaction,
  Commit,
  Rollback,
  SaveTransaction,
  Cursor,  // OPEN, FETCH, CLOSE, DEALLOCATE
  Backup,
  Restore,
  Grant,  // GRANT, REVOKE, DENY
  Dbcc,
  Checkpoint,
  Kill,
  Other,  // a statement that begins with no statement word: raw text
};

struct Statement {
  StatementKind kind = StatementKind::Other;
  Span span;          // its first token to its last; the ";" after it is not included
  qsizetype end = 0;  // after its ";" when it has one, else span.end
  int line = 1;       // the line of its first token
  Span condition;     // If, While
  std::vector<Statement> body;
};

// The name of a kind, "SELECT", "BEGIN TRANSACTION", for messages and tests.
const char* StatementKindName(StatementKind kind);
// True for the words that begin a statement; the one list of them.
bool IsStatementWord(QStringView word);

// The statements of one batch, in order, each with the blocks inside it. Every code token of the
// batch belongs to exactly one statement (or is a ";" between statements). A statement that is
// not ended by ";" ends where a word that begins a statement stands outside parentheses, CASE and
// the parts of the statement that such a word continues (INSERT ... SELECT, UPDATE ... SET,
// UNION SELECT, ON DELETE, GRANT SELECT ...). Raises ETsqlSyntax for a nesting past
// kMaxNesting and for END, ELSE or CATCH without their beginning.
class ParsedBatch {
 public:
  explicit ParsedBatch(QString text, int firstLine = 1);

  const TokenText& Tokens() const { return tokens_; }
  const QString& Text() const { return tokens_.Text(); }
  const std::vector<Statement>& Statements() const { return statements_; }
  QStringView TextOf(const Span& s) const { return tokens_.TextOf(s); }
  QStringView TextOf(const Statement& s) const { return tokens_.TextOf(s.span); }

 private:
  TokenText tokens_;
  std::vector<Statement> statements_;
};

// The error a text that cannot be read raises: SQL Server's number and text, and the line of
// the text on which it stands.
class ETsqlSyntax : public Exception {
 public:
  ETsqlSyntax(int number, QString message, int line)
      : Exception(std::move(message)), number_(number), line_(line) {}
  const char* ClassName() const override { return "ETsqlSyntax"; }
  int Number() const { return number_; }
  int Line() const { return line_; }

 private:
  int number_;
  int line_;
};

// SQL Server's error 191.
QString NestedTooDeeplyText();

}  // namespace qav::sql
