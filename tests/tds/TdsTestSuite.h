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
// Server: through the ODBC back end and FreeTDS.
class TdsDemoSuite : public DemoSuiteFolder {
 public:
  explicit TdsDemoSuite(int salesRows = 500);

  QString Address() const;  // "127.0.0.1,PORT"
  tds::Server& Server() { return server_; }
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

}  // namespace qav::test
