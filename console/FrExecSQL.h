#pragma once

#include "app/FrForm.h"
#include "export/SaveOutputSettings.h"

#include <QElapsedTimer>

class QPlainTextEdit;
class QTimer;
class QPushButton;
class QTabWidget;

namespace qav {

namespace db {
class TQuery;
}
class TResultGrid;
class TExportBaseComponent;

// The folder the process was in when the console was first shown; empty before that.
extern QString StartFolder;

// The SQL console of the command "EXPORT-TO": a script typed or loaded into the memo runs on the
// company database (F5), its rows fill the grid, and "Save output TO" writes them to a file.
class TFrExecSQL : public TFrForm {
  Q_OBJECT

 public:
  explicit TFrExecSQL(QWidget* parent = nullptr);
  ~TFrExecSQL() override;

  QTabWidget* PageControl1;
  QWidget* TabSSQLScript;
  QPlainTextEdit* Memo1;
  QPushButton* BtnOpen;
  QPushButton* BtnExec;
  QPushButton* BtnExport;
  TResultGrid* DBGExecSQL;
  db::TQuery* QExport;
  TExportBaseComponent* ExportToXLS;
  TExportBaseComponent* ExportToWord;
  TExportBaseComponent* ExportToText;
  TExportBaseComponent* ExportToWKS;
  TExportBaseComponent* ExportToQuattro;
  TExportBaseComponent* ExportToXlsx;
  TExportBaseComponent* ExportToCsv;
  // The save dialog's state between showings.
  QString SaveDialogDefaultExt = QStringLiteral("XLS");
  int SaveDialogFilterIndex = 1;

  void FormShow() override;
  void AcNewExecute() override;
  virtual void BtnOpenClick();
  virtual void BtnExecClick();
  virtual void BtnExportClick();
  virtual void Memo1Change();
  virtual void Memo1Enter();
  virtual void Memo1Exit();
  virtual void Memo1KeyDown(int key);

  // The component that writes a format of the save dialog.
  TExportBaseComponent* ExportComponentFor(TSaveFormat format) const;

  // Stops the statement whose rows are still arriving (also Escape while they arrive); the rows
  // that came stay in the grid.
  void StopFetch();
  // Brings in the rest of a result still arriving, under the progress window's counter and
  // Cancel; false when the user cancelled. Raises the error of a fetch that failed.
  bool CompleteFetch();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Replaces the memo's text without it counting as the user's change.
  void SetMemoTextSilently(const QString& text);
  // The rows fetched and the time taken, in the status bar.
  void ShowFetchStatus();
  void FetchEnded();

  QElapsedTimer fetchClock_;
  // What the last run's script PRINTed, shown after the fetch figures.
  QString printed_;
  QTimer* fetchTicker_;
  // Runs one save and tells the user how it ended.
  void SaveOutput(TExportBaseComponent* component, const QString& fileName);
};

}  // namespace qav
