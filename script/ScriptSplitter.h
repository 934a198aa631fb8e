#pragma once

#include <QStringList>
#include <vector>

namespace qav {

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
// bracketed name or a comment, and a byte-order mark counts as a blank. A literal, bracketed
// name or block comment that is still open at the end of the script raises EDatabaseError naming
// the line where it began.
std::vector<TScriptStatement> SplitScript(const QStringList& lines, bool semicolonTerm, QChar term);

}  // namespace qav
