#include "core/FileError.h"

#include <QDir>

namespace qav {

EInOutError FileError(FileAction action, const QString& path, const QString& reason) {
  const char* verb = "write";
  switch (action) {
    case FileAction::Create:
      verb = "create";
      break;
    case FileAction::Open:
      verb = "open";
      break;
    case FileAction::Read:
      verb = "read";
      break;
    case FileAction::Write:
      break;
  }
  return EInOutError(QStringLiteral("Cannot %1 file %2. %3")
                         .arg(QLatin1StringView(verb), QDir::toNativeSeparators(path), reason));
}

}  // namespace qav
