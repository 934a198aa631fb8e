#pragma once

#include <QString>

namespace qav {

// A file written under a name of its own beside its target, which takes the target's name only
// once it is complete: a failed or cancelled write leaves no half-written file, and an existing
// target as it was. A file never published (a writer's scratch file) is the same thing with a
// target that never comes to be.
//
// The file stays open, and locked, from Create until it is published or removed. The lock, not
// the process id in its name, tells a live writer's file from one that a killed run left: the
// system drops the lock when its process ends, however it ends, and a writer in another PID
// namespace or on another host sharing the folder holds it all the same.
class TPartialFile {
 public:
  explicit TPartialFile(const QString& target);
  // Removes the file unless it was published.
  ~TPartialFile();
  TPartialFile(const TPartialFile&) = delete;
  TPartialFile& operator=(const TPartialFile&) = delete;

  const QString& Target() const { return target_; }
  // Empty until Create.
  const QString& Path() const { return path_; }
  // The descriptor of the file, open for reading and writing; -1 until Create.
  int Handle() const { return handle_; }

  // Creates the file, empty, as ".TARGET.PID-XXXXXX.part" in the target's folder (mode 0666
  // less the umask, as any new file gets), PID the process's id. First it removes what earlier
  // runs for the same target left there when they were killed (their files and the temporary
  // files written beside them): only those whose lock nobody holds. Raises EInOutError when it
  // cannot create the file. Until it is published or removed, the file is one of the process's
  // tracked temporary files.
  void Create();
  // Gives the finished file the target's name. The file published is the one created: when its
  // name names another file now, or nothing (someone removed it while it was written), the run
  // fails rather than publish what is not its work. Without `replace` an existing target is
  // never replaced, not even one that appeared while the file was written. Raises EInOutError.
  void Publish(bool replace);

 private:
  void Close();

  QString target_;
  QString path_;
  int handle_ = -1;
};

}  // namespace qav
