#include "core/Cp874.h"
#include "mail/SmtpClient.h"
#include "tests/mail/MailReader.h"

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
    QStringList arguments{QStringLiteral(QAV_SMTP_SINK), folder_.path()};
    if (smtputf8_) arguments << QStringLiteral("--smtputf8");
    server_.setArguments(arguments);
    server_.start();
    ASSERT_TRUE(server_.waitForStarted(30000)) << "cannot run " << QAV_SYSTEM_PYTHON;
    while (!server_.canReadLine() && server_.waitForReadyRead(60000)) {
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

  // A client for the server, as the program sets one up.
  void Prepare(TSMTPClient& client) const {
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = port_;
    client.TimeOut = 30000;
    client.UserID = QStringLiteral("qavtool.example");
    client.PostMessage.FromAddress = QStringLiteral("qav@example.com");
    client.PostMessage.Body = QStringList{QStringLiteral("body")};
  }

  // The server offers SMTPUTF8.
  bool smtputf8_ = false;
  QTemporaryDir folder_;
  QProcess server_;
  int port_ = 0;
};

class SmtpUtf8ServerTest : public SmtpRealServerTest {
 protected:
  SmtpUtf8ServerTest() { smtputf8_ = true; }
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
  client.TimeOut = 30000;
  client.UserID = QStringLiteral("qavtool.example");
  TMailMessage& m = client.PostMessage;
  m.FromAddress = QStringLiteral("qav@example.com");
  m.ToAddress = QStringList{"Ann <ann@example.com>", "SMTP:bob@example.com"};
  m.ToBlindCarbonCopy = QStringList{"carol@example.com"};
  m.Subject = QStringLiteral("Error DEMO บริษัท");
  m.Body =
      QStringList{"Report", ".", "..two", ".leading dot", "", QStringLiteral("บริษัท ทดสอบ จำกัด")};
  m.Attachments = QStringList{attachment};
  m.Date = QStringLiteral("Fri, 11 Dec 2026 08:30:00 +0700");
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
  EXPECT_TRUE(first["ehlo"].toBool());
  EXPECT_EQ(first["mail_from"].toString(), "qav@example.com");
  EXPECT_EQ(Strings(first["rcpt_tos"]),
            (QStringList{"ann@example.com", "bob@example.com", "carol@example.com"}));

  const QByteArray data = Stored(1, ".eml");
  const QByteArray b = boundary.toLatin1();
  // A new identifier for every message, in the sender's domain.
  const QByteArray messageId = data.mid(data.indexOf("Message-ID: <") + 13).split('>')[0];
  EXPECT_TRUE(messageId.endsWith("@example.com")) << messageId.toStdString();
  EXPECT_FALSE(Stored(2, ".eml").contains(messageId));
  // The Thai subject goes as an encoded word; a reader gets it back below.
  const QByteArray header =
      "From: <qav@example.com>\r\n"
      "To: Ann <ann@example.com>,bob@example.com\r\n"
      "Subject: =?utf-8?B?" +
      QStringLiteral("Error DEMO บริษัท").toUtf8().toBase64() +
      "?=\r\n"
      "Date: Fri, 11 Dec 2026 08:30:00 +0700\r\n"
      "Message-ID: <" +
      messageId +
      ">\r\n"
      "Mime-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"" +
      b + "\"\r\n\r\n";
  ASSERT_TRUE(data.startsWith(header)) << data.left(400).toStdString();
  const QByteArray textPart = "\r\n--" + b +
                              "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                              "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                              "Report\r\n.\r\n..two\r\n.leading dot\r\n\r\n=E0=B8";
  EXPECT_EQ(data.mid(header.size(), textPart.size()), textPart);

