#include "script/StatementRunner.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <thread>

namespace qav {

TStatementRunner::TStatementRunner(QObject* parent) : QObject(parent) {}

TStatementRunner::~TStatementRunner() = default;

namespace {

// The worker's part: the statements, their notes, and the rows when asked for them whole.
void RunBatch(db::BackendConnection& connection, const QString& sql, bool whole,
              TBatchOutcome& out) {
  try {
    out.cursor = connection.OpenCursor(sql, {});
    if (out.cursor && whole) {
      auto rows = std::make_unique<db::ResultSet>();
      rows->fields = out.cursor->Fields();
      rows->rows = db::RowStore(static_cast<int>(rows->fields.size()));
      db::RowStore window(rows->rows.Columns());
      while (out.cursor->Fetch(window, 1024) > 0) rows->rows.AppendRows(window);
      out.cursor.reset();
      out.rows = std::move(rows);
    }
  } catch (...) {
    out.cursor.reset();
    out.error = std::current_exception();
  }
  // The notes say what the PRINT messages say, in their places.
  connection.TakeMessages();
  out.notes = connection.TakeNotes();
}

}  // namespace

TBatchOutcome TStatementRunner::Run(db::BackendConnection& connection, const QString& sql,
                                    bool whole) {
  TBatchOutcome out;
  cancelled_ = false;
  connection_ = &connection;
  running_ = true;
  clock_.start();
  longestBusyMs_ = 0;
  emit Started();
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    RunBatch(connection, sql, whole, out);
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // A timer that should fire every 10 ms shows how long the loop was kept from it.
  QElapsedTimer beat;
  QTimer pulse;
  pulse.setTimerType(Qt::PreciseTimer);
  pulse.setInterval(10);
  connect(&pulse, &QTimer::timeout, this, [&] {
    if (beat.isValid()) longestBusyMs_ = std::max(longestBusyMs_, beat.elapsed() - 10);
    beat.start();
  });
  pulse.start();
  if (!done) loop.exec();
  pulse.stop();
  // The loop may have been ended from outside (the program is ending): the statement goes.
  if (!done) Cancel();
  worker.join();
  connection_ = nullptr;
  running_ = false;
  clock_.invalidate();
  emit Finished();
  return out;
}

void TStatementRunner::Cancel() {
  if (!running_) return;
  cancelled_ = true;
  if (db::BackendConnection* connection = connection_) connection->Interrupt();
}

}  // namespace qav
