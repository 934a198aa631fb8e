#include "script/ScriptSplitter.h"

#include "core/TextUtil.h"
#include "db/Errors.h"
#include "sql/TsqlLexer.h"

namespace qav {

namespace {

using sql::TokenKind;

bool IsLiteral(TokenKind construct) {
  return construct == TokenKind::String || construct == TokenKind::QuotedName;
}

}  // namespace

std::vector<TScriptStatement> SplitScript(const QStringList& lines, bool semicolonTerm,
                                          QChar term) {
  std::vector<TScriptStatement> statements;
  const QString termText(term);
  sql::LexState state;  // what the lines read so far leave open
  int openedOn = 0;     // the line where the construct still open began
  const int count = static_cast<int>(lines.size());
  int i = 0;
  QString carry;
  while (i < count || !carry.isEmpty()) {
    TScriptStatement statement;
    for (;;) {
      if (!carry.isEmpty()) {
        statement.lines.append(carry);
        carry.clear();
      }
      if (i >= count) break;
      const QString& raw = lines[i];
      const int lineNo = i++;
      const bool startsOpen = state.IsOpen();
      const bool startsInLiteral = IsLiteral(state.open);
      if (!startsOpen && Trim(raw) == termText) break;

      // The line without its comments; a block comment still parts the words around it.
      QString text;
      qsizetype semicolon = -1;
      sql::Lexer lexer(raw, state);
      while (!lexer.AtEnd()) {
        const sql::Token t = lexer.Next();
        const bool continued = startsOpen && t.start == 0;
        if (!continued && (IsLiteral(t.construct) || t.construct == TokenKind::BlockComment))
          openedOn = lineNo;
        if (t.construct == TokenKind::BlockComment) {
          if (!continued) text += u' ';
        } else if (t.kind == TokenKind::Space) {
          text += t.Text(raw).toString().remove(QChar(0xFEFF));  // the mark is not text
        } else if (t.construct != TokenKind::LineComment) {
          if (semicolonTerm && semicolon < 0 && t.kind == TokenKind::Operator &&
              raw[t.start] == u';')
            semicolon = text.size();
          text += t.Text(raw);
        }
      }
      state = lexer.State();
      const bool endsInLiteral = IsLiteral(state.open);

      // Blanks at an end of the line are trimmed unless they belong to a literal.
      QString line = startsInLiteral ? text : TrimLeft(text);
      if (semicolon >= 0) semicolon -= text.size() - line.size();
      if (!endsInLiteral) line = TrimRight(line);
      if (semicolon >= 0) {
        // Only the first semicolon splits; what follows opens the next statement as it is.
        carry = line.mid(semicolon + 1);
        carry = endsInLiteral ? TrimLeft(carry) : Trim(carry);
        const QString before = line.left(semicolon);
        if (!before.isEmpty()) statement.lines.append(before);
        break;
      }
      // A terminator may follow the end of a comment on its line.
      if (!startsInLiteral && !state.IsOpen() && line == termText) break;
      if (!line.isEmpty() || startsInLiteral) statement.lines.append(line);
    }
    if (statement.lines.isEmpty()) continue;
    statement.lastLine = i - 1;
    statements.push_back(std::move(statement));
  }
  if (state.IsOpen())
    throw db::EDatabaseError(QStringLiteral("Unterminated %1 on line %2")
                                 .arg(sql::OpenConstructName(state))
                                 .arg(openedOn));
  return statements;
}

}  // namespace qav
