#pragma once

#include <QString>
#include <QStringList>

namespace qav::bench {

// What a child process took, as it ended.
struct TProcessRun {
  bool ok = false;  // exit code 0
  double seconds = 0;
  long peakKb = 0;        // the child's own high-water mark of resident memory
  double cpuSeconds = 0;  // its processor time, user and system: steadier on a busy machine
};

// Runs the program (command's first item) with its standard output in `outFile` (when given)
// and its standard error in `errFile`, and reads its resources as it ends.
TProcessRun RunMeasured(const QStringList& command, const QString& outFile, const QString& errFile);

}  // namespace qav::bench
