#include "core/Cp874.h"
#include "mail/SmtpClient.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace qav {
namespace {

// A real SMTP server (aiosmtpd, run by tests/mail/smtp_sink.py) on a free loopback port,
// storing what it accepts in a temporary folder.
class SmtpRealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    server_.setProgram(QStringLiteral(QAV_SYSTEM_PYTHON));
    server_.setArguments({QStringLiteral(QAV_SMTP_SINK), folder_.path()});
    server_.start();
    ASSERT_TRUE(server_.waitForStarted(5000)) << "cannot run " << QAV_SYSTEM_PYTHON;
    while (!server_.canReadLine() && server_.waitForReadyRead(10000)) {
    }
    port_ = server_.readLine().trimmed().toInt();
    ASSERT_GT(port_, 0) << "the SMTP server did not start (is python3-aiosmtpd installed?): "
                        << server_.readAllStandardError().toStdString();
  }

  void TearDown() override {
    if (server_.state() == QProcess::NotRunning) return;
    server_.closeWriteChannel();
    if (!server_.waitForFinished(5000)) {
      server_.kill();
      server_.waitForFinished(2000);
    }
  }

  QByteArray Stored(int n, const char* suffix) const {
    QFile file(folder_.filePath(QString::number(n) + QLatin1String(suffix)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QJsonObject Envelope(int n) const { return QJsonDocument::fromJson(Stored(n, ".json")).object(); }

  QTemporaryDir folder_;
  QProcess server_;
  int port_ = 0;
};

QStringList Strings(const QJsonValue& value) {
  QStringList list;
  for (const QJsonValue& v : value.toArray()) list << v.toString();
  return list;
}

TEST_F(SmtpRealServerTest, MessagesArriveWithEnvelopeHeaderBodyAndAttachment) {
  QTemporaryDir files;
  const QString attachment = files.filePath(QStringLiteral("data.bin"));
  QByteArray binary;
  for (int i = 0; i < 1000; ++i) binary.append(static_cast<char>(i % 256));
  binary.append("\r\n.\r\n\0end", 10);
  {
    QFile file(attachment);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(binary);
  }

  TSMTPClient client;
  client.Host = QStringLiteral("127.0.0.1");
  client.Port = port_;
  client.TimeOut = 5000;
  client.UserID = QStringLiteral("qavtool.example");
  TMailMessage& m = client.PostMessage;
  m.FromAddress = QStringLiteral("qav@example.com");
  m.ToAddress = QStringList{"Ann <ann@example.com>", "SMTP:bob@example.com"};
  m.ToBlindCarbonCopy = QStringList{"carol@example.com"};
  m.Subject = QStringLiteral("Error DEMO บริษัท");
  m.Body =
      QStringList{"Report", ".", "..two", ".leading dot", "", QStringLiteral("บริษัท ทดสอบ จำกัด")};
  m.Attachments = QStringList{attachment};
  int successes = 0;
  client.OnSuccess = [&](TSMTPClient&) { ++successes; };

  client.Connect();
  client.SendPost();
  const QString boundary = client.Boundary();
  m.ToAddress = QStringList{"dave@example.com"};
  m.Body = QStringList{"second"};
  client.SendPost();
  client.Disconnect();
  EXPECT_EQ(successes, 2);

  const QJsonObject first = Envelope(1);
  EXPECT_EQ(first["helo"].toString(), "qavtool.example");
  EXPECT_EQ(first["mail_from"].toString(), "qav@example.com");
  EXPECT_EQ(Strings(first["rcpt_tos"]),
            (QStringList{"ann@example.com", "bob@example.com", "carol@example.com"}));

  const QByteArray data = Stored(1, ".eml");
  const QByteArray b = boundary.toLatin1();
  const QByteArray header =
      "From: <qav@example.com>\r\n"
      "To: Ann <ann@example.com>,SMTP:bob@example.com\r\n"
      "Subject: Error DEMO " +
      ToCp874(QStringLiteral("บริษัท")) +
      "\r\n"
      "Mime-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"" +
      b + "\"\r\n\r\n";
  ASSERT_TRUE(data.startsWith(header)) << data.left(400).toStdString();

  const QByteArray textPart =
      "\r\n--" + b +
      "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
      "Report\r\n.\r\n..two\r\n.leading dot\r\n\r\n"
      "\xba\xc3\xd4\xc9\xd1\xb7 \xb7\xb4\xca\xcd\xba \xa8\xd3\xa1\xd1\xb4\r\n"
      "--" +
      b + "\r\n";
  EXPECT_EQ(data.mid(header.size(), textPart.size()), textPart);

  const QByteArray partHeader =
      "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n";
  const qsizetype start = data.indexOf(partHeader);
  const qsizetype end = data.indexOf("--" + b + "--\r\n");
  ASSERT_GT(start, 0);
  ASSERT_GT(end, start);
  QByteArray encoded = data.mid(start + partHeader.size(), end - start - partHeader.size());
  for (const QByteArray& line : encoded.split('\n')) EXPECT_LE(line.size(), 61);
  encoded.replace("\r\n", "");
  const auto decoded =
      QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, binary);

  const QJsonObject second = Envelope(2);
  EXPECT_EQ(Strings(second["rcpt_tos"]), QStringList{"dave@example.com"});
  const QByteArray secondData = Stored(2, ".eml");
  EXPECT_TRUE(
      secondData.contains("Content-Type: text/plain; charset=us-ascii\r\n\r\n\r\nsecond\r\n"))
      << "ClearParams dropped the attachment too: " << secondData.toStdString();
}

}  // namespace
}  // namespace qav
