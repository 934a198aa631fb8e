#pragma once

#include <QElapsedTimer>
#include <cstdio>

namespace qav::test {

// Runs `step(n)` for n = 0 .. count-1 and returns the number of cases run. A run is bounded by
// its count, so that it does the same work on a loaded machine as on an idle one; the clock only
// ends a run that hangs, after far more time than the count needs.
template <typename Step>
int RunCases(int count, Step step, qint64 limitMs = 300000) {
  QElapsedTimer timer;
  timer.start();
  int cases = 0;
  while (cases < count && timer.elapsed() < limitMs) {
    step(cases);
    ++cases;
  }
  // The run's size, for whoever reads the log.
  std::printf("%d cases in %lld ms\n", cases, static_cast<long long>(timer.elapsed()));
  return cases;
}

}  // namespace qav::test
