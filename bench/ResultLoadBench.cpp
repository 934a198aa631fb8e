// Loads a large result through the engine layer and walks it, printing time and memory.
//   result-load-bench [ROWS]     (default 1,000,000 rows of 10 columns)
#include "app/db/Database.h"
#include "app/db/Query.h"
#include "app/db/embedded/EmbeddedSuite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sqlite3.h>
#include <string>

namespace {

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

void MakeTable(const QString& file, long rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.toUtf8().constData(), &db), db);
  Check(sqlite3_exec(db,
                     "create table Big (Id int primary key, Code varchar(20) collate nocase, "
                     "Name nvarchar(60) collate nocase, Qty int, Price money, Amount decimal(18,4), "
                     "Rate float, SaleDate datetime, Note varchar(100) collate nocase, Flag bit);"
                     "begin",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "insert into Big values (?,?,?,?,?,?,?,?,?,?)", -1, &st, nullptr), db);
  for (long i = 1; i <= rows; ++i) {
    const std::string code = "P" + std::to_string(100000 + i % 5000);
    const std::string name = "สินค้าทดสอบ Product " + std::to_string(i % 997);
    const std::string date = "2024-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 10) + " 10:15:00";
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_text(st, 2, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 4, static_cast<int>(i % 100));
    sqlite3_bind_double(st, 5, (i % 10000) / 100.0);
    sqlite3_bind_double(st, 6, (i % 77777) / 10000.0);
    sqlite3_bind_double(st, 7, 1.0 / static_cast<double>(i));
    sqlite3_bind_text(st, 8, date.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 3) sqlite3_bind_text(st, 9, "หมายเหตุ note", -1, SQLITE_STATIC); else sqlite3_bind_null(st, 9);
    sqlite3_bind_int(st, 10, static_cast<int>(i & 1));
    Check(sqlite3_step(st), db);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

long PeakRssKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  QTemporaryDir dir;
  const QString suite = dir.path() + QStringLiteral("/suite");
  QDir().mkpath(suite);
  QElapsedTimer timer;
  timer.start();
  MakeTable(qav::db::embedded::NewDatabaseFile(suite, QStringLiteral("BENCH")), rows);
  std::printf("rows: %ld, columns: 10\nmake table: %.2f s\n", rows, timer.elapsed() / 1000.0);
  const long rssBefore = PeakRssKb();

  qav::db::TDatabase db;
  db.SetDatabaseName(QStringLiteral("BENCH"));
  db.Params() = {QStringLiteral("DATABASE NAME=BENCH"), QStringLiteral("SERVER NAME=embedded:") + suite};
  qav::db::TQuery query;
  query.SetDatabaseName(QStringLiteral("BENCH"));
  query.SetSQL(QStringLiteral("select * from Big"));

  timer.restart();
  query.Open();
  const double openSeconds = timer.elapsed() / 1000.0;
  std::printf("open (fetch all): %.2f s, %.0f rows/s\n", openSeconds, rows / openSeconds);
  std::printf("row store: %.1f MB\n", query.Store()->MemoryUsed() / 1048576.0);
  std::printf("peak resident growth: %.1f MB\n", (PeakRssKb() - rssBefore) / 1024.0);

  timer.restart();
  qint64 chars = 0;
  for (query.First(); !query.Eof(); query.Next())
    for (int f = 0; f < query.FieldCount(); ++f) chars += query.Fields(f).AsString().size();
  const double walkSeconds = timer.elapsed() / 1000.0;
  std::printf("walk with AsString on every field: %.2f s, %.0f rows/s (%lld chars)\n", walkSeconds,
              rows / walkSeconds, static_cast<long long>(chars));
  return 0;
}
