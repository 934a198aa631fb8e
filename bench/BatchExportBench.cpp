// Runs qavtool-export, the real executable, and prints its time and peak memory beside a peer's
// for the same dump, on both benchmark tables (Big, and Real shaped like the suite's data):
// text beside `sqlite3 -separator TAB` and CSV beside `sqlite3 -csv` for 10,000 and 1,000,000
// rows (the memory must not grow with the rows); text through ODBC from the TDS test server
// beside FreeTDS's bsqldb; then each of the console's file writers on 32,766 rows, the most
// that every format holds, and the Word document on 1,000 rows beside it (its memory grows with
// the rows). The two programs run in turns, several rounds, and the figures are the medians, so
// that a machine busy with other work weighs on both alike.
// It also runs one T-SQL query and the same query in SQLite's dialect through qavtool-export on
// the Big table, in turns, for what the translation of the T-SQL functions costs, and everyday
// queries on the demo's 50,000-row Sales table beside an earlier build of qavtool-export.
//   batch-export-bench [--rounds N] [--odbc-rows N] [--no-odbc] [--tsql-rows N] [--tsql-only]
//                      [--sales-only] [--baseline QAVTOOL_EXPORT] [TEXT_ROWS...]
//   (default 3 rounds; 10000 1000000 rows; ODBC and T-SQL 1000000 rows)
#include "bench/BenchArgs.h"
#include "bench/BenchProcess.h"
#include "bench/BenchTable.h"
#include "db/embedded/EmbeddedSuite.h"
#include "tools/DemoSuite.h"
#include "tools/tds/TdsServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
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

