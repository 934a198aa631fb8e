// A short fuzz run of the SMTP client's reply reading: servers that answer with random and
// mutated replies, then close. The client must neither crash nor hang, fail only with the
// program's own errors, and never send the message unless the server's reply to DATA, read
// whole, invited it.
#include "mail/SmtpClient.h"
#include "tests/mail/ScriptedPeer.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <random>

namespace qav {
namespace {

using test::PeerStep;
using test::ScriptedPeer;

const char* const kGoodReplies[] = {"220 ready\r\n",  "250 hello\r\n", "250 reset\r\n",
                                    "250 sender\r\n", "250 rcpt\r\n",  "354 go ahead\r\n",
                                    "250 queued\r\n", "221 bye\r\n"};

std::string RandomBytes(std::mt19937& random, int max) {
  std::string bytes;
  const int count = std::uniform_int_distribution<int>(0, max)(random);
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(random() % 256);
  return bytes;
}

// One reply line of a random kind.
std::string RandomLine(std::mt19937& random, bool last) {
  static const char* const kCodes[] = {"220", "221", "250",   "354", "421", "550", "554",
                                       "199", "600", "99999", "25",  "",    "abc", "2500"};
  const std::string code = kCodes[random() % std::size(kCodes)];
  switch (random() % 8) {
    case 0:
      return RandomBytes(random, 40) + "\r\n";
    case 1:
      return " " + code + " folded\r\n";
    case 2:
      return code + (last ? " " : "-") + RandomBytes(random, 20) + "\n";
    case 3:
      return code + "\r";  // no line feed at all
    default:
      return code + (last ? " text" : "-text") + "\r\n";
  }
}

std::string RandomDialogue(std::mt19937& random) {
  std::string blob;
  const int replies = std::uniform_int_distribution<int>(0, 9)(random);
  for (int r = 0; r < replies; ++r) {
    if (random() % 3 == 0) {
      blob += kGoodReplies[r % std::size(kGoodReplies)];
      continue;
    }
    const int extra = random() % 10 == 0 ? 1200 : std::uniform_int_distribution<int>(0, 3)(random);
    for (int l = 0; l < extra; ++l) blob += RandomLine(random, false);
    blob += RandomLine(random, true);
  }
  if (random() % 20 == 0) blob += std::string(70000, 'x');
  return blob;
}

std::string MutatedDialogue(std::mt19937& random) {
  std::string blob;
  for (const char* reply : kGoodReplies) blob += reply;
  const int edits = std::uniform_int_distribution<int>(1, 5)(random);
  for (int e = 0; e < edits && !blob.empty(); ++e) {
    const size_t at = random() % blob.size();
    switch (random() % 3) {
      case 0:
        blob[at] = static_cast<char>(random() % 256);
        break;
      case 1:
        blob.erase(at, 1 + random() % 6);
        break;
      default:
        blob.insert(at, RandomLine(random, random() % 2 == 0));
        break;
    }
  }
  return blob;
}

// The replies as a careful reader groups them: whole lines, continuation lines with their last.
std::vector<std::string> ReplyTexts(const std::string& blob) {
  std::vector<std::string> replies;
  std::string reply;
  size_t from = 0;
  for (size_t lf = blob.find('\n'); lf != std::string::npos; lf = blob.find('\n', from)) {
    const std::string line = blob.substr(from, lf + 1 - from);
    from = lf + 1;
    reply += line;
    const bool continues = line[0] == ' ' || (line.size() >= 4 && line[3] == '-');
    if (!continues) {
      replies.push_back(reply);
      reply.clear();
    }
  }
  return replies;
}

}  // namespace

TEST(SmtpReplyFuzz, RandomAndMutatedRepliesNeverPutTheDialogueOutOfStep) {
  std::mt19937 random(4242);
  // A fixed number of dialogues, whatever the machine's speed; the clock only guards against a
  // client that hangs.
  constexpr int kDialogues = 200;
  QElapsedTimer clock;
  clock.start();
  int dialogues = 0;
  int sent = 0;
  while (dialogues < kDialogues) {
    ASSERT_LT(clock.elapsed(), 300000) << "after " << dialogues << " dialogues";
    const std::string blob = dialogues % 2 ? MutatedDialogue(random) : RandomDialogue(random);
    SCOPED_TRACE(::testing::PrintToString(blob.substr(0, 300)));
    ScriptedPeer peer({test::Send(blob), test::Close()});
    TSMTPClient client;
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = peer.Port();
    client.TimeOut = 3000;
    client.UserID = QStringLiteral("fuzz");
    client.PostMessage.FromAddress = QStringLiteral("a@example.com");
    client.PostMessage.ToAddress = QStringList{QStringLiteral("b@example.com")};
    client.PostMessage.Body = QStringList{QStringLiteral("body")};
    bool posted = false;
    try {
      client.Connect();
      client.SendPost();
      posted = true;
    } catch (const Exception&) {
    }
    try {
      client.Disconnect();
    } catch (const Exception&) {
    }
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.IsConnected());
    ASSERT_TRUE(peer.WaitForClientClose());

    const std::string received = peer.Received();
    if (received.find("Mime-Version: 1.0\r\n") != std::string::npos) {
      ++sent;
      // Greeting, EHLO (and HELO after a server that did not know it), RSET, MAIL, RCPT, then
      // DATA's reply, which must have been 3xx.
      const size_t data = received.find("HELO ") == std::string::npos ? 5 : 6;
      const std::vector<std::string> replies = ReplyTexts(blob);
      ASSERT_GT(replies.size(), data);
      EXPECT_EQ(replies[data][0], '3') << replies[data];
    }
    if (posted) {
      EXPECT_NE(received.find("\r\n.\r\n"), std::string::npos);
    }
    if (HasFatalFailure()) return;
    ++dialogues;
  }
  EXPECT_GT(sent, 0);
}

}  // namespace qav
