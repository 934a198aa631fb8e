#include "mail/SmtpClient.h"

#include "core/Cp874.h"
#include "core/FileError.h"
#include "mail/BufferStream.h"
#include "mail/MimeEncoding.h"
#include "platform/LocalHost.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace qav {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A value that goes into a header line or a command must stay on that line: a line break in it
// (a subject built from database texts, say) would start lines of its own, and a zero character
// would end the text early.
QString OneLine(const QString& text) {
  return CleanHeaderText(text);
}

// A reply that holds far more lines than any server sends is no reply.
constexpr int kMaxReplyLines = 1000;

// An empty reply means the server closed the connection without answering; the step has not
// succeeded, whatever the missing reply code would have said. A reply that does not begin with
// a reply code (2xx to 5xx) is no answer to the command either: the dialogue is out of step.
void RequireReply(const QString& reply) {
  if (reply.isEmpty()) throw Exception(QStringLiteral("Not Connected"));
  const bool coded = reply.size() >= 3 && reply[0] >= u'2' && reply[0] <= u'5' &&
                     reply[1].isDigit() && reply[2].isDigit() &&
                     (reply.size() == 3 || !reply[3].isDigit());
  if (!coded) throw Exception(QStringLiteral("Unexpected reply: ") + reply);
}

// An entry as the header shows it. A routing prefix ("SMTP:ann@example.org") stays out of the
// header as it stays out of RCPT TO: a reader would take "SMTP:" for the name of a group.
QString HeaderEntry(const QString& entry) {
  static const QRegularExpression routed(QStringLiteral("^[A-Za-z][A-Za-z0-9]*:[^:<]*@[^:<]*$"));
  if (routed.match(entry).hasMatch()) return EncodeRecipientEntry(AddressOf(entry));
  return EncodeRecipientEntry(entry);
}

// Entries joined by ",", folded after a comma where the line would pass 78 characters. Entries
// with no address at all are left out, as they are of the envelope.
QString FoldedList(const QString& name, const QStringList& listed) {
  QStringList entries;
  for (const QString& entry : listed)
    if (const QString shown = HeaderEntry(entry); !shown.trimmed().isEmpty()) entries << shown;
  QString out;
  qsizetype used = name.size() + 2;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    const QString& entry = entries[i];
    const qsizetype firstLine = entry.indexOf(u'\r') < 0 ? entry.size() : entry.indexOf(u'\r');
    if (i > 0) {
      out += u',';
      ++used;
      if (used + firstLine > 78) {
        out += QStringLiteral("\r\n ");
        used = 1;
      }
    }
    out += entry;
    const qsizetype lastBreak = entry.lastIndexOf(u'\n');
    used = lastBreak < 0 ? used + entry.size() : entry.size() - lastBreak - 1;
  }
  return out;
}

QString ContentType(TSubType subType) {
  switch (subType) {
    case mtEnriched:
      return QStringLiteral("Content-Type: text/enriched; charset=");
    case mtSgml:
      return QStringLiteral("Content-Type: text/sgml; charset=");
    case mtTabSeperated:
      return QStringLiteral("Content-Type: text/tab-separated-values; charset=");
    case mtHtml:
      return QStringLiteral("Content-Type: text/html; charset=");
    case mtPlain:
      break;
  }
  return QStringLiteral("Content-Type: text/plain; charset=");
}

bool IsAsciiText(const QString& text) {
  for (QChar c : text)
    if (c.unicode() > 0x7f) return false;
  return true;
}

// A host's domain name as EHLO takes it: labels of letters, digits and hyphens, at least two.
bool IsDomainName(const QString& name) {
  static const QRegularExpression domain(
      QStringLiteral("^[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]*[A-"
                     "Za-z0-9])?)+$"));
  return name.size() <= 253 && domain.match(name).hasMatch();
}

bool IsAddressLiteral(const QString& name) {
  static const QRegularExpression literal(
      QStringLiteral("^\\[[0-9.]+\\]$|^\\[IPv6:[0-9A-Fa-f:.]+\\]$"));
  return literal.match(name).hasMatch();
}

// The replies of a server that does not know a command (RFC 5321 4.2.4, and what older
// servers answer EHLO with).
bool IsUnknownCommandReply(int code) {
  return code == 500 || code == 502;
}

