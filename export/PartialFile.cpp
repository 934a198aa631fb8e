#include "export/PartialFile.h"

#include "core/Exception.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace qav {

TPartialFile::TPartialFile(const QString& target) : target_(target) {}

TPartialFile::~TPartialFile() {
  if (!path_.isEmpty()) QFile::remove(path_);
}

namespace {

// `name` cut so that ".NAME.XXXXXX.part" stays within `limit` bytes: a target whose name is
// near the file system's limit still gets a temporary name beside it.
QString Shortened(QString name, int limit) {
  const qsizetype room = limit - static_cast<qsizetype>(sizeof "..XXXXXX.part" - 1);
  while (!name.isEmpty() && QFile::encodeName(name).size() > room) {
    name.chop(1);
    if (!name.isEmpty() && name.back().isHighSurrogate()) name.chop(1);
  }
  return name;
}

}  // namespace

void TPartialFile::Create() {
  const QFileInfo info(target_);
  const QString stem = Shortened(info.fileName(), platform::MaxFileNameLength(info.absolutePath()));
  int error = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name =
        QStringLiteral(".%1.%2.part")
            .arg(stem)
            .arg(QRandomGenerator::global()->bounded(0x1000000), 6, 16, QLatin1Char('0'));
    const QString path = info.dir().filePath(name);
    error = platform::CreateNewFile(path);
    if (error == 0) {
      path_ = path;
      return;
    }
    if (!platform::IsAlreadyExists(error)) break;
  }
  // The message names the file the user asked for, never the temporary one.
  throw EInOutError(QStringLiteral("Cannot create file %1. %2")
                        .arg(QDir::toNativeSeparators(target_), platform::SystemErrorText(error)));
}

void TPartialFile::Publish(bool replace) {
  SyncData();
  // What took the target's name while the file was written is judged again: only a file is
  // replaced.
  const platform::PathKind kind = platform::KindOfPath(target_);
  if (kind != platform::PathKind::Missing && kind != platform::PathKind::File)
    throw EInOutError(QStringLiteral("%1 became something other than a file while the export "
                                     "ran; it was left as it is.")
                          .arg(target_));
  const int error =
      replace ? platform::ReplaceFile(path_, target_) : platform::RenameNoReplace(path_, target_);
  if (platform::IsAlreadyExists(error))
    throw EInOutError(
        QStringLiteral("%1 appeared while the export ran; it was left as it is.").arg(target_));
  if (error)
    throw EInOutError(QStringLiteral("Cannot write file %1. %2")
                          .arg(QDir::toNativeSeparators(target_), platform::SystemErrorText(error)));
  path_.clear();
}

// The file's data reaches the disk before its name says it is complete; the writers' own
// flushes along the way leave the last rows to this one.
void TPartialFile::SyncData() const {
  QFile file(path_);
  if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
    throw EInOutError(QStringLiteral("Cannot write file %1. %2")
                          .arg(QDir::toNativeSeparators(target_), file.errorString()));
  if (const int error = platform::SyncFileData(file.handle()))
    throw EInOutError(QStringLiteral("Cannot write file %1. %2")
                          .arg(QDir::toNativeSeparators(target_), platform::SystemErrorText(error)));
}

}  // namespace qav
