#pragma once

#include "app/FrForm.h"

class QLabel;

namespace qav {

namespace db {
class TDatabase;
}
class TSQLScript;

// The window of the command "BACKUP": backs the company database up into one file on the
// database server's own disk. The user edits only the file name.
class TFrBackup : public TFrForm {
  Q_OBJECT

 public:
  explicit TFrBackup(QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* BackupName;
  TSQLScript* RunSQL2;
  QLabel* Label2;
  db::TDatabase* DBMaster;

  void FormShow() override;
  virtual void BackupNameChange();
  virtual void AcSaveExecute();

  // The statement that backs DATABASE up into FILE on the server's disk. The names are quoted,
  // never pasted in: whatever the user types stays a file name.
  static QString BackupStatement(const QString& database, const QString& file);
};

}  // namespace qav
