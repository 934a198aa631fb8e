#include "app/FrForm.h"

#include "app/Application.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "core/ExceptionHandler.h"
#include "ui/FormHints.h"
#include "ui/HintWindow.h"
#include "ui/NamedColors.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qav {

namespace {

// The eight 16 x 16 toolbar pictures, in the order the actions use them.
std::vector<QIcon> MakePictures() {
  std::vector<QIcon> icons;
  for (int i = 0; i < 8; ++i) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (i) {
      case 0:  // new: a page with a folded corner
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygon({{3, 1}, {10, 1}, {13, 4}, {13, 14}, {3, 14}}));
        p.drawLine(10, 1, 10, 4);
        p.drawLine(10, 4, 13, 4);
        break;
      case 1:  // delete: a red cross
        p.setPen(QPen(QColor(200, 0, 0), 2.5));
        p.drawLine(3, 3, 13, 13);
        p.drawLine(13, 3, 3, 13);
        break;
      case 2:  // save: a disk
        p.setPen(Qt::black);
        p.setBrush(QColor(40, 80, 180));
        p.drawRect(2, 2, 12, 12);
        p.setBrush(Qt::white);
        p.drawRect(5, 2, 6, 4);
        break;
      case 3:  // exit: a door and an arrow
        p.setPen(Qt::black);
        p.setBrush(QColor(150, 90, 40));
        p.drawRect(2, 1, 7, 14);
        p.setPen(QPen(QColor(0, 140, 0), 2));
        p.drawLine(8, 8, 15, 8);
        p.drawLine(12, 5, 15, 8);
        p.drawLine(12, 11, 15, 8);
        break;
      case 4:  // history: a clock
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawEllipse(1, 1, 14, 14);
        p.drawLine(8, 8, 8, 4);
        p.drawLine(8, 8, 11, 9);
        break;
      case 5:  // copy: two pages
        p.setPen(Qt::darkGray);
        p.setBrush(Qt::white);
        p.drawRect(1, 1, 9, 11);
        p.drawRect(5, 4, 9, 11);
        break;
      case 6:  // print: a printer
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 8, 5);
        p.setBrush(Qt::lightGray);
        p.drawRect(1, 6, 14, 6);
        p.setBrush(Qt::white);
        p.drawRect(4, 10, 8, 5);
        break;
      case 7:  // change code: a pencil
        p.setPen(Qt::black);
        p.setBrush(QColor(240, 200, 40));
        p.drawPolygon(QPolygon({{2, 14}, {3, 10}, {11, 2}, {14, 5}, {6, 13}}));
        break;
    }
    icons.emplace_back(pm);
  }
  return icons;
}

}  // namespace

