#include "mail/SmtpClient.h"

#include "core/Cp874.h"
#include "mail/BufferStream.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace qav {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// A value that goes into a header line or a command must stay on that line: a carriage
// return or line feed in it (a subject built from database texts, say) would start lines of
// its own, in the header or in the dialogue.
QString OneLine(QString text) {
  for (QChar& c : text)
    if (c == u'\r' || c == u'\n') c = u' ';
  return text;
}

// An empty reply means the server closed the connection without answering; the step has not
// succeeded, whatever the missing reply code would have said.
void RequireReply(const QString& reply) {
  if (reply.isEmpty()) throw Exception(QStringLiteral("Not Connected"));
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

QString TSMTPClient::SkipContinuation(QString line) {
  // "220-more" and lines starting with a blank continue a reply.
  while (line.startsWith(u' ') || (line.size() >= 4 && line[3] == u'-')) line = ReadLn();
  return line;
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

  try {
    const QString greeting = SkipContinuation(ReadLn());
    RequireReply(greeting);
    if (ParseReplyCode(greeting) >= 400) throw Exception(greeting);

    int attempts = 0;
    // A 2xx reply is the only success; the handler gets one chance to repair a refusal.
    for (;;) {
      SkipContinuation(Transaction(QStringLiteral("HELO ") + OneLine(UserID)));
      RequireReply(LastReply());
      if (ReplyCode() < 300) break;
      bool handled = false;
      if (attempts == 0 && OnAuthenticationFailed) OnAuthenticationFailed(handled);
      if (!handled) throw Exception(QStringLiteral("Authentication failed"));
      ++attempts;
    }
  } catch (...) {
    // The error that ended the dialogue is the one to report, not a failing QUIT after it.
    try {
      Disconnect();
    } catch (...) {
    }
    if (!wasBusy) busy_ = false;
    throw;
  }
  if (!wasBusy) busy_ = false;
  if (OnConnect) OnConnect(*this);
}

void TSMTPClient::Disconnect() {
  ClearCancel();
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
    if (OnSendStart) OnSendStart(*this);

    auto command = [this](const QString& text, int failFrom) {
      const QString reply = Transaction(text);
      RequireReply(reply);
      if (ReplyCode() >= failFrom) throw Exception(reply);
    };
    command(QStringLiteral("RSET"), 400);
    command(QStringLiteral("MAIL FROM:<") + OneLine(m.FromAddress) + u'>', 400);

    // Copies: a handler of a refused recipient may change the lists.
    const QStringList lists[] = {m.ToAddress, m.ToCarbonCopy, m.ToBlindCarbonCopy};
    for (const QStringList& list : lists) {
      for (const QString& entry : list) {
        const QString address = AddressOf(entry);
        if (address.isEmpty()) continue;
        RequireReply(Transaction(QStringLiteral("RCPT TO:<") + OneLine(address) + u'>'));
        if (ReplyCode() > 300 && OnRecipientNotFound) OnRecipientNotFound(entry);
      }
    }

    command(QStringLiteral("DATA"), 400);
    QString header;
    for (const QString& line : FinalHeader) header += line + kCrLf;
    Write(header + kCrLf + kCrLf);
    SendStream(bodyStream_);

    const QString reply = Transaction(QStringLiteral("."));
    RequireReply(reply);
    if (ReplyCode() >= 400) {
      if (OnFailure) OnFailure(*this);
      throw Exception(reply);
    }
    success = true;
    if (ClearParams) ClearRecipients();
  } catch (...) {
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
  FinalHeader.append(QStringLiteral("From: ") + OneLine(m.FromName) + u'<' +
                     OneLine(m.FromAddress) + u'>');
  if (!m.ToAddress.isEmpty())
    FinalHeader.append(QStringLiteral("To: ") + OneLine(m.ToAddress.join(u',')));
  if (!m.ToCarbonCopy.isEmpty())
    FinalHeader.append(QStringLiteral("CC: ") + OneLine(m.ToCarbonCopy.join(u',')));
  FinalHeader.SetHeaderValue(QStringLiteral("Subject"), OneLine(m.Subject));
  FinalHeader.SetHeaderValue(QStringLiteral("X-Mailer"), OneLine(m.LocalProgram));
  if (!m.ReplyTo.isEmpty())
    FinalHeader.SetHeaderValue(QStringLiteral("Reply-To"), OneLine(m.ReplyTo));
  if (!m.Date.isEmpty()) FinalHeader.SetHeaderValue(QStringLiteral("Date"), OneLine(m.Date));
  FinalHeader.append(QStringLiteral("Mime-Version: 1.0"));

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
    FinalHeader.append(ContentType(SubType) + OneLine(Charset));
  }

  bodyStream_.close();
  body_.clear();
  if (multipart) {
    WriteBody(ToCp874(QStringLiteral("--") + boundary_ + kCrLf +
                      QStringLiteral("Content-Type: text/plain; charset=") + OneLine(Charset) +
                      kCrLf + kCrLf));
  }
  // A line that starts with "." gets one more, so that no line can end the data early. An
  // entry holding line breaks is several lines, each stuffed on its own, and every line ends
  // in CR LF: a bare line feed must not reach the server either.
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
  for (const QString& entry : m.Body) {
    for (const QString& line : entry.split(lineBreak)) {
      if (line.startsWith(u'.')) WriteBody(".");
      WriteBody(ToCp874(line));
      WriteBody("\r\n");
    }
  }
  if (multipart) {
    for (int i = 0; i < m.Attachments.size(); ++i) AppendAttachment(i);
    WriteBody(ToCp874(QStringLiteral("--") + boundary_ + QStringLiteral("--") + kCrLf));
  }
  bodyStream_.open(QIODevice::ReadOnly);
}

void TSMTPClient::AppendAttachment(int index) {
  const QString path = PostMessage.Attachments.at(index);
  const QString name = OneLine(FileNamePart(path));
  WriteBody(ToCp874(QStringLiteral("--") + boundary_ + kCrLf +
                    QStringLiteral("Content-Type: application/octet-stream; name=\"") + name +
                    u'"' + kCrLf + QStringLiteral("Content-Transfer-Encoding: base64") + kCrLf +
                    QStringLiteral("Content-Disposition: attachment; filename=\"") + name + u'"' +
                    kCrLf + kCrLf));

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
      throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    if (OnEncodeStart) OnEncodeStart(path);
    encoder.InputStream = &file;
    encoder.Encode();
    if (OnEncodeEnd) OnEncodeEnd(path);
  }
  WriteBody(encoded.data());
}

}  // namespace qav
