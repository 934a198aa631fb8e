#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>

namespace qav {

// What a batch export shows of its progress on standard error. On a terminal: one line, redrawn
// at most ten times a second, with a bar, the rows done, the total and the rate; elsewhere (a
// log, a pipe) nothing until the closing line, so that logs stay readable.
class TBatchProgress {
 public:
  using Writer = std::function<void(const QString& text)>;

  TBatchProgress(bool terminal, Writer write);

  void Start();
  // `total` is -1 when not known; the line then has no bar.
  void Update(qint64 done, qint64 total);
  // Clears the line of a terminal and writes `text` on a line of its own.
  void Finish(const QString& text);
  // A wait the run is in (for a lock, say): on a terminal it takes the line until the next
  // update; elsewhere it is written on a line of its own when `first`, once for the wait.
  void Waiting(const QString& text, bool first);
  // Clears the line of a terminal, for a message to follow.
  void Clear();

  double Seconds() const;

  // "1,234,567".
  static QString Grouped(qint64 value);
  // The terminal line without its carriage return: "[#####.....]  50%  500/1,000 rows  250 rows/s"
  // or, without a total, "500 rows  250 rows/s".
  static QString Line(qint64 done, qint64 total, double seconds);

 private:
  bool terminal_;
  Writer write_;
  QElapsedTimer timer_;
  qint64 lastDrawn_ = -1;  // milliseconds since Start
  bool drawn_ = false;
};

}  // namespace qav
