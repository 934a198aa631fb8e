// The test server judged by clients nobody here wrote: FreeTDS's tsql and bsqldb, Debian's
// pytds and pymssql; and how it treats connections it must end.
#include "tests/tds/TdsTestSuite.h"
#include "tools/tds/TdsChannel.h"
#include "tools/tds/TdsPacket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

using namespace qav;

struct Run {
  int exitCode = -1;
  QString out;
  qint64 ms = 0;
};

Run Start(const QString& program, const QStringList& args, const QProcessEnvironment& env,
          const QByteArray& input = {}, int timeoutMs = 60000) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer timer;
  timer.start();
  p.start(program, args);
  Run r;
  if (!p.waitForStarted()) return r;
  p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
  }
  r.ms = timer.elapsed();
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAll());
  return r;
}

class TdsClients : public ::testing::Test {
 protected:
  // FreeTDS reads the server's address and protocol version from its configuration file.
  QProcessEnvironment FreeTds(const char* version) {
    QFile conf(dir_.filePath(QStringLiteral("freetds-%1.conf").arg(QLatin1String(version))));
    EXPECT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[qavtest]\n  host = 127.0.0.1\n  port = %1\n  tds version = %2\n"
                              "  client charset = UTF-8\n")
                   .arg(suite_.Server().Port())
                   .arg(QLatin1String(version))
                   .toUtf8());
    conf.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf.fileName());
    env.remove(QStringLiteral("TDSVER"));
    return env;
  }

  static bool Have(const char* program) { return QFile::exists(QLatin1String(program)); }

  QTemporaryDir dir_;
  test::TdsDemoSuite suite_{60};
};

// A date column, a decimal(18,4), Thai text and a NULL, at the version without the date type
// and at the current one.
const char kQuery[] =
    "select Code, LastSaleDate, Discount, NameThai, NameEng from Customer where Id = 3";

TEST_F(TdsClients, TsqlAndBsqldbReadDatesDecimalsThaiAndNullsAtEveryVersion) {
  if (!Have("/usr/bin/tsql") || !Have("/usr/bin/bsqldb"))
    GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  for (const char* version : {"7.2", "7.4"}) {
    SCOPED_TRACE(version);
    const QProcessEnvironment env = FreeTds(version);
    const Run tsql =
        Start(QStringLiteral("/usr/bin/tsql"),
              {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"}, env,
              QByteArray(kQuery) + "\ngo\nexit\n");
    EXPECT_EQ(tsql.exitCode, 0) << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(QStringLiteral("C0003"))) << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(QRegularExpression(QStringLiteral("20[0-9][0-9]-[01][0-9]-"))))
        << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(QRegularExpression(QStringLiteral("\t[0-9]+\\.[0-9]{4}\t"))))
        << "decimal(18,4) with its four places: " << tsql.out.toStdString();

    const QString script = dir_.filePath(QStringLiteral("query.sql"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kQuery) + "\ngo\n");
    file.close();
    const Run bsqldb = Start(
        QStringLiteral("/usr/bin/bsqldb"),
        {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-i", script, "-t", "|"},
        env);
    EXPECT_EQ(bsqldb.exitCode, 0) << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(QRegularExpression(
        QStringLiteral("C0003 *\\|20[0-9][0-9]-[01][0-9]-[0-3][0-9].*\\|[0-9]+\\.[0-9]{4} *\\|"))))
        << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(QStringLiteral("บริษัท"))) << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(QStringLiteral("NULL"))) << bsqldb.out.toStdString();
  }
}

