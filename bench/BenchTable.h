#pragma once

#include <QString>

namespace qav::bench {

// Writes table Big (10 columns of the usual kinds: integers, codes, Thai names, money,
// decimals, floats, date-times, optional notes, flags) with `rows` rows into a new SQLite file.
void MakeBigTable(const QString& file, long rows);

// The process's peak resident memory so far, in kilobytes; -1 when it cannot be read.
long PeakRssKb();

}  // namespace qav::bench
