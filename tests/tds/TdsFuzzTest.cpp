// Bounded fuzz runs of the test server's packet reader and request parsers: random and mutated
// messages from a fixed seed, for a few seconds each. A run passes when nothing crashes, every
// refusal is an exception the session catches, and every session ends once its client goes.
#include "tests/support/FuzzRun.h"
#include "tests/support/TestSuite.h"
#include "tests/tds/TdsTestSuite.h"
#include "tools/tds/TdsLogin.h"
#include "tools/tds/TdsPacket.h"
#include "tools/tds/TdsRequests.h"
#include "tools/tds/TdsSession.h"
#include "tools/tds/TdsTypes.h"
#include "tools/tds/TdsWire.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <cstdio>
#include <future>
#include <random>

namespace {

using namespace qav;
using namespace qav::tds;

constexpr std::uint32_t kSeed = 0x7D5F022u;
constexpr int kParserCases = 200000;
constexpr int kConversations = 400;

std::string_view View(const QByteArray& b) {
  return {b.constData(), static_cast<std::size_t>(b.size())};
}

QByteArray ExecuteSql(const QString& sql, qint64 value) {
  Writer w;
  w.Bytes(test::kAllHeaders);
  w.U16(0xFFFF);
  w.U16(10);  // sp_executesql
  w.U16(0);
  TypeInfo text;
  text.type = DataType::NVarChar;
  text.length = 8000;
  text.collation = kThaiCiAs;
  TypeInfo integer;
  integer.type = DataType::IntN;
  integer.length = 4;
  const std::tuple<QString, TypeInfo, QVariant> params[] = {
      {QString(), text, sql},
      {QString(), text, QStringLiteral("@P1 int")},
      {QStringLiteral("@P1"), integer, value}};
  for (const auto& [name, type, v] : params) {
    w.BVarchar(name);
    w.U8(0);
    WriteTypeInfo(w, type);
    WriteValue(w, type, v);
  }
  return w.Data();
}

// A client's side of a session: pre-login, login, a batch, a parameterised call, a transaction.
std::vector<std::pair<PacketType, QByteArray>> Conversation() {
  return {
      {PacketType::PreLogin,
       QByteArray::fromHex(
           "00 00 10 00 06 01 00 16 00 01 04 00 17 00 01 ff 0c 00 07 d0 00 00 00 01")},
      {PacketType::Login7, test::Login7Record()},
      {PacketType::SqlBatch, test::SqlBatchPayload(QStringLiteral(
                                 "select Code, NameThai, CreditLimit, Discount, LastSaleDate from "
                                 "Customer where Id < 4; select 'ไทย' as t"))},
      {PacketType::Rpc, ExecuteSql(QStringLiteral("select Code from Customer where Id = @P1"), 2)},
      {PacketType::TransactionManager,
       QByteArray::fromHex(
           "16 00 00 00 12 00 00 00 02 00 05 00 00 00 00 00 00 00 01 00 00 00 07 00 00 00")},
      {PacketType::SqlBatch,
       test::SqlBatchPayload(QStringLiteral("update Customer set CreditDays = CreditDays "
                                            "where Id = 1; rollback"))},
  };
}

// Random changes to a message: flipped, inserted and dropped bytes, a cut, a random message.
QByteArray Mutate(QByteArray bytes, std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 9);
  const auto at = [&](qsizetype size) {
    return std::uniform_int_distribution<qsizetype>(0, std::max<qsizetype>(size - 1, 0))(rng);
  };
  const int changes = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < changes; ++i) {
    switch (kind(rng)) {
      case 0:
      case 1:
      case 2:
        if (!bytes.isEmpty()) bytes[at(bytes.size())] = static_cast<char>(rng());
        break;
      case 3:
        if (!bytes.isEmpty()) bytes[at(bytes.size())] ^= static_cast<char>(1 << (rng() % 8));
        break;
      case 4:
        bytes.insert(at(bytes.size() + 1), static_cast<char>(rng()));
        break;
      case 5:
        if (!bytes.isEmpty()) bytes.remove(at(bytes.size()), 1 + static_cast<qsizetype>(rng() % 8));
        break;
      case 6:
        bytes.truncate(at(bytes.size() + 1));
        break;
      case 7: {  // an extreme value where a length or a count may be
        static const char kEdges[] = {'\x00', '\x01', '\x7f', '\x80', '\xfe', '\xff'};
        if (!bytes.isEmpty()) bytes[at(bytes.size())] = kEdges[rng() % sizeof kEdges];
        break;
      }
      case 8: {
        const qsizetype from = at(bytes.size());
        bytes.insert(at(bytes.size() + 1), bytes.mid(from, 1 + static_cast<qsizetype>(rng() % 16)));
        break;
      }
      default: {
        QByteArray random(static_cast<qsizetype>(rng() % 200), '\0');
        for (char& c : random) c = static_cast<char>(rng());
        if (rng() % 4 == 0) return random;
        bytes += random;
        break;
      }
    }
  }
  return bytes;
}

