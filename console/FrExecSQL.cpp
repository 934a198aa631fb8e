#include "console/FrExecSQL.h"

#include "app/Application.h"
#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "console/HeldResult.h"
#include "console/ResultGrid.h"
#include "console/ResultsPane.h"
#include "console/SaveOutputFlow.h"
#include "console/ScriptEditor.h"
#include "console/SqlHighlighter.h"
#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/ExceptionHandler.h"
#include "core/ScriptFile.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "export/ExportComponent.h"
#include "export/ExportProgress.h"
#include "export/SaveOutputSettings.h"
#include "script/StatementRunner.h"
#include "sql/Batches.h"
#include "ui/NamedColors.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <iterator>
#include <memory>

namespace qav {

QString StartFolder;

namespace {

QPushButton* MakeCommandButton(QWidget* parent, const char* name, const QString& caption, int width,
                               const QColor& colour, QStyle::StandardPixmap picture) {
  auto* b = new QPushButton(parent->style()->standardIcon(picture), caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  b->setFixedSize(width, 25);
  // The colour goes to the enabled states only, so that a disabled button greys out as any
  // other does (a style sheet colour would hold in every state).
  if (colour.isValid()) {
    QPalette palette = b->palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, colour);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    b->setPalette(palette);
  }
  return b;
}

void SetCurrentFolder(const QString& folder) {
  if (!folder.isEmpty()) QDir::setCurrent(folder);
}

// "1 row", "4,429,824 rows": a count as a sentence says it.
QString CountText(qint64 count, const char* one, const char* many) {
  return count == 1 ? QString::fromLatin1(one)
                    : QString::fromLatin1(many).arg(QLocale(QLocale::English).toString(count));
}

}  // namespace

TFrExecSQL::TFrExecSQL(QWidget* parent) : TFrForm(parent) {
  setObjectName(QStringLiteral("FrExecSQL"));
  runner_ = new TStatementRunner(this);
  // The old fixed size is where the window starts; it grows and shrinks from there.
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(792, 573);
  statusBar()->setSizeGripEnabled(true);
  Panel2->setFixedHeight(40);

  QWidget* client = ClientArea();
  PageControl1 = new QTabWidget(client);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setMinimumWidth(300);
  editor_ = new TScriptEditor(PageControl1);
  TabSSQLScript = editor_;
  TabSSQLScript->setObjectName(QStringLiteral("TabSSQLScript"));
  PageControl1->addTab(TabSSQLScript, QStringLiteral("SQL Script"));
  Memo1 = editor_->Memo();
  FindEdit = editor_->FindBar();
  connect(editor_, &TScriptEditor::CaptionChanged, this,
          [this](const QString& caption) { PageControl1->setTabText(0, caption); });
  connect(editor_, &TScriptEditor::NotFound, this, [this](const QString& text) {
    StatusPanel(1)->setText(QStringLiteral("Not found: ") + text);
  });

  BtnOpen = MakeCommandButton(client, "BtnOpen", QStringLiteral("Open SQL Script"), 151, QColor(),
                              QStyle::SP_DialogOpenButton);
  BtnExec = MakeCommandButton(client, "BtnExec", QStringLiteral("Execute  (F5)      "), 155,
                              NamedColor(TNamedColor::Blue), QStyle::SP_MediaPlay);
  BtnExport = MakeCommandButton(client, "BtnExport", QStringLiteral("Save output TO  "), 155,
                                NamedColor(TNamedColor::Red), QStyle::SP_DialogSaveButton);
  BtnSaveScript = MakeCommandButton(client, "BtnSaveScript", QStringLiteral("Save SQL Script"), 151,
                                    QColor(), QStyle::SP_DriveFDIcon);

  Splitter = new QSplitter(Qt::Vertical, client);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->setChildrenCollapsible(false);
  results_ = new TResultsPane(Splitter);
  ResultTabs = results_;
  DBGExecSQL = results_->FirstGrid();
  MessagesMemo = results_->Messages();

  QExport = new db::TQuery(this);
  QExport->setObjectName(QStringLiteral("QExport"));
  QExport->SetDatabaseName(QStringLiteral("DMDATA"));
  // The first rows show at once; the rest arrive while the window stays in the user's hands.
  QExport->SetBackgroundFetch(true);
  DBGExecSQL->SetDataSource(QExport);
  fetchSet_ = QExport;
  fetchTicker_ = new QTimer(this);
  fetchTicker_->setInterval(250);
  connect(fetchTicker_, &QTimer::timeout, this, [this] { ShowFetchStatus(); });
  connect(QExport, &db::TDataSet::FetchEnded, this, [this] { FetchEnded(); });
  // Ctrl+X is the editor's Cut, as its context menu says; Exit keeps a key of its own.
  AcExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  // Ctrl+E runs as F5 does.
  auto* execute = new QAction(QStringLiteral("Execute"), this);
  execute->setObjectName(QStringLiteral("AcExecute"));
  execute->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  addAction(execute);
  connect(execute, &QAction::triggered, this,
          [this] { RunEventHandler([this] { BtnExecClick(); }); });

  saveOutput_ = new TSaveOutputFlow(DBGExecSQL, QExport, this);
  ExportToXLS = saveOutput_->ComponentFor(TSaveFormat::Xls);
  ExportToWord = saveOutput_->ComponentFor(TSaveFormat::Word);
  ExportToText = saveOutput_->ComponentFor(TSaveFormat::Text);
  ExportToWKS = saveOutput_->ComponentFor(TSaveFormat::Wks);
  ExportToQuattro = saveOutput_->ComponentFor(TSaveFormat::Quattro);
  ExportToXlsx = saveOutput_->ComponentFor(TSaveFormat::Xlsx);
  ExportToCsv = saveOutput_->ComponentFor(TSaveFormat::Csv);

  // Buttons sit beside the page at the heights of the window's design (100, 134 and 166 from
  // the window's top, under a 40-pixel toolbar panel).
  auto* buttons = new QVBoxLayout;
  buttons->setContentsMargins(6, 60, 0, 0);
  buttons->setSpacing(0);
  buttons->addWidget(BtnOpen);
  buttons->addSpacing(9);
  buttons->addWidget(BtnExec);
  buttons->addSpacing(7);
  buttons->addWidget(BtnExport);
  buttons->addSpacing(24);
  buttons->addWidget(BtnSaveScript);
  buttons->addStretch();
  auto* topPane = new QWidget(Splitter);
  topPane->setObjectName(QStringLiteral("ScriptPane"));
  auto* top = new QHBoxLayout(topPane);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(PageControl1, 1);
  top->addLayout(buttons);
  Splitter->addWidget(topPane);
  Splitter->addWidget(ResultTabs);
  // The editor and the results share a change of height as 355 and 159 pixels did.
  Splitter->setStretchFactor(0, 355);
  Splitter->setStretchFactor(1, 159);
  Splitter->setSizes({355, 159 + ResultTabs->tabBar()->sizeHint().height()});
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Splitter);

