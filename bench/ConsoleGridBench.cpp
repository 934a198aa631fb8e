// Runs a statement in the console's results grid as F5 does and prints how soon the first rows
// are painted, how long the rest takes to arrive in the background and how long the window
// stays busy meanwhile, then scrolls through the rows, sorts them by a number column and by a
// text column as a header click does, and closes them, and prints the memory
// the result took beside the size of the sqlite3 shell's tab-separated dump of it.
//   console-grid-bench [ROWS...]     (default 1,000 and 1,000,000 rows of 10 columns)
#include "bench/BenchArgs.h"
#include "bench/BenchTable.h"
#include "console/ResultGrid.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

namespace {

long StatusKb(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key))
      return line.mid(static_cast<qsizetype>(std::strlen(key)))
          .trimmed()
          .split(' ')
          .first()
          .toLong();
  return -1;
}

// Starts a new high-water mark of resident memory from the current size.
void ResetPeak() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

// The size of the shell's dump of the table, -1 without the shell.
double ShellDumpMb(const QString& table, const QString& out) {
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) return -1;
  QProcess p;
  p.setStandardOutputFile(out);
  p.start(shell, {QStringLiteral("-separator"), QStringLiteral("\t"), table,
                  QStringLiteral("select * from Big")});
  p.waitForFinished(-1);
  const double mb = QFileInfo(out).size() / 1048576.0;
  QFile::remove(out);
  return mb;
}

void Bench(QApplication& app, long rows) {
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  const QString table = qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH"));
  qav::bench::MakeBigTable(table, rows);
  const double tsvMb = ShellDumpMb(table, dir.filePath(QStringLiteral("dump.txt")));

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("BENCH"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("BENCH"));
  query.SetBackgroundFetch(true);  // as the console runs its statements
  query.SetSQL(QStringLiteral("select * from Big"));
  qav::TResultGrid grid;
  grid.resize(792, 300);
  grid.SetDataSource(&query);
  grid.show();
  app.processEvents();
  // Open the connection beforehand, as the console's start-up does, and paint a row once: in the
  // console the window has painted before the first F5.
  db.Open();
  query.SetSQL(QStringLiteral("select * from Big limit 1"));
  query.Open();
  grid.viewport()->repaint();
  query.Close();
  query.SetSQL(QStringLiteral("select * from Big"));
  const long rssBefore = StatusKb("VmRSS:");
  ResetPeak();

  std::printf("rows: %ld, columns: 10\n", rows);
  QElapsedTimer timer;
  timer.start();
  query.Open();
  grid.viewport()->repaint();
  std::printf("F5 to the first rows painted: %.0f ms (%lld rows)\n", timer.nsecsElapsed() / 1e6,
              static_cast<long long>(query.RecordCount()));

  // The longest the window goes without handling its events while the rows arrive.
  QElapsedTimer sinceTick;
  sinceTick.start();
  qint64 longestBusy = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestBusy = std::max(longestBusy, sinceTick.elapsed());
    sinceTick.restart();
  });
  ticker.start(5);
  while (query.Fetching()) app.processEvents(QEventLoop::WaitForMoreEvents);
  ticker.stop();
  std::printf("all rows in the grid: %.2f s; the window was never busy longer than %lld ms\n",
              timer.elapsed() / 1000.0, static_cast<long long>(longestBusy));

  const double addedMb = (StatusKb("VmRSS:") - rssBefore) / 1024.0;
  const double peakMb = (StatusKb("VmHWM:") - rssBefore) / 1024.0;
  std::printf("memory the result adds: %.1f MB (peak %.1f MB)", addedMb, peakMb);
  if (tsvMb > 0)
    std::printf("; the shell's TSV dump: %.1f MB; ratio %.2f (peak %.2f)", tsvMb, addedMb / tsvMb,
                peakMb / tsvMb);
  std::printf("\n");

  // Page by page to the end, as a user dragging the scroll bar would see it.
  timer.restart();
  QScrollBar* bar = grid.verticalScrollBar();
  long longestStep = 0;
  int steps = 0;
  for (int value = 0; value <= bar->maximum(); value += std::max(1, bar->maximum() / 200)) {
    QElapsedTimer step;
    step.start();
    bar->setValue(value);
    grid.viewport()->repaint();
    longestStep = std::max<long>(longestStep, step.elapsed());
    ++steps;
  }
  std::printf("scroll to the end in %d steps: %.3f s, longest step %ld ms\n", steps,
              timer.elapsed() / 1000.0, longestStep);

  // A header click on a number column and on a text column, then the click that restores.
  for (int column : {0, 1}) {
    bar->setValue(0);
    timer.restart();
    grid.SortByColumn(column);
    grid.viewport()->repaint();
    const double sorted = timer.nsecsElapsed() / 1e6;
    timer.restart();
    grid.SortByColumn(-1);
    grid.viewport()->repaint();
    std::printf("sort by column %d (%s) and paint: %.0f ms; restore: %.0f ms\n", column + 1,
                grid.model()->headerData(column, Qt::Horizontal).toString().toUtf8().constData(),
                sorted, timer.nsecsElapsed() / 1e6);
  }

  timer.restart();
  query.Close();
  app.processEvents();
  std::printf("close: %.3f s\n\n", timer.elapsed() / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const qav::bench::BenchArgs args(
      argc, argv, "console-grid-bench [ROWS...]   (default 1000 and 1000000 rows of 10 columns)",
      16);
  std::vector<long> counts = args.Numbers();
  if (counts.empty()) counts = {1000, 1000000};
  for (long rows : counts) Bench(app, rows);
  return 0;
}