TEST(TdsFuzz, ParsersRefuseDamagedMessagesWithTheirOwnErrors) {
  std::mt19937 rng(kSeed);
  const auto conversation = Conversation();
  const int cases = test::RunCases(kParserCases, [&](int n) {
    const auto& [type, seed] = conversation[static_cast<std::size_t>(n) % conversation.size()];
    const QByteArray message = Mutate(seed, rng);
    const std::string_view v = View(message);
    // Each parser refuses with an exception of the standard library's family, which the
    // session catches; anything else (a crash, a hang) fails the run.
    try {
      switch (type) {
        case PacketType::PreLogin:
          ParsePreLogin(v);
          break;
        case PacketType::Login7:
          ParseLogin7(v);
          break;
        case PacketType::SqlBatch:
          ParseSqlBatch(v, true);
          break;
        case PacketType::Rpc:
          ParseRpc(v, true);
          break;
        default:
          ParseTransactionManager(v);
          break;
      }
    } catch (const std::exception&) {
    }
    try {
      if (message.size() >= kHeaderSize) ParseHeader(v.substr(0, kHeaderSize));
    } catch (const ProtocolError&) {
    }
  });
  EXPECT_EQ(cases, kParserCases);
}

// Sends `bytes` to a session over a socket pair and reads its answers until it closes.
// False when the session did not end within the time given.
bool Converse(const ServerOptions& options, const QByteArray& bytes) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  auto session = std::make_unique<Session>(fds[0], options, 51);
  std::future<void> ran = std::async(std::launch::async, [&] { session->Run(); });
  const int client = fds[1];
  std::size_t sent = 0;
  QElapsedTimer timer;
  timer.start();
  bool closed = false;
  char buffer[65536];
  while (timer.elapsed() < 20000 && !closed) {
    pollfd p{client, static_cast<short>(POLLIN | (sent < std::size_t(bytes.size()) ? POLLOUT : 0)),
             0};
    if (::poll(&p, 1, 100) <= 0) continue;
    if (p.revents & POLLIN) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      closed = n <= 0;
    }
    if (!closed && p.revents & POLLOUT) {
      const ssize_t n = ::send(client, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (sent == std::size_t(bytes.size())) ::shutdown(client, SHUT_WR);  // the client is done
    }
    if (p.revents & (POLLHUP | POLLERR)) closed = true;
  }
  ::close(client);
  const bool ended = ran.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!ended) {
    session->Drop();
    ran.wait();
  }
  return closed && ended;
}

TEST(TdsFuzz, SessionsSurviveDamagedConversationsAndEndWhenTheClientGoes) {
  test::DemoSuiteFolder suite(20);
  ServerOptions options;
  options.suiteFolder = suite.Suite();
  std::mt19937 rng(kSeed + 1);
  const auto conversation = Conversation();

  // The conversation itself, whole: the session answers and ends.
  QByteArray whole;
  for (const auto& [type, message] : conversation)
    whole += FrameMessage(type, View(message), 4096, 0);
  ASSERT_TRUE(Converse(options, whole));

  const int cases = test::RunCases(kConversations, [&](int) {
    // One message damaged, or the packet stream itself.
    QByteArray stream;
    const std::size_t damaged = rng() % (conversation.size() + 1);
    for (std::size_t i = 0; i < conversation.size(); ++i) {
      const auto& [type, message] = conversation[i];
      stream += FrameMessage(type, View(i == damaged ? Mutate(message, rng) : message),
                             512 + static_cast<int>(rng() % 4000), 0);
    }
    if (damaged == conversation.size()) stream = Mutate(stream, rng);
    ASSERT_TRUE(Converse(options, stream)) << stream.toHex().toStdString();
  });
  EXPECT_EQ(cases, kConversations);
}

}  // namespace
