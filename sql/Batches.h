#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace qav::sql {

// One batch of a script: the text between two GO lines, sent to the server as a whole.
struct Batch {
  QString text;
  int firstLine = 1;  // the script's line on which the batch's text begins
  int repeat = 1;     // "GO 3" runs the batch three times
};

// Splits a script the way SQL Server's own tools do: at each line that holds only GO (any case),
// with an optional count and an optional "--" comment after it, and never inside a string, a
// name or a comment. Batches with nothing but blanks and closed comments are left out. A GO line
// whose count is not a whole number from 1 on raises EConvertError naming its line.
std::vector<Batch> SplitBatches(QStringView script);

// Where an error of a script stands, as the console and the exporter name it before its text:
// "Batch 2, line 7" for the second of several batches (`batch` counted from 1), "Line 7" for a
// script of one (`batch` 0).
QString ErrorPlace(int batch, int line);

}  // namespace qav::sql
