#include "console/FrExecSQL.h"

#include "app/DM.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "console/ResultGrid.h"
#include "core/Cp874.h"
#include "core/ExceptionHandler.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "db/Query.h"
#include "export/ExportComponent.h"
#include "export/SaveOutputSettings.h"
#include "ui/NamedColors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

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
  if (colour.isValid()) b->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
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
  DBGExecSQL->SetDataSource(QExport);

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
      const QString text = ReadScriptFile(reply.fileName);
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
  QExport->SetSQL(Memo1->toPlainText().split(u'\n'));
  // What the script PRINTs goes to the status bar, also when a later statement fails.
  auto showPrinted = [this] {
    StatusPanel(1)->setText(QExport->Database().TakeMessages().join(QStringLiteral("  ")));
  };
  try {
    QExport->Open();
  } catch (...) {
    showPrinted();
    throw;
  }
  showPrinted();
  BtnExport->setEnabled(true);
}

void TFrExecSQL::BtnExportClick() {
  DialogReply reply;
  for (;;) {
    DialogRequest request;
    request.kind = DialogRequest::Kind::SaveFile;
    request.folder = StartFolder;
    request.filter = QString::fromUtf8(kSaveOutputFilter);
    request.filterIndex = SaveDialogFilterIndex;
    request.defaultSuffix = SaveDialogDefaultExt;
    reply = Dialogs::Show(request);
    if (!reply.accepted) return;
    SaveDialogFilterIndex = reply.filterIndex;
    if (!QFileInfo::exists(reply.fileName)) break;
    if (DM && DM->AskConfirm(QStringLiteral("File Exists!! Overwrite this file ?"))) break;
  }

  TExportBaseComponent* const components[] = {ExportToXLS, ExportToWord, ExportToText, ExportToWKS,
                                              ExportToQuattro};
  if (reply.filterIndex >= 1 && reply.filterIndex <= 5) {
    TExportBaseComponent* component = components[reply.filterIndex - 1];
    component->FileName = reply.fileName;
    SaveDialogDefaultExt = DefaultExtensionAfter(static_cast<TSaveFormat>(reply.filterIndex));
    component->Execute();
    // A failed or cancelled run has had its own message; only a finished one is reported done.
    if (component->RunStatus() == rsDone)
      Dialogs::ShowMessage(QStringLiteral("OK !! Exported To ") + reply.fileName);
  }
  SetCurrentFolder(StartFolder);
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

QString TFrExecSQL::ReadScriptFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw EInOutError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
  const QByteArray bytes = file.readAll();
  if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
  return FromCp874(bytes);
}

}  // namespace qav
