#include "tests/tds/TdsTestSuite.h"

#include "app/DMConfig.h"
#include "db/odbc/OdbcConnection.h"
#include "tools/tds/TdsTls.h"

#include <gtest/gtest.h>
#include <QFile>

namespace qav::test {

namespace {

std::shared_ptr<const tds::TlsCredentials> Credentials() {
  static const std::shared_ptr<const tds::TlsCredentials> credentials =
      tds::TlsCredentials::SelfSigned();
  return credentials;
}

tds::ServerOptions OptionsFor(const QString& suite) {
  tds::ServerOptions options;
  options.suiteFolder = suite;
  options.tls = Credentials();
  return options;
}

}  // namespace

TdsDemoSuite::TdsDemoSuite(int salesRows)
    : DemoSuiteFolder(salesRows), server_(OptionsFor(Suite())) {
  server_.Start(0);
  QFile dat(Root() + QStringLiteral("/Server.Dat"));
  EXPECT_TRUE(dat.open(QIODevice::WriteOnly | QIODevice::Truncate));
  dat.write(Address().toUtf8() + "\r\n");
}

const std::string& TdsDemoSuite::CertificatePem() {
  return Credentials()->CertificatePem();
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
