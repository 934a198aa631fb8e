#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace qav::platform {

QString SystemErrorText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

bool IsAlreadyExists(int error) {
  return error == EEXIST;
}

PathKind KindOfPath(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return PathKind::Missing;
  if (S_ISREG(info.st_mode)) return PathKind::File;
  if (S_ISDIR(info.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

int MaxFileNameLength(const QString& folder) {
  constexpr long kPosixLeast = 255;  // what every file system in use takes; the usual limit
  const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
  return static_cast<int>(limit > 0 && limit < 65536 ? limit : kPosixLeast);
}

int WriteFully(int handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(handle, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;  // a write that takes nothing and says nothing: the disk is full
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
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

namespace {

std::mutex trackedMutex;
std::set<QString>& Tracked() {
  static std::set<QString> files;
  return files;
}

}  // namespace

void TrackTemporaryFile(const QString& path) {
  std::lock_guard lock(trackedMutex);
  Tracked().insert(path);
}

void ForgetTemporaryFile(const QString& path) {
  std::lock_guard lock(trackedMutex);
  Tracked().erase(path);
}

void RemoveTrackedTemporaryFiles() {
  std::lock_guard lock(trackedMutex);
  for (const QString& path : Tracked()) {
    QFile::remove(path);
    const QFileInfo info(path);
    const QString prefix = info.fileName() + u'.';
    // Names are compared as they are: a name filter would take "[" or "*" as wildcards.
    for (const QString& name : info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System))
      if (name.startsWith(prefix)) QFile::remove(info.dir().filePath(name));
  }
}

int CreateLockedFile(const QString& path, int* handle) {
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  // flock's lock belongs to this open file description: no other descriptor's close (a
  // library's, SQLite's) drops it, and nobody else can hold it on a file only just created.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(QFile::encodeName(path).constData());
    return error;
  }
  *handle = fd;
  return 0;
}

void CloseHandle(int handle) {
  if (handle >= 0) ::close(handle);
}

bool IsSameFile(int handle, const QString& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(handle, &held) == 0 && held.st_nlink > 0 &&
         ::stat(QFile::encodeName(path).constData(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

namespace {

// Opens `path` and tries its lock: a descriptor holding the lock, -1 when someone else holds it
// or the file cannot be opened.
int TakeLock(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool RemoveIfUnlocked(const QString& path) {
  const int fd = TakeLock(path);
  if (fd < 0) return false;
  // Still the file locked: not one that took the name meanwhile.
  const bool removed = IsSameFile(fd, path) && ::unlink(QFile::encodeName(path).constData()) == 0;
  ::close(fd);
  return removed;
}

bool IsUnlocked(const QString& path) {
  if (KindOfPath(path) == PathKind::Missing) return true;
  const int fd = TakeLock(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int TakeModeAndOwner(const QString& from, int handle) {
  struct stat info {};
  if (::stat(QFile::encodeName(from).constData(), &info) != 0) return errno;
  // Owner first: a change of owner clears the set-user-ID and set-group-ID bits again. What the
  // system refuses of it stays as it was; the group alone may still be allowed.
  if (::fchown(handle, info.st_uid, info.st_gid) != 0 &&
      ::fchown(handle, static_cast<uid_t>(-1), info.st_gid) != 0) {
    // Neither is permitted: the file stays the writer's own.
  }
  return ::fchmod(handle, info.st_mode & 07777) == 0 ? 0 : errno;
}

}  // namespace qav::platform