  setTabOrder(PageControl1, BtnExec);
  setTabOrder(BtnExec, DBGExecSQL);
  setTabOrder(DBGExecSQL, ChgCode);
  setTabOrder(ChgCode, BtnExport);
  setTabOrder(BtnExport, BtnOpen);
  setTabOrder(BtnOpen, BtnSaveScript);

  const auto action = [this](const char* name, const QString& caption, const QKeySequence& keys) {
    auto* a = new QAction(caption, this);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(keys);
    addAction(a);
    return a;
  };
  AcSaveScript = action("AcSaveScript", QStringLiteral("Save SQL Script"), QKeySequence::Save);
  AcSaveScriptAs = action("AcSaveScriptAs", QStringLiteral("Save SQL Script As"),
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  AcFind = action("AcFind", QStringLiteral("Find"), QKeySequence::Find);

  const auto handler = [](auto f) { return [f] { RunEventHandler(f); }; };
  connect(BtnOpen, &QPushButton::clicked, this, handler([this] { BtnOpenClick(); }));
  connect(BtnExec, &QPushButton::clicked, this, handler([this] { BtnExecClick(); }));
  connect(BtnExport, &QPushButton::clicked, this, handler([this] { BtnExportClick(); }));
  connect(Memo1, &QPlainTextEdit::textChanged, this, handler([this] { Memo1Change(); }));
  connect(BtnSaveScript, &QPushButton::clicked, this, handler([this] { SaveScript(); }));
  connect(AcSaveScript, &QAction::triggered, this, handler([this] { SaveScript(); }));
  connect(AcSaveScriptAs, &QAction::triggered, this, handler([this] { SaveScriptAs(); }));
  connect(AcFind, &QAction::triggered, editor_, &TScriptEditor::ShowFindBar);
  // The status bar speaks of the page in front.
  connect(ResultTabs, &QTabWidget::currentChanged, this, [this] { ShowFetchStatus(); });
}

TFrExecSQL::~TFrExecSQL() = default;

void TFrExecSQL::FormShow() {
  TFrForm::FormShow();
  const QString caption = DMConfig ? DMConfig->MenuCaption : QString();
  SetApplicationTitle(caption);
  setWindowTitle(caption);
  SetButtonVisible(BDel, false);
  SetButtonVisible(BSave, false);
  AcNewExecute();
  StartFolder = QDir::currentPath();
}

void TFrExecSQL::AcNewExecute() {
  if (runner_->Running()) return;  // the run ends first (Escape cancels it)
  if (!MayDiscardScript()) return;
  TFrForm::AcNewExecute();
  CloseResults();
  BtnOpen->setEnabled(true);
  BtnExec->setEnabled(false);
  BtnExport->setEnabled(false);
  AcSave->setEnabled(false);
  editor_->Clear();  // as an edit, so that Ctrl+Z brings the text back
  PageControl1->setCurrentIndex(0);
  // The next thing a user does is type: a space must not press a button.
  Memo1->setFocus();
  SetCurrentFolder(StartFolder);
}

void TFrExecSQL::BtnOpenClick() {
  if (!MayDiscardScript()) return;
  DialogRequest request;
  request.kind = DialogRequest::Kind::OpenFile;
  request.folder = QDir::currentPath();
  request.filter = QStringLiteral("SQL Script files|*.sql|All files|*.*");
  request.defaultSuffix = QStringLiteral("SQL");
  const DialogReply reply = Dialogs::Show(request);
  if (reply.accepted) {
    BtnOpen->setEnabled(false);
    BtnExec->setEnabled(true);
    editor_->Load(reply.fileName);
    Memo1->setFocus();
  }
  SetCurrentFolder(StartFolder);
}

void TFrExecSQL::BtnExecClick() {
  if (runner_->Running()) return;  // F5 again while the statements run
  // The selection when there is one, else the whole text.
  const QTextCursor cursor = Memo1->textCursor();
  const bool selection = cursor.hasSelection();
  QString text = selection ? cursor.selectedText() : Memo1->toPlainText();
  text.replace(QChar::ParagraphSeparator, u'\n');
  const int lineOffset =
      selection ? Memo1->document()->findBlock(cursor.selectionStart()).blockNumber() : 0;
  CloseResults();
  fetchTicker_->stop();
  // The database would read the statements only up to it, and the rest would seem to have run.
  if (const int line = NulCharacterLine(text); line > 0) {
    const QString message = QStringLiteral(
                                "The script holds a NUL character on line %1; remove it "
                                "before the script can run.")
                                .arg(line + lineOffset);
    results_->Say({message});
    throw Exception(message);
  }
  fetchClock_.start();
  fetchMs_ = runMs_ = -1;
  affected_ = -1;
  printed_.clear();
  QStringList said;
  std::vector<sql::Batch> batches;
  try {
    batches = sql::SplitBatches(text);
  } catch (const Exception& e) {
    results_->Say({e.Message()});
    throw;
  }
  // Blanks alone: the empty statement runs and the database layer says what is wrong with it.
  if (batches.empty()) batches.push_back({text, 1, 1});
  const bool several = batches.size() > 1 || batches.front().repeat > 1;
  cancelled_ = false;
  fetchTicker_->start();  // the running sign and its time
  try {
    for (std::size_t b = 0; b < batches.size() && !cancelled_; ++b)
      for (int r = 0; r < batches[b].repeat && !cancelled_; ++r)
        cancelled_ = !RunBatch(batches[b].text, several ? static_cast<int>(b) + 1 : 0,
                               batches[b].firstLine + lineOffset,
                               b + 1 == batches.size() && r + 1 == batches[b].repeat, said);
  } catch (...) {
    fetchTicker_->stop();
    ShowTransactionState();
    throw;
  }
  runMs_ = fetchClock_.elapsed();
  ran_ = true;
  ShowTransactionState();
  // As the management tools say it when nothing else was.
  const int results = results_->Results();
  if (results == 0 && said.isEmpty()) said << QStringLiteral("Commands completed successfully.");
  results_->Say(said);
  if (results > 0 && !cancelled_) ResultTabs->setCurrentIndex(0);
  if (results > 0) BtnExport->setEnabled(true);
  ShowFetchStatus();
  if (!fetchSet_->Fetching()) {
    fetchTicker_->stop();
    fetchClock_.invalidate();
  }
}

db::TQuery* TFrExecSQL::NewBatchQuery() {
  if (!QExport->Active() && fetchSet_ == QExport) return QExport;
  auto* query = new db::TQuery(this);
  query->setObjectName(QStringLiteral("QExport%1").arg(++batchQueries_ + 1));
  query->SetDatabaseName(QExport->DatabaseName());
  query->SetBackgroundFetch(true);
  connect(query, &db::TDataSet::FetchEnded, this, [this] { FetchEnded(); });
  results_->Own(query);
  return query;
}

bool TFrExecSQL::RunBatch(const QString& text, int batch, int firstLine, bool last,
                          QStringList& said) {
  db::TQuery* query = NewBatchQuery();
  query->SetSQL(text.split(u'\n'));
  db::TDatabase& database = query->Database();
  std::exception_ptr error;
  bool rows = false;
  if (Trim(query->Text()).isEmpty()) {
    // Nothing to send: the query says what is wrong with it.
    try {
      rows = query->OpenIfRows();
    } catch (const Exception&) {
      error = std::current_exception();
    }
  } else {
    // The connection opens here, on this thread: its after-connect step shows and closes windows.
    database.AcquireUse();
    TBatchOutcome outcome;
    try {
      // A batch that others follow is read whole, so that the next finds the connection free.
      outcome = runner_->Run(database.Backend(), query->Text(), !last);
    } catch (...) {
      database.ReleaseUse();
      throw;
    }
    database.ReleaseUse();
    SayNotes(std::move(outcome.notes), said);
    error = outcome.error;
    if (!error && outcome.rows) {
      auto* held = new THeldResult(std::move(outcome.rows), this);
      results_->Own(held);
      results_->ShowResult(held);
    } else if (!error && outcome.cursor) {
      // Its first rows are there already; the rest arrive as the grid shows them.
      query->AdoptCursor(std::move(outcome.cursor));
      try {
        rows = query->OpenIfRows();
      } catch (const Exception&) {
        error = std::current_exception();
      }
      database.TakeMessages();
      SayNotes(database.TakeNotes(), said);
    }
  }
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      StatusPanel(1)->setText(printed_);
      if (results_->Results() > 0) BtnExport->setEnabled(true);
      // The user's own Escape is no error to log: said where the run stopped, and the run ends.
      if (runner_->Cancelled()) {
        said << QStringLiteral("Query was cancelled by user.");
        return false;
      }
      // What ran before the error stays said; the error follows with where it happened, and
      // then goes to the error window and the log as any other.
      said << sql::ErrorPlace(batch, db::LineOf(e, firstLine)) + QStringLiteral(": ") + e.Message();
      results_->Say(said);
      throw;
    }
  }
  if (rows) {
    fetchSet_ = query;
    results_->ShowResult(query);
  }
  return true;
}