TFrForm::TFrForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("FrForm"));
  setWindowTitle(QStringLiteral("FrForm"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(13);
  setFont(font);
  ImageList1 = MakePictures();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel2 = new QFrame(central);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel2->setFixedHeight(42);
  auto* panelLayout = new QHBoxLayout(Panel2);
  panelLayout->setContentsMargins(1, 1, 1, 1);
  ToolBar1 = new QToolBar(Panel2);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  QFont small(QStringLiteral("MS Sans Serif"));
  small.setPixelSize(11);
  ToolBar1->setFont(small);
  ToolBar1->setIconSize(QSize(16, 16));
  ToolBar1->setCursor(Qt::PointingHandCursor);
  panelLayout->addWidget(ToolBar1);
  panelLayout->addStretch();
  layout->addWidget(Panel2);

  client_ = new QWidget(central);
  client_->setObjectName(QStringLiteral("ClientArea"));
  layout->addWidget(client_, 1);
  setCentralWidget(central);

  AcNew = MakeAction("AcNew", QStringLiteral("New"), QStringLiteral("New Record"), 0, Qt::Key_F3);
  AcDel =
      MakeAction("AcDel", QStringLiteral("Delete"), QStringLiteral("Delete Record"), 1, Qt::Key_F8);
  AcSave =
      MakeAction("AcSave", QStringLiteral("Save"), QStringLiteral("Save Record"), 2, Qt::Key_F10);
  AcChgCode = MakeAction("AcChgCode", QStringLiteral("Chg Code"), QString(), 7, Qt::Key_F12);
  AcHist = MakeAction("AcHist", QStringLiteral("Hist."), QStringLiteral("Show History"), 4,
                      QKeySequence(Qt::CTRL | Qt::Key_H));
  AcCopy =
      MakeAction("AcCopy", QStringLiteral("Copy"), QStringLiteral("Copy Record"), 5, Qt::Key_F6);
  AcPrint = MakeAction("AcPrint", QStringLiteral("Print"), QStringLiteral("Print Record"), 6,
                       QKeySequence(Qt::CTRL | Qt::Key_P));
  AcExit = MakeAction("AcExit", QStringLiteral("Exit"), QStringLiteral("Exit Program"), 3,
                      QKeySequence(Qt::CTRL | Qt::Key_X));
  connect(AcNew, &QAction::triggered, this,
          [this] { RunEventHandler([this] { AcNewExecute(); }); });
  connect(AcExit, &QAction::triggered, this,
          [this] { RunEventHandler([this] { AcExitExecute(); }); });

  BNew = MakeButton("BNew", AcNew);
  BDel = MakeButton("BDel", AcDel);
  BSave = MakeButton("BSave", AcSave);
  BChgCode = MakeButton("BChgCode", AcChgCode);
  BHist = MakeButton("BHist", AcHist);
  BCopy = MakeButton("BCopy", AcCopy);
  BPrint = MakeButton("BPrint", AcPrint);
  BExit = MakeButton("BExit", AcExit);

  ChgCode = new QLineEdit(client_);
  ChgCode->setObjectName(QStringLiteral("ChgCode"));
  ChgCode->setText(QStringLiteral("CHGCODE"));
  // Typed letters become capitals.
  connect(ChgCode, &QLineEdit::textEdited, ChgCode, [this](const QString& text) {
    const int at = ChgCode->cursorPosition();
    ChgCode->setText(text.toUpper());
    ChgCode->setCursorPosition(at);
  });

  for (int i = 0; i < 2; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panels_[i]->setTextFormat(Qt::PlainText);  // file names, not markup
  }
  panels_[0]->setFixedWidth(200);
  statusBar()->setFixedHeight(19);
  statusBar()->addWidget(panels_[0]);
  statusBar()->addWidget(panels_[1], 1);
  statusBar()->setSizeGripEnabled(false);

  setFixedSize(632, 421);
  qApp->installEventFilter(this);

  if (!HintApplication::MainWindow()) HintApplication::SetMainWindow(this);
  FormHints1 = new TFormHints(this);
  FormHints1->setObjectName(QStringLiteral("FormHints1"));
  QFont hintFont(QStringLiteral("MS Sans Serif"));
  hintFont.setPixelSize(11);
  FormHints1->SetFont(hintFont);
  FormHints1->TextAlignment = TfhTextAlignment::taCenter;
  FormHints1->SetTransparencyRate(20);
}

TFrForm::~TFrForm() {
  qApp->removeEventFilter(this);
}

QAction* TFrForm::MakeAction(const char* name, const QString& caption, const QString& hint,
                             int picture, const QKeySequence& shortcut) {
  auto* action = new QAction(ImageList1.at(static_cast<size_t>(picture)), caption, this);
  action->setObjectName(QString::fromLatin1(name));
  action->setToolTip(hint);
  action->setStatusTip(hint);
  action->setShortcut(shortcut);
  // Shortcuts belong to the window, so a hidden button does not silence its action's key.
  action->setShortcutContext(Qt::WindowShortcut);
  addAction(action);
  return action;
}

QToolButton* TFrForm::MakeButton(const char* name, QAction* action) {
  auto* button = new QToolButton(ToolBar1);
  button->setObjectName(QString::fromLatin1(name));
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setFixedSize(54, 36);
  ToolBar1->addWidget(button);
  return button;
}

QAction* TFrForm::ToolbarSlot(QToolButton* button) const {
  for (QAction* a : ToolBar1->actions())
    if (ToolBar1->widgetForAction(a) == button) return a;
  return nullptr;
}

// A toolbar owns its widgets' visibility through their slots.
void TFrForm::SetButtonVisible(QToolButton* button, bool visible) {
  if (QAction* slot = ToolbarSlot(button)) slot->setVisible(visible);
}

bool TFrForm::ButtonVisible(QToolButton* button) const {
  QAction* slot = ToolbarSlot(button);
  return slot && slot->isVisible();
}

QLabel* TFrForm::StatusPanel(int index) const {
  return panels_[index == 0 ? 0 : 1];
}

void TFrForm::FormShow() {
  SetApplicationTitle(windowTitle());
  Dialogs::SetThaiButtons(DMConfig && DMConfig->LanguageThai);
  for (QToolButton* b : {BHist, BCopy, BPrint, BChgCode}) SetButtonVisible(b, false);
  TFrForm::AcNewExecute();
}

void TFrForm::AcNewExecute() {
  ChgCode->hide();
  AcSave->setEnabled(false);
  AcDel->setEnabled(false);
  AcChgCode->setEnabled(false);
  keyPreview_ = true;
}

void TFrForm::AcExitExecute() {
  close();
}

bool TFrForm::FormKeyDown(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    FocusNextControl();
    return true;  // the Enter character never reaches the control
  }
  if (key == Qt::Key_Escape) {
    AcExitExecute();
    return true;
  }
  return false;
}