TEST_F(TdsClients, PythonClientsAgreeWithTheServer) {
  struct Case {
    const char* client;
    const char* version;
  };
  const Case cases[] = {{"pytds", "7.2"}, {"pytds", "7.4"}, {"pymssql", "7.4"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.client) + " " + c.version);
    const Run probe = Start(QStringLiteral(QAV_SYSTEM_PYTHON),
                            {"-c", QStringLiteral("import %1").arg(QLatin1String(c.client))},
                            QProcessEnvironment::systemEnvironment());
    if (probe.exitCode != 0) {
      ADD_FAILURE() << c.client << " is not installed (python3-tds, python3-pymssql)";
      continue;
    }
    QProcessEnvironment env = FreeTds(c.version);  // pymssql goes through FreeTDS
    const Run r = Start(QStringLiteral(QAV_SYSTEM_PYTHON),
                        {QStringLiteral(QAV_TDS_CLIENTS), QLatin1String(c.client),
                         QLatin1String(c.version), QString::number(suite_.Server().Port())},
                        env);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("ok\n"))) << r.out.toStdString();
  }
}

// A raw connection to the server: what the server does with bytes no proper client sends.
class RawConnection {
 public:
  explicit RawConnection(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  bool Connected() const { return connected_; }

  // False once the server has closed the connection.
  bool Send(const QByteArray& bytes) {
    return ::send(fd_, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL) ==
           bytes.size();
  }
  // True when the server closes the connection within `timeoutMs`; whatever it sends first is
  // read and dropped.
  bool ClosedWithin(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    while (timer.elapsed() < timeoutMs) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

QByteArray Packet(tds::PacketType type, const QByteArray& body, bool last) {
  QByteArray p = tds::FrameMessage(type, std::string_view(body.constData(), body.size()), 4096, 0);
  if (!last) p[1] = 0;
  return p;
}

TEST_F(TdsClients, ConnectionsTheServerEndsAreClosedAtOnce) {
  struct Case {
    const char* what;
    QByteArray bytes;
  };
  // A LOGIN7 record asking for TDS 7.1, which the server refuses; a TDS 4.2/5.0 login packet
  // (type 2), which it does not speak; a packet shorter than its own header.
  QByteArray login71(94, '\0');
  login71[0] = 94;
  login71[4] = 0x01;
  login71[7] = 0x71;
  const Case cases[] = {
      {"TDS 7.1 login", Packet(tds::PacketType::Login7, login71, true)},
      {"TDS 5.0 login", Packet(static_cast<tds::PacketType>(2), QByteArray(512, 'x'), true)},
      {"broken header", QByteArray::fromHex("1201000400000100")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawConnection raw(suite_.Server().Port());
    ASSERT_TRUE(raw.Connected());
    raw.Send(c.bytes);
    // Before: the socket stayed open until the next client came.
    EXPECT_TRUE(raw.ClosedWithin(5000));
  }

  if (Have("/usr/bin/bsqldb")) {
    const Run r = Start(QStringLiteral("/usr/bin/bsqldb"),
                        {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO"},
                        FreeTds("5.0"), "select 1\ngo\n");
    EXPECT_NE(r.exitCode, 0) << r.out.toStdString();
    EXPECT_LT(r.ms, 20000) << "waited for its time-out: " << r.out.toStdString();
  }
}

TEST_F(TdsClients, AMessagePastTheLimitIsRefusedAndTheConnectionClosed) {
  RawConnection raw(suite_.Server().Port());
  ASSERT_TRUE(raw.Connected());
  // Batch packets without the end-of-message flag, past the limit: the server stops reading.
  const QByteArray chunk = Packet(tds::PacketType::SqlBatch, QByteArray(4088, 'a'), false);
  QByteArray block;
  for (int i = 0; i < 256; ++i) block += chunk;  // 1 MiB
  bool refused = false;
  for (qsizetype sent = 0; sent <= tds::kMaxMessageSize + 4 * block.size() && !refused;
       sent += block.size())
    refused = !raw.Send(block);
  EXPECT_TRUE(refused || raw.ClosedWithin(10000));

  // The server itself goes on serving.
  RawConnection next(suite_.Server().Port());
  EXPECT_TRUE(next.Connected());
}

}  // namespace