void TFrExecSQL::SayNotes(std::vector<db::StatementNote> notes, QStringList& said) {
  for (db::StatementNote& note : notes) {
    switch (note.kind) {
      case db::StatementNote::Kind::Rows: {
        auto* held = new THeldResult(std::move(note.rows), this);
        results_->Own(held);
        results_->ShowResult(held);
        break;
      }
      case db::StatementNote::Kind::RowsAffected:
        affected_ = std::max<qint64>(affected_, 0) + note.count;
        said << (note.count == 1 ? QStringLiteral("(1 row affected)")
                                 : QStringLiteral("(%1 rows affected)").arg(note.count));
        break;
      case db::StatementNote::Kind::Message:
        said << note.text;
        printed_ += (printed_.isEmpty() ? QString() : QStringLiteral("  ")) + note.text;
        break;
    }
  }
}

void TFrExecSQL::CloseResults() {
  QExport->Close();
  fetchSet_ = QExport;
  batchQueries_ = 0;
  results_->Clear(QExport);
  ran_ = false;
  StatusPanel(1)->clear();
}

TResultGrid* TFrExecSQL::FrontGrid() const {
  return results_->FrontGrid();
}

const std::vector<TResultGrid*>& TFrExecSQL::Grids() const {
  return results_->Grids();
}

