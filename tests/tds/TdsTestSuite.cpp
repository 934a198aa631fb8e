#include "tests/tds/TdsTestSuite.h"

#include "app/DMConfig.h"
#include "db/odbc/OdbcConnection.h"
#include "tools/tds/TdsLogin.h"
#include "tools/tds/TdsTls.h"
#include "tools/tds/TdsWire.h"

#include <gtest/gtest.h>
#include <QFile>

namespace qav::test {

namespace {

std::shared_ptr<const tds::TlsCredentials> Credentials() {
  static const std::shared_ptr<const tds::TlsCredentials> credentials =
      tds::TlsCredentials::SelfSigned();
  return credentials;
}

template <typename Log>
tds::ServerOptions OptionsFor(const QString& suite, const std::shared_ptr<Log>& log) {
  tds::ServerOptions options;
  options.suiteFolder = suite;
  options.tls = Credentials();
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

const QByteArray kAllHeaders =
    QByteArray::fromHex("16 00 00 00 12 00 00 00 02 00 00 00 00 00 00 00 00 00 01 00 00 00");

QByteArray Login7Record() {
  const QString fields[] = {QStringLiteral("fuzz"),     QStringLiteral("qav"),
                            QStringLiteral("tarnwick"), QStringLiteral("fuzz"),
                            QStringLiteral("QAVTEST"),  QString(),  // extension: none
                            QStringLiteral("ODBC"),     QString(),
                            QStringLiteral("DEMO")};
  constexpr int kFixed = 94;
  QByteArray fixed(kFixed, '\0');
  const auto put = [&](int at, quint32 v, int bytes) {
    for (int i = 0; i < bytes; ++i) fixed[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(4, tds::kTds74, 4);
  put(8, 4096, 4);
  QByteArray data;
  for (int i = 0; i < 9; ++i) {
    const QByteArray ucs2 =
        i == 2 ? tds::ScramblePassword(tds::ToUcs2(fields[i])) : tds::ToUcs2(fields[i]);
    put(36 + 4 * i, static_cast<quint32>(kFixed + data.size()), 2);
    put(38 + 4 * i, static_cast<quint32>(ucs2.size() / 2), 2);
    data += ucs2;
  }
  put(0, static_cast<quint32>(kFixed + data.size()), 4);
  return fixed + data;
}

QByteArray SqlBatchPayload(const QString& sql) {
  return kAllHeaders + tds::ToUcs2(sql);
}

}  // namespace qav::test
