// The test server judged by clients nobody here wrote: FreeTDS's tsql and bsqldb, Debian's
// pytds and pymssql; and how it treats connections it must end.
#include "db/Errors.h"
#include "db/odbc/OdbcConnection.h"
#include "tests/tds/TdsTestSuite.h"
#include "tools/tds/TdsChannel.h"
#include "tools/tds/TdsPacket.h"
#include "tools/tds/TdsWire.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace qav;

struct ClientRun {
  int exitCode = -1;
  QString out;
  qint64 ms = 0;
};

ClientRun Start(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                const QByteArray& input = {}, int timeoutMs = 60000) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer timer;
  timer.start();
  p.start(program, args);
  ClientRun r;
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
  // `encryption` as FreeTDS names it (off, request: its default, require); for every server,
  // so that pymssql's connections by address take it too. `port` 0: the suite's server.
  QProcessEnvironment FreeTds(const char* version, const char* encryption = "request",
                              std::uint16_t port = 0) {
    QFile conf(dir_.filePath(QStringLiteral("freetds-%1-%2-%3.conf")
                                 .arg(QLatin1String(version), QLatin1String(encryption))
                                 .arg(port)));
    EXPECT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[global]\n  encryption = %3\n"
                              "[qavtest]\n  host = 127.0.0.1\n  port = %1\n  tds version = %2\n"
                              "  client charset = UTF-8\n")
                   .arg(port ? port : suite_.Server().Port())
                   .arg(QLatin1String(version), QLatin1String(encryption))
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
// Three Thai letters in a row.
const QRegularExpression kThai(QStringLiteral("[\\x{0E01}-\\x{0E4E}]{3}"));

TEST_F(TdsClients, TsqlAndBsqldbReadDatesDecimalsThaiAndNullsAtEveryVersion) {
  if (!Have("/usr/bin/tsql") || !Have("/usr/bin/bsqldb"))
    GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  for (const char* version : {"7.2", "7.4"}) {
    SCOPED_TRACE(version);
    const QProcessEnvironment env = FreeTds(version);
    const ClientRun tsql =
        Start(QStringLiteral("/usr/bin/tsql"),
              {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"}, env,
              QByteArray(kQuery) + "\ngo\nexit\n");
    EXPECT_EQ(tsql.exitCode, 0) << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(QStringLiteral("C0003"))) << tsql.out.toStdString();
    // tsql shows a date as text, or as its own conversion of the date type.
    EXPECT_TRUE(tsql.out.contains(QRegularExpression(QStringLiteral(
        "\t(20[0-9][0-9]-[01][0-9]-[0-3][0-9]|[A-Z][a-z]{2} +[0-9]+ 20[0-9][0-9])"))))
        << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(kThai)) << tsql.out.toStdString();
    EXPECT_TRUE(tsql.out.contains(QStringLiteral("\tNULL"))) << tsql.out.toStdString();

    // bsqldb has no printer for the date type itself (neither against SQL Server): a client of
    // 7.2 must get text, which before made it abort.
    if (QLatin1String(version) != QLatin1String("7.2")) continue;
    EXPECT_TRUE(tsql.out.contains(QRegularExpression(QStringLiteral("\t[0-9]+\\.[0-9]{4}\t"))))
        << "decimal(18,4) with its four places: " << tsql.out.toStdString();

    const QString script = dir_.filePath(QStringLiteral("query.sql"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(kQuery) + "\ngo\n");
    file.close();
    const ClientRun bsqldb = Start(
        QStringLiteral("/usr/bin/bsqldb"),
        {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-i", script, "-t", "|"},
        env);
    EXPECT_EQ(bsqldb.exitCode, 0) << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(QRegularExpression(
        QStringLiteral("C0003 *\\|20[0-9][0-9]-[01][0-9]-[0-3][0-9].*\\|[0-9]+\\.[0-9]{4} *\\|"))))
        << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(kThai)) << bsqldb.out.toStdString();
    EXPECT_TRUE(bsqldb.out.contains(QStringLiteral("NULL"))) << bsqldb.out.toStdString();
  }
}

