#pragma once

#include <QObject>
#include <functional>

class QTimer;

namespace qav {

class TThreadTimer;
using TTimerEvent = std::function<void(TThreadTimer& sender)>;

// A timer on the GUI thread: ticks every Interval milliseconds while Enabled, Interval is not
// 0 and OnTimer is assigned. Any change of the three restarts it from the full interval.
class TThreadTimer : public QObject {
  Q_OBJECT

 public:
  explicit TThreadTimer(QObject* owner = nullptr);
  ~TThreadTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned interval);
  const TTimerEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TTimerEvent handler);

  // True while the platform timer runs.
  bool Active() const;

 private:
  // Raises "No Timer" when the platform refuses the timer (no event loop on this thread).
  void UpdateTimer();
  void Tick();

  QTimer* timer_;
  bool enabled_ = true;
  unsigned interval_ = 1000;
  TTimerEvent onTimer_;
};

}  // namespace qav