db::TDataSet* TFrExecSQL::FrontDataSet() const {
  return FrontGrid()->DataSource();
}

void TFrExecSQL::ShowFetchStatus() {
  if (runner_->Running()) {
    StatusPanel(1)->setText(QStringLiteral("Running: %1 s (Esc cancels)")
                                .arg(QString::number(runner_->Elapsed() / 1000.0, 'f', 1)));
    return;
  }
  if (!ran_) return;
  // The result in front; the Messages page speaks for the whole run.
  db::TDataSet* set = results_->MessagesInFront() ? nullptr : FrontDataSet();
  if (set && !set->Active()) set = nullptr;
  const bool live = set && set == fetchSet_ && fetchClock_.isValid();
  const qint64 ms = live                                ? fetchClock_.elapsed()
                    : set == fetchSet_ && fetchMs_ >= 0 ? fetchMs_
                                                        : runMs_;
  const QString seconds = QString::number(ms / 1000.0, 'f', 1);
  QString text;
  if (set) {
    const QString rows = CountText(set->RecordCount(), "1 row", "%1 rows");
    if (set->Fetching())
      text = QStringLiteral("Fetching: %1, %2 s (Esc stops)").arg(rows, seconds);
    else if (!set->FetchError().isEmpty())
      text = QStringLiteral("%1, failed after %2 s").arg(rows, seconds);
    else if (set->FetchCancelled())
      text = QStringLiteral("%1, stopped after %2 s").arg(rows, seconds);
    else
      text = QStringLiteral("%1 in %2 s").arg(rows, seconds);
  } else if (cancelled_) {
    text = QStringLiteral("Cancelled after %1 s").arg(seconds);
  } else if (affected_ >= 0) {
    text = CountText(affected_, "1 row affected", "%1 rows affected") + QStringLiteral(" in ") +
           seconds + QStringLiteral(" s");
  } else {
    text = QStringLiteral("Completed in %1 s").arg(seconds);
  }
  if (!printed_.isEmpty()) text += QStringLiteral("  ") + printed_;
  StatusPanel(1)->setText(text);
}