// tsql sends the batches between its "go" lines; the server reads nested comments and "]]"
// inside a bracketed name as SQL Server does.
TEST_F(TdsClients, TsqlBatchesWithNestedCommentsAndBracketedNames) {
  if (!Have("/usr/bin/tsql")) GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  const ClientRun tsql = Start(
      QStringLiteral("/usr/bin/tsql"),
      {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"}, FreeTds("7.4"),
      "/* a /* b */ c */ select 2 as x\ngo\nselect 40 + 2 as [a]]b]\ngo\nexit\n");
  EXPECT_EQ(tsql.exitCode, 0) << tsql.out.toStdString();
  const QStringList lines = tsql.out.split(u'\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(lines.contains(QStringLiteral("x"))) << tsql.out.toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("2"))) << tsql.out.toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("a]b"))) << tsql.out.toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("42"))) << tsql.out.toStdString();
  EXPECT_FALSE(tsql.out.contains(QStringLiteral("Msg "))) << tsql.out.toStdString();
}

// Statements on lines of their own, without ";", each give their result set; an error names
// the line of the batch on which its statement stands.
TEST_F(TdsClients, TsqlSeesEveryStatementOfABatchAndTheLineOfAnError) {
  if (!Have("/usr/bin/tsql")) GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  const ClientRun tsql = Start(
      QStringLiteral("/usr/bin/tsql"),
      {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"}, FreeTds("7.4"),
      "select 1 as a\nselect 2 as b\ngo\nselect 3 as c\nselect 1 / 0\ngo\nexit\n");
  const QStringList lines = tsql.out.split(u'\n', Qt::SkipEmptyParts);
  for (const char* expected : {"a", "1", "b", "2", "c", "3"})
    EXPECT_TRUE(lines.contains(QLatin1String(expected))) << expected << "\n"
                                                         << tsql.out.toStdString();
  EXPECT_TRUE(tsql.out.contains(QRegularExpression(QStringLiteral("Msg 8134\\b.* Line 2\\b"))))
      << tsql.out.toStdString();
}

// Runs tds_clients.py with `client` asking for protocol `version`; its failures in the output.
void RunPythonClient(const char* client, const char* version, std::uint16_t port,
                     const QProcessEnvironment& env, const QStringList& extra = {}) {
  SCOPED_TRACE(std::string(client) + " " + version);
  const ClientRun probe =
      Start(QStringLiteral(QAV_SYSTEM_PYTHON), {"-c", QStringLiteral("import %1").arg(client)},
            QProcessEnvironment::systemEnvironment());
  if (probe.exitCode != 0) {
    ADD_FAILURE() << client << " is not installed (python3-tds, python3-pymssql)";
    return;
  }
  const ClientRun r = Start(QStringLiteral(QAV_SYSTEM_PYTHON),
                            QStringList{QStringLiteral(QAV_TDS_CLIENTS), QLatin1String(client),
                                        QLatin1String(version), QString::number(port)} +
                                extra,
                            env);
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  EXPECT_TRUE(r.out.endsWith(QStringLiteral("ok\n"))) << r.out.toStdString();
}

TEST_F(TdsClients, PythonClientsAgreeWithTheServer) {
  // pymssql's parameterised query has a test of its own, below. 7.1 is refused in a form the
  // client reads; the encrypted runs check the certificate (pytds) or require TLS (FreeTDS).
  QFile pem(dir_.filePath(QStringLiteral("server.pem")));
  ASSERT_TRUE(pem.open(QIODevice::WriteOnly));
  pem.write(QByteArray::fromStdString(test::TdsDemoSuite::CertificatePem()));
  pem.close();
  const QStringList plain = {QStringLiteral("--without-unicode-literals")};
  const QStringList encrypted = plain + QStringList{QStringLiteral("--encrypt"), pem.fileName()};
  struct Case {
    const char* client;
    const char* version;
    bool encrypt;
  };
  for (const Case& c :
       {Case{"pytds", "7.1", false}, Case{"pytds", "7.2", false}, Case{"pytds", "7.4", false},
        Case{"pymssql", "7.3", false}, Case{"pytds", "7.4", true}, Case{"pymssql", "7.3", true}})
    RunPythonClient(c.client, c.version, suite_.Server().Port(),
                    FreeTds(c.version, c.encrypt ? "require" : "request"),
                    c.encrypt ? encrypted : plain);
}

// What SQL Server answers where the engine alone would say something else: RAISERROR's
// arguments and its informational severity, its own variables, the texts of errors 208 and
// 156 (a keyword out of place); and a TDS 7.1 login refused in the forms that version reads.
TEST_F(TdsClients, TsqlSeesWhatSqlServerSays) {
  if (!Have("/usr/bin/tsql")) GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  const ClientRun tsql = Start(
      QStringLiteral("/usr/bin/tsql"),
      {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"}, FreeTds("7.4"),
      "RAISERROR('value %s and %d', 16, 1, 'abc', 7)\ngo\n"
      "RAISERROR('note %d', 10, 1, 5)\ngo\n"
      "select @@version as v, db_name() as d\ngo\n"
      "select * from NoSuchTable\ngo\nselect 1 from where\ngo\nexit\n");
  const std::string out = tsql.out.toStdString();
  for (const char* expected :
       {"Msg 50000 (severity 16, state 1) from QAVTEST Line 1:\n\t\"value abc and 7\"",
        "Msg 50000 (severity 10, state 1) from QAVTEST Line 1:\n\t\"note 5\"",
        "Microsoft SQL Server 2019", "\tDEMO",
        "Msg 208 (severity 16, state 1) from QAVTEST Line 1:\n\t\"Invalid object name "
        "'NoSuchTable'.\"",
        "Msg 156 (severity 15, state 1) from QAVTEST Line 1:\n\t\"Incorrect syntax near the "
        "keyword 'where'.\""})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;

  const ClientRun old = Start(QStringLiteral("/usr/bin/tsql"),
                              {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO"},
                              FreeTds("7.1"), "select 1\ngo\nexit\n");
  EXPECT_NE(old.exitCode, 0) << old.out.toStdString();
  // Before, the refusal came in the 7.2 forms, which a 7.1 client misreads.
  EXPECT_TRUE(old.out.contains(QStringLiteral(
      "The test server speaks TDS 7.2 and later only. Login failed for user 'qav'.")))
      << old.out.toStdString();
}

TEST_F(TdsClients, PymssqlSendsItsParametersAsUnicodeLiterals) {
  // pymssql puts the strings of a parameterised query into the text as N'...' literals.
  RunPythonClient("pymssql", "7.3", suite_.Server().Port(), FreeTds("7.3"));
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Passes clients' bytes to a server and back, one connection after another, keeping a copy of
// everything: what a capture on the loopback shows.
class Relay {
 public:
  explicit Relay(std::uint16_t target) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    address.sin_port = htons(target);
    thread_ = std::thread([this, address] { Run(address); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }
  QByteArray Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(seen_, {});
  }

 private:
  void Run(sockaddr_in target) {
    while (!stop_) {
      pollfd l{listener_, POLLIN, 0};
      if (::poll(&l, 1, 100) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
        char buffer[65536];
        for (bool open = true; open && !stop_;) {
          pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
          if (::poll(p, 2, 100) <= 0) continue;
          for (int i = 0; i < 2 && open; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
            open = n > 0 &&
                   ::send(p[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
            if (n > 0) {
              std::lock_guard lock(mutex_);
              seen_.append(buffer, n);
            }
          }
        }
      }
      ::close(server);
      ::close(client);
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  QByteArray seen_;
};

QByteArray Ucs2(const char* text) {
  return tds::ToUcs2(QString::fromLatin1(text));
}

// FreeTDS encrypts the login whenever the server can, and everything when told to require it;
// the program's own connection with its Encrypt setting does the same. On the wire, neither
// the login's user name nor the statement can be read then.
TEST_F(TdsClients, EncryptedSessionsShowNothingReadableOnTheWire) {
  if (!Have("/usr/bin/tsql")) GTEST_SKIP() << "FreeTDS's programs not installed (freetds-bin)";
  Relay relay(suite_.Server().Port());
  // What each FreeTDS setting leaves readable: "off" (no TLS at all) shows that the capture
  // sees the clear text.
  struct Case {
    const char* encryption;
    bool loginReadable, statementReadable;
  };
  for (const Case& c :
       {Case{"off", true, true}, Case{"request", false, true}, Case{"require", false, false}}) {
    const char* encryption = c.encryption;
    SCOPED_TRACE(encryption);
    const ClientRun tsql =
        Start(QStringLiteral("/usr/bin/tsql"),
              {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO", "-o", "q"},
              FreeTds("7.4", encryption, relay.Port()), "select 'SECRETWORD' as w\ngo\nexit\n");
    EXPECT_TRUE(tsql.out.contains(QStringLiteral("\nSECRETWORD"))) << tsql.out.toStdString();
    const QByteArray wire = relay.Take();
    EXPECT_EQ(wire.contains(Ucs2("qav")), c.loginReadable);
    // Asked for nothing more, FreeTDS sends the rest in the clear, as against SQL Server.
    EXPECT_EQ(wire.contains(Ucs2("SECRETWORD")), c.statementReadable);
  }

  db::ConnectSettings settings = suite_.Settings(QStringLiteral("DEMO"));
  settings.server = QStringLiteral("127.0.0.1,%1").arg(relay.Port());
  settings.params << QStringLiteral("ENCRYPT=yes");
  const std::unique_ptr<db::BackendConnection> odbc = db::OpenOdbc(settings);
  const std::unique_ptr<db::ResultSet> rows =
      odbc->Execute(QStringLiteral("select 'SECRETWORD' as w, count(*) from Customer"), {});
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->rows.Rows(), 1);
  const QByteArray wire = relay.Take();
  EXPECT_FALSE(wire.contains(Ucs2("qav")));
  EXPECT_FALSE(wire.contains(Ucs2("SECRETWORD")));
}

// A server without a certificate cannot encrypt: a client that asks for it is refused at once,
// never left waiting.
TEST_F(TdsClients, ClientsAskingForEncryptionAreRefusedByAServerWithoutTls) {
  tds::ServerOptions options;
  options.suiteFolder = suite_.Suite();
  tds::Server plain(options);
  plain.Start(0);
  if (Have("/usr/bin/tsql")) {
    const ClientRun tsql = Start(QStringLiteral("/usr/bin/tsql"),
                                 {"-S", "qavtest", "-U", "qav", "-P", "tarnwick", "-D", "DEMO"},
                                 FreeTds("7.4", "require", plain.Port()), "select 1\ngo\nexit\n");
    EXPECT_NE(tsql.exitCode, 0) << tsql.out.toStdString();
    EXPECT_LT(tsql.ms, 20000) << tsql.out.toStdString();
  }
  const ClientRun pytds =
      Start(QStringLiteral(QAV_SYSTEM_PYTHON),
            {"-c", QStringLiteral("import pytds, sys\n"
                                  "try:\n"
                                  "  pytds.connect(server='127.0.0.1', port=%1, user='qav', "
                                  "password='tarnwick', cafile='/dev/null', login_timeout=15)\n"
                                  "except Exception as e:\n"
                                  "  print('refused:', e); sys.exit(3)\n")
                       .arg(plain.Port())},
            QProcessEnvironment::systemEnvironment(), {}, 30000);
  EXPECT_EQ(pytds.exitCode, 3) << pytds.out.toStdString();
  EXPECT_LT(pytds.ms, 20000) << pytds.out.toStdString();

  db::ConnectSettings settings = suite_.Settings(QStringLiteral("DEMO"));
  settings.server = QStringLiteral("127.0.0.1,%1").arg(plain.Port());
  settings.params << QStringLiteral("ENCRYPT=yes");
  QElapsedTimer timer;
  timer.start();
  EXPECT_THROW(db::OpenOdbc(settings), db::EDatabaseError);
  EXPECT_LT(timer.elapsed(), 20000);
}

// A raw connection to the server: what the server does with bytes no proper client sends.
class RawConnection {
 public:
  explicit RawConnection(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    // A server that stops reading without closing must fail the test, not hang it.
    const timeval limit{30, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  ~RawConnection() { ::close(fd_); }
  bool Connected() const { return connected_; }

  // False once the server has closed the connection, or has stopped reading for the send
  // time limit (StalledOnSend tells which).
  bool Send(const QByteArray& bytes) {
    const ssize_t n =
        ::send(fd_, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
    stalled_ = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    return n == bytes.size();
  }
  bool StalledOnSend() const { return stalled_; }
  // The next whole message the server sends, its packets put together; nullopt when none
  // completes within `timeoutMs` or the server closes.
  std::optional<QByteArray> ReadMessage(int timeoutMs) {
    QByteArray message;
    for (;;) {
      char header[tds::kHeaderSize];
      if (!ReadExactly(header, tds::kHeaderSize, timeoutMs)) return std::nullopt;
      const int length =
          (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
      QByteArray body(length - tds::kHeaderSize, '\0');
      if (!ReadExactly(body.data(), body.size(), timeoutMs)) return std::nullopt;
      message += body;
      if (header[1] & tds::kStatusEndOfMessage) return message;
    }
  }
  // True when the server closes the connection within `timeoutMs`; whatever it sends first is
  // read and dropped.
  bool ReadExactly(char* data, qsizetype size, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (size > 0) {
      const int left = timeoutMs - static_cast<int>(timer.elapsed());
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
      const ssize_t n = ::recv(fd_, data, static_cast<std::size_t>(size), 0);
      if (n <= 0) return false;
      data += n;
      size -= n;
    }
    return true;
  }
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
  bool stalled_ = false;
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
    const ClientRun r = Start(QStringLiteral("/usr/bin/bsqldb"),
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
  EXPECT_TRUE((refused && !raw.StalledOnSend()) || raw.ClosedWithin(10000));

  // The server itself goes on serving.
  RawConnection next(suite_.Server().Port());
  EXPECT_TRUE(next.Connected());
}

// A client's view of the two statements SQL Server stops at once on an attention: a wait, and a
// statement that computes for minutes before its first row. Each is acknowledged by a message
// of its own holding only the DONE with the attention bit, and the connection serves on.
TEST_F(TdsClients, AnAttentionStopsTheStatementAndIsAcknowledgedAlone) {
  RawConnection raw(suite_.Server().Port());
  ASSERT_TRUE(raw.Connected());
  // Pre-login asking for no encryption, then the login.
  raw.Send(Packet(tds::PacketType::PreLogin,
                  QByteArray::fromHex("00 00 0b 00 06 01 00 11 00 01 ff 0f 00 07 d0 00 00 02"),
                  true));
  ASSERT_TRUE(raw.ReadMessage(10000));
  raw.Send(Packet(tds::PacketType::Login7, test::Login7Record(), true));
  ASSERT_TRUE(raw.ReadMessage(10000));

  const QByteArray acknowledgement = QByteArray::fromHex("fd 20 00 00 00 00 00 00 00 00 00 00 00");
  for (const char* sql :
       {"waitfor delay '00:05:00'",
        "with n(i) as (select 1 union all select i + 1 from n where i < 2000000000) "
        "select count(*) from n"}) {
    SCOPED_TRACE(sql);
    raw.Send(
        Packet(tds::PacketType::SqlBatch, test::SqlBatchPayload(QString::fromLatin1(sql)), true));
    // Nothing comes before the attention: the statement runs.
    EXPECT_FALSE(raw.ReadMessage(300));
    QElapsedTimer timer;
    timer.start();
    raw.Send(Packet(tds::PacketType::Attention, {}, true));
    std::optional<QByteArray> message = raw.ReadMessage(30000);
    while (message && !message->endsWith(acknowledgement)) message = raw.ReadMessage(30000);
    ASSERT_TRUE(message) << "no acknowledgement";
    EXPECT_EQ(message->toHex(' '), acknowledgement.toHex(' '));
    EXPECT_LT(timer.elapsed(), 20000);
  }
  raw.Send(
      Packet(tds::PacketType::SqlBatch, test::SqlBatchPayload(QStringLiteral("select 42")), true));
  const std::optional<QByteArray> answer = raw.ReadMessage(10000);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->contains(QByteArray::fromHex("d1 04 2a 00 00 00")))
      << answer->toHex(' ').toStdString();
}

}  // namespace
