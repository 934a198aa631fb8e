#pragma once

#include "db/Backend.h"
#include "db/Field.h"

#include <QObject>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace qav::db {

using TBookmark = qint64;

// A navigable result set: the fields in result order over a compact row store, and a cursor.
// The owner (QObject parent) is the window or module the dataset belongs to.
class TDataSet : public QObject {
  Q_OBJECT

 public:
  explicit TDataSet(QObject* owner = nullptr);
  ~TDataSet() override;

  void Open();
  // As Open, but a statement that returns no rows (an UPDATE, a PRINT) is no error: it has run,
  // the dataset stays closed, and the answer is false.
  bool OpenIfRows();
  void Close();
  bool Active() const { return result_ != nullptr; }
  void SetActive(bool active) { active ? Open() : Close(); }

  // Read forward only: Open keeps a window of rows from a cursor of the back end instead of the
  // whole result, so that a long result takes no more memory than a short one. The records are
  // then walked once with Next: First only before the first Next, while Prior, Last, moving
  // back and bookmarks raise. RecordCount is -1, as the number is known only at the end.
  // Settable while closed only.
  bool UniDirectional() const { return uniDirectional_; }
  void SetUniDirectional(bool forwardOnly);
  // Rows a forward-only dataset fetches at a time.
  static constexpr int kWindowRows = 1024;
  // Rows a background fetch appends at a time.
  static constexpr int kBackgroundWindowRows = 1024;
  // With UniDirectional: the next window is fetched on a worker thread while the current one
  // is read, so the connection belongs to that worker until the dataset reaches its end or
  // closes; nothing else may use the connection meanwhile. Settable while closed only.
  bool ReadAhead() const { return readAhead_; }
  void SetReadAhead(bool readAhead);

  // Without UniDirectional: Open returns with the first window of rows, and the rest is fetched
  // on a worker thread and appended on this dataset's thread as each window arrives (through
  // its event loop), with RowsFetched after each. The connection belongs to the worker until the
  // fetch ends; the connection hands it back (finishing the fetch) before anything else uses it.
  // Settable while closed only.
  bool BackgroundFetch() const { return backgroundFetch_; }
  void SetBackgroundFetch(bool background);
  // A background fetch is under way.
  bool Fetching() const { return fetching_; }
  // Stops a background fetch: the statement is interrupted, and the rows that came stay.
  void CancelFetch();
  // Fetches the remaining rows on this thread, window by window, calling `progress` with the
  // rows so far after each; false from it cancels the fetch. Returns false when cancelled.
  // Raises the fetch's error (the rows that came stay).
  bool CompleteFetch(const std::function<bool(qint64 rows)>& progress = {});
  // How the last background fetch ended: the error's message, empty when it did not fail.
  const QString& FetchError() const { return fetchError_; }
  bool FetchCancelled() const { return fetchCancelled_; }

  bool IsEmpty() const { return !result_ || result_->rows.Rows() == 0; }
  qint64 RecordCount() const {
    if (!result_) return 0;
    return forward_ ? -1 : result_->rows.Rows();
  }
  // One-based number of the current record; 0 when there is none.
  qint64 RecNo() const { return IsEmpty() ? 0 : windowStart_ + current_ + 1; }
  void First();
  void Last();
  void Next();
  void Prior();
  void MoveBy(qint64 distance);
  // Eof: a Next went past the last record, or there is none. Bof likewise at the start.
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }

  TBookmark GetBookmark() const { return current_; }
  bool BookmarkValid(TBookmark bookmark) const {
    return !forward_ && bookmark >= 0 && bookmark < RecordCount();
  }
  void GotoBookmark(TBookmark bookmark);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(static_cast<size_t>(index)); }
  TField* FindField(const QString& name) const;
  // Raises "Field 'NAME' not found" when the dataset has no such field.
  TField& FieldByName(const QString& name) const;

  // The rows as fetched, for views that read them directly; null while closed. A forward-only
  // dataset holds its current window here.
  const RowStore* Store() const { return result_ ? &result_->rows : nullptr; }
  // The current record's row in Store().
  qint64 CurrentRow() const { return current_; }

 signals:
  void AfterOpen();
  void BeforeClose();
  // A background fetch appended rows; `total` rows are there now.
  void RowsFetched(qint64 total);
  // A background fetch ended: read through, cancelled or failed (FetchError).
  void FetchEnded();

 protected:
  // Runs the dataset's statement and returns its rows.
  virtual std::unique_ptr<ResultSet> OpenCursor() = 0;
  // Opens the statement for reading forward; the default reads it whole through OpenCursor.
  virtual std::unique_ptr<BackendCursor> OpenForwardCursor();
  virtual void CloseCursor() {}
  // A background fetch takes (true) or gives back (false) the dataset's connection.
  virtual void ConnectionHeld(bool /*held*/) {}
  QString DataSetLabel() const;

 private:
  [[noreturn]] void RaiseForwardOnly() const;
  // Appends the window the worker has ready; false when the fetch has ended.
  bool TakeWindow();
  void EndFetch();

  std::unique_ptr<ResultSet> result_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool uniDirectional_ = false;
  bool readAhead_ = false;
  bool backgroundFetch_ = false;
  bool fetching_ = false;
  bool fetchCancelled_ = false;
  QString fetchError_;
  std::exception_ptr fetchFailure_;
  // Forward-only while open: the cursor (gone once the last row is fetched), the window that
  // the next one is fetched into, the records before the current window, whether Next has run.
  bool forward_ = false;
  std::unique_ptr<BackendCursor> cursor_;
  RowStore spare_;
  qint64 windowStart_ = 0;
  bool moved_ = false;
  qint64 current_ = 0;
  bool eof_ = true;
  bool bof_ = true;
};

}  // namespace qav::db
