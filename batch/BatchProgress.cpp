#include "batch/BatchProgress.h"

#include <cmath>

namespace qav {

namespace {

constexpr int kBarWidth = 30;
constexpr qint64 kRedrawMs = 100;

}  // namespace

TBatchProgress::TBatchProgress(bool terminal, Writer write)
    : terminal_(terminal), write_(std::move(write)) {}

void TBatchProgress::Start() {
  timer_.start();
  lastDrawn_ = -kRedrawMs;
}

double TBatchProgress::Seconds() const {
  return timer_.isValid() ? timer_.nsecsElapsed() / 1e9 : 0;
}

void TBatchProgress::Update(qint64 done, qint64 total) {
  if (!terminal_) return;
  const qint64 now = timer_.elapsed();
  if (now - lastDrawn_ < kRedrawMs) return;
  lastDrawn_ = now;
  drawn_ = true;
  // Back to the line's start, and the rest of an older, longer line erased.
  write_(u'\r' + Line(done, total, Seconds()) + QStringLiteral("\x1b[K"));
}

void TBatchProgress::Waiting(const QString& text, bool first) {
  if (!terminal_) {
    if (first) write_(text + u'\n');
    return;
  }
  drawn_ = true;
  write_(u'\r' + text + QStringLiteral("\x1b[K"));
}

void TBatchProgress::Finish(const QString& text) {
  Clear();
  write_(text + u'\n');
}

void TBatchProgress::Clear() {
  if (terminal_ && drawn_) write_(QStringLiteral("\r\x1b[K"));
  drawn_ = false;
}

QString TBatchProgress::Grouped(qint64 value) {
  QString digits = QString::number(value < 0 ? -value : value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
  return value < 0 ? u'-' + digits : digits;
}

QString TBatchProgress::Line(qint64 done, qint64 total, double seconds) {
  const QString rate =
      Grouped(seconds > 0 ? std::llround(static_cast<double>(done) / seconds) : 0) +
      QStringLiteral(" rows/s");
  if (total < 0) return Grouped(done) + QStringLiteral(" rows  ") + rate;
  const double part = total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 1.0;
  const int filled = static_cast<int>(part * kBarWidth);
  return u'[' + QString(filled, u'#') + QString(kBarWidth - filled, u'.') + QStringLiteral("] ") +
         QStringLiteral("%1%").arg(static_cast<int>(part * 100), 3) + QStringLiteral("  ") +
         Grouped(done) + u'/' + Grouped(total) + QStringLiteral(" rows  ") + rate;
}

}  // namespace qav
