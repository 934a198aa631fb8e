#include "tests/tds/TdsTestSuite.h"

#include "app/DMConfig.h"
#include "db/odbc/OdbcConnection.h"

#include <gtest/gtest.h>
#include <QFile>

namespace qav::test {

namespace {

template <typename Log>
tds::ServerOptions OptionsFor(const QString& suite, const std::shared_ptr<Log>& log) {
  tds::ServerOptions options;
  options.suiteFolder = suite;
  options.onText = [log](const QString& text) {
    std::lock_guard lock(log->mutex);
    log->texts << text;
  };
  return options;
}

}  // namespace

TdsDemoSuite::TdsDemoSuite(int salesRows)
    : DemoSuiteFolder(salesRows), server_(OptionsFor(Suite(), log_)) {
  server_.Start(0);
  QFile dat(Root() + QStringLiteral("/Server.Dat"));
  EXPECT_TRUE(dat.open(QIODevice::WriteOnly | QIODevice::Truncate));
  dat.write(Address().toUtf8() + "\r\n");
}

QStringList TdsDemoSuite::Received() const {
  std::lock_guard lock(log_->mutex);
  return log_->texts;
}

QString TdsDemoSuite::Address() const {
  return QStringLiteral("127.0.0.1,%1").arg(server_.Port());
}

db::ConnectSettings TdsDemoSuite::Settings(const QString& database) const {
  return db::ConnectSettings::FromParams(SuiteConnectionParams(database, Address()));
}

std::unique_ptr<db::BackendConnection> TdsDemoSuite::Connect(const QString& database) const {
  return db::OpenOdbc(Settings(database));
}

}  // namespace qav::test
