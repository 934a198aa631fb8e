#include "script/ScriptQuery.h"

#include "db/Params.h"

namespace qav {

using namespace qav::db;

namespace {

// A name also ends at a dot, so that "%alias.column" names the macro "alias".
constexpr QStringView kExtraMacroDelimiters = u".";

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

QString TScriptQuery::StatementText() const {
  const QString text = Text();
  if (macros_.IsEmpty()) return text;
  // One pass over the references in code: a "%" inside a literal, a bracketed name or a comment
  // is text, and a value that holds a reference is inserted as it is.
  QString expanded;
  qsizetype copied = 0;
  for (const ParamToken& t : ScanParamTokens(text, MacroChar, kExtraMacroDelimiters)) {
    const TParam* macro = macros_.FindParam(t.name);
    // A name written in quotes is no reference to expand.
    if (!macro || text.mid(t.start + 1, t.length - 1) != t.name) continue;
    expanded += QStringView(text).mid(copied, t.start - copied);
    expanded += macro->AsString();
    copied = t.start + t.length;
  }
  expanded += QStringView(text).mid(copied);
  return expanded;
}

}  // namespace qav