void TFrExecSQL::ShowTransactionState() {
  const db::TDatabase* database = CompanyDatabase();
  StatusPanel(0)->setText(database && database->InTransaction() ? QStringLiteral("Open transaction")
                                                                : QString());
}

db::TDatabase* TFrExecSQL::CompanyDatabase() const {
  return db::TSession::Get(QExport->SessionName()).FindDatabase(QExport->DatabaseName());
}

void TFrExecSQL::FetchEnded() {
  fetchTicker_->stop();
  if (fetchClock_.isValid()) fetchMs_ = fetchClock_.elapsed();
  fetchClock_.invalidate();  // the figures stay as they ended
  ShowFetchStatus();
  // A statement that failed half way: its rows stay, and its error is reported as any other.
  if (!fetchSet_->FetchError().isEmpty()) RunEventHandler([this] { fetchSet_->CompleteFetch(); });
}

void TFrExecSQL::StopFetch() {
  fetchSet_->CancelFetch();
}

bool TFrExecSQL::CompleteFetch() {
  db::TDataSet* front = FrontDataSet();
  if (!front->Fetching()) {
    front->CompleteFetch();  // raises the error of a fetch that failed
    return true;
  }
  ShowExportProgress(windowTitle(), QStringLiteral("Fetching rows..."), QStringLiteral("&Cancel"),
                     0, 0, 0);
  if (TfrmExportProcess* progress = ExportProgressWindow()) {
    progress->show();
    progress->ProgressBar->setRange(0, 0);  // the total is not known until the end
  }
  bool done = false;
  try {
    done = front->CompleteFetch([](qint64 rows) {
      if (TfrmExportProcess* progress = ExportProgressWindow()) {
        progress->lblStatus->setText(QStringLiteral("Fetching rows... (%1)").arg(rows));
        QCoreApplication::processEvents();
      }
      return !IsExportCancelled();
    });
  } catch (...) {
    HideExportProgress();
    throw;
  }
  HideExportProgress();
  return done;
}

