#pragma once

#include "db/Backend.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace qav::test {

// A back end that runs nothing and remembers everything: the statements that reach it with
// their bound arguments, transactions, and which statements a commit made durable. Installed
// behind server names that begin with "record:" while a RecordingServer lives; connections
// opened then all report to it.
class RecordingServer {
 public:
  enum class FailKind { Engine, Database, Other };

  // A planned failure: the execution numbered `nth` (1-based, over all executions since the
  // server was made) or, with nth 0, every execution whose text contains `match`.
  struct FailRule {
    int nth = 0;
    QString match;
    FailKind kind = FailKind::Engine;
    QString message = QStringLiteral("statement failed");
    int times = -1;  // how often the rule fires; -1 for always
  };

  struct Statement {
    QString sql;
    std::vector<QVariant> args;
    bool inTransaction = false;
    bool failed = false;
  };

  RecordingServer();
  ~RecordingServer();
  RecordingServer(const RecordingServer&) = delete;
  RecordingServer& operator=(const RecordingServer&) = delete;

  void Fail(FailRule rule) { rules_.push_back(std::move(rule)); }
  void FailStartTransaction(bool fail) { failStartTransaction_ = fail; }
  void FailOpen(bool fail) { failOpen_ = fail; }

  // Every execution attempt, failed ones included, in order.
  const std::vector<Statement>& Attempts() const { return attempts_; }
  QStringList AttemptedTexts() const;
  // Texts of the statements that succeeded.
  QStringList ExecutedTexts() const;
  // Texts that would survive: run outside a transaction, or inside one that was committed.
  const QStringList& Durable() const { return durable_; }
  // "start", "commit" and "rollback", in order.
  const QStringList& TransactionLog() const { return transactionLog_; }
  int Opens() const { return opens_; }

 private:
  friend class RecordingConnection;
  std::unique_ptr<db::BackendConnection> Open(const db::ConnectSettings& settings);
  void Execute(const QString& sql, const std::vector<QVariant>& args, bool inTransaction);

  std::vector<FailRule> rules_;
  bool failStartTransaction_ = false;
  bool failOpen_ = false;
  std::vector<Statement> attempts_;
  QStringList durable_;
  QStringList pending_;
  QStringList transactionLog_;
  int opens_ = 0;
};

}  // namespace qav::test
