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

namespace {

std::vector<std::pair<QString, BackendFactory>>& Schemes() {
  static std::vector<std::pair<QString, BackendFactory>> schemes;
  return schemes;
}

}  // namespace

void RegisterBackendScheme(const QString& prefix, BackendFactory factory) {
  auto& schemes = Schemes();
  std::erase_if(schemes, [&](const auto& s) { return s.first.compare(prefix, Qt::CaseInsensitive) == 0; });
  if (factory) schemes.emplace_back(prefix, std::move(factory));
}

std::unique_ptr<BackendConnection> OpenBackend(const ConnectSettings& settings) {
  for (const auto& [prefix, factory] : Schemes())
    if (settings.server.startsWith(prefix, Qt::CaseInsensitive)) return factory(settings);
  if (IsEmbeddedServerName(settings.server)) return OpenEmbedded(settings);
  return OpenOdbc(settings);
}

}  // namespace qav::db
