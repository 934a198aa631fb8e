#pragma once

#include "mail/MailMessage.h"
#include "mail/SocketConnection.h"
#include "mail/UUProcessor.h"

#include <QBuffer>

namespace qav {

// The text type of a message without attachments.
enum TSubType { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

class TSMTPClient;
using TSmtpNotifyEvent = std::function<void(TSMTPClient& sender)>;
using TRecipientEvent = std::function<void(const QString& recipient)>;
using THeaderIncompleteEvent = std::function<void(bool& handled, int hiType)>;
using TFileNameEvent = std::function<void(const QString& fileName)>;

// Field N (from 1) of text split at separator: the characters after the (N-1)th separator up
// to the next one or the end.
QString NthField(const QString& text, QChar separator, int n);
// The mailbox of a recipient entry: "Ann <x1>" gives "x1", "SMTP:x2" gives "x2", "x3" stays.
QString AddressOf(const QString& entry);

// Sends mail over SMTP: Connect reads the greeting and says EHLO (HELO to a server that does
// not know it), SendPost transfers PostMessage (attachments as a MIME multipart body),
// Disconnect says QUIT and closes.
class TSMTPClient : public TSocketConnection {
  Q_OBJECT

 public:
  explicit TSMTPClient(QObject* owner = nullptr);
  ~TSMTPClient() override;

  // Greeting and HELO done. It hides the connection's own event of that name, which reports
  // the bare TCP connection.
  TSmtpNotifyEvent OnConnect;
  // The name the client gives in EHLO: used when it is a domain name or an address literal
  // ("[10.0.0.5]"), as RFC 5321 asks; otherwise the host's own domain name, or its address
  // on the connection in brackets.
  QString UserID;
  TMailMessage PostMessage;
  // The header lines of the message last built; SendPost rebuilds them.
  TExStringList FinalHeader;
  UUMethods EncodeType = uuMime;
  // Empty the recipients and attachments after a successful send.
  bool ClearParams = true;
  TSubType SubType = mtPlain;
  QString Charset = QStringLiteral("us-ascii");

  // A recipient was refused; the entry as listed. Sending goes on.
  TRecipientEvent OnRecipientNotFound;
  // The sender (hiType 1) or every recipient (hiType 2) is missing; the handler may fill
  // them in and set handled.
  THeaderIncompleteEvent OnHeaderIncomplete;
  TSmtpNotifyEvent OnSendStart;
  TSmtpNotifyEvent OnSuccess;
  // The server refused the message at its end.
  TSmtpNotifyEvent OnFailure;
  TFileNameEvent OnEncodeStart;
  TFileNameEvent OnEncodeEnd;
  TFileNameEvent OnAttachmentNotFound;
  // EHLO (or HELO) was refused; the handler may change UserID and set Handled to try once more.
  THandledEvent OnAuthenticationFailed;

  void Connect() override;
  void Disconnect() override;
  void Abort() override;
  // Sends PostMessage over the open connection. Does nothing while Busy.
  void SendPost();

  // Set while Connect or SendPost runs, so that an event arriving during a wait cannot start
  // a second send on this instance.
  bool Busy() const { return busy_; }

  // Builds FinalHeader and the body stream from PostMessage.
  void BuildMessage();
  // The encoded body of the message last built.
  const QByteArray& BodyBytes() const { return body_; }
  // The multipart boundary of the message last built with attachments.
  const QString& Boundary() const { return boundary_; }
  // The service extensions the server named in its reply to EHLO ("SMTPUTF8", "SIZE 1000"),
  // keywords in capitals; none after HELO.
  const QStringList& Extensions() const { return extensions_; }
  // The name Connect gives in EHLO (see UserID).
  QString GreetingName() const;

 private:
  // A whole reply: its continuation lines ("250-...", or lines starting with a blank) up to
  // the last; empty when the peer closed before the end.
  QString ReadReply() override;
  static bool ContinuesReply(const QString& line);
  // Closes the socket without a QUIT: the dialogue is out of step.
  void CloseAtOnce();
  void AppendAttachment(int index);
  void WriteBody(const QByteArray& bytes);
  void ClearRecipients();

  // Says EHLO, or HELO to a server that does not know EHLO; false when the server refused.
  bool Greet(bool& inStep);

  bool busy_ = false;
  QStringList extensions_;
  QByteArray body_;
  QBuffer bodyStream_;
  QString boundary_;
};

}  // namespace qav