// Every address of the envelope and the header: the sender, the recipients, Reply-To.
QStringList EnvelopeAddresses(const TMailMessage& m) {
  QStringList addresses{m.FromAddress};
  for (const QStringList* list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy})
    for (const QString& entry : *list) addresses << AddressOf(entry);
  if (!m.ReplyTo.isEmpty()) addresses << AddressOf(m.ReplyTo);
  return addresses;
}

// A date as RFC 5322 writes it, "Fri, 11 Dec 2026 08:30:00 +0700": English names whatever the
// locale, the offset from UTC of the time given.
QString MailDate(const QDateTime& at) {
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const QDate day = at.date();
  const int offset = at.offsetFromUtc() / 60;
  const int size = offset < 0 ? -offset : offset;
  return QStringLiteral("%1, %2 %3 %4 %5 %6%7%8")
      .arg(QLatin1String(kDays[day.dayOfWeek() - 1]))
      .arg(day.day())
      .arg(QLatin1String(kMonths[day.month() - 1]))
      .arg(day.year())
      .arg(at.time().toString(QStringLiteral("HH:mm:ss")))
      .arg(QChar(offset < 0 ? u'-' : u'+'))
      .arg(size / 60, 2, 10, QLatin1Char('0'))
      .arg(size % 60, 2, 10, QLatin1Char('0'));
}

// A message identifier no other message has: the time, a random number and the sender's
// domain (or a name that is nobody's when it has none).
QString MessageId(const QString& fromAddress) {
  QString domain = fromAddress.section(u'@', -1).trimmed();
  if (!fromAddress.contains(u'@') || !IsDomainName(domain))
    domain = QStringLiteral("qavtool.invalid");
  return QStringLiteral("<%1.%2@%3>")
      .arg(QDateTime::currentMSecsSinceEpoch(), 0, 36)
      .arg(QRandomGenerator::global()->generate64(), 0, 36)
      .arg(domain);
}

// The part of a path after its last folder separator or drive colon.
QString FileNamePart(const QString& path) {
  qsizetype cut = -1;
  for (qsizetype i = 0; i < path.size(); ++i)
    if (path[i] == u'/' || path[i] == u'\\' || path[i] == u':') cut = i;
  return path.mid(cut + 1);
}

}  // namespace

QString NthField(const QString& text, QChar separator, int n) {
  QString field;
  int counter = 0;
  for (QChar c : text) {
    if (c == separator) {
      if (++counter == n) break;
    } else if (counter == n - 1) {
      field.append(c);
    }
  }
  return field;
}

QString AddressOf(const QString& entry) {
  if (entry.contains(u'<')) return NthField(NthField(entry, u'<', 2), u'>', 1);
  if (!entry.contains(u':')) return entry;
  return NthField(entry, u':', 2);
}

TSMTPClient::TSMTPClient(QObject* owner) : TSocketConnection(owner) {
  Port = 25;
  bodyStream_.setBuffer(&body_);
}

TSMTPClient::~TSMTPClient() = default;

bool TSMTPClient::ContinuesReply(const QString& line) {
  // "220-more" and lines starting with a blank continue a reply.
  return line.startsWith(u' ') || (line.size() >= 4 && line[3] == u'-');
}

QString TSMTPClient::ReadReply() {
  // The time limit is for the whole reply: a server that sends a continuation line now and
  // then must not hold the client for a limit per line.
  const int limit = TimeOut;
  const QDeadlineTimer deadline(limit > 0 ? limit : 0);
  const struct Restore {
    int& timeOut;
    int value;
    ~Restore() { timeOut = value; }
  } restore{TimeOut, limit};
  QString reply;
  for (int lines = 1;; ++lines) {
    if (limit > 0) TimeOut = static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
    const QString line = ReadLn();
    // A reply cut off by the peer's close is no reply.
    if (line.isEmpty()) return {};
    reply += line;
    if (!ContinuesReply(line)) return reply;
    if (lines == kMaxReplyLines) throw Exception(QStringLiteral("Reply too long"));
  }
}

void TSMTPClient::CloseAtOnce() {
  try {
    TSocketConnection::Disconnect();
  } catch (...) {
    // The socket is gone either way.
  }
}

