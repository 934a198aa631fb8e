// The operating system seam: what the program relies on from each of its calls.
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "platform/Socket.h"
#include "platform/posix/SocketErrno.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cerrno>
#include <csignal>

namespace qav::platform {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST(PlatformFilesTest, NewNamesNeverTakeAnExistingFile) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a"), b = dir.filePath("b");
  EXPECT_EQ(CreateNewFile(a), 0);
  const int again = CreateNewFile(a);
  EXPECT_TRUE(IsAlreadyExists(again)) << SystemErrorText(again).toStdString();

  WriteFile(a, "new");
  WriteFile(b, "old");
  EXPECT_TRUE(IsAlreadyExists(RenameNoReplace(a, b)));
  EXPECT_EQ(ReadAll(b), "old") << "the existing file stays as it was";
  EXPECT_EQ(ReadAll(a), "new");

  EXPECT_EQ(ReplaceFile(a, b), 0);
  EXPECT_EQ(ReadAll(b), "new");
  EXPECT_FALSE(QFile::exists(a));

  EXPECT_EQ(RenameNoReplace(b, a), 0);
  EXPECT_EQ(ReadAll(a), "new");
  EXPECT_FALSE(QFile::exists(b));

  const int missing = ReplaceFile(dir.filePath("none"), b);
  EXPECT_NE(missing, 0);
  EXPECT_FALSE(SystemErrorText(missing).isEmpty());
}

TEST(PlatformFilesTest, SyncReportsABadHandle) {
  QTemporaryDir dir;
  QFile file(dir.filePath("f"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.flush();
  EXPECT_EQ(SyncFileData(file.handle()), 0);
  EXPECT_NE(SyncFileData(-1), 0);
}

TEST(PlatformCodePageTest, ThaiUpperHalfIsTheSystemsWindows874) {
  std::array<char16_t, 128> table{};
  ASSERT_TRUE(CodePageUpperHalf(874, table));
  EXPECT_EQ(table[0x80 - 0x80], u'\u20AC');  // the euro sign of the Windows variant
  EXPECT_EQ(table[0xA1 - 0x80], u'\u0E01');  // ko kai
  EXPECT_EQ(table[0xDB - 0x80], u'\uFFFD');  // undefined
  EXPECT_FALSE(CodePageUpperHalf(99999, table));
}

TEST(PlatformSignalsTest, TerminationRequestsReachTheEventLoop) {
  TerminationRequests requests;
  QSignalSpy spy(&requests, &TerminationRequests::Requested);
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    spy.clear();
    std::raise(sig);
    EXPECT_TRUE(spy.wait(2000)) << sig;
  }
}

TEST(PlatformSocketTest, ErrorsUseTheWindowsSocketsNumbering) {
  const std::pair<int, int> errnos[] = {{ECONNREFUSED, 10061}, {EAGAIN, 10035}, {ENOTCONN, 10057},
                                        {ECONNRESET, 10054},   {EPIPE, 10054},  {ETIMEDOUT, 10060}};
  for (auto [error, number] : errnos) EXPECT_EQ(SocketErrorFromErrno(error), number) << error;
  EXPECT_GT(SocketErrorFromErrno(EIO), 10000) << "an error without counterpart still counts";
  EXPECT_EQ(SocketErrorFromLookup(EAI_NONAME), sockerr::HostNotFound);
  EXPECT_EQ(SocketErrorFromLookup(0), 0);

  quint32 address = 0;
  EXPECT_TRUE(ParseIPv4("127.0.0.1", address));
  EXPECT_EQ(address, qToBigEndian<quint32>(0x7F000001));
  EXPECT_FALSE(ParseIPv4("mail.example", address));
  EXPECT_FALSE(ParseIPv4("", address));
  EXPECT_EQ(LookupIPv4("localhost", address), 0);
  EXPECT_EQ(address, qToBigEndian<quint32>(0x7F000001));
}

}  // namespace
}  // namespace qav::platform
