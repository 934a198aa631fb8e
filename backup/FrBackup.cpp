#include "backup/FrBackup.h"

#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "core/ExceptionHandler.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "script/SQLScript.h"
#include "sql/TsqlLexer.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace qav {

namespace {

// The window's own connection to the server's master database.
QStringList BackupConnectionParams(const QString& server) {
  return {
      QStringLiteral("DATABASE NAME=master"),
      QStringLiteral("SERVER NAME=") + server,
      QStringLiteral("USER NAME=qav"),
      QStringLiteral("OPEN MODE=READ/WRITE"),
      QStringLiteral("SCHEMA CACHE SIZE=8"),
      QStringLiteral("BLOB EDIT LOGGING="),
      QStringLiteral("LANGDRIVER="),
      QStringLiteral("SQLQRYMODE="),
      QStringLiteral("SQLPASSTHRU MODE=SHARED AUTOCOMMIT"),
      QStringLiteral("DATE MODE=0"),
      QStringLiteral("SCHEMA CACHE TIME=-1"),
      QStringLiteral("MAX QUERY TIME=300"),
      QStringLiteral("MAX ROWS=-1"),
      QStringLiteral("BATCH COUNT=200"),
      QStringLiteral("ENABLE SCHEMA CACHE=FALSE"),
      QStringLiteral("SCHEMA CACHE DIR="),
      QStringLiteral("HOST NAME="),
      QStringLiteral("APPLICATION NAME="),
      QStringLiteral("NATIONAL LANG NAME="),
      QStringLiteral("ENABLE BCD=FALSE"),
      QStringLiteral("TDS PACKET SIZE=4096"),
      QStringLiteral("BLOBS TO CACHE=64"),
      QStringLiteral("BLOB SIZE=32"),
      QStringLiteral("PASSWORD=tarnwick"),
  };
}

// True when every character of `text` reaches the server as it is: no control character (a NUL,
// a tab, a line break) and no half of a surrogate pair.
bool CanBeSent(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.category() == QChar::Other_Control) return false;
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ++i;
      continue;
    }
    if (c.isSurrogate()) return false;
  }
  return true;
}

}  // namespace

TFrBackup::TFrBackup(QWidget* parent) : TFrForm(parent) {
  setObjectName(QStringLiteral("FrBackup"));
  setWindowTitle(QStringLiteral("Backup Data"));
  setFixedSize(546, 127);

  QWidget* client = ClientArea();
  Label1 = new QLabel(QStringLiteral("Backup File Name"), client);
  Label1->setObjectName(QStringLiteral("Label1"));
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label1->setGeometry(41, 53 - 42, 128, 16);

  BackupName = new QLineEdit(QStringLiteral("BackupName"), client);
  BackupName->setObjectName(QStringLiteral("BackupName"));
  BackupName->setGeometry(178, 49 - 42, 161, 24);

  Label2 =
      new QLabel(QStringLiteral("*** หมายเหตุ  ข้อมูลที่ Backup จะอยู่ที่ Harddisk ของ Server ***"), client);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(40, 80 - 42, 327 + 120, 16);

  RunSQL2 = new TSQLScript(this);
  RunSQL2->setObjectName(QStringLiteral("RunSQL2"));
  RunSQL2->SetDatabaseName(QStringLiteral("DBMaster"));
  RunSQL2->SetSessionName(QStringLiteral("Default"));
  RunSQL2->SetTransaction(false);
  // The statement is one line that may hold a quoted ";": it must reach the server whole, and
  // it has no parameters: a ":" or "%" in a name stays text.
  RunSQL2->SetSemicolonTerm(false);
  RunSQL2->SetIgnoreParams(true);

  DBMaster = new db::TDatabase(this);
  DBMaster->setObjectName(QStringLiteral("DBMaster"));
  DBMaster->SetDatabaseName(QStringLiteral("DBMaster"));
  DBMaster->SetDriverName(QStringLiteral("MSSQL"));
  DBMaster->SetKeepConnection(false);
  DBMaster->SetLoginPrompt(false);
  DBMaster->SetHandleShared(false);

  AcSave->setText(QStringLiteral("Backup"));
  AcSave->setToolTip(QStringLiteral("Backup Data"));
  AcSave->setStatusTip(QStringLiteral("Backup Data"));
  for (QToolButton* b : {BNew, BDel, BChgCode, BHist, BCopy, BPrint}) SetButtonVisible(b, false);

  connect(BackupName, &QLineEdit::textChanged, this,
          [this] { RunEventHandler([this] { BackupNameChange(); }); });
  connect(AcSave, &QAction::triggered, this,
          [this] { RunEventHandler([this] { AcSaveExecute(); }); });
}

