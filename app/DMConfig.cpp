#include "app/DMConfig.h"

#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/LocalMachine.h"
#include "core/Exception.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/StoredProc.h"
#include "db/odbc/OdbcConnectionString.h"
#include "mail/SmtpClient.h"
#include "script/SQLScript.h"

#include <QFile>
#include <QFileInfo>

namespace qav {

using db::TDatabase;
using db::TQuery;
using db::TStoredProc;

TDMConfig* DMConfig = nullptr;

QString InUsersLanguage(const char* english, const char* thai) {
  return QString::fromUtf8(DMConfig && DMConfig->LanguageThai ? thai : english);
}

QStringList SuiteConnectionParams(const QString& database, const QString& server,
                                  const QStringList& settings) {
  return QStringList{
             QStringLiteral("DATABASE NAME=") + database,
             QStringLiteral("SERVER NAME=") + server,
             QStringLiteral("USER NAME=qav"),
             QStringLiteral("OPEN MODE=READ/WRITE"),
             QStringLiteral("SCHEMA CACHE SIZE=8"),
             QStringLiteral("BLOB EDIT LOGGING="),
             QStringLiteral("LANGDRIVER="),
             QStringLiteral("SQLQRYMODE="),
             QStringLiteral("SQLPASSTHRU MODE=SHARED AUTOCOMMIT"),
             QStringLiteral("DATE MODE=1"),
             QStringLiteral("SCHEMA CACHE TIME=-1"),
             QStringLiteral("MAX QUERY TIME=600"),
             QStringLiteral("MAX ROWS=-1"),
             QStringLiteral("BATCH COUNT=200"),
             QStringLiteral("ENABLE SCHEMA CACHE=FALSE"),
             QStringLiteral("SCHEMA CACHE DIR="),
             QStringLiteral("HOST NAME="),
             QStringLiteral("APPLICATION NAME="),
             QStringLiteral("NATIONAL LANG NAME="),
             QStringLiteral("ENABLE BCD=True"),
             QStringLiteral("TDS PACKET SIZE=4096"),
             QStringLiteral("BLOBS TO CACHE=-1"),
             QStringLiteral("BLOB SIZE=64"),
             QStringLiteral("PASSWORD=tarnwick"),
         } +
         settings;
}

namespace {

template <typename T>
T* Component(QObject* owner, const char* name) {
  auto* component = new T(owner);
  component->setObjectName(QString::fromLatin1(name));
  return component;
}

TDatabase* Connection(QObject* owner, const char* name) {
  auto* db = Component<TDatabase>(owner, name);
  db->SetDatabaseName(QString::fromLatin1(name));
  db->SetDriverName(QStringLiteral("MSSQL"));
  db->SetHandleShared(true);
  db->SetLoginPrompt(false);
  return db;
}

TQuery* Query(QObject* owner, const char* name, const char* database, const QStringList& sql) {
  auto* q = Component<TQuery>(owner, name);
  q->SetDatabaseName(QString::fromLatin1(database));
  q->SetSQL(sql);
  return q;
}

const QStringList kSchemaUpdate = {
    QStringLiteral("If (Not Exists(Select Name From SysColumns"),
    QStringLiteral("               Where Id = (Select Id From SysObjects Where "
                   "Ltrim(Rtrim(Upper(Name))) = 'MENU') And"),
    QStringLiteral("                     Ltrim(Rtrim(Upper(Name)))='VERSION'))"),
    QStringLiteral("  Begin"),
    QStringLiteral("    Alter Table Menu Add Version Integer"),
    QStringLiteral("  End"),
    QStringLiteral("/"),
    QStringLiteral("Update Menu Set Version = 3 Where Version Is Null And Command Is Not Null"),
    QStringLiteral("/"),
    QStringLiteral("If Not Exists(select Id From SysColumns Where Name = 'UserSeeImport' And Id = "
                   "(Select Id From SysObjects Where Name = 'UserName'))"),
    QStringLiteral("   Alter Table UserName Add UserSeeImport Char(1)"),
    QStringLiteral("/"),
    QStringLiteral("If Not Exists(select Id From SysColumns Where Name = 'UserSeeCost' And Id = "
                   "(Select Id From SysObjects Where Name = 'UserName'))"),
    QStringLiteral("   Alter Table UserName Add UserSeeCost Char(1)"),
    QStringLiteral("/"),
    QStringLiteral(" "),
    QStringLiteral(" "),
    QStringLiteral(" "),
};

const QStringList kCompanyConfig = {
    QStringLiteral("SELECT C.Company, C.PicturePath, C.Public_Price_IE, C.DefaultWh,"),
    QStringLiteral("  C.POS1_Wh, C.POS1_TaxCode, C.POS1_Price_IE, C.POS1_PriceType,"),
    QStringLiteral("  C.POS1_SumDetail, C.DefaultPosComPort,C.DefaultTax,"),
    QStringLiteral("  C.DefaultPosMenuId,M.Command,M.MenuOption,"),
    QStringLiteral("  O.Description, O.YearNo,"),
    QStringLiteral("  P.Id, P.Code, P.Password, P.NameThai, P.NameEng, P.ShortName,"),
    QStringLiteral("  P.Address1, P.Address2, P.Address3, P.Address4, P.Province, P.Zip,"),
    QStringLiteral("  P.Telephone, P.Fax, P.EMail, P.Logo, P.TaxNo, P.InstallDate, P.RunYear,"),
    QStringLiteral("  P.LocalServer,P.FUNDNAME, P.TaxBranchHead, P.TaxBranchCode, P.TaxBranchName"),
    QStringLiteral("FROM CompanyConfig C"),
    QStringLiteral("Inner Join DatabaseList O On (O.Company = C.Company) "),
    QStringLiteral("Inner Join Company P On (P.Id = O.Company)"),
    QStringLiteral("Left Outer Join Menu M On (M.Id = C.DefaultPosMenuId)"),
    QStringLiteral("Where (O.DatabaseName = :GetName)"),
};

const QStringList kCompany = {
    QStringLiteral("SELECT ID,CODE, PASSWORD, NAMETHAI, NAMEENG, SHORTNAME, "),
    QStringLiteral("  ADDRESS1, ADDRESS2, ADDRESS3, ADDRESS4, PROVINCE, ZIP, "),
    QStringLiteral(
        "  TELEPHONE, FAX, EMAIL, LOGO, TAXNO, RUNYEAR,FUNDNAME, Coalesce(TaxBranchHead, 'N') "
        "TaxBranchHead, Coalesce(TaxBranchCode, '') TaxBranchCode, TaxBranchName"),
    QStringLiteral("FROM COMPANY"),
    QStringLiteral(
        "Where (Id = (Select Distinct Company From DatabaseList Where DatabaseName = :GetName))"),
    QStringLiteral(" "),
    QStringLiteral(" "),
};

const QStringList kUser = {
    QStringLiteral("select Code, "
                   "fullname,languageno,EditSalePrice,Approve_Quo,Approve_SO,Approve_IV,Approve_PO,"
                   " Approved_PORQ,"),
    QStringLiteral("       "
                   "ApproveTranWH,ApproveTranBranch,ApproveWorkOrder,CanSeeCost,CanSeeSalePrice,"
                   "CanModifyCusSale,"),
    QStringLiteral("       Approve_PreIs, CanModifyCusSale, ApproveCustomerDropUse, "
                   "ApproveCustomerDropCredit,"),
    QStringLiteral("       CanModifyCredit, CanSetProductBlock, CanSetProductMinus, "
                   "CanSaleCreditOnReturnCheque, UserSeeImport, UserSeeCost"),
    QStringLiteral("from  username"),
    QStringLiteral("where id=:uid"),
    QStringLiteral(" "),
    QStringLiteral(" "),
    QStringLiteral(" "),
    QStringLiteral(" "),
    QStringLiteral(" "),
};

// The error of adding a column that the table already has: SQL Server's error 2705, or the
// embedded back end's own text for it.
bool IsDuplicateColumn(const db::EDatabaseError& e) {
  constexpr int kSqlServerDuplicateColumn = 2705;
  if (const auto* engine = dynamic_cast<const db::EDBEngineError*>(&e))
    for (const db::TDBError& error : engine->Errors())
      if (error.NativeError == kSqlServerDuplicateColumn ||
          error.Message.contains(QLatin1StringView("duplicate column name:")))
        return true;
  return e.Message().contains(QLatin1StringView("duplicate column name:"));
}

}  // namespace

TDMConfig::TDMConfig(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DMConfig"));
  DmCfg = Connection(this, "DmCfg");
  DmCfg->BeforeConnect = [this](TDatabase& db) { DmCfgBeforeConnect(db); };
  DmCfg->AfterConnect = [this](TDatabase& db) { DmCfgAfterConnect(db); };
  DBMaster = Connection(this, "DBMaster");

  QChkConfig = Query(this, "QChkConfig", "DBMaster",
                     {QStringLiteral("Select * From SysDatabases Where Name = 'QAV_Config_WEP'")});
  SQLUpdate = Component<TSQLScript>(this, "SQLUpdate");
  SQLUpdate->SetDatabaseName(QStringLiteral("DmCfg"));
  SQLUpdate->SetTransaction(false);
  SQLUpdate->SetSQL(kSchemaUpdate);
  // Two first starts at once may both find a column missing; the add of the one that comes
  // second then finds it there, which is what the statement was for.
  SQLUpdate->OnScriptError = [](TSQLScript&, db::EDatabaseError& e, int, int,
                                TScriptAction& action) {
    if (IsDuplicateColumn(e)) action = scaIgnore;
  };
  QSoftware = Query(this, "QSoftware", "DmCfg",
                    {QStringLiteral("select *"), QStringLiteral("from softwareconfig")});
  QCompanyConfig = Query(this, "QCompanyConfig", "DmCfg", kCompanyConfig);
  QCompany = Query(this, "QCompany", "DmCfg", kCompany);
  QUser = Query(this, "QUser", "DmCfg", kUser);

  using db::ftInteger;
  using db::ftString;
  SpMenuCaption = Component<TStoredProc>(this, "SpMenuCaption");
  SpMenuCaption->SetDatabaseName(QStringLiteral("DmCfg"));
  SpMenuCaption->SetStoredProcName(QStringLiteral("MENUCAPTION"));
  auto& mp = SpMenuCaption->Params();
  mp.CreateParam(ftInteger, QStringLiteral("Result"), db::ptResult);
  mp.CreateParam(ftInteger, QStringLiteral("@MENUID"), db::ptInput);
  mp.CreateParam(ftInteger, QStringLiteral("@USERID"), db::ptInput);
  for (const char* out : {"@CAPTION", "@ACCESS_R", "@ADD_R", "@MODIFY_R", "@DELETE_R", "@USERCODE"})
    mp.CreateParam(ftString, QString::fromLatin1(out), db::ptOutput);
  mp.CreateParam(ftInteger, QStringLiteral("@SALESID"), db::ptOutput);

  SpErrorLog = Component<TStoredProc>(this, "SpErrorLog");
  SpErrorLog->SetDatabaseName(QStringLiteral("DmCfg"));
  SpErrorLog->SetStoredProcName(QStringLiteral("AddErrorLog"));
  auto& ep = SpErrorLog->Params();
  ep.CreateParam(ftInteger, QStringLiteral("Result"), db::ptResult);
  ep.CreateParam(ftString, QStringLiteral("@CompName"), db::ptInput);
  ep.CreateParam(ftString, QStringLiteral("@LogName"), db::ptInput);
  ep.CreateParam(ftInteger, QStringLiteral("@UserId"), db::ptInput);
  ep.CreateParam(ftInteger, QStringLiteral("@MenuId"), db::ptInput);
  ep.CreateParam(ftString, QStringLiteral("@ErrorMsg"), db::ptInput);

  SMTPClient1 = Component<TSMTPClient>(this, "SMTPClient1");
  SMTPClient1->Port = 25;
  SMTPClient1->ReportLevel = 0;
  SMTPClient1->EncodeType = uuMime;
  SMTPClient1->ClearParams = true;
  SMTPClient1->SubType = mtPlain;
  SMTPClient1->Charset = QStringLiteral("us-ascii");

  DMConfig = this;
}

TDMConfig::~TDMConfig() {
  if (DMConfig == this) DMConfig = nullptr;
}

namespace {

// The first `lines` lines of "Server.Dat" (fewer when it has fewer); none when there is no such
// file or it cannot be opened. Each line may be at most TDMConfig::kServerDatLineLimit bytes.
QStringList ReadServerDat(int lines) {
  constexpr qint64 kLimit = TDMConfig::kServerDatLineLimit;
  const QString name = QStringLiteral("Server.Dat");
  const QFileInfo info(name);
  if (!info.exists()) return {};
  // A device would be read without end and a named pipe would wait for a writer for ever.
  if (!info.isFile())
    throw EInOutError(
        QStringLiteral("Server.Dat is not a regular file: it must be a text file "
                       "whose first line names the database server"));
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return {};
  // One byte beyond the limit tells a line of exactly the limit from a longer one.
  const QByteArray head = file.read(lines * (kLimit + 2) + 1);
  if (file.error() != QFileDevice::NoError)
    throw EInOutError(QStringLiteral("Server.Dat: %1").arg(file.errorString()));
  QStringList out;
  qsizetype start = 0;
  while (out.size() < lines && start <= head.size()) {
    qsizetype end = start;
    while (end < head.size() && head[end] != '\r' && head[end] != '\n') ++end;
    if (end - start > kLimit) {
      if (!out.isEmpty()) break;  // no line of settings: ignored, as any second line was
      throw EInOutError(QStringLiteral("Server.Dat: the first line is longer than %1 bytes; it "
                                       "must hold only the database server's name")
                            .arg(kLimit));
    }
    out << QString::fromUtf8(head.mid(start, end - start));
    if (end >= head.size()) break;
    // "\r\n" is one line end.
    start = end + (head[end] == '\r' && end + 1 < head.size() && head[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

}  // namespace

QString TDMConfig::ReadServerName() {
  const QStringList lines = ReadServerDat(1);
  return lines.isEmpty() ? QString() : lines.first();
}

QStringList TDMConfig::ReadConnectionSettings() {
  const QStringList lines = ReadServerDat(2);
  // A second line without "=" is no line of settings: ignored, as before there were any.
  if (lines.size() < 2 || !lines[1].contains(u'=')) return {};
  QStringList settings;
  for (const QString& pair : lines[1].split(u';', Qt::SkipEmptyParts)) {
    if (pair.trimmed().isEmpty()) continue;
    const qsizetype eq = pair.indexOf(u'=');
    const QString key = pair.left(eq).trimmed();
    const QString value = eq < 0 ? QString() : pair.mid(eq + 1).trimmed();
    if (key.compare(QLatin1StringView("Encrypt"), Qt::CaseInsensitive) == 0)
      settings << QString::fromLatin1(db::odbc::kEncryptParam) + u'=' + value;
    else if (key.compare(QLatin1StringView("TrustServerCertificate"), Qt::CaseInsensitive) == 0)
      settings << QString::fromLatin1(db::odbc::kTrustCertificateParam) + u'=' + value;
    else
      throw EInOutError(QStringLiteral("Server.Dat: unknown connection setting \"%1\"; the "
                                       "second line takes Encrypt and TrustServerCertificate")
                            .arg(key));
  }
  return settings;
}

void TDMConfig::DmCfgBeforeConnect(TDatabase&) {
  QString server = ReadServerName();
  if (server.isEmpty()) server = QStringLiteral("QAV");
  DmCfg->Params().clear();

  DBMaster->Close();
  const QStringList settings = ReadConnectionSettings();
  DBMaster->Params() = SuiteConnectionParams(QStringLiteral("master"), server, settings);
  DBMaster->Open();

  QChkConfig->Close();
  QChkConfig->Open();
  // The site database, where the server has one, is preferred over the general one.
  DmCfg->Params().append(QChkConfig->IsEmpty() ? QStringLiteral("DATABASE NAME=QAV_CONFIG")
                                               : QStringLiteral("DATABASE NAME=QAV_CONFIG_WEP"));
  QChkConfig->Close();
  DBMaster->Close();

  DmCfg->Params().append(SuiteConnectionParams(QString(), server, settings).mid(1));
}

void TDMConfig::DmCfgAfterConnect(TDatabase&) {
  SQLUpdate->Run();
  QSoftware->Close();
  QSoftware->Open();
}

void TDMConfig::GetCompanyConfig(const QString& name) {
  const QString upper = UpperAscii(name);
  QCompanyConfig->Close();
  QCompanyConfig->ParamByName(QStringLiteral("GetName")).SetAsString(upper);
  QCompanyConfig->Open();
  if (QCompanyConfig->IsEmpty()) {
    Dialogs::ShowMessage(QStringLiteral("Not Found Database : ") + upper);
    throw ProgramExit{0};
  }
  CompanyDatabase = upper;
  QCompany->Close();
  QCompany->ParamByName(QStringLiteral("GetName")).SetAsString(upper);
  QCompany->Open();
  QSoftware->Open();
}

void TDMConfig::CheckRight(int menuId, int userId) {
  SpMenuCaption->Close();
  SpMenuCaption->ParamByName(QStringLiteral("@MENUID")).SetAsInteger(menuId);
  SpMenuCaption->ParamByName(QStringLiteral("@USERID")).SetAsInteger(userId);
  SpMenuCaption->ExecProc();
  MenuCaption = Trim(SpMenuCaption->ParamByName(QStringLiteral("@CAPTION")).AsString());
  UserCode = SpMenuCaption->ParamByName(QStringLiteral("@USERCODE")).AsString();
  CanAccess = SpMenuCaption->ParamByName(QStringLiteral("@ACCESS_R")).AsString() == u"Y";
  SpMenuCaption->Close();

  QUser->Close();
  QUser->ParamByName(QStringLiteral("uid")).SetAsInteger(userId);
  QUser->Open();
  LanguageThai = QUser->FieldByName(QStringLiteral("LanguageNo")).AsInteger() == 1;
  QUser->Close();
}

void TDMConfig::WriteErrorLog(const QString& message) {
  SpErrorLog->Close();
  SpErrorLog->ParamByName(QStringLiteral("@CompName")).SetAsString(LocalComputerName());
  SpErrorLog->ParamByName(QStringLiteral("@LogName")).SetAsString(LocalUserName());
  SpErrorLog->ParamByName(QStringLiteral("@UserId")).SetAsInteger(UserId);
  SpErrorLog->ParamByName(QStringLiteral("@MenuId")).SetAsInteger(MenuId);
  SpErrorLog->ParamByName(QStringLiteral("@ErrorMsg")).SetAsString(message);
  SpErrorLog->ExecProc();
}

TDMConfig::MailOutcome TDMConfig::SendErrorMail(const QString& subject, const QString& body,
                                                QString* why) {
  // A second report would share the client and its connection: its end would cut the first.
  if (sendingErrorMail_ || SMTPClient1->Busy()) return MailOutcome::Busy;
  sendingErrorMail_ = true;
  const struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{sendingErrorMail_};
  QString failure;
  try {
    const TSupportMail& support = SupportMail();
    SMTPClient1->Host = support.Host;
    SMTPClient1->Port = support.Port;
    SMTPClient1->TimeOut = support.TimeOutMs;
    SMTPClient1->UserID = support.Account;
    SMTPClient1->Connect();
    if (!SMTPClient1->IsConnected()) throw Exception(QStringLiteral("Not Connected"));
    TMailMessage& m = SMTPClient1->PostMessage;
    m.FromAddress = support.Sender;
    m.ToAddress = QStringList{support.Mailbox};
    m.ToCarbonCopy.clear();
    m.ToBlindCarbonCopy.clear();
    m.Body = SplitLines(body);
    m.Attachments.clear();
    m.Subject = subject;
    // A mailbox the server refuses is reported by an event, and the send goes on to fail at
    // DATA; its own reply is the better reason.
    QString refused;
    SMTPClient1->OnRecipientNotFound = [&](const QString& entry) {
      refused = QStringLiteral("The mail server refused the recipient %1: %2")
                    .arg(entry, SMTPClient1->LastReply().trimmed());
    };
    try {
      SMTPClient1->SendPost();
    } catch (...) {
      SMTPClient1->OnRecipientNotFound = nullptr;
      if (!refused.isEmpty()) throw Exception(refused);
      throw;
    }
    SMTPClient1->OnRecipientNotFound = nullptr;
  } catch (const Exception& e) {
    failure = e.Message();
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  // Whatever happened, the connection ends here: one refused report must not keep the next
  // one from connecting.
  try {
    SMTPClient1->Disconnect();
  } catch (...) {
  }
  if (failure.isEmpty()) return MailOutcome::Sent;
  if (why) *why = failure.trimmed();
  return MailOutcome::Failed;
}

}  // namespace qav