void TFrExecSQL::BtnExportClick() {
  // After a failed statement the button stays enabled, but there is nothing to write.
  db::TDataSet* front = FrontDataSet();
  if (!front || !front->Active()) {
    Dialogs::ShowMessage(QStringLiteral("No result to save: run a statement first (F5)."));
    return;
  }
  if (!CompleteFetch()) return;
  if (saveOutput_->Run(FrontGrid())) SetCurrentFolder(StartFolder);
}

TExportBaseComponent* TFrExecSQL::ExportComponentFor(TSaveFormat format) const {
  return saveOutput_->ComponentFor(format);
}

void TFrExecSQL::Memo1Change() {
  BtnExec->setEnabled(!Trim(Memo1->toPlainText()).isEmpty());
}

void TFrExecSQL::Memo1Enter() {
  SetKeyPreview(false);
}

void TFrExecSQL::Memo1Exit() {
  SetKeyPreview(true);
}

void TFrExecSQL::Memo1KeyDown(int key) {
  if (key == Qt::Key_F5) BtnExecClick();
}

// The base window already watches every event of the application (its key preview); the memo's
// focus and key events are picked out of that stream.
bool TFrExecSQL::eventFilter(QObject* watched, QEvent* event) {
  // Escape while the statements run cancels them, wherever the focus is, instead of leaving.
  if (event->type() == QEvent::KeyPress && runner_->Running() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this) {
      runner_->Cancel();
      return true;
    }
  }
  // Escape while rows arrive stops the statement, wherever the focus is, instead of leaving.
  if (event->type() == QEvent::KeyPress && fetchSet_->Fetching() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this) {
      StopFetch();
      return true;
    }
  }
  // Escape on a sorted grid restores its order instead of leaving.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
    if (TResultGrid* grid = results_->GridOf(watched); grid && grid->Sorted()) {
      grid->SortByColumn(-1);
      return true;
    }
  // The find bar's Return and Escape are the editor's own.
  if (watched == FindEdit && event->type() == QEvent::KeyPress) return false;
  if (watched == Memo1) {
    switch (event->type()) {
      case QEvent::FocusIn:
        RunEventHandler([this] { Memo1Enter(); });
        break;
      case QEvent::FocusOut:
        RunEventHandler([this] { Memo1Exit(); });
        break;
      case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        RunEventHandler([this, key] { Memo1KeyDown(key); });
        break;  // the key still reaches the memo
      }
      default:
        break;
    }
  }
  return TFrForm::eventFilter(watched, event);
}

