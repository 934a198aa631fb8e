#include "bench/BenchProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <string>
#include <vector>

extern char** environ;

namespace qav::bench {

TProcessRun RunMeasured(const QStringList& command, const QString& outFile,
                        const QString& errFile) {
  // The peak memory comes from GNU time, which reads it for the child alone: wait4's figure on
  // Linux includes what the child inherited from this process, the benchmark's own memory.
  const QString peakFile = errFile + QStringLiteral(".peak");
  std::vector<std::string> args = {"/usr/bin/time", "-f", "%U %S %M", "-o",
                                   QFile::encodeName(peakFile).toStdString()};
  for (const QString& a : command) args.push_back(QFile::encodeName(a).toStdString());
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
  TProcessRun run;
  QElapsedTimer timer;
  timer.start();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return run;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return run;
  run.seconds = timer.nsecsElapsed() / 1e9;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  QFile peak(peakFile);
  if (peak.open(QIODevice::ReadOnly)) {
    // The last line: time puts a note about an abnormal end before it.
    const QList<QByteArray> lines = peak.readAll().trimmed().split('\n');
    const QList<QByteArray> figures = lines.last().trimmed().split(' ');
    if (figures.size() == 3) {
      run.cpuSeconds = figures[0].toDouble() + figures[1].toDouble();
      run.peakKb = figures[2].toLong();
    }
  }
  return run;
}

}  // namespace qav::bench