void TSMTPClient::Connect() {
  const bool wasBusy = busy_;
  busy_ = true;
  try {
    TSocketConnection::Connect();
  } catch (...) {
    if (!wasBusy) busy_ = false;
    throw;
  }

  // Clear while a reply is awaited: a time-out, a cancel or a broken reply leaves the dialogue
  // out of step, and then the connection is closed without waiting for a QUIT reply as well.
  bool inStep = false;
  try {
    const QString greeting = ReadReply();
    RequireReply(greeting);
    inStep = true;
    if (ParseReplyCode(greeting) >= 400) throw Exception(greeting);

    int attempts = 0;
    // A 2xx reply is the only success; the handler gets one chance to repair a refusal.
    for (;;) {
      if (Greet(inStep)) break;
      bool handled = false;
      if (attempts == 0 && OnAuthenticationFailed) OnAuthenticationFailed(handled);
      if (!handled) throw Exception(QStringLiteral("Authentication failed"));
      ++attempts;
    }
  } catch (...) {
    // The error that ended the dialogue is the one to report, not a failing QUIT after it.
    if (inStep) {
      try {
        Disconnect();
      } catch (...) {
      }
    } else {
      CloseAtOnce();
    }
    if (!wasBusy) busy_ = false;
    throw;
  }
  if (!wasBusy) busy_ = false;
  if (OnConnect) OnConnect(*this);
}

QString TSMTPClient::GreetingName() const {
  const QString given = OneLine(UserID).trimmed();
  if (IsDomainName(given) || IsAddressLiteral(given)) return given;
  const QString host = platform::ComputerName();
  if (IsDomainName(host)) return host;
  const QString address = LocalAddress();
  return u'[' + (address.isEmpty() ? QStringLiteral("127.0.0.1") : address) + u']';
}

bool TSMTPClient::Greet(bool& inStep) {
  const QString name = GreetingName();
  extensions_.clear();
  inStep = false;
  Transaction(QStringLiteral("EHLO ") + name);
  RequireReply(LastReply());
  inStep = true;
  if (ReplyCode() < 300) {
    // "250-name greets you", then one extension a line: "250-SIZE 1000", "250 SMTPUTF8".
    const QStringList lines = LastReply().split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const QString keyword = lines[i].mid(4).trimmed();
      if (!keyword.isEmpty()) extensions_ << keyword.section(u' ', 0, 0).toUpper();
    }
    return true;
  }
  // Only a server that does not know the command gets the older one.
  if (!IsUnknownCommandReply(ReplyCode())) return false;
  inStep = false;
  Transaction(QStringLiteral("HELO ") + name);
  RequireReply(LastReply());
  inStep = true;
  return ReplyCode() < 300;
}

void TSMTPClient::Disconnect() {
  ClearCancel();
  // QUIT only over a connection that is still there.
  if (!IsConnected()) {
    TSocketConnection::Disconnect();
    return;
  }
  try {
    const QString reply = Transaction(QStringLiteral("QUIT"));
    if (ReplyCode() >= 340) throw Exception(reply);
  } catch (...) {
    TSocketConnection::Disconnect();
    throw;
  }
  TSocketConnection::Disconnect();
}

void TSMTPClient::Abort() {
  TSocketConnection::Abort();
}

