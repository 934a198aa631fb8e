#pragma once

#include "db/Query.h"

namespace qav {

// The statement query of a script runner: a query whose text may hold macro references
// ("%Name"). Macros are found whenever the text changes and expanded in the text that is sent;
// parameters (":Name") are then found on the expanded text.
class TScriptQuery : public db::TQuery {
  Q_OBJECT

 public:
  explicit TScriptQuery(QObject* owner = nullptr);

  static constexpr QChar MacroChar = u'%';
  // The value a newly found macro gets: a condition that is always true.
  static QString DefaultMacroValue() { return QStringLiteral("0=0"); }

  db::TParams& Macros() { return macros_; }
  const db::TParams& Macros() const { return macros_; }

  // The statement with its macros expanded, as it is executed.
  QString ExpandedText() const { return StatementText(); }

 protected:
  QString StatementText() const override;
  void SQLChanged() override;

 private:
  db::TParams macros_;
};

}  // namespace qav
