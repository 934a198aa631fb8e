#pragma once

#include "db/Backend.h"

#include <functional>
#include <memory>

namespace qav::db {

// Reads the next window of a cursor on a thread of its own while the caller works on the
// current one, so that fetching overlaps formatting and writing. The wrapped cursor, and so its
// connection, is used by one thread at a time: the worker between the calls below, the caller
// never while the worker holds it. Errors of a fetch are raised by the Fetch that hands its rows
// over. Destroying the cursor interrupts a fetch still running and waits for it.
class ReadAheadCursor final : public BackendCursor {
 public:
  // `ready`, when given, is called on the worker thread each time a window (or the end, or an
  // error) is waiting to be taken.
  ReadAheadCursor(std::unique_ptr<BackendCursor> cursor, int windowRows,
                  std::function<void()> ready = {});
  ~ReadAheadCursor() override;

  const std::vector<FieldDef>& Fields() const override;
  // Hands over the window read ahead (waiting for it when it is not complete yet) and starts
  // reading the next one into the rows `window` held. maxRows is the size fixed at construction.
  qint64 Fetch(RowStore& window, int maxRows) override;
  void Interrupt() override;
  // True when Fetch would return at once.
  bool Ready() const;
  // Waits until it would.
  void Wait() const;

 private:
  class Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace qav::db
