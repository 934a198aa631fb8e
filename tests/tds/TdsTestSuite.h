#pragma once

#include "db/Backend.h"
#include "tests/support/TestSuite.h"
#include "tools/tds/TdsServer.h"

#include <QStringList>
#include <memory>
#include <mutex>

namespace qav::test {

// A demo suite behind the TDS test server on a free local port, with Server.Dat naming that
// server ("127.0.0.1,PORT"), so that the program reaches its databases the way it reaches SQL
// Server: through the ODBC back end and FreeTDS. Like SQL Server, the server has a certificate,
// so that FreeTDS encrypts the login of every connection.
class TdsDemoSuite : public DemoSuiteFolder {
 public:
  explicit TdsDemoSuite(int salesRows = 500);

  QString Address() const;  // "127.0.0.1,PORT"
  tds::Server& Server() { return server_; }
  // The certificate the server offers clients that encrypt, made once for the whole run.
  static const std::string& CertificatePem();
  // The program's own parameter list for `database`.
  db::ConnectSettings Settings(const QString& database) const;
  std::unique_ptr<db::BackendConnection> Connect(const QString& database) const;
  // Every batch and procedure text the server received so far, in order.
  QStringList Received() const;

 private:
  struct Log {
    mutable std::mutex mutex;
    QStringList texts;
  };
  std::shared_ptr<Log> log_ = std::make_shared<Log>();
  tds::Server server_;
};

// The transaction descriptor header every request of 7.2 and later starts with.
extern const QByteArray kAllHeaders;
// A TDS 7.4 login of the suite's account to DEMO, as a client sends it.
QByteArray Login7Record();
// A SQL batch message's payload.
QByteArray SqlBatchPayload(const QString& sql);

}  // namespace qav::test
