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

namespace {

// A decoder that reports a sequence cut off at the end instead of dropping it unseen.
QString Decode(QStringDecoder::Encoding encoding, QByteArrayView bytes, const QString& shown,
               const char* name) {
  QStringDecoder decoder(encoding,
                         QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  const QString text = decoder(bytes);
  if (decoder.hasError())
    throw EInOutError(
        QStringLiteral("%1 starts as %2 but holds bytes that are not %2.").arg(shown, name));
  return text;
}

}  // namespace

int NulCharacterLine(const QString& text) {
  const qsizetype at = text.indexOf(QChar(u'\0'));
  return at < 0 ? 0 : static_cast<int>(QStringView(text).left(at).count(u'\n')) + 1;
}

QString ReadScriptFile(const QString& fileName, TScriptForm* form) {
  TScriptForm read;
  if (form) *form = read;
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
  // A second byte-order mark is a character of the text, kept as it is.
  QString text;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    read.encoding = TScriptEncoding::Utf8Bom;
    text = Decode(QStringDecoder::Utf8, QByteArrayView(bytes).sliced(3), shown, "UTF-8");
  } else if (bytes.startsWith("\xFF\xFE")) {
    read.encoding = TScriptEncoding::Utf16Le;
    text = Decode(QStringDecoder::Utf16LE, QByteArrayView(bytes).sliced(2), shown, "UTF-16");
  } else if (bytes.startsWith("\xFE\xFF")) {
    read.encoding = TScriptEncoding::Utf16Be;
    text = Decode(QStringDecoder::Utf16BE, QByteArrayView(bytes).sliced(2), shown, "UTF-16");
  } else {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8(bytes);
    if (utf8.hasError()) {
      read.encoding = TScriptEncoding::Cp874;
      text = FromCp874(bytes);
    }
  }
  if (const int line = NulCharacterLine(text); line > 0)
    throw EInOutError(QStringLiteral("%1 holds a NUL character on line %2; a script is text and "
                                     "cannot hold one.")
                          .arg(shown)
                          .arg(line));
  const qsizetype lineEnd = text.indexOf(u'\n');
  read.crlf = lineEnd > 0 && text[lineEnd - 1] == u'\r';
  if (form) *form = read;
  return text;
}

TScriptForm WriteScriptFile(const QString& fileName, const QString& text, TScriptForm form) {
  const QString lines = form.crlf ? QString(text).replace(u'\n', QStringLiteral("\r\n")) : text;
  QByteArray bytes;
  if (form.encoding == TScriptEncoding::Cp874) {
    qsizetype unmapped = 0;
    bytes = ToCp874(lines, &unmapped);
    if (unmapped > 0) form.encoding = TScriptEncoding::Utf8;
  }
  switch (form.encoding) {
    case TScriptEncoding::Cp874:
      break;
    case TScriptEncoding::Utf8:
      bytes = lines.toUtf8();
      break;
    case TScriptEncoding::Utf8Bom:
      bytes = "\xEF\xBB\xBF" + lines.toUtf8();
      break;
    case TScriptEncoding::Utf16Le:
      bytes = "\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(lines);
      break;
    case TScriptEncoding::Utf16Be:
      bytes = "\xFE\xFF" + QStringEncoder(QStringEncoder::Utf16BE).encode(lines);
      break;
  }
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw FileError(FileAction::Write, fileName, file.errorString());
  return form;
}

}  // namespace qav
