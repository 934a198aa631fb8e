#include "db/embedded/EmbeddedSuite.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace qav::db::embedded {

namespace {
constexpr QLatin1StringView kPrefix("embedded:");
}

bool IsEmbeddedServerName(const QString& server) {
  return server.startsWith(kPrefix, Qt::CaseInsensitive);
}

QString SuiteFolder(const QString& server) {
  const QString folder = server.mid(kPrefix.size());
  return QDir::cleanPath(QDir::current().absoluteFilePath(folder));
}

QString FindDatabaseFile(const QString& folder, const QString& name) {
  if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\')) return {};
  const QDir dir(folder);
  const QString wanted = name + QLatin1String(kDatabaseFileSuffix);
  for (const QFileInfo& info : dir.entryInfoList(QDir::Files))
    if (info.fileName().compare(wanted, Qt::CaseInsensitive) == 0) return info.absoluteFilePath();
  return {};
}

QString NewDatabaseFile(const QString& folder, const QString& name) {
  return QDir(folder).absoluteFilePath(name + QLatin1String(kDatabaseFileSuffix));
}

QStringList SuiteDatabases(const QString& folder) {
  QStringList names;
  const QString suffix = QLatin1String(kDatabaseFileSuffix);
  for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
    if (!info.fileName().endsWith(suffix, Qt::CaseInsensitive)) continue;
    const QString name = info.fileName().chopped(suffix.size());
    if (name.compare(QLatin1String("master"), Qt::CaseInsensitive) == 0)
      names.prepend(name);
    else
      names.append(name);
  }
  return names;
}

QString MapServerPath(const QString& folder, const QString& serverPath) {
  static const QRegularExpression kDrive(QStringLiteral("^([A-Za-z]):[\\\\/](.*)$"));
  const auto m = kDrive.match(serverPath);
  if (!m.hasMatch()) return {};
  QStringList parts;
  for (const QString& part : m.captured(2).split(QRegularExpression(QStringLiteral("[\\\\/]")))) {
    if (part.isEmpty() || part == QLatin1String(".")) continue;
    if (part == QLatin1String("..")) {
      if (!parts.isEmpty()) parts.removeLast();  // never above the drive's root
      continue;
    }
    parts.append(part);
  }
  return QDir(folder).absoluteFilePath(QStringLiteral("disk/") + m.captured(1).toUpper() +
                                       (parts.isEmpty() ? QString() : u'/' + parts.join(u'/')));
}

}  // namespace qav::db::embedded
