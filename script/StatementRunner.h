#pragma once

#include "db/Backend.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <exception>
#include <memory>
#include <vector>

namespace qav {

// What a batch of statements handed back: the last result left open for reading (or, when the
// caller asked for it whole, read into `rows`), what the statements said on the way, in order,
// or the error that stopped them.
struct TBatchOutcome {
  std::unique_ptr<db::BackendCursor> cursor;
  std::unique_ptr<db::ResultSet> rows;
  std::vector<db::StatementNote> notes;
  std::exception_ptr error;
};

// Runs one batch at a time on a worker thread, so that the thread that asks keeps its events:
// while the statements run, it paints, takes keys and answers timers (a nested event loop, as
// the export's progress window has), and Cancel interrupts the server. Nothing here knows of
// windows.
class TStatementRunner : public QObject {
  Q_OBJECT

 public:
  explicit TStatementRunner(QObject* parent = nullptr);
  ~TStatementRunner() override;

  // Runs `sql` on the connection on the worker thread and returns when it is done, having
  // processed this thread's events meanwhile. With `whole`, the result's rows are read there
  // too (a batch that others follow, which need the connection free). The connection belongs
  // to the worker until then. A loop ended from outside (the program ending) cancels the
  // statement and waits for it.
  TBatchOutcome Run(db::BackendConnection& connection, const QString& sql, bool whole);

  // Asks the statement under way to stop; it then fails with the server's cancel error. Safe
  // from any thread, harmless when nothing runs.
  void Cancel();
  bool Running() const { return running_; }
  // The last Run was cancelled.
  bool Cancelled() const { return cancelled_; }
  // Milliseconds since the statement under way began.
  qint64 Elapsed() const { return clock_.isValid() ? clock_.elapsed() : 0; }
  // The longest stretch the waiting thread was busy between two of its events while a
  // statement ran (the event loop's own measure of how smooth the window stayed).
  qint64 LongestBusyMs() const { return longestBusyMs_; }

 signals:
  void Started();
  void Finished();

 private:
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<db::BackendConnection*> connection_{nullptr};
  QElapsedTimer clock_;
  qint64 longestBusyMs_ = 0;
};

}  // namespace qav
