#pragma once

#include "db/DateTime.h"

#include <QObject>
#include <QStringList>

namespace qav {

namespace db {
class TDatabase;
class TQuery;
class TStoredProc;
}  // namespace db
class TSQLScript;
class TSMTPClient;

// The connection parameter list every suite connection sends, in the engine's order; only the
// database and server differ. `settings` (the optional ones, TDMConfig::ReadConnectionSettings)
// follow at the end.
QStringList SuiteConnectionParams(const QString& database, const QString& server,
                                  const QStringList& settings = {});

// Ends the program in an orderly way (exit code 0) from deep inside start-up.
struct ProgramExit {
  int code = 0;
};

// The configuration database module: finds the server, chooses the configuration database,
// brings its schema up to date, checks the company and the user's rights, and holds the run
// context for the life of the process.
class TDMConfig : public QObject {
  Q_OBJECT

 public:
  explicit TDMConfig(QObject* owner = nullptr);
  ~TDMConfig() override;

  // Components, as named in the module.
  db::TDatabase* DmCfg;
  db::TDatabase* DBMaster;
  db::TQuery* QChkConfig;
  TSQLScript* SQLUpdate;
  db::TQuery* QSoftware;
  db::TQuery* QCompanyConfig;
  db::TQuery* QCompany;
  db::TStoredProc* SpMenuCaption;
  db::TQuery* QUser;
  db::TStoredProc* SpErrorLog;
  TSMTPClient* SMTPClient1;

  // Run context, written during start-up only.
  int MenuId = 0;
  int UserId = 0;
  db::TDateTime WorkDate = 0;
  QString CompanyDatabase;
  QString MenuCaption;
  QString UserCode;
  bool CanAccess = false;
  bool LanguageThai = false;

  // Checks that the suite knows the company database and keeps its upper-cased name. Shows
  // "Not Found Database : NAME" and throws ProgramExit{0} when it does not.
  void GetCompanyConfig(const QString& name);
  // Fills MenuCaption, UserCode, CanAccess and LanguageThai.
  void CheckRight(int menuId, int userId);
  // The first line of "Server.Dat" in the current folder, unchanged; empty when there is no such
  // file or it cannot be opened. Only the first line is read, and it may be at most
  // kServerDatLineLimit bytes long. Something that is not a regular file (a device, a pipe, a
  // folder), a longer first line and a read error after opening are each an EInOutError.
  static constexpr qint64 kServerDatLineLimit = 4096;
  static QString ReadServerName();
  // The optional connection settings of the second line of "Server.Dat", written as
  // "Encrypt=yes;TrustServerCertificate=no" (names without regard to case), as parameter list
  // entries ("ENCRYPT=yes"); empty without a second line in that form (one without "=", or
  // longer than kServerDatLineLimit, is ignored as before). An unknown name is an EInOutError,
  // so that a misspelt setting never leaves a connection unencrypted unnoticed.
  static QStringList ReadConnectionSettings();
  // Writes one row to the error log through "AddErrorLog".
  void WriteErrorLog(const QString& message);
  // Mails one error report to support. Never throws: a server that refuses, drops the
  // connection, stays silent or cannot be reached gives Failed, with the reason in *why, so
  // that the user is not told the report went out. One report at a time: a call while a report
  // is on its way (from an event handled during its waits) gives Busy and leaves that one be.
  enum class MailOutcome { Sent, Failed, Busy };
  MailOutcome SendErrorMail(const QString& subject, const QString& body, QString* why = nullptr);

  void DmCfgBeforeConnect(db::TDatabase& db);
  void DmCfgAfterConnect(db::TDatabase& db);

 private:
  bool sendingErrorMail_ = false;
};

// The one configuration module, while it exists.
extern TDMConfig* DMConfig;

// The Thai text for a Thai user (LanguageThai), else the English one.
QString InUsersLanguage(const char* english, const char* thai);

}  // namespace qav
