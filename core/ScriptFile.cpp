#include "core/ScriptFile.h"

#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace qav {

QString ReadScriptFile(const QString& fileName, TScriptEncoding* encoding) {
  if (encoding) *encoding = TScriptEncoding::Utf8;
  const QString shown = QDir::toNativeSeparators(fileName);
  const QFileInfo info(fileName);
  if (!info.exists()) throw EInOutError(QStringLiteral("File %1 not found.").arg(shown));
  // Opening a pipe waits for a writer, and a device such as /dev/zero never ends.
  if (!info.isFile())
    throw EInOutError(QStringLiteral("%1 is not a regular file; only a file can be read as a "
                                     "script.")
                          .arg(shown));
  if (info.size() > kMaxScriptFileBytes)
    throw EInOutError(QStringLiteral("%1 is larger than %2 MiB; a script file must be smaller.")
                          .arg(shown)
                          .arg(kMaxScriptFileBytes / (1024 * 1024)));
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw FileError(FileAction::Read, fileName, file.errorString());
  // The size may have changed since it was looked at: never read past the cap.
  const QByteArray bytes = file.read(kMaxScriptFileBytes + 1);
  if (file.error() != QFileDevice::NoError)
    throw FileError(FileAction::Read, fileName, file.errorString());
  if (bytes.size() > kMaxScriptFileBytes)
    throw EInOutError(QStringLiteral("%1 is larger than %2 MiB; a script file must be smaller.")
                          .arg(shown)
                          .arg(kMaxScriptFileBytes / (1024 * 1024)));
  const bool marked = bytes.startsWith("\xEF\xBB\xBF");
  // Stateless: a sequence cut off at the end is an error, not a character dropped unseen.
  // A second byte-order mark is a character of the text, kept as it is.
  QStringDecoder utf8(QStringDecoder::Utf8,
                      QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  const QString text = utf8(marked ? bytes.mid(3) : bytes);
  if (!utf8.hasError()) return text;
  // A file that says it is UTF-8 and is not would lose its damaged characters unseen.
  if (marked)
    throw EInOutError(
        QStringLiteral("%1 starts as UTF-8 but holds bytes that are not UTF-8.").arg(shown));
  if (encoding) *encoding = TScriptEncoding::Cp874;
  return FromCp874(bytes);
}

TScriptEncoding WriteScriptFile(const QString& fileName, const QString& text,
                                TScriptEncoding encoding) {
  QByteArray bytes;
  if (encoding == TScriptEncoding::Cp874) {
    qsizetype unmapped = 0;
    bytes = ToCp874(text, &unmapped);
    if (unmapped > 0) encoding = TScriptEncoding::Utf8;
  }
  if (encoding == TScriptEncoding::Utf8) bytes = text.toUtf8();
  const QString shown = QDir::toNativeSeparators(fileName);
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw FileError(FileAction::Write, fileName, file.errorString());
  return encoding;
}

}  // namespace qav
