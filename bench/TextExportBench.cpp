// Exports a large result from the console's grid to text with the console's settings and
// compares the time with the sqlite3 shell writing the same rows tab-separated.
//   text-export-bench [ROWS]     (default 1,000,000 rows of 10 columns)
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
#include <cstdio>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  const QString table = qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH"));
  qav::bench::MakeBigTable(table, rows);
  std::printf("rows: %ld, columns: 10\n", rows);

  // The shell, writing the same rows to a file on the same disk.
  double shellSeconds = 0;
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) {
    std::printf("sqlite3 shell: not installed (Debian package sqlite3)\n");
  } else {
    QProcess p;
    p.setStandardOutputFile(dir.filePath(QStringLiteral("shell.txt")));
    QElapsedTimer timer;
    timer.start();
    p.start(shell, {QStringLiteral("-separator"), QStringLiteral("\t"), table,
                    QStringLiteral("select * from Big")});
    p.waitForFinished(-1);
    shellSeconds = timer.elapsed() / 1000.0;
    std::printf("sqlite3 -separator TAB: %.2f s, %.0f rows/s, %.1f MB\n", shellSeconds,
                rows / shellSeconds,
                QFileInfo(dir.filePath(QStringLiteral("shell.txt"))).size() / 1048576.0);
  }

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("DMDATA"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"),
                 QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("DMDATA"));
  query.SetSQL(QStringLiteral("select * from Big"));
  qav::TResultGrid grid;
  grid.SetDataSource(&query);
  QElapsedTimer timer;
  timer.start();
  query.Open();
  std::printf("statement opened in the grid: %.2f s\n", timer.elapsed() / 1000.0);

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

  const long rssBefore = StatusKb("VmRSS:");
  ResetPeak();
  timer.restart();
  e.Execute();
  const double exportSeconds = timer.elapsed() / 1000.0;
  const long peak = StatusKb("VmHWM:");
  std::printf("export to text: %.2f s, %.0f rows/s, %.1f MB (status %d)\n", exportSeconds,
              rows / exportSeconds, QFileInfo(e.FileName).size() / 1048576.0, e.RunStatus());
  if (shellSeconds > 0)
    std::printf("export speed / shell speed: %.2f\n", shellSeconds / exportSeconds);
  std::printf("resident memory added during the export (peak): %.1f MB\n",
              (peak - rssBefore) / 1024.0);
  return e.RunStatus() == qav::rsDone ? 0 : 1;
}
