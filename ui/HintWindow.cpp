#include "ui/HintWindow.h"

#include "ui/FormHints.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

namespace qav {

namespace {

QScreen* ScreenAt(QPoint point) {
  if (QScreen* screen = QGuiApplication::screenAt(point)) return screen;
  return QGuiApplication::primaryScreen();
}

// Shows the tooltips of every widget as balloons, and hides a balloon on the occasions the
// toolkit hides its own tooltips: the pointer leaving the control, a click, a key, the
// application losing the focus, or the time running out.
class HintController : public QObject {
 public:
  HintController() {
    qApp->installEventFilter(this);
    hideTimer_.setSingleShot(true);
    connect(&hideTimer_, &QTimer::timeout, this, &HintController::Hide);
    Renew();
  }

  ~HintController() override {
    qApp->removeEventFilter(this);
    delete window_;
  }

  TfhHintWindow* Window() const { return window_; }

  // A fresh window, as after the application switched its hints off and on.
  void Renew() {
    Hide();
    delete window_;
    window_ = new TfhHintWindow;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::ToolTip:
        return OnToolTip(watched, static_cast<QHelpEvent*>(event));
      case QEvent::Leave:
      case QEvent::Hide:
        if (control_ && watched == control_) Hide();
        break;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::ApplicationDeactivate:
        if (control_) Hide();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  // The widget under the pointer gets the event first and its parents after it; the first one
  // with a tooltip of its own is the hint's control.
  bool OnToolTip(QObject* watched, QHelpEvent* help) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget == window_) return false;
    const QString text = widget->toolTip();
    if (text.isEmpty()) return false;
    help->accept();
    // Moving the pointer within the control keeps its hint where it is.
    if (widget == control_ && text == text_ && (window_->isVisible() || QToolTip::isVisible()))
      return true;
    Hide();
    const QPoint mouse = help->globalPos();
    const QRect rect = window_->MeasureHint(ScreenAt(mouse)->geometry().width(), text);
    window_->ShowHintAt(rect, text, mouse);
    control_ = widget;
    text_ = text;
    if (window_->isVisible()) {
      const int duration = widget->toolTipDuration();
      hideTimer_.start(duration > 0 ? duration : 10000 + 40 * std::max<int>(0, text.size() - 100));
    }
    return true;
  }

  void Hide() {
    hideTimer_.stop();
    control_ = nullptr;
    if (window_) window_->hide();
  }

  TfhHintWindow* window_ = nullptr;
  QPointer<QWidget> control_;
  QString text_;
  QTimer hideTimer_;
};

HintController* controller = nullptr;
QPointer<QWidget> mainWindow;

// The toolkit draws a CR as a blank and breaks lines at LF only.
QString LayoutText(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

}  // namespace

namespace HintApplication {

void SetBalloonHints(bool on) {
  if (!on) {
    delete controller;
    controller = nullptr;
  } else if (controller) {
    controller->Renew();
  } else if (qApp) {
    controller = new HintController;
  }
}

bool BalloonHints() {
  return controller != nullptr;
}

TfhHintWindow* HintWindow() {
  return controller ? controller->Window() : nullptr;
}

void SetMainWindow(QWidget* window) {
  mainWindow = window;
}

QWidget* MainWindow() {
  return mainWindow;
}

}  // namespace HintApplication

TfhHintWindow::TfhHintWindow(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput) {
  setObjectName(QStringLiteral("fhHintWindow"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  // The balloon paints every pixel itself; an erased background would flash through.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFont(QToolTip::font());
}

TfhHintWindow::~TfhHintWindow() = default;

TFormHints* TfhHintWindow::FindFormHints() {
  QWidget* main = HintApplication::MainWindow();
  if (!main) return nullptr;
  for (QObject* child : main->children()) {
    if (auto* hints = qobject_cast<TFormHints*>(child)) {
      formHints_ = hints;
      setFont(hints->Font());
      return hints;
    }
  }
  return nullptr;
}

void TfhHintWindow::SetStandardMode(bool on) {
  standardMode_ = on;
}

QRect TfhHintWindow::MeasureHint(int maxWidth, const QString& hint) {
  if (!formHints_) FindFormHints();
  if (formHints_ && formHints_->MaxWidth != 0) maxWidth = formHints_->MaxWidth;
  const QRect text = QFontMetrics(font()).boundingRect(
      QRect(0, 0, maxWidth, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, LayoutText(hint));
  return {0, 0, text.width() + 6, text.height() + 2};
}

void TfhHintWindow::ShowHintAt(const QRect& rect, const QString& hint) {
  ShowHintAt(rect, hint, QCursor::pos());
}

void TfhHintWindow::ShowHintAt(const QRect& rect, const QString& hint, QPoint mouse) {
  const bool wasShown = isVisible();
  hide();
  if (!formHints_ && !FindFormHints()) return;
  TFormHints* hints = formHints_;
  if (hints->OnShowHint) {
    bool allow = true, standard = false;
    QWidget* control = QApplication::widgetAt(mouse);
    hints->OnShowHint(this, control, hint, allow, standard);
    SetStandardMode(standard);
    if (!allow) return;
    if (standardMode_) {
      QToolTip::showText(mouse, hint, control);
      return;
    }
  }
  if (QToolTip::isVisible()) QToolTip::hideText();

  caption_ = CleanHintText(hint, hints->TextAlignment);
  const QSize text = rect.size();
  const THintPlacement place =
      PlaceHint(hints->Direction, mouse, ScreenAt(mouse)->geometry(), text);
  placement_ = place.Direction;
  const QRect area(place.TopLeft, BalloonSize(text, placement_));
  setGeometry(area);
  if (!wasShown) lastArea_ = QRect();
  TakeSnapshot(area);
  show();
}

void TfhHintWindow::TakeSnapshot(const QRect& area) {
  QImage shot(area.size(), QImage::Format_RGB32);
  shot.fill(Qt::black);
  QPainter p(&shot);
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect geometry = screen->geometry();
    const QRect part = area & geometry;
    if (part.isEmpty()) continue;
    QPixmap grabbed = screen->grabWindow(0, part.x() - geometry.x(), part.y() - geometry.y(),
                                         part.width(), part.height());
    if (grabbed.isNull()) continue;
    grabbed.setDevicePixelRatio(1);
    p.drawPixmap(QRect(part.topLeft() - area.topLeft(), part.size()), grabbed);
  }
  // A balloon that was just hidden may still be on the screen: what was under it stands in.
  const QRect overlap = area & lastArea_;
  if (!overlap.isEmpty())
    p.drawImage(overlap.topLeft() - area.topLeft(), lastSnapshot_,
                QRect(overlap.topLeft() - lastArea_.topLeft(), overlap.size()));
  p.end();
  snapshot_ = shot;
  lastArea_ = area;
  lastSnapshot_ = shot;
}

void TfhHintWindow::paintEvent(QPaintEvent*) {
  if (standardMode_) return;
  composite_ =
      formHints_ ? ComposeImage(snapshot_, placement_, caption_, formHints_->Style()) : snapshot_;
  QPainter(this).drawImage(0, 0, composite_);
}

}  // namespace qav
