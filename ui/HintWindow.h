#pragma once

#include "ui/Balloon.h"

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

namespace qav {

class TFormHints;

// The balloon hint window: a frameless, topmost tooltip window that never takes the focus and
// paints the balloon over a snapshot of the screen under it.
class TfhHintWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TfhHintWindow(QWidget* parent = nullptr);
  ~TfhHintWindow() override;

  // The text rectangle of `hint` in the window's font, wrapped at `maxWidth` (or at the
  // settings' MaxWidth when that is not 0), 6 pixels wider and 2 taller.
  QRect MeasureHint(int maxWidth, const QString& hint);
  // Shows the balloon for a rectangle from MeasureHint near the mouse pointer.
  void ShowHintAt(const QRect& rect, const QString& hint);
  void ShowHintAt(const QRect& rect, const QString& hint, QPoint mouse);

  // The settings found on the main window; null while there are none.
  TFormHints* FormHints() const { return formHints_; }
  TfhHintDirection Placement() const { return placement_; }
  bool StandardMode() const { return standardMode_; }
  void SetStandardMode(bool on);
  // The text shown, after the line clean-up.
  QString Caption() const { return caption_; }
  const QImage& Snapshot() const { return snapshot_; }
  const QImage& Composite() const { return composite_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TFormHints* FindFormHints();
  void TakeSnapshot(const QRect& area);

  // Not owned: the main window's settings can go before the window does.
  QPointer<TFormHints> formHints_;
  TfhHintDirection placement_ = TfhHintDirection::dUpRight;
  bool standardMode_ = false;
  QImage snapshot_;
  QImage composite_;
  QString caption_;
  // Where the last balloon was shown and what was under it, to keep it out of the next
  // snapshot while the display server may still be removing it.
  QRect lastArea_;
  QImage lastSnapshot_;
};

// The application's side of hints: which window shows them and whose settings apply.
namespace HintApplication {

// On: tooltips of every widget become balloons in a fresh TfhHintWindow. Off: the window goes
// and the toolkit's plain tooltips return.
void SetBalloonHints(bool on);
bool BalloonHints();
// The current balloon window; null with plain tooltips.
TfhHintWindow* HintWindow();

// The application's main window, whose TFormHints the balloons follow; forgotten when it goes.
void SetMainWindow(QWidget* window);
QWidget* MainWindow();

}  // namespace HintApplication

}  // namespace qav
