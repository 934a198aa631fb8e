#pragma once

#include "db/Params.h"

#include <QStringList>
#include <QStringView>
#include <vector>

namespace qav {

// Where a character of SQL text stands: in plain code, or inside a literal or comment that
// runs on until its closing mark.
enum class TSqlContext {
  Code,
  SingleQuoted,  // 'text', with '' for a quote inside
  DoubleQuoted,  // "name", with "" inside
  Bracketed,     // [name], with ]] inside
  LineComment,   // -- up to the end of the line
  BlockComment,  // /* up to */
};

// Walks SQL text one character at a time, across lines, and tells for each character whether
// it is code or part of a literal, bracketed name or comment.
class TSqlScanner {
 public:
  // The context of text[i] and the step to the next character to look at: a comment's or
  // literal's two-character marks and doubled quotes are taken as one step. A new line ends a
  // line comment.
  struct Step {
    TSqlContext context;  // of the characters of this step
    qsizetype length;
    bool opens = false;  // the step begins a literal, a bracketed name or a comment
  };
  Step Next(QStringView text, qsizetype i);

  TSqlContext Context() const { return context_; }
  // Inside a literal, a bracketed name or a block comment, which goes on past the line end.
  bool InOpenConstruct() const {
    return context_ != TSqlContext::Code && context_ != TSqlContext::LineComment;
  }
  // A line of its own ends a line comment.
  void EndLine() {
    if (context_ == TSqlContext::LineComment) context_ = TSqlContext::Code;
  }

 private:
  TSqlContext context_ = TSqlContext::Code;
};

// A copy of the text, of the same length, in which comments have become blanks and the
// characters inside literals and bracketed names have become "x" (their quote marks and
// brackets stay). Parameter and macro markers found in it are markers in code only.
QString MaskLiteralsAndComments(QStringView text);

// The parameter (":") or macro ("%") references of a text as db::ScanParamTokens finds them,
// but only in code: a marker inside a literal, a bracketed name or a comment is text. Names are
// taken from the text itself.
std::vector<db::ParamToken> ScriptParamTokens(QStringView text, QChar marker,
                                              QStringView extraDelimiters = {});
// Their distinct names, in order of first appearance (letter case ignored).
QStringList ScriptParamNames(QStringView text, QChar marker, QStringView extraDelimiters = {});

// One statement of a script: its lines, and the zero-based index of the last script line read
// for it (the terminator line, the line holding the ";", or the script's last line).
struct TScriptStatement {
  QStringList lines;
  int lastLine = 0;
};

// Splits a script into statements. Lines are trimmed and blank lines dropped, except where a
// literal runs on over the line break; comments are left out of the statements. A line equal to
// term ends a statement and, with semicolonTerm, so does the first ";" of a line; the text after
// it opens the next statement and is not split again. Neither counts inside a literal, a
// bracketed name or a comment. A literal, bracketed name or block comment that is still open at
// the end of the script raises EDatabaseError naming the line where it began.
std::vector<TScriptStatement> SplitScript(const QStringList& lines, bool semicolonTerm, QChar term);

}  // namespace qav
