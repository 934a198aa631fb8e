// Runs qavtool-export, the real executable, on scripts as SQL Server Management Studio's script
// generator writes them: a CREATE TABLE, then one INSERT [dbo].[T] (...) VALUES (...) line per
// row with no ";" between statements, and a final SELECT; and on the same scripts with ";" after
// each statement. Prints the time per statement for each size (flat when running a script is
// linear in its statements) and the ratio of the time without ";" to the time with it. The suite
// lies in /dev/shm where there is one, so that the disk's flush after each INSERT (SQLite commits
// each statement of a script on its own) does not hide the work on the statements; the figures are
// processor time, steadier on a busy machine than the time on the clock, which is printed beside.
//   script-statements-bench [--rounds N] [STATEMENTS...]
//   (default 3 rounds; 5000 10000 20000 statements)
#include "bench/BenchArgs.h"
#include "bench/BenchProcess.h"
#include "tools/DemoSuite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

const char* const kTime = "/usr/bin/time";

const char* const kNames[] = {"บริษัท สยามเทรดดิ้ง จำกัด", "ห้างหุ้นส่วนจำกัด ทองดี",
                              "Bangkok Office Supply Co., Ltd.", "ร้าน มั่นคงพาณิชย์"};

// The script for `statements` INSERT statements into `table`, each ended by `end` ("" or ";").
QByteArray Script(const QString& table, long statements, const char* end) {
  QString s;
  s.reserve(statements * 130);
  s += QStringLiteral(
           "CREATE TABLE [dbo].[%1](\n\t[Id] [int] NOT NULL,\n\t[Name] [nvarchar](100) NULL,\n"
           "\t[Amount] [decimal](18, 2) NULL,\n\t[Day] [date] NULL\n)%2\n")
           .arg(table, QLatin1StringView(end));
  for (long i = 1; i <= statements; ++i) {
    const int day = static_cast<int>(i % 28) + 1;
    s += QStringLiteral(
             "INSERT [dbo].[%1] ([Id], [Name], [Amount], [Day]) VALUES (%2, N'%3 %2', %4.%5, "
             "CAST(N'2024-01-%6' AS Date))%7\n")
             .arg(table)
             .arg(i)
             .arg(QString::fromUtf8(kNames[i % std::size(kNames)]))
             .arg(i % 10000)
             .arg(i % 100, 2, 10, QChar(u'0'))
             .arg(day, 2, 10, QChar(u'0'))
             .arg(QLatin1StringView(end));
  }
  s += QStringLiteral("SELECT COUNT(*), SUM([Amount]) FROM [dbo].[%1]%2\n")
           .arg(table, QLatin1StringView(end));
  return s.toUtf8();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const qav::bench::BenchArgs args(argc, argv,
                                   "script-statements-bench [--rounds N] [STATEMENTS...]\n"
                                   "  (default 3 rounds; 5000 10000 20000 statements)",
                                   16, {"--rounds"});
  QCoreApplication app(argc, argv);
  const int rounds = static_cast<int>(args.Option("--rounds", 3));
  std::vector<long> sizes = args.Numbers();
  if (sizes.empty()) sizes = {5000, 10000, 20000};
  if (!QFileInfo(QString::fromLatin1(kTime)).isExecutable()) {
    std::printf("%s: not installed (Debian package time)\n", kTime);
    return 1;
  }
  const QString shm = QStringLiteral("/dev/shm");
  QTemporaryDir dir(QFileInfo(shm).isWritable()
                        ? shm + QStringLiteral("/script-statements-bench-XXXXXX")
                        : QDir::tempPath() + QStringLiteral("/script-statements-bench-XXXXXX"));
  std::printf("suite in %s\n", qPrintable(dir.path()));
  const QString suite = dir.filePath(QStringLiteral("suite"));
  qav::demo::CreateDemoSuite(suite);
  int failures = 0;
  int tables = 0;
  // One run of a script: its processor and clock seconds; negative when it failed.
  const auto run = [&](long statements, const char* end) {
    const QString script = dir.filePath(QStringLiteral("script.sql"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly)) return std::pair(-1.0, -1.0);
    file.write(Script(QStringLiteral("Rows%1").arg(++tables), statements, end));
    file.close();
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    const qav::bench::TProcessRun r = qav::bench::RunMeasured(
        {QStringLiteral(QAVTOOL_EXPORT_PATH), QStringLiteral("--server"),
         QStringLiteral("embedded:") + suite, QStringLiteral("--database"), QStringLiteral("DEMO"),
         QStringLiteral("--sql"), script, QStringLiteral("--format"), QStringLiteral("txt"),
         QStringLiteral("--out"), out, QStringLiteral("--force")},
        {}, out + QStringLiteral(".log"));
    return r.ok ? std::pair(r.cpuSeconds, r.seconds) : std::pair(-1.0, -1.0);
  };
  std::printf("medians of %d interleaved rounds: processor seconds, µs per statement, clock s\n",
              rounds);
  std::printf("%10s %10s %10s %10s %10s %10s %10s %8s\n", "statements", "no ; s", "no ; µs",
              "no ; clock", "with ; s", "with ; µs", "with clock", "ratio");
  for (const long statements : sizes) {
    std::vector<std::pair<double, double>> without, with;
    for (int round = 0; round < rounds; ++round) {
      // Each goes first in every other round: neither always meets a warm or a cold cache.
      if (round % 2 == 0) without.push_back(run(statements, ""));
      with.push_back(run(statements, ";"));
      if (round % 2 == 1) without.push_back(run(statements, ""));
    }
    const auto failed = [](const auto& r) { return r.first < 0; };
    const bool ok = std::none_of(without.begin(), without.end(), failed) &&
                    std::none_of(with.begin(), with.end(), failed);
    if (!ok) {
      std::printf("%10ld   failed (see %s)\n", statements,
                  qPrintable(dir.filePath(QStringLiteral("out.txt.log"))));
      ++failures;
      dir.setAutoRemove(false);
      continue;
    }
    const auto median = [](const std::vector<std::pair<double, double>>& runs, bool clock) {
      std::vector<double> values;
      for (const auto& r : runs) values.push_back(clock ? r.second : r.first);
      return Median(values);
    };
    const double a = median(without, false), b = median(with, false);
    const double count = static_cast<double>(statements + 2);
    std::printf("%10ld %10.2f %10.1f %10.2f %10.2f %10.1f %10.2f %8.2f\n", statements, a,
                a / count * 1e6, median(without, true), b, b / count * 1e6, median(with, true),
                a / b);
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