void TSMTPClient::SendPost() {
  if (busy_) return;
  busy_ = true;
  bool success = false;
  // Clear from a command until its whole reply is read, and while the message is on its way:
  // a failure then leaves the dialogue out of step, and the connection is closed at once.
  bool inStep = true;
  try {
    BuildMessage();
    CheckConnection();

    // The header lines are built already: a sender or recipients the handler adds reach the
    // envelope only.
    int attempts = 0;
    const TMailMessage& m = PostMessage;
    while (m.FromAddress.isEmpty() ||
           (m.ToAddress.isEmpty() && m.ToCarbonCopy.isEmpty() && m.ToBlindCarbonCopy.isEmpty())) {
      bool handled = false;
      if (attempts == 0 && OnHeaderIncomplete)
        OnHeaderIncomplete(handled, m.FromAddress.isEmpty() ? 1 : 2);
      if (!handled) throw Exception(QStringLiteral("Incomplete Header"));
      ++attempts;
    }
    // An address beyond ASCII goes only to a server that takes it as UTF-8, and is refused
    // before anything is sent to one that does not: its bytes would be nobody's address.
    bool utf8 = false;
    for (const QString& address : EnvelopeAddresses(m)) {
      if (IsAsciiText(address)) continue;
      if (!extensions_.contains(QStringLiteral("SMTPUTF8")))
        throw Exception(QStringLiteral("The address %1 is not plain ASCII, and the mail server "
                                       "does not take such addresses (it offers no SMTPUTF8).")
                            .arg(address));
      utf8 = true;
    }
    if (OnSendStart) OnSendStart(*this);

    auto exchange = [this, &inStep, utf8](const QString& text) {
      inStep = false;
      const QString reply = utf8 ? TransactionBytes(text.toUtf8()) : Transaction(text);
      RequireReply(reply);
      inStep = true;
      return reply;
    };
    auto command = [&](const QString& text, int failFrom) {
      const QString reply = exchange(text);
      if (ReplyCode() >= failFrom) throw Exception(reply);
    };
    command(QStringLiteral("RSET"), 400);
    command(QStringLiteral("MAIL FROM:<") + OneLine(m.FromAddress) + u'>' +
                (utf8 ? QStringLiteral(" SMTPUTF8") : QString()),
            400);

    // Copies: a handler of a refused recipient may change the lists.
    const QStringList lists[] = {m.ToAddress, m.ToCarbonCopy, m.ToBlindCarbonCopy};
    for (const QStringList& list : lists) {
      for (const QString& entry : list) {
        const QString address = AddressOf(entry);
        if (address.isEmpty()) continue;
        exchange(QStringLiteral("RCPT TO:<") + OneLine(address) + u'>');
        if (ReplyCode() > 300 && OnRecipientNotFound) OnRecipientNotFound(entry);
      }
    }

    // Only an intermediate reply opens the data: after any other, message lines would reach the
    // server as commands.
    const QString dataReply = exchange(QStringLiteral("DATA"));
    if (ReplyCode() < 300 || ReplyCode() >= 400) throw Exception(dataReply);

    // The header goes whole: no buffer size and no zero character may cut a line of it.
    inStep = false;
    QByteArray header;
    // The lines are ASCII but for the addresses that only go out under SMTPUTF8.
    for (const QString& line : FinalHeader) header += line.toUtf8() + "\r\n";
    header += "\r\n\r\n";
    SendData(header.constData(), static_cast<int>(header.size()));
    SendStream(bodyStream_);

    const QString reply = exchange(QStringLiteral("."));
    if (ReplyCode() >= 400) {
      if (OnFailure) OnFailure(*this);
      throw Exception(reply);
    }
    success = true;
    if (ClearParams) ClearRecipients();
  } catch (...) {
    if (!inStep) CloseAtOnce();
    busy_ = false;
    throw;
  }
  busy_ = false;
  if (success && OnSuccess) OnSuccess(*this);
}

void TSMTPClient::ClearRecipients() {
  PostMessage.ToAddress.clear();
  PostMessage.ToCarbonCopy.clear();
  PostMessage.ToBlindCarbonCopy.clear();
  PostMessage.Attachments.clear();
}

void TSMTPClient::WriteBody(const QByteArray& bytes) {
  body_.append(bytes);
}

