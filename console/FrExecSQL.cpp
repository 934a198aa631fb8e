#include "console/FrExecSQL.h"

#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/ExceptionHandler.h"
#include "core/ScriptFile.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "db/Query.h"
#include "export/CellFileExport.h"
#include "export/ExportComponent.h"
#include "export/ExportProgress.h"
#include "export/ExportStrings.h"
#include "export/SaveOutputSettings.h"
#include "ui/NamedColors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <iterator>

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

}  // namespace

TFrExecSQL::TFrExecSQL(QWidget* parent) : TFrForm(parent) {
  setObjectName(QStringLiteral("FrExecSQL"));
  setFixedSize(792, 573);
  Panel2->setFixedHeight(40);

  QWidget* client = ClientArea();
  PageControl1 = new QTabWidget(client);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setFixedWidth(626);
  TabSSQLScript = new QWidget(PageControl1);
  TabSSQLScript->setObjectName(QStringLiteral("TabSSQLScript"));
  PageControl1->addTab(TabSSQLScript, QStringLiteral("SQL Script"));
  Memo1 = new QPlainTextEdit(TabSSQLScript);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* pageLayout = new QVBoxLayout(TabSSQLScript);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->addWidget(Memo1);

  BtnOpen = MakeCommandButton(client, "BtnOpen", QStringLiteral("Open SQL Script"), 151, QColor(),
                              QStyle::SP_DialogOpenButton);
  BtnExec = MakeCommandButton(client, "BtnExec", QStringLiteral("Execute  (F5)      "), 155,
                              NamedColor(TNamedColor::Blue), QStyle::SP_MediaPlay);
  BtnExport = MakeCommandButton(client, "BtnExport", QStringLiteral("Save output TO  "), 155,
                                NamedColor(TNamedColor::Red), QStyle::SP_DialogSaveButton);

  DBGExecSQL = new TResultGrid(client);
  DBGExecSQL->setFixedHeight(159);

  QExport = new db::TQuery(this);
  QExport->setObjectName(QStringLiteral("QExport"));
  QExport->SetDatabaseName(QStringLiteral("DMDATA"));
  // The first rows show at once; the rest arrive while the window stays in the user's hands.
  QExport->SetBackgroundFetch(true);
  DBGExecSQL->SetDataSource(QExport);
  fetchTicker_ = new QTimer(this);
  fetchTicker_->setInterval(250);
  connect(fetchTicker_, &QTimer::timeout, this, [this] { ShowFetchStatus(); });
  connect(QExport, &db::TDataSet::FetchEnded, this, [this] { FetchEnded(); });

  const auto exporter = [this](TSaveFormat format) {
    TExportBaseComponent* c =
        CreateSaveOutputComponent(format, this).release();  // owned by the window
    c->SetDBGrid(DBGExecSQL);
    c->SetDataSet(QExport);
    return c;
  };
  ExportToXLS = exporter(TSaveFormat::Xls);
  ExportToWord = exporter(TSaveFormat::Word);
  ExportToText = exporter(TSaveFormat::Text);
  ExportToWKS = exporter(TSaveFormat::Wks);
  ExportToQuattro = exporter(TSaveFormat::Quattro);
  ExportToXlsx = exporter(TSaveFormat::Xlsx);
  ExportToCsv = exporter(TSaveFormat::Csv);

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
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(PageControl1);
  top->addLayout(buttons);
  top->addStretch();
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(top, 1);
  layout->addWidget(DBGExecSQL);

  setTabOrder(PageControl1, BtnExec);
  setTabOrder(BtnExec, DBGExecSQL);
  setTabOrder(DBGExecSQL, ChgCode);
  setTabOrder(ChgCode, BtnExport);
  setTabOrder(BtnExport, BtnOpen);

  const auto handler = [](auto f) { return [f] { RunEventHandler(f); }; };
  connect(BtnOpen, &QPushButton::clicked, this, handler([this] { BtnOpenClick(); }));
  connect(BtnExec, &QPushButton::clicked, this, handler([this] { BtnExecClick(); }));
  connect(BtnExport, &QPushButton::clicked, this, handler([this] { BtnExportClick(); }));
  connect(Memo1, &QPlainTextEdit::textChanged, this, handler([this] { Memo1Change(); }));
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
  TFrForm::AcNewExecute();
  QExport->Close();
  PageControl1->setTabText(0, QStringLiteral("SQL Script"));
  BtnOpen->setEnabled(true);
  BtnExec->setEnabled(false);
  BtnExport->setEnabled(false);
  AcSave->setEnabled(false);
  SetMemoTextSilently(QString());
  PageControl1->setCurrentIndex(0);
  BtnOpen->setFocus();
  SetCurrentFolder(StartFolder);
}

