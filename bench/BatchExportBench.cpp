// Runs qavtool-export, the real executable, on table Big and prints its time and peak memory
// beside the sqlite3 shell's for the same dump: text for 10,000 and 1,000,000 rows side by side
// (the memory must not grow with the rows), then each of the console's file writers on 32,766
// rows, the most that every format holds, and the Word document on 1,000 rows beside it (its
// memory grows with the rows). The two programs run in turns, several rounds, and the figures
// are the medians, so that a machine busy with other work weighs on both alike. Last, the cost of
// the T-SQL translation: a statement of T-SQL functions (CONVERT with a style, DATEADD, LEFT and
// +) beside the same statement in SQLite's own dialect, both through qavtool-export to text on
// the same table, in turns.
//   batch-export-bench [--rounds N] [--tsql-rows N] [--tsql-only] [TEXT_ROWS...]
//   (default 3 rounds; 10000 1000000 text rows; 1000000 T-SQL rows)
#include "bench/BenchArgs.h"
#include "bench/BenchProcess.h"
#include "bench/BenchTable.h"
#include "db/embedded/EmbeddedSuite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Run {
  bool ok = false;
  double seconds = 0;
  long peakKb = 0;  // the child's own high-water mark of resident memory
  double megabytes = 0;
  double cpuSeconds = 0;
};

// The children are measured through GNU time (bench/BenchProcess), which must be installed.
const char* const kTime = "/usr/bin/time";

