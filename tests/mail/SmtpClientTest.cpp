#include "mail/SmtpClient.h"
#include "tests/mail/ScriptedPeer.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <regex>

namespace qav {
namespace {

using test::AwaitData;
using test::AwaitLine;
using test::Close;
using test::PeerStep;
using test::ScriptedPeer;
using test::Send;

// The client's side of a dialogue, with every event counted.
struct Client {
  TSMTPClient smtp;
  int connects = 0;
  int successes = 0;
  int failures = 0;
  QStringList refused;

  explicit Client(const ScriptedPeer& peer) {
    smtp.Host = QStringLiteral("127.0.0.1");
    smtp.Port = peer.Port();
    smtp.TimeOut = 3000;
    smtp.UserID = QStringLiteral("client.example");
    smtp.OnConnect = [this](TSMTPClient&) { ++connects; };
    smtp.OnSuccess = [this](TSMTPClient&) { ++successes; };
    smtp.OnFailure = [this](TSMTPClient&) { ++failures; };
    smtp.OnRecipientNotFound = [this](const QString& entry) { refused << entry; };
    smtp.PostMessage.FromAddress = QStringLiteral("sender@example.com");
    smtp.PostMessage.ToAddress = QStringList{QStringLiteral("x@example.com")};
    smtp.PostMessage.Body = QStringList{QStringLiteral("body")};
  }
};

// Runs action and returns the message of the qav::Exception it raised.
QString ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return QStringLiteral("(no error)");
}

std::vector<PeerStep> Replies(std::vector<PeerStep> head,
                              std::initializer_list<const char*> replies) {
  for (const char* reply : replies) {
    head.push_back(AwaitLine());
    head.push_back(Send(reply));
  }
  return head;
}

TEST(SmtpDialogueTest, SendsTheWholeMessageAndGoesOnAfterARefusedRecipient) {
  ScriptedPeer peer({Send("220-mail.example ESMTP\r\n220-second line\r\n"),
                     test::Pause(30),
                     Send("220 last\r\n"),
                     AwaitLine(),
                     Send("250-hello\r\n 250 folded\r\n250 done\r\n"),
                     AwaitLine(),
                     Send("250 reset\r\n"),
                     AwaitLine(),
                     Send("250 sender ok\r\n"),
                     AwaitLine(),
                     Send("250 ann\r\n"),
                     AwaitLine(),
                     Send("550 no such user\r\n"),
                     AwaitLine(),
                     Send("250 carol\r\n"),
                     AwaitLine(),
                     Send("354 go ahead\r\n"),
                     AwaitData(),
                     Send("250 queued\r\n"),
                     AwaitLine(),
                     Send("221 bye\r\n")});
  Client client(peer);
  TMailMessage& m = client.smtp.PostMessage;
  m.ToAddress = QStringList{"Ann <ann@example.com>", "SMTP:bob@example.com"};
  m.ToCarbonCopy = QStringList{"carol@example.com"};
  m.Subject = QStringLiteral("Error DEMO บริษัท");
  m.Body = QStringList{"first", ".", ".x", "", "last"};
  m.Date = QStringLiteral("Fri, 11 Dec 2026 08:30:00 +0700");

  client.smtp.Connect();
  EXPECT_EQ(client.connects, 1);
  EXPECT_FALSE(client.smtp.Busy());
  client.smtp.SendPost();
  EXPECT_EQ(client.refused, QStringList{"SMTP:bob@example.com"});
  EXPECT_EQ(client.successes, 1);
  client.smtp.Disconnect();
  EXPECT_FALSE(client.smtp.IsConnected());

  const std::string expected =
      "EHLO client.example\r\n"
      "RSET\r\n"
      "MAIL FROM:<sender@example.com>\r\n"
      "RCPT TO:<ann@example.com>\r\n"
      "RCPT TO:<bob@example.com>\r\n"
      "RCPT TO:<carol@example.com>\r\n"
      "DATA\r\n"
      "From: <sender@example.com>\r\n"
      "To: Ann <ann@example.com>,bob@example.com\r\n"
      "CC: carol@example.com\r\n"
      "Subject: =?utf-8?B?" +
      QStringLiteral("Error DEMO บริษัท").toUtf8().toBase64().toStdString() +
      "?=\r\n"
      "Date: Fri, 11 Dec 2026 08:30:00 +0700\r\n"
      "Message-ID: <ID@example.com>\r\n"
      "Mime-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=us-ascii\r\n"
      "\r\n\r\n"
      "first\r\n..\r\n..x\r\n\r\nlast\r\n"
      ".\r\n"
      "QUIT\r\n";
  // The identifier is new for every message.
  const std::regex id("Message-ID: <[0-9a-z]+\\.[0-9a-z]+@example\\.com>");
  EXPECT_EQ(std::regex_replace(peer.Received(), id, "Message-ID: <ID@example.com>"), expected);

  // ClearParams empties the recipients and attachments only.
  EXPECT_TRUE(m.ToAddress.isEmpty());
  EXPECT_TRUE(m.ToCarbonCopy.isEmpty());
  EXPECT_EQ(m.Body.size(), 5);
  EXPECT_FALSE(m.Subject.isEmpty());
}

TEST(SmtpDialogueTest, ARefusalAtEachStepRaisesTheReplyLine) {
  const std::vector<const char*> good = {"220 ready\r\n",  "250 hello\r\n", "250 reset\r\n",
                                         "250 sender\r\n", "250 rcpt\r\n",  "354 go\r\n",
                                         "250 queued\r\n", "221 bye\r\n"};
  enum Call { InConnect, InSendPost, InDisconnect };
  struct Case {
    const char* name;
    size_t step;
    const char* reply;
    Call call;
    QString error;
    const char* lastCommand;
    bool connectedAfter;
    int failures;
  };
  const Case cases[] = {
      {"greeting", 0, "554 no service\r\n", InConnect, "554 no service\r\n", "", false, 0},
      {"EHLO", 1, "501 bad name\r\n", InConnect, "Authentication failed", "EHLO client.example",
       false, 0},
      {"RSET", 2, "421 closing\r\n", InSendPost, "421 closing\r\n", "RSET", true, 0},
      {"MAIL FROM", 3, "550 sender\r\n", InSendPost, "550 sender\r\n",
       "MAIL FROM:<sender@example.com>", true, 0},
      {"DATA", 5, "554 no data\r\n", InSendPost, "554 no data\r\n", "DATA", true, 0},
      {"end of data", 6, "552 too big\r\n", InSendPost, "552 too big\r\n", ".", true, 1},
      {"QUIT", 7, "500 what\r\n", InDisconnect, "500 what\r\n", "QUIT", false, 0},
      {"QUIT at 340", 7, "340 odd\r\n", InDisconnect, "340 odd\r\n", "QUIT", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PeerStep> script;
    for (size_t step = 0; step <= c.step; ++step) {
      if (step == 6)
        script.push_back(AwaitData());
      else if (step > 0)
        script.push_back(AwaitLine());
      script.push_back(Send(step == c.step ? c.reply : good[step]));
    }
    if (c.call != InDisconnect) {
      script.push_back(AwaitLine());
      script.push_back(Send("221 bye\r\n"));
    }
    ScriptedPeer peer(script);
    Client client(peer);

    QString error = ErrorOf([&] { client.smtp.Connect(); });
    if (c.call != InConnect) {
      ASSERT_EQ(error, "(no error)");
      error = ErrorOf([&] { client.smtp.SendPost(); });
      if (c.call == InDisconnect) {
        ASSERT_EQ(error, "(no error)");
        error = ErrorOf([&] { client.smtp.Disconnect(); });
      }
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(client.smtp.IsConnected(), c.connectedAfter);
    EXPECT_EQ(client.failures, c.failures);
    EXPECT_EQ(client.successes, c.call == InDisconnect ? 1 : 0);
    EXPECT_EQ(client.connects, c.call == InConnect ? 0 : 1);
    EXPECT_FALSE(client.smtp.Busy());
    if (c.connectedAfter) client.smtp.Disconnect();

    const std::string received = peer.Received();
    const std::string tail = std::string(c.lastCommand) + (*c.lastCommand ? "\r\n" : "") +
                             (c.call == InDisconnect ? "" : "QUIT\r\n");
    ASSERT_GE(received.size(), tail.size());
    EXPECT_EQ(received.substr(received.size() - tail.size()), tail);
  }
}

TEST(SmtpDialogueTest, RefusedHeloGetsOneRepairAttempt) {
  for (bool repairWorks : {true, false}) {
    SCOPED_TRACE(repairWorks);
    ScriptedPeer peer(
        Replies({Send("220 ready\r\n")},
                {"550 who are you\r\n", repairWorks ? "250 welcome\r\n" : "550 still no\r\n",
                 "221 bye\r\n"}));
    Client client(peer);
    client.smtp.UserID = QStringLiteral("first.example");
    int calls = 0;
    client.smtp.OnAuthenticationFailed = [&](bool& handled) {
      ++calls;
      client.smtp.UserID = QStringLiteral("second.example");
      handled = true;
    };
    const QString error = ErrorOf([&] { client.smtp.Connect(); });
    EXPECT_EQ(calls, 1);
    if (repairWorks) {
      EXPECT_EQ(error, "(no error)");
      EXPECT_EQ(client.connects, 1);
      client.smtp.Disconnect();
    } else {
      EXPECT_EQ(error, "Authentication failed");
    }
    EXPECT_EQ(peer.Received(), "EHLO first.example\r\nEHLO second.example\r\nQUIT\r\n");
  }
}

// EHLO names the host as RFC 5321 asks (a domain or an address literal, never a bare word),
// HELO follows only where the server does not know EHLO, and the extensions are kept.
TEST(SmtpDialogueTest, GreetsWithEhloAndADomainOrAnAddressLiteral) {
  struct Case {
    const char* name;
    const char* userId;
    std::vector<const char*> replies;  // to EHLO, then to HELO where it follows
    const char* sent;                  // a regular expression of what the client said
    QStringList extensions;
  };
  const Case cases[] = {
      {"a domain", "client.example", {"250 hi\r\n"}, "EHLO client\\.example\r\n", {}},
      {"an address literal", "[10.1.2.3]", {"250 hi\r\n"}, "EHLO \\[10\\.1\\.2\\.3\\]\r\n", {}},
      {"a bare word: the host's domain or address instead",
       "qavtool",
       {"250 hi\r\n"},
       "EHLO (\\[127\\.0\\.0\\.1\\]|[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+)\r\n",
       {}},
      {"extensions",
       "client.example",
       {"250-hi\r\n250-SIZE 1000\r\n250-8bitmime\r\n250 SMTPUTF8\r\n"},
       "EHLO client\\.example\r\n",
       {"SIZE", "8BITMIME", "SMTPUTF8"}},
      {"EHLO unknown",
       "client.example",
       {"500 what?\r\n", "250 hi\r\n"},
       "EHLO client\\.example\r\nHELO client\\.example\r\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PeerStep> script{Send("220 ready\r\n")};
    for (const char* reply : c.replies) {
      script.push_back(AwaitLine());
      script.push_back(Send(reply));
    }
    script.push_back(AwaitLine());
    script.push_back(Send("221 bye\r\n"));
    ScriptedPeer peer(script);
    Client client(peer);
    client.smtp.UserID = QString::fromLatin1(c.userId);
    EXPECT_EQ(ErrorOf([&] { client.smtp.Connect(); }), "(no error)");
    EXPECT_EQ(client.smtp.Extensions(), c.extensions);
    EXPECT_EQ(ErrorOf([&] { client.smtp.Disconnect(); }), "(no error)");
    EXPECT_TRUE(std::regex_match(peer.Received(), std::regex(std::string(c.sent) + "QUIT\r\n")))
        << peer.Received();
  }
}

// The time limit is for a whole reply: continuation lines that come within it each, but not
// all together, end the wait, and no EHLO follows.
TEST(SmtpDialogueTest, TheTimeLimitCoversTheWholeReply) {
  ScriptedPeer peer({Send("220-a\r\n"), test::Pause(700), Send("220-b\r\n"), test::Pause(700),
                     Send("220-c\r\n"), test::Pause(700), Send("220 d\r\n"), AwaitLine(),
                     Send("250 hi\r\n")});
  Client client(peer);
  client.smtp.TimeOut = 1000;
  EXPECT_EQ(ErrorOf([&] { client.smtp.Connect(); }), "Socket readln aborted");
  EXPECT_EQ(peer.Received(), "");
}

TEST(SmtpDialogueTest, ServerThatStopsAnsweringTimesOut) {
  ScriptedPeer peer(Replies({Send("220 ready\r\n")}, {"250 hello\r\n"}));
  Client client(peer);
  client.smtp.TimeOut = 2000;
  client.smtp.Connect();
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(ErrorOf([&] { client.smtp.SendPost(); }), "Socket readln aborted");
  EXPECT_GE(clock.elapsed(), 1900);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_FALSE(client.smtp.Busy());
  EXPECT_EQ(client.successes, 0);
}

// A reply that never comes is no success, wherever the server goes away.
TEST(SmtpDialogueTest, ServerClosingInsteadOfAnsweringIsAnError) {
  auto then = [](std::vector<PeerStep> script, std::vector<PeerStep> more) {
    script.insert(script.end(), more.begin(), more.end());
    return script;
  };
  const auto helloDone = Replies({Send("220 ready\r\n")}, {"250 hello\r\n"});
  struct Case {
    const char* name;
    std::vector<PeerStep> script;
    bool failsInConnect;
  };
  const Case cases[] = {
      {"greeting cut off", {Send("220 rea"), Close()}, true},
      {"EHLO unanswered", {Send("220 ready\r\n"), AwaitLine(), Close()}, true},
      {"reply cut off in the middle",
       then(Replies(helloDone, {"250 reset\r\n"}), {AwaitLine(), Send("25"), Close()}), false},
      {"end of data unanswered",
       then(Replies(helloDone, {"250 reset\r\n", "250 sender\r\n", "250 rcpt\r\n", "354 go\r\n"}),
            {AwaitData(), Close()}),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.script);
    Client client(peer);
    QString error = ErrorOf([&] { client.smtp.Connect(); });
    if (!c.failsInConnect) {
      ASSERT_EQ(error, "(no error)");
      error = ErrorOf([&] { client.smtp.SendPost(); });
    }
    EXPECT_EQ(error, "Not Connected");
    EXPECT_EQ(client.connects, c.failsInConnect ? 0 : 1);
    EXPECT_EQ(client.successes, 0);
  }
}

// A dialogue that accepts one message with one recipient and then says goodbye.
std::vector<PeerStep> AcceptingServer() {
  auto script = Replies({Send("220 ready\r\n")}, {"250 hello\r\n", "250 reset\r\n",
                                                  "250 sender\r\n", "250 rcpt\r\n", "354 go\r\n"});
  script.push_back(AwaitData());
  script.push_back(Send("250 queued\r\n"));
  script.push_back(AwaitLine());
  script.push_back(Send("221 bye\r\n"));
  return script;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SmtpDialogueTest, WithoutAConnectionTheHandlerMayConnect) {
  ScriptedPeer peer(AcceptingServer());
  Client client(peer);
  EXPECT_EQ(ErrorOf([&] { client.smtp.SendPost(); }), "Not Connected");
  EXPECT_FALSE(client.smtp.Busy());

  client.smtp.OnConnectionRequired = [&](bool& handled) {
    client.smtp.Connect();
    handled = true;
  };
  client.smtp.SendPost();
  EXPECT_EQ(client.successes, 1);
  client.smtp.Disconnect();
  EXPECT_EQ(Count(peer.Received(), "RSET\r\n"), 1u);
}

TEST(SmtpDialogueTest, SendPostWhileBusyDoesNothing) {
  ScriptedPeer peer(AcceptingServer());
  Client client(peer);
  client.smtp.Connect();
  int starts = 0;
  client.smtp.OnSendStart = [&](TSMTPClient& sender) {
    ++starts;
    sender.SendPost();
  };
  client.smtp.SendPost();
  client.smtp.Disconnect();
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(client.successes, 1);
  EXPECT_EQ(Count(peer.Received(), "RSET\r\n"), 1u);
}

TEST(SmtpDialogueTest, IncompleteHeaderGetsOneRepairAttempt) {
  ScriptedPeer peer(AcceptingServer());
  Client client(peer);
  client.smtp.PostMessage.FromAddress.clear();
  std::vector<int> types;
  client.smtp.OnHeaderIncomplete = [&](bool& handled, int hiType) {
    types.push_back(hiType);
    if (hiType == 1) client.smtp.PostMessage.FromAddress = QStringLiteral("late@example.com");
    handled = hiType == 1;
  };
  client.smtp.Connect();
  client.smtp.SendPost();
  // With ClearParams the recipients are gone after a successful send.
  EXPECT_EQ(ErrorOf([&] { client.smtp.SendPost(); }), "Incomplete Header");
  client.smtp.Disconnect();

  EXPECT_EQ(types, (std::vector<int>{1, 2}));
  const std::string received = peer.Received();
  EXPECT_NE(received.find("MAIL FROM:<late@example.com>\r\n"), std::string::npos);
  EXPECT_NE(received.find("From: <>\r\n"), std::string::npos)
      << "the header was built before the handler ran";
}

TEST(SmtpDialogueTest, MissingAttachmentStopsBeforeAnythingIsSent) {
  ScriptedPeer peer(Replies({Send("220 ready\r\n")}, {"250 hello\r\n", "221 bye\r\n"}));
  Client client(peer);
  const QString missing = QStringLiteral("/nonexistent/รายงาน.xls");
  client.smtp.PostMessage.Attachments = QStringList{missing};
  QStringList notFound;
  client.smtp.OnAttachmentNotFound = [&](const QString& name) { notFound << name; };
  client.smtp.Connect();
  try {
    client.smtp.SendPost();
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    // Worded as every other file error of the program.
    EXPECT_EQ(e.Message(), QStringLiteral("Cannot open file ") + missing +
                               QStringLiteral(". No such file or directory"));
  }
  EXPECT_EQ(notFound, QStringList{missing});
  EXPECT_FALSE(client.smtp.Busy());
  client.smtp.Disconnect();
  EXPECT_EQ(peer.Received(), "EHLO client.example\r\nQUIT\r\n");
}

// Every reply is read whole, at every step: the next command never reads the rest of the last
// reply, and message lines never reach a server that has not opened the data.
TEST(SmtpDialogueTest, MultiLineRepliesKeepTheDialogueInStep) {
  struct Case {
    const char* name;
    std::vector<const char*> replies;  // greeting, HELO, RSET, MAIL, RCPT, DATA, end, QUIT
    QString error;                     // of SendPost
    bool messageSent;
  };
  const Case cases[] = {
      {"every reply over several lines",
       {"220-a\r\n220 b\r\n", "250-a\r\n 250 folded\r\n250 b\r\n", "250-a\r\n250 b\r\n",
        "250-a\r\n250-b\r\n250 c\r\n", "250-a\r\n250 b\r\n", "354-a\r\n354 go\r\n",
        "250-a\r\n250 queued\r\n", "221-a\r\n221 bye\r\n"},
       "(no error)",
       true},
      {"DATA refused after a reset answered over two lines",
       {"220 ready\r\n", "250 hello\r\n", "250-a\r\n250 b\r\n", "250 sender\r\n", "250 rcpt\r\n",
        "554-no\r\n554 thanks\r\n", nullptr, "221 bye\r\n"},
       "554-no\r\n554 thanks\r\n",
       false},
      {"DATA answered as if it were a command",
       {"220 ready\r\n", "250 hello\r\n", "250 reset\r\n", "250 sender\r\n", "250 rcpt\r\n",
        "250 ok\r\n", nullptr, "221 bye\r\n"},
       "250 ok\r\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PeerStep> script{Send(c.replies[0])};
    for (size_t step = 1; step < c.replies.size(); ++step) {
      if (!c.replies[step]) continue;
      script.push_back(step == 6 ? AwaitData() : AwaitLine());
      script.push_back(Send(c.replies[step]));
    }
    ScriptedPeer peer(script);
    Client client(peer);
    client.smtp.Connect();
    EXPECT_EQ(ErrorOf([&] { client.smtp.SendPost(); }), c.error);
    EXPECT_EQ(client.successes, c.messageSent ? 1 : 0);
    EXPECT_EQ(ErrorOf([&] { client.smtp.Disconnect(); }), "(no error)");
    // The peer records until the client has closed; by then its script has run to the end.
    ASSERT_TRUE(peer.WaitForClientClose());
    const std::string received = peer.Received();
    EXPECT_EQ(received.find("From: ") != std::string::npos, c.messageSent) << received;
    EXPECT_TRUE(peer.Completed());
    EXPECT_EQ(received.substr(received.size() - 6), "QUIT\r\n");
  }
}

// A cancel or a time-out ends the attempt at once: no QUIT afterwards that waits once more.
TEST(SmtpDialogueTest, OneCancelOrTimeOutEndsTheWholeAttempt) {
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "cancel" : "time-out");
    ScriptedPeer peer({AwaitLine()});  // accepts, says nothing, records
    Client client(peer);
    client.smtp.TimeOut = cancel ? 20000 : 300;
    if (cancel) QTimer::singleShot(200, [&] { client.smtp.Abort(); });
    EXPECT_EQ(ErrorOf([&] { client.smtp.Connect(); }), "Socket readln aborted");
    EXPECT_FALSE(client.smtp.IsConnected());
    EXPECT_TRUE(peer.WaitForClientClose());
    EXPECT_EQ(peer.Received(), "");
    EXPECT_EQ(client.connects, 0);
  }
}

TEST(SmtpDialogueTest, AServerThatStopsReadingTheMessageTimesOut) {
  auto script = Replies({Send("220 ready\r\n")}, {"250 hello\r\n", "250 reset\r\n",
                                                  "250 sender\r\n", "250 rcpt\r\n", "354 go\r\n"});
  script.push_back(test::Pause(120000));  // reads nothing meanwhile (ended by the peer's end)
  ScriptedPeer peer(script);
  Client client(peer);
  // Room for the replies before DATA on a loaded machine; the pause outlasts it by far.
  client.smtp.TimeOut = 5000;
  // Far more than the socket buffers on both sides hold.
  client.smtp.PostMessage.Body = QStringList(200000, QString(79, u'x'));
  client.smtp.Connect();
  EXPECT_EQ(ErrorOf([&] { client.smtp.SendPost(); }), "Socket send aborted");
  EXPECT_FALSE(client.smtp.IsConnected());
  EXPECT_FALSE(client.smtp.Busy());
  EXPECT_EQ(client.successes, 0);
}

}  // namespace
}  // namespace qav
