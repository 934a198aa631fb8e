#pragma once

#include <QString>

namespace qav {

// A file written under a name of its own beside its target, which takes the target's name only
// once it is complete: a failed or cancelled write leaves no half-written file, and an existing
// target as it was.
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

  // Creates the file, empty, as ".TARGET.PID-XXXXXX.part" in the target's folder (mode 0666
  // less the umask, as any new file gets), PID the process's id. First it removes what earlier
  // runs for the same target left there when they were killed (their files and the temporary
  // files written beside them): only those of processes that are provably gone, never a
  // running one's. Raises EInOutError when it cannot create the file. Until it is published or
  // removed, the file is one of the process's tracked temporary files.
  void Create();
  // Gives the finished file the target's name. Without `replace` an existing target is never
  // replaced, not even one that appeared while the file was written. Raises EInOutError.
  void Publish(bool replace);

 private:
  void SyncData() const;

  QString target_;
  QString path_;
};

}  // namespace qav