  const QJsonObject mail = test::ReadMail(folder_.filePath("1.eml"));
  EXPECT_EQ(test::HeaderOf(mail, "Subject"), "Error DEMO บริษัท");
  // The routing prefix stays out of the header: a reader sees a plain mailbox, not a group.
  EXPECT_EQ(
      QJsonDocument(mail["addresses"].toObject()["To"].toArray()).toJson(QJsonDocument::Compact),
      R"([["Ann","ann@example.com"],["","bob@example.com"]])");
  EXPECT_TRUE(mail["defects"].toArray().isEmpty())
      << QJsonDocument(mail["defects"].toArray()).toJson().toStdString();
  const QJsonArray parts = mail["parts"].toArray();
  ASSERT_EQ(parts.size(), 2);
  EXPECT_EQ(parts[0]["charset"].toString(), "utf-8");
  EXPECT_EQ(parts[0]["text"].toString().replace("\r\n", "\n"),
            "Report\n.\n..two\n.leading dot\n\nบริษัท ทดสอบ จำกัด");
  EXPECT_EQ(parts[1]["filename"].toString(), "data.bin");

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

// Whatever the texts hold, a standard reader gets back exactly what the program meant: no value
// turns into header lines of its own, Thai survives in every place, and no line on the wire
// passes the 998 characters that servers accept.
TEST_F(SmtpRealServerTest, StandardReadersGetEveryTextBackAsWritten) {
  QTemporaryDir files;
  auto attach = [&](const QString& name, const QByteArray& bytes) {
    QFile file(files.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
  };
  QString words;
  while (words.size() < 70000) words += QStringLiteral("word%1 ").arg(words.size());
  words.chop(1);
  const QString thaiLine = QString(QStringLiteral("บริษัท ทดสอบ จำกัด ")).repeated(300);
  const QString asciiLine = QString(QStringLiteral("0123456789")).repeated(500);

  struct Case {
    const char* name;
    QString fromName;
    QStringList to;
    QString subject;
    QStringList body;
    QStringList attachments;  // file names, holding their own names as bytes
    QString fromHeader;       // as decoded, where it matters
    QString toHeader;
  };
  const Case cases[] = {
      {"control characters in the subject, header-like body lines",
       "",
       {"ann@example.com"},
       QStringLiteral("Report") + QChar(0) + QStringLiteral("tail\x01x\ty"),
       {"Bcc: evil@example.com", "Content-Type: text/html", "", "end"},
       {},
       "qav@example.com",
       "ann@example.com"},
      {"Thai names, subject, text and attachment names",
       QStringLiteral("สมชาย ใจดี"),
       {QStringLiteral("ฝ่ายบริการ <ann@example.com>"), "bob@example.com"},
       QStringLiteral("Error DEMO ส่งออกข้อมูล"),
       {QStringLiteral("ป้อนวันที่ไม่ถูกต้อง"), "'X' IS NOT A VALID DATE", ".", ""},
       {QStringLiteral("รายงาน ปี 2569.xls"), "a \"quoted\" name.bin",
        QStringLiteral("ชื่อแฟ้มที่ยาวมาก").repeated(4) + ".txt"},
       QStringLiteral("สมชาย ใจดี <qav@example.com>"),
       QStringLiteral("ฝ่ายบริการ <ann@example.com>, bob@example.com")},
      {"a 70,000-character subject of words",
       "Smith, John",
       {"ann@example.com"},
       words,
       {"short"},
       {},
       "\"Smith, John\" <qav@example.com>",
       "ann@example.com"},
      {"a 70,000-character subject without a blank and over-long lines",
       "",
       {"ann@example.com"},
       QString(70000, u'x'),
       {thaiLine, asciiLine, "." + asciiLine},
       {},
       "qav@example.com",
       "ann@example.com"},
  };

  TSMTPClient client;
  client.Host = QStringLiteral("127.0.0.1");
  client.Port = port_;
  client.TimeOut = 30000;
  client.UserID = QStringLiteral("qavtool.example");
  client.Connect();
  for (const Case& c : cases) {
    TMailMessage& m = client.PostMessage;
    m.FromName = c.fromName;
    m.FromAddress = QStringLiteral("qav@example.com");
    m.ToAddress = c.to;
    m.Subject = c.subject;
    m.Body = c.body;
    m.Attachments.clear();
    for (const QString& name : c.attachments) m.Attachments << attach(name, name.toUtf8());
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(client.SendPost());
  }
  client.Disconnect();

  for (size_t n = 0; n < std::size(cases); ++n) {
    const Case& c = cases[n];
    SCOPED_TRACE(c.name);
    const QJsonObject mail = test::ReadMail(folder_.filePath(QString::number(n + 1) + ".eml"));
    ASSERT_FALSE(mail.isEmpty());
    EXPECT_TRUE(mail["defects"].toArray().isEmpty())
        << QJsonDocument(mail["defects"].toArray()).toJson().toStdString();
    EXPECT_LE(mail["longest_line"].toInt(), 998);
    QStringList names;
    for (const QJsonValue& h : mail["headers"].toArray()) names << h[0].toString();
    EXPECT_EQ(names.mid(0, 7), (QStringList{"From", "To", "Subject", "Date", "Message-ID",
                                            "Mime-Version", "Content-Type"}))
        << names.join(',').toStdString();
    // The date of sending, as a reader reads it.
    EXPECT_FALSE(mail["date"].isNull());
    EXPECT_FALSE(names.contains("Bcc"));
    EXPECT_EQ(names.count("Content-Type"), 1);
    QString subject = c.subject;
    for (QChar& ch : subject)
      if (ch.category() == QChar::Other_Control) ch = u' ';
    EXPECT_EQ(test::HeaderOf(mail, "Subject"), subject);
    EXPECT_EQ(test::HeaderOf(mail, "From"), c.fromHeader);
    EXPECT_EQ(test::HeaderOf(mail, "To"), c.toHeader);

    const QJsonArray parts = mail["parts"].toArray();
    ASSERT_EQ(parts.size(), 1 + c.attachments.size());
    EXPECT_EQ(parts[0]["type"].toString(), "text/plain");
    // A single-part body starts with one empty line, as it always has; in a multipart body the
    // line break before the boundary belongs to the boundary.
    const QString text = c.body.join('\n');
    EXPECT_EQ(parts[0]["text"].toString().replace("\r\n", "\n"),
              c.attachments.isEmpty() ? "\n" + text + "\n" : text);
    for (qsizetype a = 0; a < c.attachments.size(); ++a) {
      EXPECT_EQ(parts[1 + a]["filename"].toString(), c.attachments[a]);
      EXPECT_EQ(QByteArray::fromBase64(parts[1 + a]["data"].toString().toLatin1()),
                c.attachments[a].toUtf8());
    }
  }
}

// Address headers of every kind fold where they would pass a line's length, keep a comma in a
// display name inside it, and every message carries the date and an identifier; the client
// names itself in EHLO as a host, whatever word it was given.
TEST_F(SmtpRealServerTest, AddressHeadersFoldAndEveryMessageIsDatedAndNamed) {
  QString longName;
  while (longName.size() < 1200) longName += QStringLiteral("Support ");
  longName = longName.trimmed();
  TSMTPClient client;
  Prepare(client);
  client.UserID = QStringLiteral("qavtool");
  TMailMessage& m = client.PostMessage;
  m.FromName = longName;
  m.ToAddress = QStringList{"Doe, John <john@example.com>", longName + " <ann@example.com>"};
  m.ToCarbonCopy = QStringList{longName + " <carol@example.com>"};
  m.ReplyTo = longName + " <reply@example.com>";
  m.Date = QStringLiteral(
      "Fri, 11 Dec 2026 08:30:00 +0700 (Indochina Time, the time of Bangkok, Hanoi and Jakarta)");
  client.Connect();
  ASSERT_NO_THROW(client.SendPost());
  client.Disconnect();

  const QJsonObject envelope = Envelope(1);
  EXPECT_TRUE(envelope["ehlo"].toBool());
  const QString helo = envelope["helo"].toString();
  EXPECT_TRUE(helo == "[127.0.0.1]" || (helo.contains('.') && !helo.contains('[')))
      << helo.toStdString();
  EXPECT_EQ(Strings(envelope["rcpt_tos"]),
            (QStringList{"john@example.com", "ann@example.com", "carol@example.com"}));

  const QJsonObject mail = test::ReadMail(folder_.filePath("1.eml"));
  ASSERT_FALSE(mail.isEmpty());
  EXPECT_TRUE(mail["defects"].toArray().isEmpty())
      << QJsonDocument(mail["defects"].toArray()).toJson().toStdString();
  EXPECT_LE(mail["longest_line"].toInt(), 78);
  const QJsonObject addresses = mail["addresses"].toObject();
  const auto pairs = [](const QJsonValue& list) {
    QStringList out;
    for (const QJsonValue& a : list.toArray()) out << a[0].toString() + " | " + a[1].toString();
    return out;
  };
  EXPECT_EQ(pairs(addresses["From"]), QStringList{longName + " | qav@example.com"});
  EXPECT_EQ(pairs(addresses["To"]),
            (QStringList{"Doe, John | john@example.com", longName + " | ann@example.com"}));
  EXPECT_EQ(pairs(addresses["CC"]), QStringList{longName + " | carol@example.com"});
  EXPECT_EQ(pairs(addresses["Reply-To"]), QStringList{longName + " | reply@example.com"});
  EXPECT_EQ(mail["date"].toString(), "2026-12-11T08:30:00+07:00");
  EXPECT_TRUE(test::HeaderOf(mail, "Message-ID").endsWith("@example.com>"));
}

// A Thai name too long for one encoded word is cut only between whole characters with their
// vowel and tone marks: every word decodes alone and none starts with a mark, and the words
// joined (RFC 2047 drops the blanks between them) give the name back. Python 3.11 reads the
// blank of each fold into a display name (CPython gh-128110), so the display name is compared
// without blanks; the subject, an unstructured field, it reads exactly.
TEST_F(SmtpRealServerTest, ThaiNamesAreCutIntoEncodedWordsBetweenWholeCharacters) {
  // Cut every 42 bytes, its fourth word would start with a vowel mark.
  const QString name = QStringLiteral("ห้างหุ้นส่วนจำกัด ผู้ผลิตน้ำดื่มบรรจุขวดที่ได้มาตรฐานสูงสุดแห่งประเทศไทย");
  TSMTPClient client;
  Prepare(client);
  TMailMessage& m = client.PostMessage;
  m.ToAddress = QStringList{name + " <ann@example.com>"};
  m.Subject = name;
  client.Connect();
  ASSERT_NO_THROW(client.SendPost());
  client.Disconnect();

  const QJsonObject mail = test::ReadMail(folder_.filePath("1.eml"));
  ASSERT_FALSE(mail.isEmpty());
  EXPECT_TRUE(mail["defects"].toArray().isEmpty());
  EXPECT_EQ(test::HeaderOf(mail, "Subject"), name);
  const QJsonObject words = mail["encoded_words"].toObject();
  for (const QString header : {"To", "Subject"}) {
    const QJsonArray list = words[header].toArray();
    EXPECT_GT(list.size(), 1) << header.toStdString();
    QString joined;
    for (const QJsonValue& word : list) {
      ASSERT_TRUE(word.isString()) << header.toStdString() << ": a word cut inside a character";
      const QString text = word.toString();
      ASSERT_FALSE(text.isEmpty());
      const QChar::Category first = text[0].category();
      EXPECT_TRUE(first != QChar::Mark_NonSpacing && first != QChar::Mark_SpacingCombining &&
                  first != QChar::Mark_Enclosing)
          << header.toStdString() << ": a word starts with a mark: " << text.toStdString();
      joined += text;
    }
    EXPECT_EQ(joined, name) << header.toStdString();
  }
  const QJsonArray to = mail["addresses"].toObject()["To"].toArray();
  ASSERT_EQ(to.size(), 1);
  EXPECT_EQ(to[0][0].toString().remove(u' '), QString(name).remove(u' '));
  EXPECT_EQ(to[0][1].toString(), "ann@example.com");
}

// A mailbox beyond ASCII goes as UTF-8 to a server that takes it, and a server that does not
// gets a clear refusal before anything is sent: the connection stays in step for the next.
TEST_F(SmtpUtf8ServerTest, AThaiMailboxGoesAsUtf8) {
  TSMTPClient client;
  Prepare(client);
  client.PostMessage.ToAddress = QStringList{QStringLiteral("สมชาย ใจดี <สมชาย@example.com>")};
  client.Connect();
  EXPECT_TRUE(client.Extensions().contains("SMTPUTF8"));
  ASSERT_NO_THROW(client.SendPost());
  client.Disconnect();
  EXPECT_EQ(Strings(Envelope(1)["rcpt_tos"]), QStringList{QStringLiteral("สมชาย@example.com")});
  const QJsonObject mail = test::ReadMail(folder_.filePath("1.eml"));
  const QJsonArray to = mail["addresses"].toObject()["To"].toArray();
  ASSERT_EQ(to.size(), 1);
  EXPECT_EQ(to[0][0].toString(), QStringLiteral("สมชาย ใจดี"));
  EXPECT_EQ(to[0][1].toString(), QStringLiteral("สมชาย@example.com"));
}

TEST_F(SmtpRealServerTest, AThaiMailboxIsRefusedClearlyWithoutSmtpUtf8) {
  TSMTPClient client;
  Prepare(client);
  client.PostMessage.ToAddress = QStringList{QStringLiteral("สมชาย@example.com")};
  client.Connect();
  try {
    client.SendPost();
    ADD_FAILURE() << "sent";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("The address สมชาย@example.com is not plain ASCII, and "
                                          "the mail server does not take such addresses (it "
                                          "offers no SMTPUTF8)."));
  }
  EXPECT_TRUE(client.IsConnected());
  client.PostMessage.ToAddress = QStringList{QStringLiteral("ann@example.com")};
  ASSERT_NO_THROW(client.SendPost());
  client.Disconnect();
  EXPECT_EQ(Strings(Envelope(1)["rcpt_tos"]), QStringList{"ann@example.com"});
  EXPECT_FALSE(QFile::exists(folder_.filePath("2.eml")));
}

}  // namespace
}  // namespace qav
