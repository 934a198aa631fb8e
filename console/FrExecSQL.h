#pragma once

#include "app/FrForm.h"
#include "core/ScriptFile.h"
#include "db/Backend.h"
#include "export/SaveOutputSettings.h"

#include <QElapsedTimer>
#include <vector>

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QPushButton;
class QSplitter;
class QTabWidget;

namespace qav {

namespace db {
class TDatabase;
class TDataSet;
class TQuery;
}  // namespace db
class TResultGrid;
class TExportBaseComponent;
class TResultsPane;
class TSaveOutputFlow;
class TScriptEditor;
class TStatementRunner;

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
  QPushButton* BtnSaveScript;
  // Ctrl+S, Ctrl+Shift+S and Ctrl+F, wherever the focus is in the window.
  QAction* AcSaveScript;
  QAction* AcSaveScriptAs;
  QAction* AcFind;
  // The find bar over the memo: shown by Ctrl+F, Return finds the next match, Escape hides it.
  QLineEdit* FindEdit;
  // The editor above, the results below; the user drags the bar between them.
  QSplitter* Splitter;
  // The results: a grid page for each result set of a run ("Results", "Results 2", ...), then
  // "Messages" with what the statements said, in order.
  QTabWidget* ResultTabs;
  QPlainTextEdit* MessagesMemo;
  // The first result's grid and query; later results get grids and datasets of their own.
  TResultGrid* DBGExecSQL;
  db::TQuery* QExport;
  TExportBaseComponent* ExportToXLS;
  TExportBaseComponent* ExportToWord;
  TExportBaseComponent* ExportToText;
  TExportBaseComponent* ExportToWKS;
  TExportBaseComponent* ExportToQuattro;
  TExportBaseComponent* ExportToXlsx;
  TExportBaseComponent* ExportToCsv;

  void FormShow() override;
  void AcNewExecute() override;
  virtual void BtnOpenClick();
  virtual void BtnExecClick();
  virtual void BtnExportClick();
  virtual void Memo1Change();
  virtual void Memo1Enter();
  virtual void Memo1Exit();
  virtual void Memo1KeyDown(int key);
  // Writes the script to its file (asking for a name the first time); false when not written.
  virtual bool SaveScript();
  virtual bool SaveScriptAs();
  void FindNext();
  bool FormClose() override;

  // The file the script was last opened from or saved to; empty for a new script.
  const QString& ScriptFileName() const;
  // The text differs from what was last opened, saved or run.
  bool ScriptChanged() const;

  // The grid whose page is in front (the first when Messages is), and the dataset it shows.
  TResultGrid* FrontGrid() const;
  db::TDataSet* FrontDataSet() const;
  // The grids of the last run, in the order of their results.
  const std::vector<TResultGrid*>& Grids() const;

  // What runs the statements, off the window's thread.
  const TStatementRunner& Runner() const { return *runner_; }

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
  void closeEvent(QCloseEvent* event) override;

 public:
  // The window's size and place and the splitter's sizes, kept for the next start.
  void SaveLayout() const;
  void setVisible(bool visible) override;

 private:
  // Before changed text goes: asks Yes (save), No (discard) or Cancel; false keeps it.
  bool MayDiscardScript();
  // Before the program ends with a transaction open: asks Yes (commit), No (roll back) or
  // Cancel; false keeps the window.
  bool MayEndTransaction();
  TScriptEditor* editor_;
  // The status bar: what the page in front holds and the time it took, or for the Messages page
  // (and a run without results) the rows the run changed.
  void ShowFetchStatus();
  // "Open transaction" in the first panel while the company connection has one.
  void ShowTransactionState();
  db::TDatabase* CompanyDatabase() const;
  void FetchEnded();

  // Empties the result pages and closes their datasets, before a run and on New.
  void CloseResults();
  // Runs one batch (the script's last one, whose result may keep arriving, or another, read
  // whole); raises its error after writing it to the messages; false when the user cancelled.
  bool RunBatch(const QString& text, int batch, int firstLine, bool last, QStringList& said);
  db::TQuery* NewBatchQuery();
  // What the statements said, into `said`; their result sets onto the results pane.
  void SayNotes(std::vector<db::StatementNote> notes, QStringList& said);
  void RestoreLayout();

  TResultsPane* results_;
  int batchQueries_ = 0;  // queries made for the run's batches after QExport
  // The query whose rows may still be arriving: the last that returned rows.
  db::TQuery* fetchSet_ = nullptr;
  bool layoutRestored_ = false;
  // Runs from the start of a run until its last rows arrive.
  QElapsedTimer fetchClock_;
  bool ran_ = false;
  bool cancelled_ = false;  // the last run was cancelled
  qint64 runMs_ = -1;       // the statements, until the first rows of the last result
  qint64 fetchMs_ = -1;     // until the last result's rows were all there
  qint64 affected_ = -1;    // rows the run changed; -1 when no statement changed any
  // What the last run's script PRINTed, shown after the fetch figures.
  QString printed_;
  QTimer* fetchTicker_;
  // Runs the statements on a worker thread while the window keeps its events.
  TStatementRunner* runner_;
  TSaveOutputFlow* saveOutput_;
};

}  // namespace qav
