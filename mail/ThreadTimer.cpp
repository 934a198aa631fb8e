#include "mail/ThreadTimer.h"

#include "core/ExceptionHandler.h"

#include <QTimer>
#include <algorithm>
#include <climits>

namespace qav {

TThreadTimer::TThreadTimer(QObject* owner) : QObject(owner), timer_(new QTimer(this)) {
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, &TThreadTimer::Tick);
}

TThreadTimer::~TThreadTimer() {
  timer_->stop();
}

void TThreadTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned interval) {
  interval_ = interval;
  UpdateTimer();
}

void TThreadTimer::SetOnTimer(TTimerEvent handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

bool TThreadTimer::Active() const {
  return timer_->isActive();
}

void TThreadTimer::UpdateTimer() {
  timer_->stop();
  if (interval_ == 0 || !enabled_ || !onTimer_) return;
  timer_->start(static_cast<int>(std::min<unsigned>(interval_, INT_MAX)));
  if (!timer_->isActive()) throw Exception(QStringLiteral("No Timer"));
}

void TThreadTimer::Tick() {
  if (!onTimer_) return;
  // A tick has no caller to hand an error to: it goes where every unhandled error goes.
  try {
    TTimerEvent handler = onTimer_;
    handler(*this);
  } catch (const Exception& e) {
    HandleException(e);
  } catch (const std::exception& e) {
    HandleException(Exception(QString::fromLocal8Bit(e.what())));
  }
}

}  // namespace qav
