// Exports a result from the console's grid with each of the console's file writers (text,
// Excel, Lotus, Quattro) and the console's settings, and prints their throughput side by side,
// on both benchmark tables (Big, and Real shaped like the suite's data).
//   worksheet-export-bench [ROWS] [RUNS]   (default 60,000 rows of 10 columns, best of 3 runs)
// The worksheet formats number their rows in 16 bits, so ROWS stays below 65,536.
#include "bench/BenchArgs.h"
#include "bench/BenchTable.h"
#include "console/ResultGrid.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"
#include "export/ExcelExport.h"
#include "export/LotusExport.h"
#include "export/QuattroExport.h"
#include "export/TextExport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

struct Writer {
  const char* name;
  const char* file;
  std::function<std::unique_ptr<qav::TExportToCellFile>()> make;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const qav::bench::BenchArgs args(
      argc, argv,
      "worksheet-export-bench [ROWS [RUNS]]   (default 60000 rows of 10 columns, best of 3 runs; "
      "ROWS below 65536)",
      2);
  const long rows = args.Number(0, 60000);
  const int runs = static_cast<int>(args.Number(1, 3));
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  const QString file = qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH"));
  for (const qav::bench::TBenchTable& t : qav::bench::BenchTables()) t.make(file, rows);
  qav::FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("DMDATA"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  int failures = 0;
  for (const qav::bench::TBenchTable& table : qav::bench::BenchTables()) {
    qav::db::TQuery query;
    query.SetDatabaseName(QStringLiteral("DMDATA"));
    query.SetSQL(QStringLiteral("select * from ") + QString::fromLatin1(table.name));
    qav::TResultGrid grid;
    grid.SetDataSource(&query);
    query.Open();
    std::printf("\ntable %s, rows: %ld, columns: 10, best of %d runs\n", table.name, rows, runs);
    std::printf("%-8s %9s %11s %12s %9s %9s %9s\n", "writer", "seconds", "rows/s", "cells/s", "MB",
                "MB/s", "vs text");

    const Writer writers[] = {
        {"text", "export.txt", [] { return std::make_unique<qav::TExportToText>(); }},
        {"excel", "export.xls", [] { return std::make_unique<qav::TExportToXLS>(); }},
        {"lotus", "export.wks", [] { return std::make_unique<qav::TExportToWKS>(); }},
        {"quattro", "export.wq1", [] { return std::make_unique<qav::TExportToQuattro>(); }},
    };
    double textSeconds = 0;
    for (const Writer& w : writers) {
      double best = 0;
      qint64 size = 0;
      for (int run = 0; run < runs; ++run) {
        auto e = w.make();
        e->DataFormats.DecimalSeparator = u'.';
        e->DataFormats.ThousandSeparator = u',';
        e->DataFormats.DateSeparator = u'/';
        e->DataFormats.TimeSeparator = u':';
        e->DataFormats.CurrencyString = QStringLiteral("฿");
        e->SetDBGrid(&grid);
        e->AddTitle = true;
        e->AnimatedStatus = false;
        e->Options &= ~qav::TExportOptions(qav::soShowMessage);
        e->FileName = dir.filePath(QString::fromLatin1(w.file));
        QElapsedTimer timer;
        timer.start();
        e->Execute();
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (e->RunStatus() != qav::rsDone) {
          std::printf("%-8s failed (status %d)\n", w.name, e->RunStatus());
          ++failures;
          break;
        }
        if (run == 0 || seconds < best) best = seconds;
        size = QFileInfo(e->FileName).size();
      }
      if (best <= 0) continue;
      if (textSeconds == 0) textSeconds = best;
      std::printf("%-8s %9.3f %11.0f %12.0f %9.2f %9.1f %8.2fx\n", w.name, best, rows / best,
                  rows * 10 / best, size / 1048576.0, size / 1048576.0 / best, textSeconds / best);
    }
  }
  return failures ? 1 : 0;
}
