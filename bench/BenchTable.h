#pragma once

#include <QString>
#include <vector>

namespace qav::bench {

// Writes table Big (10 columns of the usual kinds: integers, codes, Thai names, money,
// decimals, floats, date-times, optional notes, flags) with `rows` rows into a new SQLite file.
void MakeBigTable(const QString& file, long rows);
// Writes table Real, shaped like the suite's own data: an integer key, a code, a Thai name
// ('ลูกค้า ' || key), a nullable integer, money with two decimals, a nullable float, a date-time
// text, a nullable date text, a nullable Thai note, a bit.
void MakeRealTable(const QString& file, long rows);

// The tables every export benchmark runs on, by name.
struct TBenchTable {
  const char* name;
  void (*make)(const QString& file, long rows);
  // What each column holds, a letter a column, for a peer that writes them by position: i
  // integer, s text, m money, d decimal, f float, t date-time text, D date text, b bit.
  const char* kinds;

  // The statement that reads the whole table.
  QString SelectAll() const { return QStringLiteral("select * from ") + QString::fromLatin1(name); }
};
const std::vector<TBenchTable>& BenchTables();

// The process's peak resident memory so far, in kilobytes; -1 when it cannot be read.
long PeakRssKb();

}  // namespace qav::bench
