#include "mail/SmtpClient.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace qav {
namespace {

TEST(SmtpAddressTest, AddressOfTakesTheMailboxOfEachEntryForm) {
  const std::pair<QString, QString> cases[] = {
      {"Ann <x1>", "x1"},
      {"SMTP:x2", "x2"},
      {"x3", "x3"},
      {"\"Doe, J\" <j@example.com> (work)", "j@example.com"},
      {"<only@example.com>", "only@example.com"},
      {"X400:a:b", "a"},
      {"", ""},
      {QStringLiteral("บริษัท <thai@example.com>"), "thai@example.com"},
  };
  for (const auto& [entry, address] : cases)
    EXPECT_EQ(AddressOf(entry), address) << entry.toStdString();

  EXPECT_EQ(NthField("a,b,,c", u',', 1), "a");
  EXPECT_EQ(NthField("a,b,,c", u',', 3), "");
  EXPECT_EQ(NthField("a,b,,c", u',', 4), "c");
  EXPECT_EQ(NthField("a,b", u',', 5), "");
  EXPECT_EQ(NthField("", u',', 1), "");
}

TEST(ExStringListTest, HeaderLinesAreFoundByNameIgnoringCase) {
  for (bool sorted : {false, true}) {
    SCOPED_TRACE(sorted);
    TExStringList list({"From: <a@b>", "no colon line", "subject: old", "X-Mailer: qav"});
    list.SetSorted(sorted);
    EXPECT_GE(list.IndexOfHeader("SUBJECT"), 0);
    EXPECT_EQ(list.IndexOfHeader("no colon line"), -1) << "a line without a colon never matches";
    EXPECT_EQ(list.IndexOfHeader("Date"), -1);

    list.SetHeaderValue("Subject", "new");
    EXPECT_EQ(list.at(list.IndexOfHeader("subject")), "Subject: new");
    list.SetHeaderValue("Date", "today");
    EXPECT_EQ(list.at(list.IndexOfHeader("DATE")), "Date: today");
    EXPECT_EQ(list.size(), 5);
    list.SetHeaderValue("X-MAILER", "");
    EXPECT_EQ(list.IndexOfHeader("X-Mailer"), -1);
    list.SetHeaderValue("Reply-To", "");
    EXPECT_EQ(list.size(), 4);
    if (sorted) {
      EXPECT_EQ(list, (QStringList{"Date: today", "From: <a@b>", "no colon line", "Subject: new"}));
    } else {
      EXPECT_EQ(list.last(), "Date: today") << "a new header line goes at the end";
    }
  }
}

TEST(SmtpMessageTest, HeaderLinesFollowTheMessage) {
  struct Case {
    const char* name;
    std::function<void(TSMTPClient&)> setup;
    QStringList header;
  };
  const Case cases[] = {
      {"error report",
       [](TSMTPClient& c) {
         c.PostMessage.FromAddress = "qav@example.com";
         c.PostMessage.ToAddress = QStringList{"support@example.com"};
         c.PostMessage.Subject = "Error DEMO Console";
       },
       {"From: <qav@example.com>", "To: support@example.com", "Subject: Error DEMO Console",
        "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"}},
      {"every field",
       [](TSMTPClient& c) {
         TMailMessage& m = c.PostMessage;
         m.FromName = "Ann";
         m.FromAddress = "ann@example.com";
         m.ToAddress = QStringList{"Bob <bob@example.com>", "SMTP:eve@example.com"};
         m.ToCarbonCopy = QStringList{"cc@example.com"};
         m.ToBlindCarbonCopy = QStringList{"hidden@example.com"};
         m.Subject = "s";
         m.LocalProgram = "qavtool";
         m.ReplyTo = "r@example.com";
         m.Date = "Mon, 1 Jan 2024 10:00:00 +0700";
         c.SubType = mtHtml;
         c.Charset = "windows-874";
       },
       {"From: Ann<ann@example.com>", "To: Bob <bob@example.com>,eve@example.com",
        "CC: cc@example.com", "Subject: s", "X-Mailer: qavtool", "Reply-To: r@example.com",
        "Date: Mon, 1 Jan 2024 10:00:00 +0700", "Mime-Version: 1.0",
        "Content-Type: text/html; charset=windows-874"}},
      {"names that are not plain ASCII",
       [](TSMTPClient& c) {
         TMailMessage& m = c.PostMessage;
         m.FromName = QStringLiteral("สมชาย");
         m.FromAddress = "a@example.com";
         m.ToAddress = QStringList{QStringLiteral("ลูกค้า <c@example.com>"), "Bob <b@example.com>"};
         m.Subject = "=?utf-8?B?QQ==?=";
         m.LocalProgram = "Smith, John";
       },
       {"From: =?utf-8?B?4Liq4Lih4LiK4Liy4Lii?= <a@example.com>",
        "To: =?utf-8?B?4Lil4Li54LiB4LiE4LmJ4Liy?= <c@example.com>,Bob <b@example.com>",
        "Subject: =?utf-8?B?PT91dGYtOD9CP1FRPT0/PQ==?=", "X-Mailer: Smith, John",
        "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii"}},
      {"line breaks in header values stay on their line",
       [](TSMTPClient& c) {
         c.PostMessage.FromAddress = "a@example.com";
         c.PostMessage.Subject = QStringLiteral("Error\r\nBcc: victim@example.com\nx") + QChar(0) +
                                 QStringLiteral("y\tz");
         c.PostMessage.ToAddress = QStringList{"b@example.com\r\nX-Injected: 1"};
         c.Charset = "us-ascii\r\n";
       },
       {"From: <a@example.com>", "To: b@example.com  X-Injected: 1",
        "Subject: Error  Bcc: victim@example.com x y z", "Mime-Version: 1.0",
        "Content-Type: text/plain; charset=us-ascii  "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSMTPClient client;
    c.setup(client);
    client.BuildMessage();
    // Every message is dated (now, unless the caller gave a date) and named anew.
    QStringList header = client.FinalHeader;
    static const QRegularExpression id(
        QStringLiteral("^Message-ID: <[0-9a-z]+\\.[0-9a-z]+@[a-z.]+>$"));
    static const QRegularExpression now(
        QStringLiteral("^Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} "
                       "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}$"));
    EXPECT_EQ(header.filter(id).size(), 1) << header.join('|').toStdString();
    header.removeIf([](const QString& line) { return id.match(line).hasMatch(); });
    if (c.header.filter(QStringLiteral("Date: ")).isEmpty()) {
      EXPECT_EQ(header.filter(now).size(), 1) << header.join('|').toStdString();
      header.removeIf([](const QString& line) { return now.match(line).hasMatch(); });
    }
    EXPECT_EQ(header, c.header);
  }

  const std::pair<TSubType, const char*> types[] = {{mtPlain, "text/plain"},
                                                    {mtEnriched, "text/enriched"},
                                                    {mtSgml, "text/sgml"},
                                                    {mtTabSeperated, "text/tab-separated-values"},
                                                    {mtHtml, "text/html"}};
  for (auto [type, name] : types) {
    TSMTPClient client;
    client.SubType = type;
    client.BuildMessage();
    EXPECT_EQ(client.FinalHeader.last(),
              QStringLiteral("Content-Type: %1; charset=us-ascii").arg(name));
  }
}

// Error reporting relies on these settings without setting them.
TEST(SmtpMessageTest, DefaultsAreTheErrorMailSettings) {
  TSMTPClient client;
  EXPECT_EQ(client.Port, 25);
  EXPECT_EQ(client.ReportLevel, 0);
  EXPECT_EQ(client.TimeOut, 0);
  EXPECT_EQ(client.EncodeType, uuMime);
  EXPECT_TRUE(client.ClearParams);
  EXPECT_EQ(client.SubType, mtPlain);
  EXPECT_EQ(client.Charset, "us-ascii");
  EXPECT_FALSE(client.IsConnected());
}

// Lines that could end the data early are dot-stuffed; ASCII text goes as it is, anything else
// as UTF-8 quoted-printable within the line limits.
TEST(SmtpMessageTest, BodyLinesAreDotStuffedAndEncodedWhereNeeded) {
  struct Case {
    const char* name;
    QStringList body;
    QByteArray bytes;
    QString charset;
    bool quotedPrintable;
  };
  const QByteArray full(75, 'a');
  const Case cases[] = {
      {"ASCII",
       {".", ".x", "", "a.b", "two\r\n.lines", "bare\n.\rends"},
       "..\r\n..x\r\n\r\na.b\r\ntwo\r\n..lines\r\nbare\r\n..\r\nends\r\n",
       "us-ascii",
       false},
      {"Thai",
       {QStringLiteral("ไทย"), ".x", "a = b "},
       "=E0=B9=84=E0=B8=97=E0=B8=A2\r\n..x\r\na =3D b=20\r\n",
       "utf-8",
       true},
      {"a line over 998 characters",
       {QString(1000, u'a')},
       (full + "=\r\n").repeated(13) + QByteArray(25, 'a') + "\r\n",
       "us-ascii",
       true},
      {"control characters",
       {QStringLiteral("a") + QChar(0) + QStringLiteral("b\x7f")},
       "a=00b=7F\r\n",
       "us-ascii",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSMTPClient client;
    client.PostMessage.Body = c.body;
    client.BuildMessage();
    EXPECT_EQ(client.BodyBytes(), c.bytes);
    EXPECT_EQ(client.FinalHeader.at(client.FinalHeader.IndexOfHeader("Content-Type")),
              "Content-Type: text/plain; charset=" + c.charset);
    EXPECT_EQ(client.FinalHeader.IndexOfHeader("Content-Transfer-Encoding") >= 0,
              c.quotedPrintable);
  }
}

TEST(SmtpMessageTest, LongHeaderValuesAreFoldedWithinTheLineLimit) {
  QString words;
  for (int i = 0; words.size() < 300; ++i) words += QStringLiteral("word%1 ").arg(i);
  for (const QString& subject :
       {words.trimmed(), QString(300, u'x'), QStringLiteral("ไทย").repeated(100)}) {
    TSMTPClient client;
    client.PostMessage.Subject = subject;
    client.BuildMessage();
    const QString line = client.FinalHeader.at(client.FinalHeader.IndexOfHeader("Subject"));
    const QStringList folded = line.split(QStringLiteral("\r\n"));
    EXPECT_GT(folded.size(), 1);
    for (const QString& part : folded) {
      EXPECT_LE(part.size(), 78) << part.toStdString();
      EXPECT_FALSE(part.trimmed().isEmpty());
    }
    for (const QString& part : folded.mid(1)) EXPECT_TRUE(part.startsWith(u' '));
  }
}

TEST(SmtpMessageTest, AttachmentsMakeAMultipartBody) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("ข้อมูล.bin"));
  QByteArray bytes(46, Qt::Uninitialized);
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(255 - i * 5);
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  const QString empty = dir.filePath(QStringLiteral("empty.txt"));
  QFile(empty).open(QIODevice::WriteOnly);

  TSMTPClient client;
  client.SubType = mtHtml;
  client.PostMessage.Body = QStringList{"see attached"};
  client.PostMessage.Attachments = QStringList{path, empty};
  QStringList events;
  client.OnEncodeStart = [&](const QString& f) { events << "start " + f; };
  client.OnEncodeEnd = [&](const QString& f) { events << "end " + f; };
  client.BuildMessage();

  const QString boundary = client.Boundary();
  EXPECT_TRUE(QRegularExpression("^={20}54535[a-y]{6}====$").match(boundary).hasMatch())
      << boundary.toStdString();
  EXPECT_EQ(client.FinalHeader.last(),
            "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
  EXPECT_EQ(events,
            (QStringList{"start " + path, "end " + path, "start " + empty, "end " + empty}));

  const QByteArray b = boundary.toLatin1();
  const QByteArray base64 = bytes.toBase64();
  const QByteArray expected =
      "--" + b +
      "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
      "see attached\r\n"
      "--" +
      b +
      "\r\nContent-Type: application/octet-stream; "
      "name*=utf-8''%E0%B8%82%E0%B9%89%E0%B8%AD%E0%B8%A1%E0%B8%B9%E0%B8%A5.bin\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; "
      "filename*=utf-8''%E0%B8%82%E0%B9%89%E0%B8%AD%E0%B8%A1%E0%B8%B9%E0%B8%A5.bin\r\n\r\n" +
      base64.left(60) + "\r\n" + base64.mid(60) + "\r\n" + "--" + b +
      "\r\nContent-Type: application/octet-stream; name=\"empty.txt\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"empty.txt\"\r\n\r\n"
      "--" +
      b + "--\r\n";
  EXPECT_EQ(client.BodyBytes(), expected);
  EXPECT_TRUE(base64.mid(60).endsWith("==")) << "46 bytes leave one byte for the second line";

  // uuencode marks the end of every attachment with a line of its own.
  client.EncodeType = uuCode;
  client.PostMessage.Attachments = QStringList{empty};
  client.BuildMessage();
  EXPECT_TRUE(client.BodyBytes().endsWith("filename=\"empty.txt\"\r\n\r\n`\r\n--" +
                                          client.Boundary().toLatin1() + "--\r\n"));
}

}  // namespace
}  // namespace qav
