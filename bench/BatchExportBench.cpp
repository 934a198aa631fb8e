// Runs qavtool-export, the real executable, on table Big and prints its time and peak memory
// beside the sqlite3 shell's for the same dump: text for 10,000 and 1,000,000 rows side by side
// (the memory must not grow with the rows), then each of the console's file writers on 32,766
// rows, the most that every format holds, and the Word document on 1,000 rows beside it (its
// memory grows with the rows). The two programs run in turns, several rounds, and the figures
// are the medians, so that a machine busy with other work weighs on both alike.
//   batch-export-bench [--rounds N] [TEXT_ROWS...]   (default 3 rounds; 10000 1000000 rows)
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
  std::vector<double> seconds, peaks;
  for (const Run& r : runs) {
    m.ok = m.ok && r.ok;
    seconds.push_back(r.seconds);
    peaks.push_back(static_cast<double>(r.peakKb));
    m.megabytes = r.megabytes;
  }
  m.seconds = Median(seconds);
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

Run Export(const QString& suite, const QString& format, const QString& out) {
  Run run = Measure(
      {QStringLiteral(QAVTOOL_EXPORT_PATH), QStringLiteral("--server"),
       QStringLiteral("embedded:") + suite, QStringLiteral("--database"), QStringLiteral("BENCH"),
       QStringLiteral("--query"), QStringLiteral("select * from Big"), QStringLiteral("--format"),
       format, QStringLiteral("--out"), out, QStringLiteral("--force")},
      {}, out + QStringLiteral(".log"));
  run.megabytes = QFileInfo(out).size() / 1048576.0;
  return run;
}

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
      "batch-export-bench [--rounds N] [TEXT_ROWS...]   (default 3 rounds; 10000 1000000 rows)", 16,
      {"--rounds"});
  QCoreApplication app(argc, argv);
  const int rounds = static_cast<int>(args.Option("--rounds", 3));
  std::vector<long> textRows = args.Numbers();
  if (textRows.empty()) textRows = {10000, 1000000};
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
