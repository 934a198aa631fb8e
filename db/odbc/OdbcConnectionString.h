#pragma once

#include "db/Backend.h"

#include <QString>
#include <QStringList>

namespace qav::db::odbc {

// The two families of SQL Server drivers differ in how they take the server address and in
// how a braced value ends.
enum class DriverKind { FreeTds, Microsoft };

// A server name as SQL Server users write it: "host", "host,port", "host\instance" (also
// "host\instance,port", where the port wins, and a leading "tcp:").
struct ServerAddress {
  QString host;
  QString port;      // digits only, empty when not given
  QString instance;  // empty when not given
};

// Raises EDatabaseError for a port that is not a number from 1 to 65535.
ServerAddress ParseServerName(const QString& server);

DriverKind DriverKindOf(const QString& driver);

// Writes `value` so that the driver reads it back unchanged and nothing in it can start
// another KEY=VALUE pair. Values with ";", braces or blanks at either end are braced;
// Microsoft's drivers read "}}" inside braces as one "}", FreeTDS ends a braced value at the
// first "};" and has no escape for it, so such a value raises EDatabaseError naming `key`
// (never the value, which may be a password).
QString QuoteValue(const QString& key, const QString& value, DriverKind kind);

// The driver to load: `override` (the QAV_ODBC_DRIVER variable) when set; otherwise the
// preferred registered driver for the platform, then the first FreeTDS library that exists
// among `tdsLibraries`; "FreeTDS" as the last resort so that the driver manager's own message
// explains what is missing.
QString ChooseDriver(const QString& override, const QStringList& registered,
                     const QStringList& tdsLibraries, bool windows);

// The program's optional connection settings, yes or no, in the parameter list: whether the
// connection is encrypted, and whether a certificate no authority vouches for is taken.
inline constexpr char kEncryptParam[] = "ENCRYPT";
inline constexpr char kTrustCertificateParam[] = "TRUST SERVER CERTIFICATE";

// The complete connection string for SQLDriverConnect, every pair ended by ";"; the settings
// above in the words of the driver: FreeTDS's Encryption=require (or off), Microsoft's
// Encrypt=yes|no and TrustServerCertificate=yes|no. Raises EDatabaseError for a setting that
// is not yes or no.
QString BuildConnectionString(const ConnectSettings& settings, const QString& driver);

}  // namespace qav::db::odbc