void TSMTPClient::BuildMessage() {
  const TMailMessage& m = PostMessage;
  FinalHeader.clear();
  FinalHeader.append(QStringLiteral("From: ") + EncodePhrase(m.FromName) + u'<' +
                     OneLine(m.FromAddress) + u'>');
  if (const QString to = FoldedList(QStringLiteral("To"), m.ToAddress); !to.isEmpty())
    FinalHeader.append(QStringLiteral("To: ") + to);
  if (const QString cc = FoldedList(QStringLiteral("CC"), m.ToCarbonCopy); !cc.isEmpty())
    FinalHeader.append(QStringLiteral("CC: ") + cc);
  FinalHeader.SetHeaderValue(
      QStringLiteral("Subject"),
      m.Subject.isEmpty() ? QString() : EncodeUnstructured(QStringLiteral("Subject"), m.Subject));
  FinalHeader.SetHeaderValue(QStringLiteral("X-Mailer"),
                             m.LocalProgram.isEmpty()
                                 ? QString()
                                 : EncodeUnstructured(QStringLiteral("X-Mailer"), m.LocalProgram));
  if (!m.ReplyTo.isEmpty())
    FinalHeader.SetHeaderValue(QStringLiteral("Reply-To"), HeaderEntry(m.ReplyTo));
  // RFC 5322 asks for both; servers and filters refuse or mark mail without them.
  FinalHeader.SetHeaderValue(QStringLiteral("Date"), m.Date.isEmpty()
                                                         ? MailDate(QDateTime::currentDateTime())
                                                         : OneLine(m.Date));
  FinalHeader.SetHeaderValue(QStringLiteral("Message-ID"), MessageId(m.FromAddress));
  FinalHeader.append(QStringLiteral("Mime-Version: 1.0"));
  // No header line may pass what servers take; each folds at its blanks.
  for (QString& line : FinalHeader) line = FoldHeaderLine(line);

  // Every body line of the text, each entry's own line breaks included, and every line ends in
  // CR LF: a bare line feed must not reach the server.
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
  QStringList lines;
  for (const QString& entry : m.Body) lines += entry.split(lineBreak);
  const TEncodedText text = EncodeText(lines, OneLine(Charset));
  const QString transferEncoding =
      text.quotedPrintable ? QStringLiteral("Content-Transfer-Encoding: quoted-printable")
                           : QString();

  const bool multipart = !m.Attachments.isEmpty();
  if (multipart) {
    // Letters a to y only: the boundary has always been made that way.
    boundary_ = QStringLiteral("====================54535");
    for (int i = 0; i < 6; ++i)
      boundary_ += QChar(u'a' + static_cast<char16_t>(QRandomGenerator::global()->bounded(25)));
    boundary_ += QStringLiteral("====");
    FinalHeader.append(QStringLiteral("Content-Type: multipart/mixed; boundary=\"") + boundary_ +
                       u'"');
  } else {
    FinalHeader.append(ContentType(SubType) + text.charset);
    if (!transferEncoding.isEmpty()) FinalHeader.append(transferEncoding);
  }

  bodyStream_.close();
  body_.clear();
  if (multipart) {
    WriteBody(ToCp874(QStringLiteral("--") + boundary_ + kCrLf +
                      QStringLiteral("Content-Type: text/plain; charset=") + text.charset + kCrLf +
                      (transferEncoding.isEmpty() ? QString() : transferEncoding + kCrLf) + kCrLf));
  }
  // A line that starts with "." gets one more, so that no line can end the data early.
  for (const QByteArray& line : text.lines) {
    if (line.startsWith('.')) WriteBody(".");
    WriteBody(line);
    WriteBody("\r\n");
  }
  if (multipart) {
    for (int i = 0; i < m.Attachments.size(); ++i) AppendAttachment(i);
    WriteBody(ToCp874(QStringLiteral("--") + boundary_ + QStringLiteral("--") + kCrLf));
  }
  bodyStream_.open(QIODevice::ReadOnly);
}

void TSMTPClient::AppendAttachment(int index) {
  const QString path = PostMessage.Attachments.at(index);
  const QString name = FileNamePart(path);
  WriteBody(ToCp874(QStringLiteral("--") + boundary_ + kCrLf +
                    QStringLiteral("Content-Type: application/octet-stream; ") +
                    MimeParameter(QStringLiteral("name"), name) + kCrLf +
                    QStringLiteral("Content-Transfer-Encoding: base64") + kCrLf +
                    QStringLiteral("Content-Disposition: attachment; ") +
                    MimeParameter(QStringLiteral("filename"), name) + kCrLf + kCrLf));

  TUUProcessor encoder;
  encoder.Method = EncodeType;
  QBuffer encoded;
  encoded.open(QIODevice::ReadWrite);
  {
    TBufferStream buffered(&encoded);
    encoder.OutputStream = &buffered;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      if (OnAttachmentNotFound) OnAttachmentNotFound(path);
      throw FileError(FileAction::Open, path, file.errorString());
    }
    if (OnEncodeStart) OnEncodeStart(path);
    encoder.InputStream = &file;
    encoder.Encode();
    if (OnEncodeEnd) OnEncodeEnd(path);
  }
  WriteBody(encoded.data());
}

}  // namespace qav
