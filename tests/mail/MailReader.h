#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace qav::test {

// A stored message as Python's email package reads it (tests/mail/read_mail.py): decoded
// headers, leaf parts with their decoded texts or data, the longest stored line.
inline QJsonObject ReadMail(const QString& file) {
  QProcess reader;
  reader.start(QStringLiteral(QAV_SYSTEM_PYTHON), {QStringLiteral(QAV_MAIL_READER), file});
  if (!reader.waitForFinished(30000)) return {};
  return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

// The decoded value of the first header of that name, or a null string.
inline QString HeaderOf(const QJsonObject& mail, const QString& name) {
  for (const QJsonValue& h : mail[QStringLiteral("headers")].toArray())
    if (h[0].toString().compare(name, Qt::CaseInsensitive) == 0) return h[1].toString();
  return {};
}

}  // namespace qav::test
