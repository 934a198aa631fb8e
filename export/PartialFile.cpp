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

void TPartialFile::Create() {
  const QFileInfo info(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name =
        QStringLiteral(".%1.%2.part")
            .arg(info.fileName())
            .arg(QRandomGenerator::global()->bounded(0x1000000), 6, 16, QLatin1Char('0'));
    const QString path = info.dir().filePath(name);
    const int error = platform::CreateNewFile(path);
    if (error == 0) {
      path_ = path;
      return;
    }
    if (!platform::IsAlreadyExists(error))
      throw EInOutError(QStringLiteral("Cannot create file %1. %2")
                            .arg(QDir::toNativeSeparators(path), platform::SystemErrorText(error)));
  }
  throw EInOutError(QStringLiteral("Cannot create a file beside %1.").arg(target_));
}

void TPartialFile::Publish(bool replace) {
  SyncData();
  const int error =
      replace ? platform::ReplaceFile(path_, target_) : platform::RenameNoReplace(path_, target_);
  if (platform::IsAlreadyExists(error))
    throw EInOutError(
        QStringLiteral("%1 appeared while the export ran; it was left as it is.").arg(target_));
  if (error)
    throw EInOutError(QStringLiteral("Cannot rename %1 to %2. %3")
                          .arg(path_, target_, platform::SystemErrorText(error)));
  path_.clear();
}

// The file's data reaches the disk before its name says it is complete; the writers' own
// flushes along the way leave the last rows to this one.
void TPartialFile::SyncData() const {
  QFile file(path_);
  if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
    throw EInOutError(QStringLiteral("Cannot flush file %1. %2").arg(path_, file.errorString()));
  if (const int error = platform::SyncFileData(file.handle()))
    throw EInOutError(
        QStringLiteral("Cannot flush file %1. %2").arg(path_, platform::SystemErrorText(error)));
}

}  // namespace qav