// Runs the program with its standard output in `outFile` (when given) and its standard error in
// `errFile`, and reads its peak memory as it ends.
Run Measure(const QStringList& command, const QString& outFile, const QString& errFile) {
  const qav::bench::TProcessRun r = qav::bench::RunMeasured(command, outFile, errFile);
  Run run;
  run.ok = r.ok;
  run.seconds = r.seconds;
  run.peakKb = r.peakKb;
  run.cpuSeconds = r.cpuSeconds;
  return run;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The medians of several runs of one program; failed when any run failed.
Run MedianRun(const std::vector<Run>& runs) {
  Run m;
  m.ok = !runs.empty();
  std::vector<double> seconds, peaks, cpu;
  for (const Run& r : runs) {
    m.ok = m.ok && r.ok;
    seconds.push_back(r.seconds);
    cpu.push_back(r.cpuSeconds);
    peaks.push_back(static_cast<double>(r.peakKb));
    m.megabytes = r.megabytes;
  }
  m.seconds = Median(seconds);
  m.cpuSeconds = Median(cpu);
  m.peakKb = static_cast<long>(Median(peaks));
  return m;
}

QString Table(const QString& folder, long rows) {
  const QString suite = folder + QStringLiteral("/suite");
  QDir().mkpath(suite);
  qav::bench::MakeBigTable(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")),
                           rows);
  return suite;
}

Run Export(const QString& suite, const QString& format, const QString& out,
           const QString& query = QStringLiteral("select * from Big")) {
  Run run = Measure(
      {QStringLiteral(QAVTOOL_EXPORT_PATH), QStringLiteral("--server"),
       QStringLiteral("embedded:") + suite, QStringLiteral("--database"), QStringLiteral("BENCH"),
       QStringLiteral("--query"), query, QStringLiteral("--format"), format,
       QStringLiteral("--out"), out, QStringLiteral("--force")},
      {}, out + QStringLiteral(".log"));
  run.megabytes = QFileInfo(out).size() / 1048576.0;
  return run;
}

// The statement of T-SQL functions, and the same in SQLite's dialect.
const char kTsql[] =
    "select convert(varchar(10), SaleDate, 103), dateadd(day, 30, SaleDate), "
    "left(Code, 3) + '-' + Note from Big";
const char kSqlite[] =
    "select strftime('%d/%m/%Y', SaleDate), strftime('%Y-%m-%d %H:%M:%f', SaleDate, '+30 days'), "
    "substr(Code, 1, 3) || '-' || Note from Big";

void Print(const char* what, long rows, const Run& r) {
  if (!r.ok) {
    std::printf("%-22s %10ld   failed\n", what, rows);
    return;
  }
  std::printf("%-22s %10ld %9.2f %11.0f %9.1f %10.1f\n", what, rows, r.seconds, rows / r.seconds,
              r.megabytes, r.peakKb / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const qav::bench::BenchArgs args(
      argc, argv,
      "batch-export-bench [--rounds N] [--tsql-rows N] [--tsql-only] [TEXT_ROWS...]\n"
      "  (default 3 rounds; 10000 1000000 text rows; 1000000 T-SQL rows)",
      16, {"--rounds", "--tsql-rows"}, {"--tsql-only"});
  QCoreApplication app(argc, argv);
  const int rounds = static_cast<int>(args.Option("--rounds", 3));
  const long tsqlRows = args.Option("--tsql-rows", 1000000);
  std::vector<long> textRows = args.Numbers();
  if (textRows.empty() && !args.Flag("--tsql-only")) textRows = {10000, 1000000};
  if (!QFileInfo(QString::fromLatin1(kTime)).isExecutable()) {
    std::printf("%s: not installed (Debian package time)\n", kTime);
    return 1;
  }
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) std::printf("sqlite3 shell: not installed (Debian package sqlite3)\n");

  std::printf("medians of %d interleaved rounds\n", rounds);
  std::printf("%-22s %10s %9s %11s %9s %10s\n", "program", "rows", "seconds", "rows/s", "file MB",
              "peak MB");
  int failures = 0;
  for (long rows : textRows) {
    QTemporaryDir dir;
    const QString suite = Table(dir.path(), rows);
    std::vector<Run> ours, theirs;
    const auto runOurs = [&] {
      ours.push_back(
          Export(suite, QStringLiteral("txt"), dir.filePath(QStringLiteral("export.txt"))));
    };
    const auto runShell = [&] {
      const QString out = dir.filePath(QStringLiteral("shell.txt"));
      Run sqlite = Measure(
          {shell, QStringLiteral("-separator"), QStringLiteral("\t"),
           QDir(suite).filePath(QStringLiteral("BENCH.db")), QStringLiteral("select * from Big")},
          out, out + QStringLiteral(".log"));
      sqlite.megabytes = QFileInfo(out).size() / 1048576.0;
      theirs.push_back(sqlite);
    };
    for (int round = 0; round < rounds; ++round) {
      // Each goes first in every other round: neither always meets a warm or a cold cache.
      if (round % 2 == 0 || shell.isEmpty()) runOurs();
      if (!shell.isEmpty()) runShell();
      if (round % 2 == 1 && !shell.isEmpty()) runOurs();
    }
    const Run batch = MedianRun(ours);
    Print("qavtool-export txt", rows, batch);
    failures += !batch.ok;
    if (!theirs.empty()) {
      const Run sqlite = MedianRun(theirs);
      Print("sqlite3 -separator TAB", rows, sqlite);
      if (batch.ok && sqlite.ok)
        std::printf("%-22s %10ld   speed %.2f x the shell's, peak memory %.2f x\n", "ratio", rows,
                    sqlite.seconds / batch.seconds,
                    sqlite.peakKb > 0 ? static_cast<double>(batch.peakKb) / sqlite.peakKb : 0.0);
    }
  }

  // The T-SQL translation's cost: the same work in both dialects, in turns.
  {
    QTemporaryDir dir;
    const QString suite = Table(dir.path(), tsqlRows);
    const QString out = dir.filePath(QStringLiteral("dialect.txt"));
    std::vector<Run> tsql, sqlite;
    for (int round = 0; round < rounds; ++round) {
      const auto runTsql = [&] {
        tsql.push_back(Export(suite, QStringLiteral("txt"), out, QString::fromLatin1(kTsql)));
      };
      const auto runSqlite = [&] {
        sqlite.push_back(Export(suite, QStringLiteral("txt"), out, QString::fromLatin1(kSqlite)));
      };
      if (round % 2 == 0) runTsql();
      runSqlite();
      if (round % 2 == 1) runTsql();
    }
    std::printf("\n%s\n%s\n", kTsql, kSqlite);
    const Run a = MedianRun(tsql), b = MedianRun(sqlite);
    Print("T-SQL functions txt", tsqlRows, a);
    Print("SQLite dialect txt", tsqlRows, b);
    if (a.ok && b.ok) {
      std::printf("%-22s %10ld   T-SQL takes %.2f x the time of SQLite's dialect\n", "ratio",
                  tsqlRows, a.seconds / b.seconds);
      std::printf("%-22s %10ld   processor time %.2f s vs %.2f s: %.2f x\n", "", tsqlRows,
                  a.cpuSeconds, b.cpuSeconds, b.cpuSeconds > 0 ? a.cpuSeconds / b.cpuSeconds : 0.0);
    }
    failures += !a.ok || !b.ok;
  }
  if (args.Flag("--tsql-only")) return failures ? 1 : 0;

  // A Word table holds 32,767 rows with its title row, and a Quattro worksheet as many.
  for (long rows : {1000L, 32766L}) {
    QTemporaryDir dir;
    const QString suite = Table(dir.path(), rows);
    std::printf("\n");
    for (const char* format : {"txt", "xls", "wks", "wq1", "doc"}) {
      if (rows < 32766 && std::string(format) != "txt" && std::string(format) != "doc") continue;
      std::vector<Run> runs;
      for (int round = 0; round < rounds; ++round)
        runs.push_back(
            Export(suite, QString::fromLatin1(format),
                   dir.filePath(QStringLiteral("export.") + QString::fromLatin1(format))));
      const Run r = MedianRun(runs);
      Print((std::string("qavtool-export ") + format).c_str(), rows, r);
      failures += !r.ok;
    }
  }
  return failures ? 1 : 0;
}
