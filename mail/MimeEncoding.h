#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace qav {

// How a message's texts become lines that every SMTP server takes and every mail reader reads
// back unchanged: header values in US-ASCII (RFC 2047 encoded words, RFC 2231 parameters),
// folded lines (RFC 5322) and text bodies with a declared charset and, where needed,
// quoted-printable (RFC 2045).

// A text for a header or a command: every control character becomes a blank, so that it can
// neither start a line of its own nor end the text early.
QString CleanHeaderText(const QString& text);

// The value of an unstructured header field ("Subject", "X-Mailer") as it follows "name: ".
// Plain ASCII is folded at its blanks; anything else (non-ASCII text, "=?", a word too long to
// fold) goes as UTF-8 encoded words. Folded lines are joined by CR LF and a blank and keep to
// 78 characters.
QString EncodeUnstructured(const QString& name, const QString& value);

// A display name as it stands before "<address>": unchanged when it is plain ASCII without
// special characters, a quoted string when it has some, UTF-8 encoded words and a blank when it
// is not ASCII or holds a word too long for a header line.
QString EncodePhrase(const QString& phrase);

// A recipient entry for the "To:", "CC:" or "Reply-To:" line: its display name encoded as
// EncodePhrase does (a name already in quotes stays as it is), the rest as listed.
QString EncodeRecipientEntry(const QString& entry);

// A whole header line ("Name: value", folded lines joined by CR LF and a blank) with every
// line longer than 78 characters folded before a blank, where it has one: unfolding gives the
// line back as it was.
QString FoldHeaderLine(const QString& line);

// A MIME parameter: name="value" for printable ASCII (quotes and backslashes escaped),
// otherwise RFC 2231 UTF-8 in continued pieces on folded lines.
QString MimeParameter(const QString& name, const QString& value);

// A text body as it goes on the wire.
struct TEncodedText {
  QString charset;
  // Content-Transfer-Encoding quoted-printable, or none (7bit) when false.
  bool quotedPrintable = false;
  // The lines, without line ends and before dot-stuffing.
  QByteArrayList lines;
};

// ASCII text with lines of at most 998 bytes and no control characters but tab goes as it is,
// declared as asciiCharset; any other text goes as UTF-8 in quoted-printable lines of at most
// 76 characters.
TEncodedText EncodeText(const QStringList& lines, const QString& asciiCharset);

}  // namespace qav