namespace {
// The user's own settings file, beside the desktop's others (XDG_CONFIG_HOME on Linux).
std::unique_ptr<QSettings> LayoutSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("qavtool"), QStringLiteral("console"));
}
}  // namespace

void TFrExecSQL::SaveLayout() const {
  const auto settings = LayoutSettings();
  settings->setValue(QStringLiteral("window/geometry"), saveGeometry());
  settings->setValue(QStringLiteral("window/splitter"), Splitter->saveState());
}

void TFrExecSQL::RestoreLayout() {
  const auto settings = LayoutSettings();
  const QByteArray geometry = settings->value(QStringLiteral("window/geometry")).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  const QByteArray splitter = settings->value(QStringLiteral("window/splitter")).toByteArray();
  if (!splitter.isEmpty()) Splitter->restoreState(splitter);
}

void TFrExecSQL::setVisible(bool visible) {
  // The base centres the window as it first shows; the place kept from last time wins.
  TFrForm::setVisible(visible);
  if (visible && !layoutRestored_) {
    layoutRestored_ = true;
    RestoreLayout();
  }
}

void TFrExecSQL::closeEvent(QCloseEvent* event) {
  TFrForm::closeEvent(event);
  if (!event->isAccepted()) return;
  SaveLayout();
  // The statement under way ends first; the run then ends without showing anything more.
  runner_->Cancel();
}

bool TFrExecSQL::FormClose() {
  // The exit question as always; changed text is asked about after it.
  if (!TFrForm::FormClose()) return false;
  if (TerminationRequested()) return true;
  if (!MayDiscardScript()) return TerminationRequested();
  return MayEndTransaction() || TerminationRequested();
}

bool TFrExecSQL::MayEndTransaction() {
  db::TDatabase* database = CompanyDatabase();
  if (!database || !database->InTransaction()) return true;
  // As SQL Server's own tools ask: closing the connection would roll the work back unseen.
  const auto answer = Dialogs::AskYesNoCancel(
      InUsersLanguage("There are uncommitted transactions. Do you wish to commit these "
                      "transactions before the program ends ?",
                      "มีรายการ (transaction) ที่ยังไม่ได้ยืนยัน ต้องการยืนยัน (commit) "
                      "ก่อนออกจากโปรแกรมหรือไม่ ?"));
  if (answer == Dialogs::Answer::Cancel) return false;
  try {
    if (answer == Dialogs::Answer::Yes)
      database->Commit();
    else
      database->Rollback();
  } catch (const Exception& e) {
    Dialogs::ShowMessage(e.Message());
    ShowTransactionState();
    return false;
  }
  ShowTransactionState();
  return true;
}

bool TFrExecSQL::ScriptChanged() const {
  return editor_->Changed();
}

const QString& TFrExecSQL::ScriptFileName() const {
  return editor_->FileName();
}

bool TFrExecSQL::MayDiscardScript() {
  return editor_->MayDiscard();
}

bool TFrExecSQL::SaveScript() {
  return editor_->Save();
}

bool TFrExecSQL::SaveScriptAs() {
  return editor_->SaveAs();
}

void TFrExecSQL::FindNext() {
  if (!editor_->FindNext()) emit editor_->NotFound(FindEdit->text());
}

}  // namespace qav
