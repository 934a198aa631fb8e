#include "core/ExceptionHandler.h"
#include "mail/SocketConnection.h"
#include "mail/ThreadTimer.h"
#include "tests/mail/ScriptedPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cerrno>

namespace qav {
namespace {

using test::AwaitLine;
using test::Close;
using test::Pause;
using test::ScriptedPeer;
using test::Send;

// Processes events for a while, or until done() holds.
void Spin(
    int ms, const std::function<bool()>& done = [] { return false; }) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms && !done()) {
    QCoreApplication::processEvents();
    QThread::msleep(2);
  }
}

void ConnectTo(TSocketConnection& connection, const ScriptedPeer& peer) {
  connection.Host = QStringLiteral("127.0.0.1");
  connection.Port = peer.Port();
  connection.Connect();
  ASSERT_TRUE(connection.IsConnected());
}

// A loopback port nobody listens on.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

template <typename E>
QString MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return QStringLiteral("(no error)");
}

TEST(SocketConnectionTest, ReadLnReturnsExactlyOneLineAtATime) {
  struct Case {
    const char* name;
    std::vector<test::PeerStep> script;
    QStringList lines;
  };
  const Case cases[] = {
      {"two lines in one packet",
       {Send("250-first\r\n250 last\r\n")},
       {"250-first\r\n", "250 last\r\n"}},
      {"one line over several packets",
       {Send("25"), Pause(40), Send("0 split"), Pause(40), Send(" line\r\n")},
       {"250 split line\r\n"}},
      {"a bare line feed ends a line", {Send("a\nb\r\n")}, {"a\n", "b\r\n"}},
      {"peer closes in the middle of a line", {Send("250 parti"), Close()}, {""}},
      {"a line before the close is still read",
       {Send("221 bye\r\n"), Close()},
       {"221 bye\r\n", ""}},
      {"code page 874 bytes", {Send("\xe4\xb7\xc2\r\n")}, {QStringLiteral("ไทย\r\n")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.script);
    TSocketConnection connection;
    connection.TimeOut = 3000;
    ConnectTo(connection, peer);
    for (const QString& expected : c.lines) EXPECT_EQ(connection.ReadLn(), expected);
  }
}

TEST(SocketConnectionTest, PeerCloseWithDataWaitingKeepsTheConnectionUntilDrained) {
  ScriptedPeer peer({Send("221 bye\r\n"), Close()});
  TSocketConnection connection;
  int disconnects = 0;
  connection.OnDisconnect = [&](TSocketConnection&) { ++disconnects; };
  ConnectTo(connection, peer);

  Spin(150);
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_EQ(connection.ReadLn(), QStringLiteral("221 bye\r\n"));
  Spin(2000, [&] { return !connection.IsConnected(); });
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(disconnects, 1);
  EXPECT_GE(connection.Handle(), 0) << "a fresh socket is ready for the next connect";
}

TEST(SocketConnectionTest, TransactionTakesTheReplyCodeFromLeadingDigits) {
  ScriptedPeer peer({AwaitLine(), Send("250 OK\r\n"), AwaitLine(), Send("OK\r\n"), AwaitLine(),
                     Send("32767 top\r\n"), AwaitLine(), Send("32768 over\r\n"), AwaitLine(),
                     Close()});
  TSocketConnection connection;
  connection.TimeOut = 3000;
  ConnectTo(connection, peer);

  EXPECT_EQ(connection.Transaction("A"), QStringLiteral("250 OK\r\n"));
  EXPECT_EQ(connection.ReplyCode(), 250);
  EXPECT_EQ(connection.Transaction("B"), QStringLiteral("OK\r\n"));
  EXPECT_EQ(connection.ReplyCode(), 0);
  connection.Transaction("C");
  EXPECT_EQ(connection.ReplyCode(), 32767);
  EXPECT_THROW(connection.Transaction("D"), ERangeError);
  EXPECT_EQ(connection.Transaction("E"), QString()) << "the peer closed instead of answering";
  EXPECT_EQ(connection.ReplyCode(), 0);
  EXPECT_EQ(peer.Received(), "A\r\nB\r\nC\r\nD\r\nE\r\n");
}

TEST(SocketConnectionTest, WriteSendsCodePage874UpToTheFirstZero) {
  ScriptedPeer peer({});
  TSocketConnection connection;
  ConnectTo(connection, peer);

  connection.Write(QStringLiteral("HELO บริษัท") + QChar(0) + QStringLiteral("hidden"));
  connection.Writeln(QStringLiteral("|"));
  connection.SendData("a\0b", 3);
  const std::string expected = std::string("HELO \xba\xc3\xd4\xc9\xd1\xb7|\r\na") + '\0' + "b";
  ASSERT_TRUE(peer.WaitForBytes(expected.size()));
  EXPECT_EQ(peer.Received(), expected);

  // One buffer is all a text gets: the rest of a longer one is cut.
  connection.Write(QString(70000, u'x'));
  ASSERT_TRUE(peer.WaitForBytes(expected.size() + 65535));
  Spin(100);
  EXPECT_EQ(peer.Received().size(), expected.size() + 65535);
}

TEST(SocketConnectionTest, SilentServerEndsReadLnAfterTheTimeOut) {
  ScriptedPeer peer({});
  TSocketConnection connection;
  connection.TimeOut = 2000;
  ConnectTo(connection, peer);

  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(MessageOf<EAbortError>([&] { connection.ReadLn(); }), "Socket readln aborted");
  EXPECT_GE(clock.elapsed(), 1900);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_TRUE(connection.TimedOut());
  EXPECT_FALSE(connection.CancelRequested());
}

TEST(SocketConnectionTest, AbortFromAnEventEndsAWaitWithoutTimeLimit) {
  ScriptedPeer peer({});
  TSocketConnection connection;
  ConnectTo(connection, peer);

  QTimer::singleShot(100, &connection, [&] { connection.Abort(); });
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(MessageOf<EAbortError>([&] { connection.ReadLn(); }), "Socket readln aborted");
  EXPECT_LT(clock.elapsed(), 1000);
}

TEST(SocketConnectionTest, SendDataTimesOutAgainstAPeerThatDoesNotRead) {
  ScriptedPeer peer({Pause(5000)});
  TSocketConnection connection;
  connection.TimeOut = 500;
  ConnectTo(connection, peer);

  // More than the kernel buffers of both ends hold.
  const QByteArray block(64 * 1024 * 1024, 'x');
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(MessageOf<EAbortError>([&] { connection.SendData(block.constData(), block.size()); }),
            "Socket send aborted");
  EXPECT_LT(clock.elapsed(), 2000);
}

TEST(SocketConnectionTest, ConnectResolvesTheHostOrAsksForAnother) {
  enum Handler { None, Declines, FixesHost, KeepsHost };
  struct Case {
    const char* name;
    QString host;
    Handler handler;
    QString error;
    int invalidHostCalls;
    int resolvedCalls;
  };
  const Case cases[] = {
      {"dotted address needs no lookup", "127.0.0.1", None, {}, 0, 0},
      {"host name is looked up", "localhost", None, {}, 0, 1},
      {"unknown name without handler", "nohost.invalid", None, "Null Remote Address", 0, 0},
      {"handler declines", "nohost.invalid", Declines, "Null Remote Address", 1, 0},
      {"handler supplies another host", "nohost.invalid", FixesHost, {}, 1, 0},
      {"handler gets one chance only", "nohost.invalid", KeepsHost, "Null Remote Address", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({});
    TSocketConnection connection;
    connection.Host = c.host;
    connection.Port = peer.Port();
    connection.TimeOut = 3000;
    int invalidHostCalls = 0;
    int resolvedCalls = 0;
    connection.OnHostResolved = [&](TSocketConnection&) { ++resolvedCalls; };
    if (c.handler != None) {
      connection.OnInvalidHost = [&](bool& handled) {
        ++invalidHostCalls;
        handled = c.handler != Declines;
        if (c.handler == FixesHost) connection.Host = QStringLiteral("127.0.0.1");
      };
    }
    QElapsedTimer clock;
    clock.start();
    const QString error = MessageOf<ESockError>([&] { connection.Connect(); });
    EXPECT_EQ(error, c.error.isEmpty() ? QStringLiteral("(no error)") : c.error);
    EXPECT_EQ(connection.IsConnected(), c.error.isEmpty());
    EXPECT_EQ(invalidHostCalls, c.invalidHostCalls);
    EXPECT_EQ(resolvedCalls, c.resolvedCalls);
    EXPECT_LT(clock.elapsed(), 2500);
  }
}

TEST(SocketConnectionTest, RefusedConnectFailsAfterOnConnectionFailed) {
  TSocketConnection connection;
  connection.Host = QStringLiteral("127.0.0.1");
  connection.Port = ClosedPort();
  connection.TimeOut = 3000;
  int failures = 0;
  connection.OnConnectionFailed = [&](TSocketConnection&) { ++failures; };
  EXPECT_EQ(MessageOf<ESockError>([&] { connection.Connect(); }), "Connection Failed");
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(connection.IsConnected());
}

// A listener whose accept queue is full drops further connection requests, so a connect to
// it stays pending until the time limit or a cancel ends it.
TEST(SocketConnectionTest, PendingConnectEndsByTimeOutOrCancel) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), size), 0);

  struct Case {
    int timeOut;
    bool cancel;
    const char* error;
  };
  for (const Case& c :
       {Case{500, false, "Connection Timed out"}, Case{0, true, "Connection Canceled"}}) {
    SCOPED_TRACE(c.error);
    TSocketConnection connection;
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = ntohs(address.sin_port);
    connection.TimeOut = c.timeOut;
    int failures = 0;
    connection.OnConnectionFailed = [&](TSocketConnection&) { ++failures; };
    if (c.cancel) QTimer::singleShot(200, &connection, [&] { connection.Cancel(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(MessageOf<ESockError>([&] { connection.Connect(); }), c.error);
    EXPECT_LT(clock.elapsed(), 900);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(connection.IsConnected());
    Spin(50);
    EXPECT_FALSE(connection.IsConnected()) << "a late answer does not revive a failed connect";
  }
  ::close(filler);
  ::close(listener);
}

TEST(SocketConnectionTest, DisconnectPreparesAFreshSocketForTheNextConnect) {
  ScriptedPeer first({});
  ScriptedPeer second({Send("second\r\n")});
  TSocketConnection connection;
  int connects = 0;
  int disconnects = 0;
  connection.OnConnect = [&](TSocketConnection&) { ++connects; };
  connection.OnDisconnect = [&](TSocketConnection&) { ++disconnects; };
  ConnectTo(connection, first);
  EXPECT_EQ(MessageOf<ESockError>([&] { connection.Connect(); }), "Already connected");

  connection.Disconnect();
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(disconnects, 1);
  EXPECT_TRUE(first.WaitForClientClose());

  ConnectTo(connection, second);
  EXPECT_EQ(connection.ReadLn(), QStringLiteral("second\r\n"));
  EXPECT_EQ(connects, 2);
}

TEST(SocketConnectionTest, CheckConnectionGivesTheHandlerOneChance) {
  enum Handler { None, Declines, Connects, ClaimsOnly };
  const Handler cases[] = {None, Declines, Connects, ClaimsOnly};
  for (Handler handler : cases) {
    SCOPED_TRACE(handler);
    ScriptedPeer peer({});
    TSocketConnection connection;
    connection.Host = QStringLiteral("127.0.0.1");
    connection.Port = peer.Port();
    int calls = 0;
    if (handler != None) {
      connection.OnConnectionRequired = [&](bool& handled) {
        ++calls;
        if (handler == Connects) connection.Connect();
        handled = handler != Declines;
      };
    }
    const QString error = MessageOf<Exception>([&] { connection.CheckConnection(); });
    EXPECT_EQ(error, handler == Connects ? "(no error)" : "Not Connected");
    EXPECT_EQ(calls, handler == None ? 0 : 1);
  }
}

TEST(SocketConnectionTest, StatusTextsAreFilteredByLevel) {
  struct Case {
    int level;
    QStringList expected;
  };
  const Case cases[] = {
      {0, {}},
      {1, {"250 fine\r\n"}},
      {4, {"Sending Buffer", "250 fine\r\n", "Request Close Socket"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    ScriptedPeer peer({AwaitLine(), Send("250 fine\r\n")});
    QStringList seen;  // outlives the connection, which reports its destruction
    TSocketConnection connection;
    connection.ReportLevel = c.level;
    connection.OnStatus = [&](TSocketConnection&, const QString& status) { seen << status; };
    ConnectTo(connection, peer);
    connection.Transaction("NOOP");
    connection.Disconnect();
    EXPECT_EQ(seen, c.expected);
    EXPECT_EQ(connection.StatusText(), c.expected.isEmpty() ? QString() : c.expected.last());
  }

  ScriptedPeer peer({AwaitLine(), Send("250 fine\r\n")});
  QStringList seen;
  TSocketConnection connection;
  connection.ReportLevel = 8;
  connection.OnStatus = [&](TSocketConnection&, const QString& status) { seen << status; };
  ConnectTo(connection, peer);
  EXPECT_EQ(seen.mid(0, 4), (QStringList{"Connecting", "Resolve Host", "Timer On", "Timer Off"}));
  seen.clear();
  connection.Transaction("NOOP");
  EXPECT_EQ(seen, (QStringList{"Transaction", "Writeln", "Write", "Sending Buffer", "Timer On",
                               "Timer Off", "ReadLn", "Timer On", "Timer Off", "250 fine\r\n"}));
}

TEST(SocketConnectionTest, SendStreamSendsEverythingOrStopsWhenAborted) {
  QByteArray data(300 * 1024, Qt::Uninitialized);
  for (int i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  QBuffer stream(&data);
  stream.open(QIODevice::ReadOnly);
  stream.seek(1000);

  ScriptedPeer peer({});
  TSocketConnection connection;
  int packets = 0;
  connection.OnPacketSent = [&](TSocketConnection&) { ++packets; };
  ConnectTo(connection, peer);
  connection.SendStream(stream);
  EXPECT_EQ(connection.SentCount(), data.size());
  EXPECT_EQ(connection.StreamSize(), data.size());
  EXPECT_GE(packets, 5);
  ASSERT_TRUE(peer.WaitForBytes(static_cast<size_t>(data.size())));
  EXPECT_TRUE(peer.Received() == data.toStdString()) << "the whole stream, from its start";

  connection.OnPacketSent = [&](TSocketConnection& sender) { sender.Abort(); };
  EXPECT_EQ(MessageOf<EAbortError>([&] { connection.SendStream(stream); }), "Socket send aborted");
  EXPECT_FALSE(connection.CancelRequested());
  EXPECT_LT(connection.SentCount(), data.size());
}

TEST(SocketConnectionTest, AcceptReturnsTheIncomingConnection) {
  TSocketConnection connection;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(connection.Handle(), reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(connection.Handle(), 1), 0);
  ::getsockname(connection.Handle(), reinterpret_cast<sockaddr*>(&address), &size);

  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), size), 0);
  const int accepted = connection.Accept();
  EXPECT_GE(accepted, 0);
  EXPECT_TRUE(connection.IsConnected());
  ::close(accepted);
  ::close(client);

  QTimer::singleShot(50, &connection, [&] { connection.Cancel(); });
  EXPECT_EQ(MessageOf<ESockError>([&] { connection.Accept(); }), "Accepting Canceled");
}

TEST(SocketErrorsTest, Texts) {
  struct Case {
    int number;
    const char* text;
  };
  const Case texts[] = {
      {10061, "10061:Connection refused"},
      {10035, "10035:Operation would block"},
      {11004, "11004:Valid name, no data record of requested type"},
      {10093, "10093:Successful WSAStartup not yet performed"},
      {10001, "Unknown Error No. 10001"},
  };
  for (const Case& c : texts) EXPECT_EQ(SocketErrorMessage(c.number), c.text);
}

TEST(ThreadTimerTest, TicksOnlyWhenEnabledWithIntervalAndHandler) {
  TThreadTimer timer;
  timer.SetInterval(20);
  EXPECT_FALSE(timer.Active()) << "no handler yet";
  int ticks = 0;
  timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
  EXPECT_TRUE(timer.Active());
  Spin(500, [&] { return ticks >= 2; });
  EXPECT_GE(ticks, 2);

  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Active());
  timer.SetEnabled(true);
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Active());

  // An error in a tick goes to the application's handler.
  QString handled;
  SetApplicationExceptionHandler([&](const Exception& e) { handled = e.Message(); });
  timer.SetOnTimer([&](TThreadTimer& sender) {
    sender.SetEnabled(false);
    throw Exception(QStringLiteral("tick failed"));
  });
  timer.SetInterval(10);
  Spin(500, [&] { return !handled.isEmpty(); });
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(handled, "tick failed");
}

}  // namespace
}  // namespace qav
