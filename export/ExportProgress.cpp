#include "export/ExportProgress.h"

#include "app/Dialogs.h"
#include "export/ExportStrings.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qav {

namespace {

struct ProgressState {
  QPointer<TfrmExportProcess> dialog;
  bool fallbackCancelled = false;
  std::vector<QPointer<QWidget>> disabled;
};

ProgressState& State() {
  static ProgressState state;
  return state;
}

// A repaint and a round of events per record would take far longer than writing the record;
// the counter is shown at most this often, and at once for a new status text.
constexpr qint64 kRefreshMs = 50;

void PaintFolder(QPainter& p, int x, int y) {
  p.setPen(QColor(128, 96, 0));
  p.setBrush(QColor(255, 214, 92));
  p.drawRect(x, y + 6, 44, 30);
  p.drawRect(x, y, 18, 6);
}

void PaintSheet(QPainter& p, int x, int y) {
  p.setPen(QColor(64, 64, 64));
  p.setBrush(Qt::white);
  p.drawRect(x, y, 16, 20);
  for (int line = 0; line < 4; ++line)
    p.drawLine(x + 3, y + 4 + line * 4, x + 13, y + 4 + line * 4);
}

}  // namespace

TExportAnimation::TExportAnimation(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  timer_->setInterval(60);
  connect(timer_, &QTimer::timeout, this, [this] {
    frame_ = frame_ >= kLastFrame ? 0 : frame_ + 1;
    update();
  });
}

void TExportAnimation::Start() {
  timer_->start();
}

void TExportAnimation::Stop() {
  timer_->stop();
}

bool TExportAnimation::Active() const {
  return timer_->isActive();
}

void TExportAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const int left = 40;
  const int right = width() - 84;
  PaintFolder(p, left, 6);
  PaintFolder(p, right, 6);
  // The sheet rises out of the left folder and drops into the right one.
  const double t = static_cast<double>(frame_) / kLastFrame;
  const int x = left + 14 + static_cast<int>(t * (right - left));
  const int y = 14 - static_cast<int>(4.0 * t * (1.0 - t) * 14.0);
  PaintSheet(p, x, y);
}

TfrmExportProcess::TfrmExportProcess(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmExportProcess"));
  setFixedSize(442, 87);
  setModal(true);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);

  Bevel = new QFrame(this);
  Bevel->setObjectName(QStringLiteral("Bevel"));
  Bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Bevel->setGeometry(0, 0, 442, 87);

  lblStatus = new QLabel(this);
  lblStatus->setTextFormat(Qt::PlainText);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblStatus->setGeometry(8, 56, 339, 13);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(10, 70, 337, 10);
  ProgressBar->setTextVisible(false);

  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(355, 55, 75, 25);
  btnCancel->setCursor(Qt::ArrowCursor);
  btnCancel->setAutoDefault(false);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

  FormCreate();
}

void TfrmExportProcess::FormCreate() {
  Animation = new TExportAnimation(this);
  Animation->setObjectName(QStringLiteral("Animation"));
  Animation->setGeometry(8, 4, 427, 45);
  Cancelled = false;
}

void TfrmExportProcess::FormActivate() {
  if (!Body || bodyRunning_ || !isVisible()) return;
  const std::function<void()> body = std::exchange(Body, nullptr);
  bodyRunning_ = true;
  finishing_ = false;
  try {
    body();
  } catch (...) {
    // An error must not leave the window open (only a cancel would close it then); the caller
    // reports it once the modal display has ended.
    BodyError = std::current_exception();
  }
  bodyRunning_ = false;
  QMetaObject::invokeMethod(this, &TfrmExportProcess::FinishModal, Qt::QueuedConnection);
}

void TfrmExportProcess::FinishModal() {
  if (!isVisible()) return;  // the user closed it meanwhile
  finishing_ = true;
  done(QDialog::Accepted);
}

int TfrmExportProcess::RunModal() {
  inModalLoop_ = true;
  const int result = exec();
  inModalLoop_ = false;
  return result;
}

void TfrmExportProcess::btnCancelClick() {
  Cancelled = true;
  reject();
}

