#pragma once

#include "core/Exception.h"

#include <vector>

namespace qav::db {

// Every failure of the database layer is an EDatabaseError or a descendant.
QAV_EXCEPTION_CLASS(EDatabaseError, Exception);

// One entry of an engine error's list: the server's (or driver's) own code and text.
struct TDBError {
  int ErrorCode = 0;
  int NativeError = 0;
  QString Message;
  // The line of the batch on which the failing statement stands, counted from 1 as SQL Server
  // counts it; 0 when not known.
  int Line = 0;
  // SQL Server's severity (class) of the error, 0 when not known.
  int Severity = 0;
};

// An error reported by the database server or driver. Its message is the server's own text,
// so that callers can match well-known messages; the entries keep every diagnostic record.
class EDBEngineError : public EDatabaseError {
 public:
  explicit EDBEngineError(QString message, std::vector<TDBError> errors = {})
      : EDatabaseError(std::move(message)), errors_(std::move(errors)) {}
  const char* ClassName() const override { return "EDBEngineError"; }

  const std::vector<TDBError>& Errors() const { return errors_; }
  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  void AddError(TDBError error) { errors_.push_back(std::move(error)); }
  // Gives the entries that name no line the line of the statement that failed.
  void SetLine(int line) {
    if (errors_.empty()) errors_.push_back({0, 0, Message()});
    for (TDBError& e : errors_)
      if (e.Line == 0) e.Line = line;
  }

 private:
  std::vector<TDBError> errors_;
};

// The line on which the statement that raised `e` stands, for a text whose first line is
// `firstLine`: moved down by the line the server names within the text, or `firstLine` when the
// error names none.
inline int LineOf(const Exception& e, int firstLine) {
  const auto* engine = dynamic_cast<const EDBEngineError*>(&e);
  if (engine && !engine->Errors().empty() && engine->Errors().front().Line > 0)
    return firstLine + engine->Errors().front().Line - 1;
  return firstLine;
}

}  // namespace qav::db
