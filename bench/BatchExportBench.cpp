// Runs qavtool-export, the real executable, on table Big and prints its time and peak memory
// beside the sqlite3 shell's for the same dump: text for 10,000 and 1,000,000 rows side by side
// (the memory must not grow with the rows), then each of the console's file writers on 32,766
// rows, the most that every format holds, and the Word document on 1,000 rows beside it (its
// memory grows with the rows).
//   batch-export-bench [TEXT_ROWS...]   (default 10000 1000000)
#include "bench/BenchTable.h"
#include "db/embedded/EmbeddedSuite.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
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

// Runs the program with its standard output in `outFile` (when given) and its standard error in
// `errFile`, and reads its resources as it ends.
Run Measure(const QStringList& command, const QString& outFile, const QString& errFile) {
  std::vector<std::string> args;
  for (const QString& a : command) args.push_back(a.toStdString());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!outFile.isEmpty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                     QFile::encodeName(outFile).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, QFile::encodeName(errFile).constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Run run;
  QElapsedTimer timer;
  timer.start();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = timer.nsecsElapsed() / 1e9;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakKb = usage.ru_maxrss;
  return run;
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
  QCoreApplication app(argc, argv);
  std::vector<long> textRows;
  for (int i = 1; i < argc; ++i) textRows.push_back(std::stol(argv[i]));
  if (textRows.empty()) textRows = {10000, 1000000};
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) std::printf("sqlite3 shell: not installed (Debian package sqlite3)\n");

  std::printf("%-22s %10s %9s %11s %9s %10s\n", "program", "rows", "seconds", "rows/s", "file MB",
              "peak MB");
  int failures = 0;
  for (long rows : textRows) {
    QTemporaryDir dir;
    const QString suite = Table(dir.path(), rows);
    const Run batch =
        Export(suite, QStringLiteral("txt"), dir.filePath(QStringLiteral("export.txt")));
    Print("qavtool-export txt", rows, batch);
    failures += !batch.ok;
    if (!shell.isEmpty()) {
      const QString out = dir.filePath(QStringLiteral("shell.txt"));
      Run sqlite = Measure(
          {shell, QStringLiteral("-separator"), QStringLiteral("\t"),
           QDir(suite).filePath(QStringLiteral("BENCH.db")), QStringLiteral("select * from Big")},
          out, out + QStringLiteral(".log"));
      sqlite.megabytes = QFileInfo(out).size() / 1048576.0;
      Print("sqlite3 -separator TAB", rows, sqlite);
    }
  }

  // A Word table holds 32,767 rows with its title row, and a Quattro worksheet as many.
  for (long rows : {1000L, 32766L}) {
    QTemporaryDir dir;
    const QString suite = Table(dir.path(), rows);
    std::printf("\n");
    for (const char* format : {"txt", "xls", "wks", "wq1", "doc"}) {
      if (rows < 32766 && std::string(format) != "txt" && std::string(format) != "doc") continue;
      const Run r = Export(suite, QString::fromLatin1(format),
                           dir.filePath(QStringLiteral("export.") + QString::fromLatin1(format)));
      Print((std::string("qavtool-export ") + format).c_str(), rows, r);
      failures += !r.ok;
    }
  }
  return failures ? 1 : 0;
}
