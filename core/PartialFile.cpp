#include "core/PartialFile.h"

#include "core/FileError.h"
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
  // Removed while still locked: a cleaner never sees it unlocked under this name.
  QFile::remove(path_);
  Close();
}

void TPartialFile::Close() {
  platform::CloseHandle(handle_);
  handle_ = -1;
}

namespace {

// `name` cut so that ".NAME.PID-XXXXXX.part" stays within `limit` bytes, and so does the name
// the document writer's archive library gives its own temporary file beside it (".XXXXXX"
// more): a target whose name is near the file system's limit still gets them.
QString Shortened(QString name, int limit) {
  const qsizetype room =
      limit - static_cast<qsizetype>(sizeof "..4294967295-XXXXXX.part.zip.XXXXXX" - 1);
  while (!name.isEmpty() && QFile::encodeName(name).size() > room) {
    name.chop(1);
    if (!name.isEmpty() && name.back().isHighSurrogate()) name.chop(1);
  }
  return name;
}

// Removes the partial files for `stem` in `folder` whose writers are provably gone (killed, or
// the machine stopped, before they could clean up): those whose lock nobody holds. The files
// written beside one (a library's, named after it with a suffix) go when it has gone.
void RemoveOrphans(const QDir& folder, const QString& stem) {
  const QRegularExpression partial(QStringLiteral("^(\\.%1\\.[0-9]+-[0-9a-f]{6}\\.part)([.-].*)?$")
                                       .arg(QRegularExpression::escape(stem)));
  const QString prefix = u'.' + stem + u'.';
  QStringList companions;
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (!name.startsWith(prefix)) continue;
    const QRegularExpressionMatch match = partial.match(name);
    if (!match.hasMatch()) continue;
    if (match.capturedLength(2) > 0)
      companions << name;
    else
      platform::RemoveIfUnlocked(folder.filePath(name));
  }
  // A companion outlives its partial file only when its writer died: while the writer lives,
  // the partial file is there and locked.
  for (const QString& name : companions) {
    const QString owner = partial.match(name).captured(1);
    if (platform::IsUnlocked(folder.filePath(owner))) QFile::remove(folder.filePath(name));
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
    int handle = -1;
    error = platform::CreateLockedFile(path, &handle);
    if (error == 0) {
      // Another run's cleaner may have taken the file between its creation and its lock.
      if (!platform::IsSameFile(handle, path)) {
        platform::CloseHandle(handle);
        continue;
      }
      path_ = path;
      handle_ = handle;
      platform::TrackTemporaryFile(path_);
      return;
    }
    if (!platform::IsAlreadyExists(error)) break;
  }
  // The message names the file the user asked for, never the temporary one.
  throw FileError(FileAction::Create, target_, platform::SystemErrorText(error));
}

void TPartialFile::Publish(bool replace) {
  // The file's data reaches the disk before its name says it is complete; the writers' own
  // flushes along the way leave the last rows to this one.
  if (const int error = platform::SyncFileData(handle_))
    throw FileError(FileAction::Write, target_, platform::SystemErrorText(error));
  if (!platform::IsSameFile(handle_, path_))
    throw FileError(FileAction::Write, target_,
                    QStringLiteral("Its partial file was removed or replaced while it was "
                                   "written; nothing was published."));
  // What took the target's name while the file was written is judged again: only a file is
  // replaced.
  const platform::PathKind kind = platform::KindOfPath(target_);
  if (kind != platform::PathKind::Missing && kind != platform::PathKind::File)
    throw EInOutError(QStringLiteral("%1 became something other than a file while the export "
                                     "ran; it was left as it is.")
                          .arg(target_));
  // A file replaced keeps its mode (a report made readable only to its owner stays so) and,
  // where the system permits, its owner and group.
  if (replace && kind == platform::PathKind::File)
    if (const int error = platform::TakeModeAndOwner(target_, handle_))
      throw FileError(FileAction::Write, target_, platform::SystemErrorText(error));
  const int error =
      replace ? platform::ReplaceFile(path_, target_) : platform::RenameNoReplace(path_, target_);
  if (platform::IsAlreadyExists(error))
    throw EInOutError(
        QStringLiteral("%1 appeared while the export ran; it was left as it is.").arg(target_));
  if (error) throw FileError(FileAction::Write, target_, platform::SystemErrorText(error));
  platform::ForgetTemporaryFile(path_);
  path_.clear();
  Close();
}

}  // namespace qav
