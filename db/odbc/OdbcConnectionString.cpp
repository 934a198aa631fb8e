#include "db/odbc/OdbcConnectionString.h"

#include "db/Errors.h"

#include <QFileInfo>
#include <algorithm>

namespace qav::db::odbc {

ServerAddress ParseServerName(const QString& server) {
  QString text = server.trimmed();
  if (text.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive)) text = text.mid(4).trimmed();
  ServerAddress address;
  const qsizetype comma = text.lastIndexOf(u',');
  if (comma >= 0) {
    address.port = text.mid(comma + 1).trimmed();
    text = text.left(comma).trimmed();
    bool ok = false;
    const int port = address.port.toInt(&ok);
    const bool digitsOnly =
        std::all_of(address.port.begin(), address.port.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digitsOnly || port < 1 || port > 65535)
      throw EDatabaseError(QStringLiteral("Invalid port in server name: %1").arg(server));
  }
  const qsizetype slash = text.indexOf(u'\\');
  if (slash >= 0) {
    address.instance = text.mid(slash + 1).trimmed();
    text = text.left(slash).trimmed();
  }
  address.host = text;
  return address;
}

DriverKind DriverKindOf(const QString& driver) {
  return driver.contains(QLatin1String("tds"), Qt::CaseInsensitive) ? DriverKind::FreeTds
                                                                    : DriverKind::Microsoft;
}

QString QuoteValue(const QString& key, const QString& value, DriverKind kind) {
  const bool needsBraces =
      value.contains(u';') || value.contains(u'{') || value.contains(u'}') ||
      (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
  if (!needsBraces) return value;
  if (kind == DriverKind::Microsoft) {
    QString escaped = value;
    escaped.replace(u'}', QLatin1String("}}"));
    return u'{' + escaped + u'}';
  }
  // A trailing "}" is safe: the closing brace and the ";" after it end the value after it.
  if (value.contains(QLatin1String("};")))
    throw EDatabaseError(
        QStringLiteral("The %1 value contains \"};\", which the FreeTDS driver cannot take")
            .arg(key));
  return u'{' + value + u'}';
}

QString ChooseDriver(const QString& override, const QStringList& registered,
                     const QStringList& tdsLibraries, bool windows) {
  if (!override.trimmed().isEmpty()) return override.trimmed();
  const auto findRegistered = [&](const QString& name) -> QString {
    for (const QString& r : registered)
      if (r.compare(name, Qt::CaseInsensitive) == 0) return r;
    return {};
  };
  const QStringList microsoft = {
      QStringLiteral("ODBC Driver 18 for SQL Server"),
      QStringLiteral("ODBC Driver 17 for SQL Server"),
  };
  if (windows) {
    for (const QString& name : microsoft)
      if (const QString found = findRegistered(name); !found.isEmpty()) return found;
    // Every Windows has the old built-in driver; it still speaks to current servers.
    return QStringLiteral("SQL Server");
  }
  if (const QString found = findRegistered(QStringLiteral("FreeTDS")); !found.isEmpty())
    return found;
  for (const QString& library : tdsLibraries)
    if (QFileInfo::exists(library)) return library;
  for (const QString& name : microsoft)
    if (const QString found = findRegistered(name); !found.isEmpty()) return found;
  return QStringLiteral("FreeTDS");
}

namespace {

// "yes" or "no" for a setting given in any of the words users write; empty when not given.
QString YesNo(const ConnectSettings& settings, const QString& name) {
  const QString value = ConnectSettings::Value(settings.params, name).trimmed().toLower();
  if (value.isEmpty()) return {};
  for (const char* yes : {"yes", "true", "1", "on", "require", "required", "mandatory"})
    if (value == QLatin1StringView(yes)) return QStringLiteral("yes");
  for (const char* no : {"no", "false", "0", "off", "optional"})
    if (value == QLatin1StringView(no)) return QStringLiteral("no");
  throw EDatabaseError(QStringLiteral("The %1 setting takes yes or no, not \"%2\"")
                           .arg(name, ConnectSettings::Value(settings.params, name)));
}

}  // namespace

QString BuildConnectionString(const ConnectSettings& settings, const QString& driver) {
  const DriverKind kind = DriverKindOf(driver);
  const ServerAddress address = ParseServerName(settings.server);
  QString text;
  const auto add = [&](const QString& key, const QString& value) {
    text += key + u'=' + QuoteValue(key, value, kind) + u';';
  };
  QString braced = driver;
  braced.replace(u'}', QLatin1String("}}"));
  text += QStringLiteral("DRIVER={") + braced + QStringLiteral("};");
  if (kind == DriverKind::FreeTds) {
    QString host = address.host;
    // Names that SQL Server's own tools resolve to the local machine.
    if (host == u'.' || host.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
      host = QStringLiteral("localhost");
    if (!address.port.isEmpty()) {
      add(QStringLiteral("SERVER"), host);
      add(QStringLiteral("PORT"), address.port);
    } else if (!address.instance.isEmpty()) {
      add(QStringLiteral("SERVER"), host + u'\\' + address.instance);
    } else {
      add(QStringLiteral("SERVER"), host);
    }
  } else {
    QString server = address.host;
    if (!address.instance.isEmpty()) server += u'\\' + address.instance;
    if (!address.port.isEmpty()) server += u',' + address.port;
    add(QStringLiteral("SERVER"), server);
  }
  add(QStringLiteral("UID"), settings.user);
  add(QStringLiteral("PWD"), settings.password);
  if (!settings.database.isEmpty()) add(QStringLiteral("DATABASE"), settings.database);
  if (kind == DriverKind::FreeTds) {
    add(QStringLiteral("ClientCharset"), QStringLiteral("UTF-8"));
    add(QStringLiteral("TDS_Version"), QStringLiteral("7.4"));
    // A "text size" in a site's freetds.conf would cut long texts and binary values short.
    add(QStringLiteral("TextSize"), QStringLiteral("2147483647"));
  }
  // Without a setting the driver's own default holds (FreeTDS encrypts the login where the
  // server can; Microsoft's Driver 18 encrypts everything and checks the certificate).
  const QString encrypt = YesNo(settings, QString::fromLatin1(kEncryptParam));
  const QString trust = YesNo(settings, QString::fromLatin1(kTrustCertificateParam));
  if (kind == DriverKind::FreeTds) {
    // FreeTDS checks a certificate only against a CA file its freetds.conf names.
    if (!encrypt.isEmpty())
      add(QStringLiteral("Encryption"),
          encrypt == u"yes" ? QStringLiteral("require") : QStringLiteral("off"));
  } else {
    if (!encrypt.isEmpty()) add(QStringLiteral("Encrypt"), encrypt);
    if (!trust.isEmpty()) add(QStringLiteral("TrustServerCertificate"), trust);
  }
  return text;
}

}  // namespace qav::db::odbc
