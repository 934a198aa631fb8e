#include "bench/BenchTable.h"

#include <sqlite3.h>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qav::bench {

namespace {

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

}  // namespace

void MakeBigTable(const QString& file, long rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.toUtf8().constData(), &db), db);
  Check(
      sqlite3_exec(db,
                   "create table Big (Id int primary key, Code varchar(20) collate nocase, "
                   "Name nvarchar(60) collate nocase, Qty int, Price money, Amount decimal(18,4), "
                   "Rate float, SaleDate datetime, Note varchar(100) collate nocase, Flag bit);"
                   "begin",
                   nullptr, nullptr, nullptr),
      db);
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "insert into Big values (?,?,?,?,?,?,?,?,?,?)", -1, &st, nullptr),
        db);
  for (long i = 1; i <= rows; ++i) {
    const std::string code = "P" + std::to_string(100000 + i % 5000);
    const std::string name = "สินค้าทดสอบ Product " + std::to_string(i % 997);
    const std::string date =
        "2024-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 10) + " 10:15:00";
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_text(st, 2, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 4, static_cast<int>(i % 100));
    sqlite3_bind_double(st, 5, (i % 10000) / 100.0);
    sqlite3_bind_double(st, 6, (i % 77777) / 10000.0);
    sqlite3_bind_double(st, 7, 1.0 / static_cast<double>(i));
    sqlite3_bind_text(st, 8, date.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 3)
      sqlite3_bind_text(st, 9, "หมายเหตุ note", -1, SQLITE_STATIC);
    else
      sqlite3_bind_null(st, 9);
    sqlite3_bind_int(st, 10, static_cast<int>(i & 1));
    Check(sqlite3_step(st), db);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

void MakeRealTable(const QString& file, long rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.toUtf8().constData(), &db), db);
  Check(sqlite3_exec(db,
                     "create table Real (Id int primary key, Code varchar(20), Name nvarchar(60), "
                     "CreditDays int, Balance money, Discount float, CreatedAt datetime, "
                     "DueDate date, Note nvarchar(100), Active bit)",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* st = nullptr;
  // One statement fills the table: the rows come from a counter, as a script would make them.
  Check(sqlite3_prepare_v2(
            db,
            "insert into Real with recursive n(i) as (select 1 union all select i + 1 from n "
            "where i < ?) select i, printf('C%06d', i), 'ลูกค้า ' || i, "
            "case when i % 4 then i % 90 end, (i % 10000000) / 100.0, "
            "case when i % 5 then (i % 997) / 7.0 end, "
            "printf('%04d-%02d-%02d %02d:%02d:%02d', 2000 + i % 25, 1 + i % 12, 1 + i % 28, "
            "i % 24, i % 60, i * 7 % 60), "
            "case when i % 3 then printf('%04d-%02d-%02d', 2020 + i % 6, 1 + i % 12, 1 + i % 28) "
            "end, case when i % 2 then 'หมายเหตุ ' || i end, i % 2 from n",
            -1, &st, nullptr),
        db);
  sqlite3_bind_int64(st, 1, rows);
  Check(sqlite3_step(st), db);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

const std::vector<TBenchTable>& BenchTables() {
  static const std::vector<TBenchTable> tables = {{"Big", MakeBigTable, "issimdftsb"},
                                                  {"Real", MakeRealTable, "issimftDsb"}};
  return tables;
}

long PeakRssKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

}  // namespace qav::bench
