// Loads a large result through the engine layer and walks it, printing time and memory.
//   result-load-bench [ROWS]     (default 1,000,000 rows of 10 columns)
#include "bench/BenchArgs.h"
#include "bench/BenchTable.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const qav::bench::BenchArgs args(
      argc, argv, "result-load-bench [ROWS]   (default 1000000 rows of 10 columns)", 1);
  const long rows = args.Number(0, 1000000);
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  QElapsedTimer timer;
  timer.start();
  qav::bench::MakeBigTable(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")),
                           rows);
  std::printf("rows: %ld, columns: 10\nmake table: %.2f s\n", rows, timer.elapsed() / 1000.0);
  const long rssBefore = qav::bench::PeakRssKb();

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("BENCH"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("BENCH"));
  query.SetSQL(QStringLiteral("select * from Big"));

  timer.restart();
  query.Open();
  const double openSeconds = timer.elapsed() / 1000.0;
  std::printf("open (fetch all): %.2f s, %.0f rows/s\n", openSeconds, rows / openSeconds);
  std::printf("row store: %.1f MB\n", query.Store()->MemoryUsed() / 1048576.0);
  std::printf("peak resident growth: %.1f MB\n", (qav::bench::PeakRssKb() - rssBefore) / 1024.0);

  timer.restart();
  qint64 chars = 0;
  for (query.First(); !query.Eof(); query.Next())
    for (int f = 0; f < query.FieldCount(); ++f) chars += query.Fields(f).AsString().size();
  const double walkSeconds = timer.elapsed() / 1000.0;
  std::printf("walk with AsString on every field: %.2f s, %.0f rows/s (%lld chars)\n", walkSeconds,
              rows / walkSeconds, static_cast<long long>(chars));
  return 0;
}
