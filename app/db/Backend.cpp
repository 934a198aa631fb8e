#include "app/db/Backend.h"

#include "app/db/embedded/EmbeddedConnection.h"
#include "app/db/odbc/OdbcConnection.h"

namespace qav::db {

QString ConnectSettings::Value(const QStringList& params, const QString& name) {
  for (const QString& line : params) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0)
      return line.mid(eq + 1);
  }
  return {};
}

ConnectSettings ConnectSettings::FromParams(const QStringList& params) {
  ConnectSettings s;
  s.server = Value(params, QStringLiteral("SERVER NAME"));
  s.database = Value(params, QStringLiteral("DATABASE NAME"));
  s.user = Value(params, QStringLiteral("USER NAME"));
  s.password = Value(params, QStringLiteral("PASSWORD"));
  s.params = params;
  return s;
}

std::unique_ptr<BackendConnection> OpenBackend(const ConnectSettings& settings) {
  if (IsEmbeddedServerName(settings.server)) return OpenEmbedded(settings);
  return OpenOdbc(settings);
}

}  // namespace qav::db
