// Opens a large result in the console's results grid, scrolls through it and closes it,
// printing how long each step keeps the window busy and the memory it takes.
//   console-grid-bench [ROWS]     (default 200,000 rows of 10 columns)
#include "bench/BenchTable.h"
#include "console/ResultGrid.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long rows = argc > 1 ? std::stol(argv[1]) : 200000;
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  qav::bench::MakeBigTable(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")),
                           rows);

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("BENCH"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("BENCH"));
  query.SetSQL(QStringLiteral("select * from Big"));
  qav::TResultGrid grid;
  grid.resize(792, 300);
  grid.SetDataSource(&query);
  grid.show();
  app.processEvents();
  const long rssBefore = qav::bench::PeakRssKb();

  QElapsedTimer timer;
  timer.start();
  query.Open();
  app.processEvents();
  std::printf("rows: %ld, columns: 10\nopen and first paint: %.3f s\n", rows,
              timer.elapsed() / 1000.0);

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

  timer.restart();
  query.Close();
  app.processEvents();
  std::printf("close: %.3f s\n", timer.elapsed() / 1000.0);
  std::printf("peak resident growth: %.1f MB\n", (qav::bench::PeakRssKb() - rssBefore) / 1024.0);
  return 0;
}
