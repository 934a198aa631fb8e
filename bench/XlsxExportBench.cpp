// The Excel workbook export measured against its yardsticks, in one run, on each benchmark table
// (Big, and Real shaped like the suite's data):
//  1. on the same 65,000 rows of 10 columns: the console's .xlsx export beside xlsx-direct-bench
//     (libxlsxwriter called directly by a minimal C program: the library's own cost), and the
//     console's .xls export. Runs of the two .xlsx writers alternate, and each is timed both
//     elapsed and in processor time: on a loaded machine the elapsed times wander, and the ratio
//     is taken from the processor times, which do not;
//  2. qavtool-export --format xlsx on 10,000 and 1,000,000 rows: its peak memory must not grow
//     with the rows (the library's constant-memory mode).
//   xlsx-export-bench [ROWS] [BIG_ROWS] [RUNS]   (default 65000 1000000 3)
#include "bench/BenchArgs.h"
#include "bench/BenchProcess.h"
#include "bench/BenchTable.h"
#include "console/ResultGrid.h"
#include "core/FormatSettings.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"
#include "export/ExcelExport.h"
#include "export/XlsxExport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace {

QString MakeSuite(const QString& folder, const qav::bench::TBenchTable& table, long rows) {
  const QString suite = folder + QStringLiteral("/suite");
  QDir().mkpath(suite);
  table.make(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")), rows);
  return suite;
}

struct Timing {
  double seconds = 0;  // elapsed
  double cpu = 0;      // processor time, user and system
  bool ok = false;

  void KeepBest(const Timing& t) {
    if (!ok || t.cpu < cpu) *this = t;
  }
};

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// One in-process export from the console's grid.
Timing TimeExport(qav::TExportToCellFile& e, qav::TResultGrid& grid, const QString& file) {
  e.DataFormats.DecimalSeparator = u'.';
  e.DataFormats.ThousandSeparator = u',';
  e.DataFormats.DateSeparator = u'/';
  e.DataFormats.TimeSeparator = u':';
  e.SetDBGrid(&grid);
  e.AddTitle = true;
  e.AnimatedStatus = false;
  e.Options &= ~qav::TExportOptions(qav::soShowMessage);
  e.FileName = file;
  QElapsedTimer timer;
  timer.start();
  const double cpu = CpuSeconds();
  e.Execute();
  Timing t;
  t.cpu = CpuSeconds() - cpu;
  t.seconds = timer.nsecsElapsed() / 1e9;
  t.ok = e.RunStatus() == qav::rsDone;
  return t;
}

// The C program's own timings of its writing.
Timing TimeDirect(const qav::bench::TBenchTable& table, const QString& database,
                  const QString& file) {
  const QString out = file + QStringLiteral(".time");
  const auto r =
      qav::bench::RunMeasured({QStringLiteral(XLSX_DIRECT_PATH), database, file,
                               QString::fromLatin1(table.name), QString::fromLatin1(table.kinds)},
                              out, file + QStringLiteral(".log"));
  QFile times(out);
  Timing t;
  if (!r.ok || !times.open(QIODevice::ReadOnly)) return t;
  const QList<QByteArray> figures = times.readAll().trimmed().split(' ');
  if (figures.size() != 2) return t;
  t.seconds = figures[0].toDouble();
  t.cpu = figures[1].toDouble();
  t.ok = true;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const qav::bench::BenchArgs args(
      argc, argv, "xlsx-export-bench [ROWS [BIG_ROWS [RUNS]]]   (default 65000 1000000 3)", 3);
  const long rows = args.Number(0, 65000);
  const long bigRows = args.Number(1, 1000000);
  const int runs = static_cast<int>(args.Number(2, 3));
  qav::FormatSettings().ShortDateFormat = QStringLiteral("dd/mm/yyyy");
  int failures = 0;
  for (const qav::bench::TBenchTable& table : qav::bench::BenchTables()) {
    {
      QTemporaryDir dir;
      const QString suite = MakeSuite(dir.path(), table, rows);
      qav::db::TDatabase db;
      db.SetDatabaseName(QStringLiteral("DMDATA"));
      db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                     QStringLiteral("SERVER NAME=embedded:") + suite};
      qav::db::TQuery query;
      query.SetDatabaseName(QStringLiteral("DMDATA"));
      query.SetSQL(table.SelectAll());
      qav::TResultGrid grid;
      grid.SetDataSource(&query);
      query.Open();

      const QString database = QDir(suite).filePath(QStringLiteral("BENCH.db"));
      Timing xlsx, direct, xls;
      bool ok = true;
      for (int run = 0; run < runs && ok; ++run) {
        qav::TExportToXlsx workbook;
        const Timing ours = TimeExport(workbook, grid, dir.filePath(QStringLiteral("export.xlsx")));
        const Timing theirs =
            TimeDirect(table, database, dir.filePath(QStringLiteral("direct.xlsx")));
        qav::TExportToXLS worksheet;
        const Timing classic =
            TimeExport(worksheet, grid, dir.filePath(QStringLiteral("export.xls")));
        ok = ours.ok && theirs.ok && classic.ok;
        xlsx.KeepBest(ours);
        direct.KeepBest(theirs);
        xls.KeepBest(classic);
      }
      std::printf("table %s, rows: %ld, columns: 10, best of %d runs\n", table.name, rows, runs);
      std::printf("%-34s %9s %9s %11s %9s\n", "writer", "seconds", "CPU s", "rows/s", "MB");
      const auto line = [&](const char* what, const Timing& t, const QString& file) {
        if (!t.ok) {
          std::printf("%-34s   failed\n", what);
          ++failures;
          return;
        }
        std::printf("%-34s %9.3f %9.3f %11.0f %9.2f\n", what, t.seconds, t.cpu, rows / t.seconds,
                    QFileInfo(dir.filePath(file)).size() / 1048576.0);
      };
      line("xlsx (console's export)", xlsx, QStringLiteral("export.xlsx"));
      line("xlsx (libxlsxwriter called from C)", direct, QStringLiteral("direct.xlsx"));
      line("xls (console's export)", xls, QStringLiteral("export.xls"));
      if (xlsx.ok && direct.ok && direct.cpu > 0)
        std::printf(
            "xlsx export / libxlsxwriter alone: %.2f in processor time, %.2f elapsed (target at "
            "most 1.20)\n",
            xlsx.cpu / direct.cpu, xlsx.seconds / direct.seconds);
    }

    std::printf("\n%-34s %10s %9s %10s\n",
                ("qavtool-export --format xlsx, " + std::string(table.name)).c_str(), "rows",
                "seconds", "peak MB");
    long peaks[2] = {0, 0};
    const long counts[2] = {10000, bigRows};
    for (int i = 0; i < 2; ++i) {
      QTemporaryDir dir;
      const QString suite = MakeSuite(dir.path(), table, counts[i]);
      const QString out = dir.filePath(QStringLiteral("export.xlsx"));
      const auto r = qav::bench::RunMeasured(
          {QStringLiteral(QAVTOOL_EXPORT_PATH), QStringLiteral("--server"),
           QStringLiteral("embedded:") + suite, QStringLiteral("--database"),
           QStringLiteral("BENCH"), QStringLiteral("--query"), table.SelectAll(),
           QStringLiteral("--format"), QStringLiteral("xlsx"), QStringLiteral("--out"), out,
           QStringLiteral("--force")},
          {}, out + QStringLiteral(".log"));
      if (!r.ok) {
        std::printf("%-34s %10ld   failed\n", "", counts[i]);
        ++failures;
        continue;
      }
      peaks[i] = r.peakKb;
      std::printf("%-34s %10ld %9.2f %10.1f\n", "", counts[i], r.seconds, r.peakKb / 1024.0);
    }
    if (peaks[0] > 0 && peaks[1] > 0)
      std::printf("peak memory, %ld rows / 10,000 rows: %.2f\n", bigRows,
                  static_cast<double>(peaks[1]) / peaks[0]);
    std::printf("\n");
  }
  return failures ? 1 : 0;
}
