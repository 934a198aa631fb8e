// Fetches a large result through the ODBC back end (unixODBC, FreeTDS) from the TDS test
// server, and the same result from the embedded back end directly, printing rows per second.
//   tds-fetch-bench [ROWS]     (default 200,000 rows of 10 columns)
#include "bench/BenchArgs.h"
#include "bench/BenchTable.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/embedded/EmbeddedSuite.h"
#include "tools/tds/TdsServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

namespace {

// Opens `sql` on a connection named `name` to `server` and returns the seconds it took.
double Fetch(const QString& name, const QString& server, const QString& sql, qint64& rows) {
  qav::db::TDatabase db;
  db.SetDatabaseName(name);
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"), QStringLiteral("SERVER NAME=") + server,
                 QStringLiteral("USER NAME=qav"), QStringLiteral("PASSWORD=tarnwick")};
  db.Open();  // the login is not part of the figure
  qav::db::TQuery query;
  query.SetDatabaseName(name);
  query.SetSQL(sql);
  QElapsedTimer timer;
  timer.start();
  query.Open();
  const double seconds = timer.elapsed() / 1000.0;
  rows = query.RecordCount();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const qav::bench::BenchArgs args(
      argc, argv, "tds-fetch-bench [ROWS]   (default 200000 rows of 10 columns)", 1);
  QCoreApplication app(argc, argv);
  const long rows = args.Number(0, 200000);
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  qav::bench::MakeBigTable(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")),
                           rows);

  qav::tds::ServerOptions options;
  options.suiteFolder = suite;
  qav::tds::Server server(options);
  server.Start(0);
  const QString sql = QStringLiteral("select * from Big");
  std::printf("rows: %ld, columns: 10\n", rows);

  qint64 fetched = 0;
  const double embedded =
      Fetch(QStringLiteral("EMBEDDED"), QStringLiteral("embedded:") + suite, sql, fetched);
  std::printf("embedded back end:            %6.2f s, %9.0f rows/s (%lld rows)\n", embedded,
              fetched / embedded, static_cast<long long>(fetched));
  const double odbc =
      Fetch(QStringLiteral("TDS"), QStringLiteral("127.0.0.1,%1").arg(server.Port()), sql, fetched);
  std::printf("ODBC through the TDS server:  %6.2f s, %9.0f rows/s (%lld rows)\n", odbc,
              fetched / odbc, static_cast<long long>(fetched));
  server.Stop();
  return 0;
}