QString Table(const QString& folder, const qav::bench::TBenchTable& table, long rows) {
  const QString suite = folder + QStringLiteral("/suite");
  QDir().mkpath(suite);
  table.make(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")), rows);
  return suite;
}

QString Select(const qav::bench::TBenchTable& table) {
  return table.SelectAll();
}

// Runs `program` (qavtool-export, or an earlier build of it) on one query of `database`.
// `server` is "embedded:FOLDER" or an SQL Server's "HOST,PORT".
Run ExportQuery(const QString& program, const QString& server, const QString& database,
                const QString& query, const QString& format, const QString& out) {
  Run run = Measure({program, QStringLiteral("--server"), server, QStringLiteral("--database"),
                     database, QStringLiteral("--query"), query, QStringLiteral("--format"), format,
                     QStringLiteral("--out"), out, QStringLiteral("--force")},
                    {}, out + QStringLiteral(".log"));
  run.megabytes = QFileInfo(out).size() / 1048576.0;
  return run;
}

Run Export(const QString& server, const qav::bench::TBenchTable& table, const QString& format,
           const QString& out, const QString& query = {}) {
  return ExportQuery(QStringLiteral(QAVTOOL_EXPORT_PATH), server, QStringLiteral("BENCH"),
                     query.isEmpty() ? Select(table) : query, format, out);
}

// A peer writing to standard output.
Run Peer(const QStringList& command, const QString& out) {
  Run run = Measure(command, out, out + QStringLiteral(".log"));
  run.megabytes = QFileInfo(out).size() / 1048576.0;
  return run;
}

void Print(const std::string& what, long rows, const Run& r) {
  if (!r.ok) {
    std::printf("%-30s %10ld   failed\n", what.c_str(), rows);
    return;
  }
  std::printf("%-30s %10ld %9.2f %11.0f %9.1f %10.1f\n", what.c_str(), rows, r.seconds,
              rows / r.seconds, r.megabytes, r.peakKb / 1024.0);
}

// Runs ours and the peer in turns, `rounds` times, and prints both medians and their ratio;
// returns 1 when ours failed.
int Pair(int rounds, long rows, const std::string& oursName, const std::function<Run()>& runOurs,
         const std::string& peerName, const std::function<Run()>& runPeer) {
  std::vector<Run> ours, theirs;
  for (int round = 0; round < rounds; ++round) {
    // Each goes first in every other round: neither always meets a warm or a cold cache.
    if (round % 2 == 0 || !runPeer) ours.push_back(runOurs());
    if (runPeer) theirs.push_back(runPeer());
    if (round % 2 == 1 && runPeer) ours.push_back(runOurs());
  }
  const Run batch = MedianRun(ours);
  Print(oursName, rows, batch);
  if (!theirs.empty()) {
    const Run peer = MedianRun(theirs);
    Print(peerName, rows, peer);
    if (batch.ok && peer.ok)
      std::printf("%-30s %10ld   speed %.2f x the peer's, peak memory %.2f x\n", "ratio", rows,
                  peer.seconds / batch.seconds,
                  peer.peakKb > 0 ? static_cast<double>(batch.peakKb) / peer.peakKb : 0.0);
  }
  return batch.ok ? 0 : 1;
}

// The same work written with the T-SQL functions and in SQLite's dialect.
const char kTsql[] =
    "select convert(varchar(10), SaleDate, 103), dateadd(day, 30, SaleDate), "
    "left(Code, 3) + '-' + Note from Big";
const char kSqlite[] =
    "select strftime('%d/%m/%Y', SaleDate), strftime('%Y-%m-%d %H:%M:%f', SaleDate, '+30 days'), "
    "substr(Code, 1, 3) || '-' || Note from Big";

// The T-SQL translation's cost: both dialects in turns on the Big table; 1 when either failed.
int TranslationCost(int rounds, long rows) {
  const qav::bench::TBenchTable& big = qav::bench::BenchTables().front();
  QTemporaryDir dir;
  const QString server = QStringLiteral("embedded:") + Table(dir.path(), big, rows);
  const QString out = dir.filePath(QStringLiteral("dialect.txt"));
  std::vector<Run> tsql, sqlite;
  const auto runTsql = [&] {
    tsql.push_back(Export(server, big, QStringLiteral("txt"), out, QString::fromLatin1(kTsql)));
  };
  const auto runSqlite = [&] {
    sqlite.push_back(Export(server, big, QStringLiteral("txt"), out, QString::fromLatin1(kSqlite)));
  };
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) runTsql();
    runSqlite();
    if (round % 2 == 1) runTsql();
  }
  std::printf("\n%s\n%s\n", kTsql, kSqlite);
  const Run a = MedianRun(tsql), b = MedianRun(sqlite);
  Print("T-SQL functions txt", rows, a);
  Print("SQLite dialect txt", rows, b);
  if (a.ok && b.ok) {
    std::printf("%-30s %10ld   T-SQL takes %.2f x the time of SQLite's dialect\n", "ratio", rows,
                a.seconds / b.seconds);
    std::printf("%-30s %10ld   processor time %.2f s vs %.2f s: %.2f x\n", "", rows, a.cpuSeconds,
                b.cpuSeconds, b.cpuSeconds > 0 ? a.cpuSeconds / b.cpuSeconds : 0.0);
  }
  return !a.ok || !b.ok;
}

// Everyday console queries on the demo's 50,000-row Sales table: texts compared, sorted,
// grouped and matched, and arithmetic on money and dates.
const char* const kSalesQueries[] = {
    "select * from Sales",
    "select s.DocNo, c.NameThai, s.Amount * s.ExchangeRate from Sales s join Customer c on "
    "c.Id = s.Customer where s.DocNo like 'IV24%' and c.NameEng <> 'x' order by s.DocNo desc",
    "select DocNo, count(*), sum(Amount), avg(Qty) from Sales group by DocNo order by DocNo",
    "select distinct Remark from Sales where Remark is not null order by Remark",
    "select convert(varchar(10), DocDate, 103), Amount + VatAmount, Qty / 2, DocDate + 30, "
    "upper(DocNo) + '-' + cast(ItemNo as varchar) from Sales where DocNo >= 'IV2406'",
};

