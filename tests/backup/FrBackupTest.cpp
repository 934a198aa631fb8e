// The backup window driven headless against the embedded demo suite.
#include "app/CommandLine.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/FormLogo.h"
#include "backup/FrBackup.h"
#include "db/Database.h"
#include "platform/Files.h"
#include "tests/support/TestSuite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <QAction>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

using namespace qav;

namespace {

// Rows of Customer in a database file, or -1 when it cannot be read.
int CustomerRows(const QString& file) {
  sqlite3* db = nullptr;
  int rows = -1;
  if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "select count(*) from Customer", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      rows = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return rows;
}

class Backup : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommandLine({"13", "1", "DEMO", "", "BACKUP", "09/12/2026"});
    config_ = std::make_unique<TDMConfig>();
    config_->GetCompanyConfig("demo");
    Dialogs::SetAnswerer([this](const DialogRequest& r) {
      messages_ << r.text;
      statusDuringMessage_ << window_->StatusPanel(1)->text();
      return DialogReply{true, {}, 1};
    });
    CreateLogo();
    window_ = std::make_unique<TFrBackup>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    Dialogs::SetAnswerer({});
  }

  QString Disk(const QString& path) const { return folder_.Suite() + "/disk/C/" + path; }

  test::DemoSuiteFolder folder_{30};
  std::unique_ptr<TDMConfig> config_;
  std::unique_ptr<TFrBackup> window_;
  QStringList messages_;
  QStringList statusDuringMessage_;
};

}  // namespace

TEST_F(Backup, ProposesANameAndOffersOnlyBackupAndExit) {
  const QString today = QDate::currentDate().toString("yyyyMMdd");
  EXPECT_EQ(window_->BackupName->text(), "C:\\DEMO" + today + ".Bak");
  EXPECT_TRUE(window_->AcSave->isEnabled());
  EXPECT_EQ(FormLogo, nullptr);
  EXPECT_EQ(window_->windowTitle(), "Backup Data");
  EXPECT_EQ(window_->AcSave->text(), "Backup");
  EXPECT_EQ(window_->AcSave->toolTip(), "Backup Data");
  for (QToolButton* b : {window_->BNew, window_->BDel, window_->BChgCode, window_->BHist,
                         window_->BCopy, window_->BPrint})
    EXPECT_FALSE(window_->ButtonVisible(b));
  EXPECT_TRUE(window_->ButtonVisible(window_->BSave));
  EXPECT_TRUE(window_->ButtonVisible(window_->BExit));
}

TEST_F(Backup, F10BacksUpIntoAReadableCopyOnTheServersDisk) {
  window_->BackupName->setText("  C:\\Copy.Bak  ");
  window_->BackupName->setFocus();
  QTest::keyClick(window_->BackupName, Qt::Key_F10);
  EXPECT_EQ(messages_, QStringList{"Backup Ok"});
  EXPECT_EQ(statusDuringMessage_, QStringList{"Please Wait ...... Backup C:\\Copy.Bak"});
  EXPECT_EQ(window_->BackupName->text(), "C:\\Copy.Bak");
  EXPECT_EQ(CustomerRows(Disk("Copy.Bak")), 200);
  EXPECT_TRUE(window_->StatusPanel(1)->text().isEmpty());
  EXPECT_FALSE(window_->DBMaster->Connected());
}

TEST_F(Backup, NamesThatCannotBeUsed) {
  const QString drive = "กรุณาป้อน   Drive   เช่น   C:\\DataYY-MM-DD";
  // The caption comes first and the server's reason beneath it.
  const QString failed = "*** Backup Error ***\n";
  const QString control =
      "ชื่อไฟล์ Backup มีอักขระควบคุม (เช่น Tab)   กรุณาป้อนใหม่\nThe backup file name holds a "
      "control character (a tab, a line break) or a broken character; please type it again.";
  struct Case {
    QString name;
    QString message;  // the whole message, or its start where the server's words follow
    QString reason;   // part of the server's words
  };
  const Case cases[] = {
      {"\\\\server\\share\\x.Bak", drive, ""},
      {"DEMO.Bak", drive, ""},
      {"C:\\no\\such\\folder\\x.Bak", failed,
       "Cannot open backup device 'C:\\no\\such\\folder\\x.Bak'. Operating system error 3"},
      {"D:\\x.Bak", failed, "Operating system error 3"},
      {"C:\\" + QString(300, 'n') + ".Bak", failed, "Cannot open backup device"},
      // Control characters: refused before the server sees the name.
      {"C:\\nul" + QString(QChar(0)) + ".Bak", control, ""},
      {"C:\\a\tb.Bak", control, ""},
      {"C:\\a\x1b.Bak", control, ""},
      {"C:\\a\u0085b.Bak", control, ""},
      // At either end too: one rule, nothing trimmed away but blanks.
      {"\tC:\\x.Bak", control, ""},
      {"C:\\x.Bak\t", control, ""},
      {"C:\\x.Bak\r\n", control, ""},
      {"\nC:\\x.Bak", control, ""},
      // Half of a surrogate pair is no character; a whole pair is one.
      {"C:\\x" + QString(QChar(0xD83D)) + ".Bak", control, ""},
      {"C:\\x" + QString(QChar(0xDE00)) + ".Bak", control, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    messages_.clear();
    window_->BackupName->setText(c.name);
    window_->AcSave->trigger();
    ASSERT_EQ(messages_.size(), 1);
    if (c.reason.isEmpty()) {
      EXPECT_EQ(messages_[0], c.message);
    } else {
      EXPECT_TRUE(messages_[0].startsWith(c.message)) << messages_[0].toStdString();
      EXPECT_TRUE(messages_[0].contains(c.reason)) << messages_[0].toStdString();
    }
    EXPECT_TRUE(window_->StatusPanel(1)->text().isEmpty());
  }
  EXPECT_TRUE(QDir(folder_.Suite() + "/disk/C").isEmpty());
}

// The backup is written as a partial file beside its target, which the exports' rule governs:
// what a killed backup left (its lock free, whatever process id its name holds) the next one
// removes; a file whose lock is held is a live writer's and stays.
TEST_F(Backup, APartialFileAKilledBackupLeftIsRemovedByTheNext) {
  const QString dead = Disk(".x.Bak.1-abcdef.part");
  const QString deadJournal = dead + "-journal";
  const QString held = Disk(".x.Bak.999999-fedcba.part");
  ASSERT_TRUE(QDir().mkpath(Disk("")));
  for (const QString& name : {dead, deadJournal}) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
  }
  int holder = -1;
  ASSERT_EQ(platform::CreateLockedFile(held, &holder), 0);
  window_->BackupName->setText("C:\\x.Bak");
  window_->AcSave->trigger();
  EXPECT_EQ(messages_, QStringList{"Backup Ok"});
  EXPECT_EQ(CustomerRows(Disk("x.Bak")), 200);
  EXPECT_EQ(QDir(Disk("")).entryList(QDir::Files | QDir::Hidden),
            (QStringList{".x.Bak.999999-fedcba.part", "x.Bak"}));
  platform::CloseHandle(holder);
}

