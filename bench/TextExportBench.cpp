// Exports a large result from the console's grid to text with the console's settings and
// compares the time with the sqlite3 shell writing the same rows tab-separated: the export of
// the rows already in the grid, and the whole way from F5 (the statement opened in the grid) to
// the file, on both benchmark tables (Big, and Real shaped like the suite's data). The shell
// and the console run in turns, several rounds; the figures are medians.
//   text-export-bench [ROWS [ROUNDS]]     (default 1,000,000 rows of 10 columns, 3 rounds)
#include "bench/BenchArgs.h"
#include "bench/BenchTable.h"
#include "console/ResultGrid.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"
#include "export/TextExport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The figures of one table of the suite; 1 when the export failed.
int RunTable(QApplication& app, const QTemporaryDir& dir, const QString& suite,
             const QString& table, const QString& shell, const QString& name, long rows,
             int rounds) {
  std::printf("\ntable %s, rows: %ld, columns: 10, medians of %d interleaved rounds\n",
              qPrintable(name), rows, rounds);
  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("DMDATA"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("DMDATA"));
  query.SetBackgroundFetch(true);  // as the console runs its statements
  query.SetSQL(QStringLiteral("select * from ") + name);
  qav::TResultGrid grid;
  grid.SetDataSource(&query);

  // The console's text component.
  qav::TExportToText e;
  e.DataFormats.DecimalSeparator = u'.';
  e.DataFormats.ThousandSeparator = u',';
  e.DataFormats.DateSeparator = u'/';
  e.DataFormats.TimeSeparator = u':';
  e.DataFormats.CurrencyString = QStringLiteral("฿");
  e.SetDBGrid(&grid);
  e.AddTitle = true;
  e.TextQualifying = qav::tqAny;
  e.Options &= ~qav::TExportOptions(qav::soShowMessage);
  e.FileName = dir.filePath(QStringLiteral("export.txt"));

  std::vector<double> shellTimes, openTimes, exportTimes, totalTimes;
  double shellMb = 0, peakMb = 0;
  int status = qav::rsDone;
  for (int round = 0; round < rounds; ++round) {
    if (!shell.isEmpty()) {
      QProcess p;
      p.setStandardOutputFile(dir.filePath(QStringLiteral("shell.txt")));
      QElapsedTimer timer;
      timer.start();
      p.start(shell, {QStringLiteral("-separator"), QStringLiteral("\t"), table,
                      QStringLiteral("select * from ") + name});
      p.waitForFinished(-1);
      shellTimes.push_back(timer.elapsed() / 1000.0);
      shellMb = QFileInfo(dir.filePath(QStringLiteral("shell.txt"))).size() / 1048576.0;
    }

    query.Close();
    QElapsedTimer timer;
    timer.start();
    query.Open();
    // F5 ends when the last row is in the grid.
    while (query.Fetching()) app.processEvents(QEventLoop::WaitForMoreEvents);
    const double openSeconds = timer.elapsed() / 1000.0;

    const long rssBefore = StatusKb("VmRSS:");
    ResetPeak();
    timer.restart();
    e.Execute();
    const double exportSeconds = timer.elapsed() / 1000.0;
    peakMb = std::max(peakMb, (StatusKb("VmHWM:") - rssBefore) / 1024.0);
    status = e.RunStatus();
    openTimes.push_back(openSeconds);
    exportTimes.push_back(exportSeconds);
    totalTimes.push_back(openSeconds + exportSeconds);
  }

  const double shellSeconds = Median(shellTimes);
  const double exportSeconds = Median(exportTimes);
  const double totalSeconds = Median(totalTimes);
  if (shellSeconds > 0)
    std::printf("sqlite3 -separator TAB:        %6.2f s  %9.0f rows/s  %.1f MB\n", shellSeconds,
                rows / shellSeconds, shellMb);
  std::printf("F5, all rows in the grid:      %6.2f s\n", Median(openTimes));
  std::printf("export of the grid to text:    %6.2f s  %9.0f rows/s  %.1f MB (status %d)\n",
              exportSeconds, rows / exportSeconds, QFileInfo(e.FileName).size() / 1048576.0,
              status);
  std::printf("F5 to the file:                %6.2f s  %9.0f rows/s\n", totalSeconds,
              rows / totalSeconds);
  if (shellSeconds > 0)
    std::printf("speed / shell speed: export only %.2f, F5 to the file %.2f\n",
                shellSeconds / exportSeconds, shellSeconds / totalSeconds);
  std::printf("resident memory added during the export (peak): %.1f MB\n", peakMb);
  return status == qav::rsDone ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const qav::bench::BenchArgs args(
      argc, argv,
      "text-export-bench [ROWS [ROUNDS]]   (default 1000000 rows of 10 columns, 3 rounds)", 2);
  const long rows = args.Number(0, 1000000);
  const int rounds = static_cast<int>(args.Number(1, 3));
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  const QString table = qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH"));
  for (const qav::bench::TBenchTable& t : qav::bench::BenchTables()) t.make(table, rows);
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) std::printf("sqlite3 shell: not installed (Debian package sqlite3)\n");
  int failures = 0;
  for (const qav::bench::TBenchTable& t : qav::bench::BenchTables())
    failures += RunTable(app, dir, suite, table, shell, QString::fromLatin1(t.name), rows, rounds);
  return failures ? 1 : 0;
}