void TFrExecSQL::BtnOpenClick() {
  DialogRequest request;
  request.kind = DialogRequest::Kind::OpenFile;
  request.folder = QDir::currentPath();
  request.filter = QStringLiteral("SQL Script files|*.sql|All files|*.*");
  request.defaultSuffix = QStringLiteral("SQL");
  const DialogReply reply = Dialogs::Show(request);
  if (reply.accepted) {
    PageControl1->setTabText(0, QStringLiteral("SQL Script ") + reply.fileName);
    BtnOpen->setEnabled(false);
    BtnExec->setEnabled(true);
    SetMemoTextSilently(QString());
    if (QFileInfo::exists(reply.fileName)) {
      QString text;
      try {
        text = ReadScriptFile(reply.fileName);
      } catch (const EInOutError& e) {
        // A pipe, a device or a huge file: said plainly, and the memo stays empty.
        Dialogs::ShowMessage(e.Message());
      }
      if (!text.isEmpty()) Memo1->setPlainText(text);  // counts as the memo's change
    } else {
      Dialogs::ShowMessage(QStringLiteral("File not found!!!"));
    }
    Memo1->setFocus();
  }
  SetCurrentFolder(StartFolder);
}

void TFrExecSQL::BtnExecClick() {
  QExport->Close();
  fetchTicker_->stop();
  StatusPanel(1)->clear();
  QExport->SetSQL(Memo1->toPlainText().split(u'\n'));
  fetchClock_.start();
  // What the script PRINTs goes to the status bar, also when a later statement fails.
  printed_.clear();
  try {
    QExport->Open();
  } catch (...) {
    printed_ = QExport->Database().TakeMessages().join(QStringLiteral("  "));
    StatusPanel(1)->setText(printed_);
    throw;
  }
  printed_ = QExport->Database().TakeMessages().join(QStringLiteral("  "));
  BtnExport->setEnabled(true);
  ShowFetchStatus();
  if (QExport->Fetching()) fetchTicker_->start();
}

void TFrExecSQL::ShowFetchStatus() {
  if (!QExport->Active() || !fetchClock_.isValid()) return;
  const QString rows = QString::number(QExport->RecordCount());
  const QString seconds = QString::number(fetchClock_.elapsed() / 1000.0, 'f', 1);
  QString text;
  if (QExport->Fetching())
    text = QStringLiteral("Fetching: %1 rows, %2 s (Esc stops)").arg(rows, seconds);
  else if (!QExport->FetchError().isEmpty())
    text = QStringLiteral("%1 rows, failed after %2 s").arg(rows, seconds);
  else if (QExport->FetchCancelled())
    text = QStringLiteral("%1 rows, stopped after %2 s").arg(rows, seconds);
  else
    text = QStringLiteral("%1 rows in %2 s").arg(rows, seconds);
  if (!printed_.isEmpty()) text += QStringLiteral("  ") + printed_;
  StatusPanel(1)->setText(text);
}

