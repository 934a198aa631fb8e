#include "script/ScriptSplitter.h"

#include "core/TextUtil.h"
#include "db/Errors.h"

namespace qav {

namespace {

bool IsLiteral(TSqlContext context) {
  return context == TSqlContext::SingleQuoted || context == TSqlContext::DoubleQuoted ||
         context == TSqlContext::Bracketed;
}

bool IsComment(TSqlContext context) {
  return context == TSqlContext::LineComment || context == TSqlContext::BlockComment;
}

QString OpenConstructName(TSqlContext context) {
  switch (context) {
    case TSqlContext::SingleQuoted:
      return QStringLiteral("string");
    case TSqlContext::DoubleQuoted:
      return QStringLiteral("quoted name");
    case TSqlContext::Bracketed:
      return QStringLiteral("bracketed name");
    default:
      return QStringLiteral("comment");
  }
}

}  // namespace

TSqlScanner::Step TSqlScanner::Next(QStringView text, qsizetype i) {
  const QChar c = text[i];
  const QChar d = i + 1 < text.size() ? text[i + 1] : QChar();
  // A literal ends at its closing mark unless the mark is doubled, which stands for itself.
  auto inLiteral = [&](QChar close) -> Step {
    const TSqlContext context = context_;
    if (c != close) return {context, 1};
    if (d == close) return {context, 2};
    context_ = TSqlContext::Code;
    return {context, 1};
  };
  switch (context_) {
    case TSqlContext::Code:
      if (c == u'\'')
        context_ = TSqlContext::SingleQuoted;
      else if (c == u'"')
        context_ = TSqlContext::DoubleQuoted;
      else if (c == u'[')
        context_ = TSqlContext::Bracketed;
      else if (c == u'-' && d == u'-')
        context_ = TSqlContext::LineComment;
      else if (c == u'/' && d == u'*')
        context_ = TSqlContext::BlockComment;
      else
        return {TSqlContext::Code, 1};
      return {context_, IsComment(context_) ? 2 : 1, true};
    case TSqlContext::SingleQuoted:
      return inLiteral(u'\'');
    case TSqlContext::DoubleQuoted:
      return inLiteral(u'"');
    case TSqlContext::Bracketed:
      return inLiteral(u']');
    case TSqlContext::LineComment:
      if (c == u'\n' || c == u'\r') {
        context_ = TSqlContext::Code;
        return {TSqlContext::Code, 1};
      }
      return {TSqlContext::LineComment, 1};
    case TSqlContext::BlockComment:
      if (c == u'*' && d == u'/') {
        context_ = TSqlContext::Code;
        return {TSqlContext::BlockComment, 2};
      }
      return {TSqlContext::BlockComment, 1};
  }
  return {TSqlContext::Code, 1};
}

QString MaskLiteralsAndComments(QStringView text) {
  QString out = text.toString();
  TSqlScanner scanner;
  for (qsizetype i = 0; i < text.size();) {
    const TSqlScanner::Step step = scanner.Next(text, i);
    if (IsComment(step.context)) {
      for (qsizetype k = i; k < i + step.length; ++k) out[k] = u' ';
    } else if (IsLiteral(step.context)) {
      // The opening and closing marks stay, so that the text still reads as quoted.
      const bool mark = step.length == 1 && (step.opens || scanner.Context() == TSqlContext::Code);
      if (!mark)
        for (qsizetype k = i; k < i + step.length; ++k) out[k] = u'x';
    }
    i += step.length;
  }
  return out;
}

std::vector<db::ParamToken> ScriptParamTokens(QStringView text, QChar marker,
                                              QStringView extraDelimiters) {
  const QString masked = MaskLiteralsAndComments(text);
  std::vector<db::ParamToken> tokens = db::ScanParamTokens(masked, marker, extraDelimiters);
  for (db::ParamToken& t : tokens) {
    const QString written = text.mid(t.start + 1, t.length - 1).toString();
    t.name = !written.isEmpty() && (written[0] == u'\'' || written[0] == u'"')
                 ? db::StripNameQuotes(written)
                 : written;
  }
  return tokens;
}

QStringList ScriptParamNames(QStringView text, QChar marker, QStringView extraDelimiters) {
  QStringList names;
  for (const db::ParamToken& t : ScriptParamTokens(text, marker, extraDelimiters))
    if (!names.contains(t.name, Qt::CaseInsensitive)) names.append(t.name);
  return names;
}

std::vector<TScriptStatement> SplitScript(const QStringList& lines, bool semicolonTerm,
                                          QChar term) {
  std::vector<TScriptStatement> statements;
  const QString termText(term);
  TSqlScanner scanner;
  int openedOn = 0;  // the line where the construct still open began
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
      const bool startsOpen = scanner.InOpenConstruct();
      const bool startsInLiteral = IsLiteral(scanner.Context());
      if (!startsOpen && Trim(raw) == termText) break;

      // The line without its comments; a block comment still parts the words around it.
      QString text;
      qsizetype semicolon = -1;
      for (qsizetype p = 0; p < raw.size();) {
        const TSqlScanner::Step step = scanner.Next(raw, p);
        if (step.opens) openedOn = lineNo;
        if (step.context == TSqlContext::BlockComment) {
          if (step.opens) text += u' ';
        } else if (step.context != TSqlContext::LineComment) {
          if (semicolonTerm && semicolon < 0 && step.context == TSqlContext::Code && raw[p] == u';')
            semicolon = text.size();
          text += QStringView(raw).mid(p, step.length);
        }
        p += step.length;
      }
      scanner.EndLine();
      const bool endsInLiteral = IsLiteral(scanner.Context());

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
      // A terminator may follow the end of a comment on its line, unless it is a mark that
      // has just opened a literal.
      if (!startsInLiteral && !scanner.InOpenConstruct() && line == termText) break;
      if (!line.isEmpty() || startsInLiteral) statement.lines.append(line);
    }
    if (statement.lines.isEmpty()) continue;
    statement.lastLine = i - 1;
    statements.push_back(std::move(statement));
  }
  if (scanner.InOpenConstruct())
    throw db::EDatabaseError(QStringLiteral("Unterminated %1 on line %2")
                                 .arg(OpenConstructName(scanner.Context()))
                                 .arg(openedOn));
  return statements;
}

}  // namespace qav
