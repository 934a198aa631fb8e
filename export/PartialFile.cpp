#include "export/PartialFile.h"

#include "core/Exception.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace qav {

TPartialFile::TPartialFile(const QString& target) : target_(target) {}

TPartialFile::~TPartialFile() {
  if (path_.isEmpty()) return;
  platform::ForgetTemporaryFile(path_);
  QFile::remove(path_);
}

namespace {

// `name` cut so that ".NAME.PID-XXXXXX.part" stays within `limit` bytes, and so does the name
// the document writer's archive library gives its own temporary file beside it (".XXXXXX"
// more): a target whose name is near the file system's limit still gets them.
QString Shortened(QString name, int limit) {
  const qsizetype room =
      limit - static_cast<qsizetype>(sizeof "..4294967295-XXXXXX.part.XXXXXX" - 1);
  while (!name.isEmpty() && QFile::encodeName(name).size() > room) {
    name.chop(1);
    if (!name.isEmpty() && name.back().isHighSurrogate()) name.chop(1);
  }
  return name;
}

// Removes the partial files for `stem` in `folder`, and their companions, that processes now
// gone left behind (killed, or the machine stopped, before they could clean up).
void RemoveOrphans(const QDir& folder, const QString& stem) {
  static const QString kOwnPid = QString::number(QCoreApplication::applicationPid());
  const QRegularExpression partial(QStringLiteral("^\\.%1\\.([0-9]+)-[0-9a-f]{6}\\.part(\\..*)?$")
                                       .arg(QRegularExpression::escape(stem)));
  const QString prefix = u'.' + stem + u'.';
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!name.startsWith(prefix)) continue;
    const QRegularExpressionMatch match = partial.match(name);
    if (!match.hasMatch() || match.captured(1) == kOwnPid) continue;
    if (platform::ProcessIsGone(match.captured(1).toLongLong()))
      QFile::remove(folder.filePath(name));
  }
}

}  // namespace

void TPartialFile::Create() {
  const QFileInfo info(target_);
  const QString stem = Shortened(info.fileName(), platform::MaxFileNameLength(info.absolutePath()));
  RemoveOrphans(info.dir(), stem);
  int error = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name =
        QStringLiteral(".%1.%2-%3.part")
            .arg(stem)
            .arg(QCoreApplication::applicationPid())
            .arg(QRandomGenerator::global()->bounded(0x1000000), 6, 16, QLatin1Char('0'));
    const QString path = info.dir().filePath(name);
    error = platform::CreateNewFile(path);
    if (error == 0) {
      path_ = path;
      platform::TrackTemporaryFile(path_);
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
    throw EInOutError(
        QStringLiteral("Cannot write file %1. %2")
            .arg(QDir::toNativeSeparators(target_), platform::SystemErrorText(error)));
  platform::ForgetTemporaryFile(path_);
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
    throw EInOutError(
        QStringLiteral("Cannot write file %1. %2")
            .arg(QDir::toNativeSeparators(target_), platform::SystemErrorText(error)));
}

}  // namespace qav
