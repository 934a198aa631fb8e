#include "db/ReadAheadCursor.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace qav::db {

class ReadAheadCursor::Worker {
 public:
  Worker(std::unique_ptr<BackendCursor> cursor, int windowRows, std::function<void()> ready)
      : cursor_(std::move(cursor)),
        windowRows_(windowRows),
        ready_(std::move(ready)),
        next_(static_cast<int>(cursor_->Fields().size())),
        thread_([this] { Run(); }) {}

  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      if (state_ == State::Reading) cursor_->Interrupt();
    }
    changed_.notify_all();
    thread_.join();
  }

  const std::vector<FieldDef>& Fields() const { return cursor_->Fields(); }

  qint64 Take(RowStore& window) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return state_ != State::Reading; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    if (state_ == State::Done) {
      window.Clear();
      return 0;
    }
    std::swap(window, next_);
    const qint64 rows = window.Rows();
    // An empty window is the end: the cursor is read through and nothing more is asked of it.
    state_ = rows > 0 ? State::Reading : State::Done;
    changed_.notify_all();
    return rows;
  }

  void Interrupt() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::Reading) cursor_->Interrupt();
  }

  bool Ready() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ != State::Reading;
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return state_ != State::Reading; });
  }

 private:
  enum class State { Reading, Ready, Done };

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return state_ == State::Reading || stop_; });
      if (stop_) return;
      lock.unlock();
      std::exception_ptr error;
      try {
        cursor_->Fetch(next_, windowRows_);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      if (error) {
        error_ = error;
        next_.Clear();
        state_ = State::Done;
      } else {
        state_ = State::Ready;
      }
      changed_.notify_all();
      if (ready_ && !stop_) ready_();
    }
  }

  std::unique_ptr<BackendCursor> cursor_;
  const int windowRows_;
  const std::function<void()> ready_;
  RowStore next_;
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::Reading;
  bool stop_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the state above exists
};

ReadAheadCursor::ReadAheadCursor(std::unique_ptr<BackendCursor> cursor, int windowRows,
                                 std::function<void()> ready)
    : worker_(std::make_unique<Worker>(std::move(cursor), windowRows, std::move(ready))) {}

ReadAheadCursor::~ReadAheadCursor() = default;

const std::vector<FieldDef>& ReadAheadCursor::Fields() const {
  return worker_->Fields();
}

qint64 ReadAheadCursor::Fetch(RowStore& window, int) {
  return worker_->Take(window);
}

void ReadAheadCursor::Interrupt() {
  worker_->Interrupt();
}

bool ReadAheadCursor::Ready() const {
  return worker_->Ready();
}

void ReadAheadCursor::Wait() const {
  worker_->Wait();
}

}  // namespace qav::db
