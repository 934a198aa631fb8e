#include "platform/Files.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qav::platform {

QString SystemErrorText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

bool IsAlreadyExists(int error) {
  return error == EEXIST;
}

int SyncFileData(int handle) {
  return ::fdatasync(handle) == 0 ? 0 : errno;
}

int CreateNewFile(const QString& path) {
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

int ReplaceFile(const QString& from, const QString& to) {
  return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0
             ? 0
             : errno;
}

int RenameNoReplace(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  // A hard link takes the new name only if it is free; dropping the old name completes the move.
  if (::link(source.constData(), target.constData()) == 0) {
    ::unlink(source.constData());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // A file system without hard links: the check and the rename are two steps there.
  if (QFileInfo::exists(to)) return EEXIST;
  return ReplaceFile(from, to);
}

}  // namespace qav::platform
