#include "script/ScriptQuery.h"

namespace qav {

using namespace qav::db;

namespace {

// A name also ends at a dot, so that "%alias.column" names the macro "alias".
constexpr QStringView kExtraMacroDelimiters = u".";

bool EndsMacroName(QChar c) {
  return c == u'\n' || c == u'\r' || c == u' ' || c == u')' || c == u',' || c == u';' || c == u'.';
}

qsizetype CountQuotes(QStringView text) {
  qsizetype count = 0;
  for (QChar c : text)
    if (c == u'\'' || c == u'"') ++count;
  return count;
}

}  // namespace

TScriptQuery::TScriptQuery(QObject* owner) : TQuery(owner) {}

void TScriptQuery::SQLChanged() {
  TParams fresh;
  for (const QString& name : ScanParamNames(Text(), MacroChar, kExtraMacroDelimiters)) {
    TParam& macro = fresh.CreateParam(ftString, name, ptInput);
    if (const TParam* known = macros_.FindParam(name))
      macro.SetValue(known->Value());
    else
      macro.SetAsString(DefaultMacroValue());
  }
  macros_ = std::move(fresh);
}

QString TScriptQuery::ExpandLine(QString line) const {
  for (int m = macros_.Count() - 1; m >= 0; --m) {
    const QString reference = QString(MacroChar) + macros_[m].Name();
    const QString value = macros_[m].AsString();
    qsizetype from = 0;
    for (;;) {
      const qsizetype at = line.indexOf(reference, from);
      if (at < 0) break;
      const qsizetype after = at + reference.size();
      // Only the first occurrence is judged: a reference inside a quoted literal, or one that
      // is merely the start of a longer name, leaves this macro alone for the line.
      const bool counts = (after >= line.size() || EndsMacroName(line[after])) &&
                          CountQuotes(QStringView(line).left(at)) % 2 == 0;
      if (!counts) break;
      line.replace(at, reference.size(), value);
      // Searching on after the inserted value: a value that names its own macro cannot loop.
      from = at + value.size();
    }
  }
  return line;
}

QString TScriptQuery::StatementText() const {
  if (macros_.IsEmpty()) return Text();
  QStringList lines;
  lines.reserve(SQL().size());
  for (const QString& line : SQL()) lines.append(ExpandLine(line));
  return lines.join(QStringLiteral("\r\n"));
}

}  // namespace qav
