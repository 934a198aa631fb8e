#include "tests/support/RecordingBackend.h"

#include "db/Errors.h"

namespace qav::test {

using namespace qav::db;

class RecordingConnection : public BackendConnection {
 public:
  explicit RecordingConnection(RecordingServer& server) : server_(server) {}

  std::unique_ptr<ResultSet> Execute(const QString& sql,
                                     const std::vector<QVariant>& args) override {
    server_.Execute(sql, args, inTransaction_);
    return nullptr;
  }
  qint64 RowsAffected() const override { return -1; }

  bool InTransaction() const override { return inTransaction_; }
  void StartTransaction() override {
    if (server_.failStartTransaction_)
      throw EDBEngineError(QStringLiteral("transactions are not supported"));
    inTransaction_ = true;
    server_.transactionLog_.append(QStringLiteral("start"));
  }
  void Commit() override {
    inTransaction_ = false;
    server_.transactionLog_.append(QStringLiteral("commit"));
    server_.durable_ += server_.pending_;
    server_.pending_.clear();
  }
  void Rollback() override {
    inTransaction_ = false;
    server_.transactionLog_.append(QStringLiteral("rollback"));
    server_.pending_.clear();
  }

  void ExecProc(const QString& name, std::vector<ProcArg>&) override {
    server_.Execute(QStringLiteral("exec ") + name, {}, inTransaction_);
  }

 private:
  RecordingServer& server_;
  bool inTransaction_ = false;
};

RecordingServer::RecordingServer() {
  RegisterBackendScheme(QStringLiteral("record:"),
                        [this](const ConnectSettings& settings) { return Open(settings); });
}

RecordingServer::~RecordingServer() {
  RegisterBackendScheme(QStringLiteral("record:"), nullptr);
}

std::unique_ptr<BackendConnection> RecordingServer::Open(const ConnectSettings&) {
  if (failOpen_) throw EDBEngineError(QStringLiteral("Login failed"));
  ++opens_;
  return std::make_unique<RecordingConnection>(*this);
}

void RecordingServer::Execute(const QString& sql, const std::vector<QVariant>& args,
                              bool inTransaction) {
  attempts_.push_back({sql, args, inTransaction, false});
  const int number = static_cast<int>(attempts_.size());
  for (FailRule& rule : rules_) {
    if (rule.times == 0) continue;
    const bool hit = rule.nth > 0 ? rule.nth == number : sql.contains(rule.match);
    if (!hit) continue;
    if (rule.times > 0) --rule.times;
    attempts_.back().failed = true;
    switch (rule.kind) {
      case FailKind::Engine:
        throw EDBEngineError(rule.message, {TDBError{1, 50000, rule.message}});
      case FailKind::Database:
        throw EDatabaseError(rule.message);
      case FailKind::Other:
        throw EInOutError(rule.message);
    }
  }
  (inTransaction ? pending_ : durable_).append(sql);
}

QStringList RecordingServer::AttemptedTexts() const {
  QStringList texts;
  for (const Statement& s : attempts_) texts.append(s.sql);
  return texts;
}

QStringList RecordingServer::ExecutedTexts() const {
  QStringList texts;
  for (const Statement& s : attempts_)
    if (!s.failed) texts.append(s.sql);
  return texts;
}

}  // namespace qav::test