void TfrmExportProcess::reject() {
  // Cancel, Escape and the close box come here; the window's own close after the body does not.
  if (!finishing_) Cancelled = true;
  QDialog::reject();
}

void TfrmExportProcess::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    QMetaObject::invokeMethod(this, &TfrmExportProcess::FormActivate, Qt::QueuedConnection);
}

void TfrmExportProcess::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Some window systems never activate a window that did not come from a user action; the
  // body must start all the same.
  QTimer::singleShot(150, this, &TfrmExportProcess::FormActivate);
}

bool ShowExportProgress(const QString& caption, const QString& status, const QString& cancelCaption,
                        int minimum, int maximum, int position) {
  HideExportProgress();
  ProgressState& state = State();
  state.fallbackCancelled = false;
  try {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
      throw std::runtime_error("no application object");
    state.dialog = new TfrmExportProcess();
    TfrmExportProcess* d = state.dialog;
    QCoreApplication::processEvents();
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    d->setWindowTitle(caption);
    d->lblStatus->setText(status);
    d->btnCancel->setText(cancelCaption);
    d->ProgressBar->setRange(minimum, maximum);
    d->ProgressBar->setValue(position);
    d->ProgressBar->setVisible(minimum != 0 || maximum != 0);
    d->Animation->Start();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w == d || !w->isVisible() || !w->isEnabled()) continue;
      w->setEnabled(false);
      state.disabled.emplace_back(w);
    }
    QCoreApplication::processEvents();
    return true;
  } catch (...) {
    DialogRequest r;
    r.kind = DialogRequest::Kind::Error;
    r.title = QStringLiteral("Error");
    r.text = ExportLanguageText(lsNoProcessDialog);
    Dialogs::Show(r);
    delete state.dialog.data();
    state.dialog = nullptr;
    for (const QPointer<QWidget>& w : state.disabled)
      if (w) w->setEnabled(true);
    state.disabled.clear();
    return false;
  }
}

void UpdateExportProgress(const QString& status, int position) {
  TfrmExportProcess* d = State().dialog;
  if (!d) return;
  const int maximum = d->ProgressBar->maximum();
  if (d->SinceShown.isValid() && d->SinceShown.elapsed() < kRefreshMs && status == d->ShownStatus &&
      position < maximum)
    return;
  d->ShownStatus = status;
  d->lblStatus->setText(status + QStringLiteral(" (") + QString::number(position) + u'/' +
                        QString::number(maximum) + u')');
  d->ProgressBar->setValue(position);
  d->repaint();
  QCoreApplication::processEvents();
  if (State().dialog) State().dialog->SinceShown.start();
}

bool HideExportProgress() {
  ProgressState& state = State();
  if (!state.dialog) return false;
  try {
    for (const QPointer<QWidget>& w : state.disabled)
      if (w) w->setEnabled(true);
    state.disabled.clear();
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    TfrmExportProcess* d = state.dialog;
    state.dialog = nullptr;
    d->Animation->Stop();
    d->hide();
    // Still inside its modal loop (hidden from the body), the window must outlive the loop.
    if (d->InModalLoop())
      d->deleteLater();
    else
      delete d;
    QCoreApplication::processEvents();
    return true;
  } catch (...) {
    state.dialog = nullptr;
    return false;
  }
}

bool IsExportCancelled() {
  const ProgressState& state = State();
  return state.dialog ? state.dialog->Cancelled : state.fallbackCancelled;
}

void SetExportCancelled(bool cancelled) {
  ProgressState& state = State();
  if (state.dialog)
    state.dialog->Cancelled = cancelled;
  else
    state.fallbackCancelled = cancelled;
}

void RunInProgressWindow(const std::function<void()>& body) {
  QPointer<TfrmExportProcess> d = State().dialog;
  if (!d) {
    body();
    return;
  }
  d->Body = body;
  d->BodyError = nullptr;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    d->move(screen->availableGeometry().center() - d->rect().center());
  d->RunModal();
  if (!d) return;
  d->Body = nullptr;
  if (std::exception_ptr error = std::exchange(d->BodyError, nullptr))
    std::rethrow_exception(error);
}

TfrmExportProcess* ExportProgressWindow() {
  return State().dialog;
}

}  // namespace qav