bool TFrForm::FormClose() {
  if (TerminationRequested()) return true;
  const bool thai = DMConfig && DMConfig->LanguageThai;
  // The question may be dismissed by a termination request, which closes the window anyway.
  const bool yes =
      Dialogs::Confirm(thai ? QStringLiteral("ออกจากโปรแกรม ?") : QStringLiteral("Exit Program ?"),
                       NamedColor(TNamedColor::Green));
  return yes || TerminationRequested();
}

void TFrForm::setVisible(bool visible) {
  // Descendants size themselves after the base is built, so the window is centred on the
  // desktop with its final size, just before it first shows.
  if (visible && !placed_) {
    placed_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
  QMainWindow::setVisible(visible);
}

void TFrForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TFrForm::closeEvent(QCloseEvent* event) {
  if (FormClose())
    event->accept();
  else
    event->ignore();
}

bool TFrForm::IsEnabledShortcut(const QKeyEvent& key) const {
  const QKeySequence pressed(key.keyCombination());
  for (QAction* a : actions())
    if (a->isEnabled() && a->shortcut() == pressed) return true;
  return false;
}

bool TFrForm::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  // The window's shortcuts win over an edit's own keys (Ctrl+X asks to exit rather than cut):
  // refusing the control's claim on the key lets the shortcut fire.
  if (event->type() == QEvent::ShortcutOverride)
    return IsEnabledShortcut(*static_cast<QKeyEvent*>(event));
  if (event->type() != QEvent::KeyPress || !keyPreview_) return false;
  // A key is delivered to the focus widget and then propagated to its parents; the window
  // looks at it once, at the widget it was first meant for.
  if (widget != QApplication::focusWidget() && widget != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  return FormKeyDown(key->key(), key->modifiers());
}

void TFrForm::FocusNextControl() {
  QWidget* current = QApplication::focusWidget();
  if (!current || current->window() != this) return;
  // Forward in tab order, skipping controls that do not take the focus by Tab.
  QWidget* next = current->nextInFocusChain();
  while (next && next != current) {
    if (next->window() == this && next->isVisible() && next->isEnabled() &&
        (next->focusPolicy() & Qt::TabFocus))
      break;
    next = next->nextInFocusChain();
  }
  if (next && next != current) next->setFocus(Qt::TabFocusReason);
}

}  // namespace qav
