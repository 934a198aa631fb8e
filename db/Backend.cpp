#include "db/Backend.h"

#include "db/embedded/EmbeddedConnection.h"
#include "db/odbc/OdbcConnection.h"

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

class WholeResultCursor final : public BackendCursor {
 public:
  explicit WholeResultCursor(std::unique_ptr<ResultSet> result) : result_(std::move(result)) {}

  const std::vector<FieldDef>& Fields() const override { return result_->fields; }

  qint64 Fetch(RowStore& window, int /*maxRows*/) override {
    if (handedOver_) {
      window.Clear();
      return 0;
    }
    handedOver_ = true;
    window = std::move(result_->rows);
    result_->rows = RowStore(window.Columns());
    return window.Rows();
  }

 private:
  std::unique_ptr<ResultSet> result_;
  bool handedOver_ = false;
};

std::vector<std::pair<QString, BackendFactory>>& Schemes() {
  static std::vector<std::pair<QString, BackendFactory>> schemes;
  return schemes;
}

}  // namespace

std::unique_ptr<BackendCursor> CursorOverResult(std::unique_ptr<ResultSet> result) {
  if (!result) return nullptr;
  return std::make_unique<WholeResultCursor>(std::move(result));
}

std::unique_ptr<BackendCursor> BackendConnection::OpenCursor(const QString& sql,
                                                             const std::vector<QVariant>& args) {
  return CursorOverResult(Execute(sql, args));
}

void RegisterBackendScheme(const QString& prefix, BackendFactory factory) {
  auto& schemes = Schemes();
  std::erase_if(schemes,
                [&](const auto& s) { return s.first.compare(prefix, Qt::CaseInsensitive) == 0; });
  if (factory) schemes.emplace_back(prefix, std::move(factory));
}

std::unique_ptr<BackendConnection> OpenBackend(const ConnectSettings& settings) {
  for (const auto& [prefix, factory] : Schemes())
    if (settings.server.startsWith(prefix, Qt::CaseInsensitive)) return factory(settings);
  if (IsEmbeddedServerName(settings.server)) return OpenEmbedded(settings);
  return OpenOdbc(settings);
}

}  // namespace qav::db