void TFrExecSQL::FetchEnded() {
  fetchTicker_->stop();
  ShowFetchStatus();
  fetchClock_.invalidate();  // the figures stay as they ended
  // A statement that failed half way: its rows stay, and its error is reported as any other.
  if (!QExport->FetchError().isEmpty()) RunEventHandler([this] { QExport->CompleteFetch(); });
}

void TFrExecSQL::StopFetch() {
  QExport->CancelFetch();
}

bool TFrExecSQL::CompleteFetch() {
  if (!QExport->Fetching()) {
    QExport->CompleteFetch();  // raises the error of a fetch that failed
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
    done = QExport->CompleteFetch([](qint64 rows) {
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
  if (!QExport->Active()) {
    Dialogs::ShowMessage(QStringLiteral("No result to save: run a statement first (F5)."));
    return;
  }
  if (!CompleteFetch()) return;
  DialogReply reply;
  const TSaveType* type = nullptr;
  for (;;) {
    DialogRequest request;
    request.kind = DialogRequest::Kind::SaveFile;
    request.folder = StartFolder;
    request.filter = SaveOutputFilter();
    request.filterIndex = SaveDialogFilterIndex;
    request.defaultSuffix = SaveDialogDefaultExt;
    reply = Dialogs::Show(request);
    if (!reply.accepted) return;
    type = SaveTypeAt(reply.filterIndex);
    if (!type) return;  // no type of ours: nothing to run
    SaveDialogFilterIndex = reply.filterIndex;
    // A name typed without an extension takes the chosen type's, whatever the dialog proposed.
    if (QFileInfo(reply.fileName).suffix().isEmpty())
      reply.fileName += u'.' + SaveTypeExtension(*type);
    if (!QFileInfo::exists(reply.fileName)) break;
    if (DM && DM->AskConfirm(QStringLiteral("File Exists!! Overwrite this file ?"))) break;
  }
  SaveDialogDefaultExt = QString::fromUtf8(type->ProposedExtension);
  SaveOutput(ExportComponentFor(type->Format), reply.fileName);
  SetCurrentFolder(StartFolder);
}

void TFrExecSQL::SaveOutput(TExportBaseComponent* component, const QString& fileName) {
  component->FileName = fileName;
  component->Execute();
  // A failed run has had its own message.
  switch (component->RunStatus()) {
    case rsDone: {
      QString message = QStringLiteral("OK !! Exported To ") + fileName;
      // Characters the 8-bit formats cannot hold are not lost without a word.
      const auto* cells = dynamic_cast<const TExportToCellFile*>(component);
      if (const QString note = cells ? cells->UnwritableNote() : QString(); !note.isEmpty())
        message += QStringLiteral("\n\n") + note;
      Dialogs::ShowMessage(message);
      break;
    }
    case rsCancelled:
      Dialogs::ShowMessage(component->GetLanguageString(lsExportCanceled));
      break;
    default:
      break;
  }
}

TExportBaseComponent* TFrExecSQL::ExportComponentFor(TSaveFormat format) const {
  switch (format) {
    case TSaveFormat::Xls:
      return ExportToXLS;
    case TSaveFormat::Word:
      return ExportToWord;
    case TSaveFormat::Text:
      return ExportToText;
    case TSaveFormat::Wks:
      return ExportToWKS;
    case TSaveFormat::Quattro:
      return ExportToQuattro;
    case TSaveFormat::Xlsx:
      return ExportToXlsx;
    case TSaveFormat::Csv:
      return ExportToCsv;
  }
  return nullptr;
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
  // Escape while rows arrive stops the statement, wherever the focus is, instead of leaving.
  if (event->type() == QEvent::KeyPress && QExport->Fetching() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this) {
      StopFetch();
      return true;
    }
  }
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

void TFrExecSQL::SetMemoTextSilently(const QString& text) {
  const QSignalBlocker block(Memo1);
  Memo1->setPlainText(text);
}

}  // namespace qav