QString TFrBackup::BackupStatement(const QString& database, const QString& file) {
  return QStringLiteral("backup database ") + sql::QuoteName(database) +
         QStringLiteral(" To Disk = ") + sql::QuoteString(file) + QStringLiteral(" with Format");
}

void TFrBackup::FormShow() {
  TFrForm::FormShow();
  ReleaseLogo();
  const QString database = DMConfig ? Trim(DMConfig->CompanyDatabase) : QString();
  BackupName->setText(QStringLiteral("C:\\") + database +
                      QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                      QStringLiteral(".Bak"));
}

void TFrBackup::BackupNameChange() {
  AcSave->setEnabled(!Trim(BackupName->text()).isEmpty());
}

void TFrBackup::AcSaveExecute() {
  if (!BackupName->text().contains(QStringLiteral(":\\"))) {
    Dialogs::ShowMessage(QStringLiteral("กรุณาป้อน   Drive   เช่น   C:\\DataYY-MM-DD"));
    return;
  }
  // A NUL would end a name early on its way to the server, a tab or a line break would become
  // part of it, and half of a surrogate pair is no character at all: the server would back up
  // to another file (or database) than the one shown. One rule for the whole typed text, its
  // ends included; only blanks around the name are trimmed.
  if (!CanBeSent(BackupName->text())) {
    Dialogs::ShowMessage(
        QStringLiteral("ชื่อไฟล์ Backup มีอักขระควบคุม (เช่น Tab)   กรุณาป้อนใหม่\n"
                       "The backup file name holds a control character (a tab, a line break) or "
                       "a broken character; please type it again."));
    return;
  }
  const QString database = DMConfig ? DMConfig->CompanyDatabase : QString();
  if (!CanBeSent(database)) {
    Dialogs::ShowMessage(
        QStringLiteral("ชื่อฐานข้อมูลมีอักขระควบคุม   ไม่สามารถ Backup ได้\n"
                       "The database name holds a control character or a broken character; it "
                       "cannot be backed up."));
    return;
  }
  // The window's own connection reaches the server named in Server.Dat, as every other
  // connection of the program does.
  DBMaster->Close();
  QString server = TDMConfig::ReadServerName();
  if (server.isEmpty()) server = QStringLiteral("QAV");
  DBMaster->Params() = BackupConnectionParams(server);
  DBMaster->Open();

  BackupName->setText(Trim(BackupName->text()));
  const QString fileName = BackupName->text();
  StatusPanel(1)->setText(QStringLiteral("Please Wait ...... Backup ") + fileName);
  QApplication::processEvents();

  bool ok = true;
  QString reason;
  try {
    RunSQL2->SetSQL(QStringList{BackupStatement(database, fileName)});
    RunSQL2->Run();
  } catch (const Exception& e) {
    ok = false;
    reason = e.Message();
  } catch (...) {
    ok = false;
  }
  // The server's own words tell a missing folder from a full disk or a missing right.
  Dialogs::ShowMessage(ok                 ? QStringLiteral("Backup Ok")
                       : reason.isEmpty() ? QStringLiteral("*** Backup Error ***")
                                          : QStringLiteral("*** Backup Error ***\n") + reason);
  StatusPanel(1)->clear();
  DBMaster->Close();
}

}  // namespace qav
