#pragma once

#include <QString>
#include <QStringList>

namespace qav {

// The Thai explanation of a well-known error message: the first row of the table whose English
// text occurs in the message, ASCII letters compared as capitals; empty when none does.
QString ThaiExplanation(const QString& message);

// What the error window shows: the explanation, CR, the message in capitals, CR.
QString ErrorWindowText(const QString& message);

// A text split into lines at CR LF, CR or LF, as a string list takes a text: a break at the
// very end starts no further line.
QStringList SplitLines(const QString& text);

// Where error reports go. One fixed value each; tests point them at a loopback server.
struct TSupportMail {
  QString Host = QStringLiteral("mail.qavsoft.co.th");
  int Port = 25;
  QString Account = QStringLiteral("qavtool");
  QString Sender = QStringLiteral("qavtool@qavsoft.co.th");
  QString Mailbox = QStringLiteral("support@qavsoft.co.th");
  // A mail server that accepts the connection and then says nothing must not hold the error
  // window (and so the program) for ever.
  int TimeOutMs = 20000;
};
TSupportMail& SupportMail();

}  // namespace qav
