#pragma once

#include <QString>
#include <cstddef>

// File operations the program needs beyond what Qt offers: data on the disk for sure, new names
// in one step. Every function returns 0 on success or the system's error number, which
// SystemErrorText turns into the system's own reason.
namespace qav::platform {

// The operating system's text for an error number of the functions below.
QString SystemErrorText(int error);
// True for the error of a name that is already taken.
bool IsAlreadyExists(int error);

// What a path names, a symbolic link followed to what it points at.
enum class PathKind {
  Missing,  // nothing (a symbolic link that points nowhere included)
  File,     // a regular file
  Folder,
  Other,  // a device, a pipe, a socket: nothing a file may replace
};
PathKind KindOfPath(const QString& path);

// The longest name, in bytes of the file system's encoding, that a file in `folder` may have.
int MaxFileNameLength(const QString& folder);

// Writes all `size` bytes to the open descriptor `handle`, going on after a partial write (as a
// nearly full disk gives), so that a failure always carries the system's reason.
int WriteFully(int handle, const char* data, std::size_t size);

// Has the operating system write the file's data to the disk (fdatasync; FlushFileBuffers on
// Windows). `handle` is the file's descriptor as QFileDevice::handle() gives it.
int SyncFileData(int handle);
// Creates `path` as a new, empty file, readable and writable as any new file is; fails with
// an IsAlreadyExists error when the name is taken.
int CreateNewFile(const QString& path);
// Gives `from` the name `to` in one step, replacing an existing `to`.
int ReplaceFile(const QString& from, const QString& to);
// Gives `from` the name `to` in one step unless `to` exists, which fails with an
// IsAlreadyExists error and leaves both as they are. On a file system that cannot do it in one
// step, the check and the rename are two.
int RenameNoReplace(const QString& from, const QString& to);

// Temporary files the process removes when it is ended at once (a second Ctrl+C), where the
// code that made them cannot run any more; every other way out removes them as it goes. A
// file's companions go with it: the files named after it with a suffix of their own, as a
// library writing under a name of its own beside a file makes them. Safe from any thread.
void TrackTemporaryFile(const QString& path);
void ForgetTemporaryFile(const QString& path);
void RemoveTrackedTemporaryFiles();

// Creates `path` as a new, empty file, open for reading and writing in *handle, and takes an
// exclusive lock on it that lasts until the descriptor is closed: the system drops it when the
// process ends in any way, so a lock still held is proof of a live writer, wherever it runs
// (another PID namespace, another host that shares the folder). Fails with an IsAlreadyExists
// error when the name is taken; nothing stays open on failure.
int CreateLockedFile(const QString& path, int* handle);
// Closes a descriptor of CreateLockedFile, and with it the lock.
void CloseHandle(int handle);
// True when `path` names the very file open as `handle` (not another file of that name, and
// not nothing).
bool IsSameFile(int handle, const QString& path);
// Removes the file `path` only when nobody holds its lock (CreateLockedFile): its writer is
// provably gone. True when it removed it.
bool RemoveIfUnlocked(const QString& path);
// True when nobody holds the lock of the file `path`, or there is no such file.
bool IsUnlocked(const QString& path);
// Gives the file open as `handle` the permissions of the file `from`, and its owner and group
// where the system permits it (a user may give a file only a group of theirs; root any owner):
// a file that replaces another keeps what was set on the one it replaces.
int TakeModeAndOwner(const QString& from, int handle);

}  // namespace qav::platform