// The batch exporter's throughput on those queries, beside `baseline`, an earlier build of
// qavtool-export, when given: what the way the suite compares texts and counts costs a user.
int SalesThroughput(int rounds, const QString& baseline) {
  QTemporaryDir dir;
  const QString suite = dir.filePath(QStringLiteral("suite"));
  qav::demo::CreateDemoSuite(suite);
  const QString server = QStringLiteral("embedded:") + suite;
  const QString out = dir.filePath(QStringLiteral("sales.txt"));
  int failures = 0;
  for (const char* query : kSalesQueries) {
    const QString text = QString::fromUtf8(query);
    const auto run = [&](const QString& program) {
      return [&, program] {
        return ExportQuery(program, server, QStringLiteral("DEMO"), text, QStringLiteral("txt"),
                           out);
      };
    };
    std::printf("\n%s\n", query);
    failures +=
        Pair(rounds, 50000, "qavtool-export txt on Sales", run(QStringLiteral(QAVTOOL_EXPORT_PATH)),
             "baseline txt on Sales", baseline.isEmpty() ? std::function<Run()>() : run(baseline));
  }
  return failures;
}

// FreeTDS's programs find the test server through a configuration file of their own.
QString FreeTdsConf(const QString& folder, std::uint16_t port) {
  const QString name = folder + QStringLiteral("/freetds.conf");
  QFile conf(name);
  if (conf.open(QIODevice::WriteOnly))
    conf.write(QStringLiteral("[qavbench]\n  host = 127.0.0.1\n  port = %1\n  tds version = 7.2\n"
                              "  client charset = UTF-8\n")
                   .arg(port)
                   .toUtf8());
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  const qav::bench::BenchArgs args(
      argc, argv,
      "batch-export-bench [--rounds N] [--odbc-rows N] [--no-odbc] [--tsql-rows N] [--tsql-only]\n"
      "                   [--sales-only] [--baseline QAVTOOL_EXPORT] [TEXT_ROWS...]\n"
      "  (default 3 rounds; 10000 1000000 text rows; 1000000 ODBC and T-SQL rows; the Sales\n"
      "  queries beside an earlier build's qavtool-export when --baseline names it)",
      16, {"--rounds", "--odbc-rows", "--tsql-rows"}, {"--no-odbc", "--tsql-only", "--sales-only"},
      {"--baseline"});
  QCoreApplication app(argc, argv);
  const int rounds = static_cast<int>(args.Option("--rounds", 3));
  const long odbcRows = args.Flag("--no-odbc") ? 0 : args.Option("--odbc-rows", 1000000);
  const long tsqlRows = args.Option("--tsql-rows", 1000000);
  std::vector<long> textRows = args.Numbers();
  if (textRows.empty()) textRows = {10000, 1000000};
  if (!QFileInfo(QString::fromLatin1(kTime)).isExecutable()) {
    std::printf("%s: not installed (Debian package time)\n", kTime);
    return 1;
  }
  const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
  if (shell.isEmpty()) std::printf("sqlite3 shell: not installed (Debian package sqlite3)\n");
  const QString bsqldb = QStandardPaths::findExecutable(QStringLiteral("bsqldb"));
  if (bsqldb.isEmpty()) std::printf("bsqldb: not installed (Debian package freetds-bin)\n");

  std::printf("medians of %d interleaved rounds\n", rounds);
  std::printf("%-30s %10s %9s %11s %9s %10s\n", "program", "rows", "seconds", "rows/s", "file MB",
              "peak MB");
  int failures = SalesThroughput(rounds, QString::fromStdString(args.Text("--baseline")));
  if (args.Flag("--sales-only")) return failures ? 1 : 0;
  failures += TranslationCost(rounds, tsqlRows);
  if (args.Flag("--tsql-only")) return failures ? 1 : 0;
  for (const qav::bench::TBenchTable& table : qav::bench::BenchTables()) {
    const std::string on = std::string(" on ") + table.name;
    for (long rows : textRows) {
      QTemporaryDir dir;
      const QString suite = Table(dir.path(), table, rows);
      const QString db = QDir(suite).filePath(QStringLiteral("BENCH.db"));
      const auto ours = [&](const char* format) {
        return [&, format] {
          return Export(QStringLiteral("embedded:") + suite, table, QString::fromLatin1(format),
                        dir.filePath(QStringLiteral("export.") + QString::fromLatin1(format)));
        };
      };
      const auto sqlite = [&](const QStringList& options) -> std::function<Run()> {
        if (shell.isEmpty()) return {};
        return [&, options] {
          return Peer(QStringList{shell} + options + QStringList{db, Select(table)},
                      dir.filePath(QStringLiteral("shell.out")));
        };
      };
      std::printf("\n");
      failures +=
          Pair(rounds, rows, "qavtool-export txt" + on, ours("txt"), "sqlite3 -separator TAB" + on,
               sqlite({QStringLiteral("-separator"), QStringLiteral("\t")}));
      failures += Pair(rounds, rows, "qavtool-export csv" + on, ours("csv"), "sqlite3 -csv" + on,
                       sqlite({QStringLiteral("-csv")}));
    }

    if (odbcRows > 0) {
      // The same text export through the ODBC back end (unixODBC, FreeTDS; the program's connection
      // string asks for TDS 7.4, the peer's freetds.conf for 7.2).
      QTemporaryDir dir;
      const QString suite = Table(dir.path(), table, odbcRows);
      qav::tds::ServerOptions options;
      options.suiteFolder = suite;
      qav::tds::Server server(options);
      server.Start(0);
      const QString script = dir.filePath(QStringLiteral("query.sql"));
      QFile file(script);
      if (file.open(QIODevice::WriteOnly)) file.write((Select(table) + u'\n' + "go\n").toUtf8());
      file.close();
      qputenv("FREETDSCONF", FreeTdsConf(dir.path(), server.Port()).toLocal8Bit());
      const auto runPeer = [&] {
        return Peer({bsqldb, QStringLiteral("-S"), QStringLiteral("qavbench"), QStringLiteral("-U"),
                     QStringLiteral("qav"), QStringLiteral("-P"), QStringLiteral("tarnwick"),
                     QStringLiteral("-D"), QStringLiteral("BENCH"), QStringLiteral("-i"), script,
                     QStringLiteral("-t"), QStringLiteral("\t")},
                    dir.filePath(QStringLiteral("bsqldb.out")));
      };
      std::printf("\n");
      failures += Pair(
          rounds, odbcRows, "qavtool-export txt ODBC" + on,
          [&] {
            return Export(QStringLiteral("127.0.0.1,%1").arg(server.Port()), table,
                          QStringLiteral("txt"), dir.filePath(QStringLiteral("export.txt")));
          },
          "bsqldb -t TAB" + on, bsqldb.isEmpty() ? std::function<Run()>() : runPeer);
      server.Stop();
    }

    // A Word table holds 32,767 rows with its title row, and a Quattro worksheet as many.
    for (long rows : {1000L, 32766L}) {
      QTemporaryDir dir;
      const QString suite = Table(dir.path(), table, rows);
      std::printf("\n");
      for (const char* format : {"txt", "csv", "xls", "wks", "wq1", "doc"}) {
        if (rows < 32766 && std::string(format) != "txt" && std::string(format) != "doc") continue;
        std::vector<Run> runs;
        for (int round = 0; round < rounds; ++round)
          runs.push_back(
              Export(QStringLiteral("embedded:") + suite, table, QString::fromLatin1(format),
                     dir.filePath(QStringLiteral("export.") + QString::fromLatin1(format))));
        const Run r = MedianRun(runs);
        Print(std::string("qavtool-export ") + format + on, rows, r);
        failures += !r.ok;
      }
    }
  }
  return failures ? 1 : 0;
}