// A company name that cannot reach the server whole is refused before anything is sent.
TEST_F(Backup, ACompanyNameWithANulOrAHalfCharacterIsRefused) {
  for (const QString& database :
       {"DE" + QString(QChar(0)) + "MO", "DE" + QString(QChar(0xD800)) + "MO", QString("DEMO\t")}) {
    SCOPED_TRACE(database.toStdString());
    config_->CompanyDatabase = database;
    messages_.clear();
    window_->BackupName->setText("C:\\x.Bak");
    window_->AcSave->trigger();
    EXPECT_EQ(messages_, QStringList{"ชื่อฐานข้อมูลมีอักขระควบคุม   ไม่สามารถ Backup ได้\nThe database "
                                     "name holds a control character or a broken character; it "
                                     "cannot be backed up."});
    EXPECT_FALSE(window_->DBMaster->Connected());
  }
  EXPECT_TRUE(QDir(folder_.Suite() + "/disk/C").isEmpty());
}

// Names with quotes, colons and percent signs reach the server exactly as typed: none of them
// is a parameter, a macro or the end of a quoted text.
TEST_F(Backup, EveryCompanyNameAndFileNameIsBackedUpAsNamed) {
  ASSERT_TRUE(QDir().mkpath(Disk("sub")));
  struct Case {
    QString database;
    QString file;  // under C:\sub
  };
  const Case cases[] = {
      {"DE'MO", "a.Bak"},     {"DE:MO", "b.Bak"},        {"DE%MO", "c.Bak"},
      {"DE\"MO", "d.Bak"},    {"DE[M]O", "e.Bak"},       {"DEMO", "a\"b%c.Bak"},
      {"DEMO", "x:y %z.Bak"}, {"DEMO", "it's 100%.Bak"}, {"DEMO", "--[not]; comment.Bak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.database + " " + c.file).toStdString());
    if (c.database != "DEMO") {
      ASSERT_TRUE(
          QFile::copy(folder_.Suite() + "/DEMO.db", folder_.Suite() + "/" + c.database + ".db"));
    }
    config_->CompanyDatabase = c.database;
    messages_.clear();
    window_->BackupName->setText("C:\\sub\\" + c.file);
    window_->AcSave->trigger();
    EXPECT_EQ(messages_, QStringList{"Backup Ok"});
    EXPECT_EQ(CustomerRows(Disk("sub/" + c.file)), 200);
  }
  EXPECT_EQ(QDir(Disk("sub")).entryList(QDir::Files).size(), std::size(cases));
}

TEST_F(Backup, TypedTextNeverBecomesSqlOfItsOwn) {
  const QString name = "C:\\a.bak'; drop table Customer --";
  window_->BackupName->setText(name);
  window_->AcSave->trigger();
  EXPECT_EQ(messages_, QStringList{"Backup Ok"});
  // The whole text is the file's name; the company database keeps its table.
  EXPECT_EQ(CustomerRows(Disk("a.bak'; drop table Customer --")), 200);
  EXPECT_EQ(CustomerRows(folder_.Suite() + "/DEMO.db"), 200);
  EXPECT_EQ(TFrBackup::BackupStatement("DE]MO", "C:\\it's.Bak"),
            "backup database [DE]]MO] To Disk = 'C:\\it''s.Bak' with Format");
}

TEST_F(Backup, BlankNamesAndNewDisableBackupUntilTheNameIsEdited) {
  for (const char* blank : {"", "   "}) {
    window_->BackupName->setText(QString::fromLatin1(blank));
    EXPECT_FALSE(window_->AcSave->isEnabled());
  }
  window_->BackupName->setText("C:\\x.Bak");
  EXPECT_TRUE(window_->AcSave->isEnabled());
  window_->BackupName->setFocus();
  QTest::keyClick(window_->BackupName, Qt::Key_F3);
  EXPECT_FALSE(window_->AcSave->isEnabled());
  QTest::keyClick(window_->BackupName, Qt::Key_F10);
  EXPECT_TRUE(messages_.isEmpty());
  QTest::keyClick(window_->BackupName, Qt::Key_A);
  EXPECT_TRUE(window_->AcSave->isEnabled());
}
