#include "db/DataSet.h"

#include "db/Errors.h"
#include "db/ReadAheadCursor.h"

#include <QPointer>

namespace qav::db {

TDataSet::TDataSet(QObject* owner) : QObject(owner) {}

TDataSet::~TDataSet() = default;

void TDataSet::SetUniDirectional(bool forwardOnly) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  uniDirectional_ = forwardOnly;
}

void TDataSet::SetReadAhead(bool readAhead) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  readAhead_ = readAhead;
}

void TDataSet::SetBackgroundFetch(bool background) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  backgroundFetch_ = background;
}

std::unique_ptr<BackendCursor> TDataSet::OpenForwardCursor() {
  return CursorOverResult(OpenCursor());
}

void TDataSet::Open() {
  if (!OpenIfRows())
    throw EDatabaseError(
        QStringLiteral("%1: Query does not return a result set").arg(DataSetLabel()));
}

bool TDataSet::OpenIfRows() {
  if (Active()) return true;
  std::unique_ptr<ResultSet> result;
  std::unique_ptr<BackendCursor> cursor;
  fetchError_.clear();
  fetchFailure_ = nullptr;
  fetchCancelled_ = false;
  const bool background = backgroundFetch_ && !uniDirectional_;
  if (uniDirectional_ || background) {
    cursor = OpenForwardCursor();
    if (cursor) {
      try {
        result = std::make_unique<ResultSet>();
        result->fields = cursor->Fields();
        result->rows = RowStore(static_cast<int>(result->fields.size()));
        // The first window comes on this thread, so that Open raises the statement's errors.
        const qint64 first = cursor->Fetch(result->rows, kWindowRows);
        if (first == 0) {
          cursor.reset();  // read through already
        } else if (background && first < kWindowRows) {
          // A short result: its end (and what the statement does after its rows) is read here,
          // as a whole read would, rather than leave the connection to a worker for it.
          RowStore rest(result->rows.Columns());
          while (cursor->Fetch(rest, kWindowRows) > 0) result->rows.AppendRows(rest);
          cursor.reset();
        } else if (background) {
          // Each window the worker finishes is taken on this thread, in its event loop.
          QPointer<TDataSet> self(this);
          cursor =
              std::make_unique<ReadAheadCursor>(std::move(cursor), kBackgroundWindowRows, [self] {
                QMetaObject::invokeMethod(
                    self,
                    [self] {
                      if (self) self->TakeWindow();
                    },
                    Qt::QueuedConnection);
              });
        } else if (readAhead_) {
          cursor = std::make_unique<ReadAheadCursor>(std::move(cursor), kWindowRows);
        }
      } catch (...) {
        cursor.reset();  // the statement goes before the connection can
        CloseCursor();
        throw;
      }
    }
  } else {
    result = OpenCursor();
  }
  if (!result) {
    CloseCursor();
    return false;
  }
  result_ = std::move(result);
  forward_ = uniDirectional_;
  cursor_ = std::move(cursor);
  fetching_ = background && cursor_;
  if (fetching_) ConnectionHeld(true);
  spare_ = RowStore(static_cast<int>(result_->fields.size()));
  windowStart_ = 0;
  moved_ = false;
  fields_.clear();
  for (size_t i = 0; i < result_->fields.size(); ++i)
    fields_.push_back(std::make_unique<TField>(this, static_cast<int>(i), result_->fields[i]));
  First();
  emit AfterOpen();
  return true;
}

void TDataSet::Close() {
  if (!Active()) return;
  emit BeforeClose();
  fields_.clear();
  if (fetching_) {
    cursor_.reset();  // interrupts the statement and waits for the worker
    fetching_ = false;
    fetchCancelled_ = true;
    ConnectionHeld(false);
  }
  cursor_.reset();
  spare_ = RowStore();
  result_.reset();
  forward_ = false;
  windowStart_ = 0;
  moved_ = false;
  current_ = 0;
  eof_ = bof_ = true;
  CloseCursor();
}

bool TDataSet::TakeWindow() {
  if (!fetching_) return false;
  auto* reader = static_cast<ReadAheadCursor*>(cursor_.get());
  if (!reader->Ready()) return true;  // a notice for a window taken already
  qint64 rows = 0;
  try {
    rows = reader->Fetch(spare_, kBackgroundWindowRows);
  } catch (const std::exception& e) {
    fetchFailure_ = std::current_exception();
    const auto* error = dynamic_cast<const Exception*>(&e);
    fetchError_ = error ? error->Message() : QString::fromUtf8(e.what());
  }
  if (rows == 0) {
    EndFetch();
    return false;
  }
  result_->rows.AppendRows(spare_);
  emit RowsFetched(result_->rows.Rows());
  return true;
}

void TDataSet::EndFetch() {
  cursor_.reset();
  fetching_ = false;
  spare_.Clear();
  ConnectionHeld(false);
  emit FetchEnded();
}

void TDataSet::CancelFetch() {
  if (!fetching_) return;
  fetchCancelled_ = true;
  EndFetch();  // the cursor's end interrupts the statement
}

bool TDataSet::CompleteFetch(const std::function<bool(qint64)>& progress) {
  while (fetching_) {
    static_cast<ReadAheadCursor*>(cursor_.get())->Wait();
    const bool more = TakeWindow();
    if (more && progress && !progress(result_->rows.Rows())) {
      CancelFetch();
      return false;
    }
  }
  if (fetchFailure_) std::rethrow_exception(fetchFailure_);
  return !fetchCancelled_;
}

void TDataSet::RaiseForwardOnly() const {
  throw EDatabaseError(
      QStringLiteral("%1: Operation not allowed on a unidirectional dataset").arg(DataSetLabel()));
}

void TDataSet::First() {
  if (forward_ && moved_) RaiseForwardOnly();
  current_ = 0;
  bof_ = true;
  eof_ = IsEmpty();
}

void TDataSet::Last() {
  if (forward_) RaiseForwardOnly();
  current_ = IsEmpty() ? 0 : RecordCount() - 1;
  eof_ = true;
  bof_ = IsEmpty();
}

void TDataSet::Next() {
  if (IsEmpty()) return;
  bof_ = false;
  moved_ = true;
  if (current_ + 1 < result_->rows.Rows()) {
    ++current_;
    eof_ = false;
    return;
  }
  // Rows of a background fetch are appended where they are; nothing to move to.
  if (!forward_) {
    eof_ = true;
    return;
  }
  // The next window goes into the spare store, so that the last record stays current at the end.
  if (cursor_ && cursor_->Fetch(spare_, kWindowRows) > 0) {
    windowStart_ += result_->rows.Rows();
    std::swap(result_->rows, spare_);
    current_ = 0;
    eof_ = false;
    return;
  }
  // Past the last row: the statement is done with and its connection free for others.
  cursor_.reset();
  eof_ = true;
}

void TDataSet::Prior() {
  if (forward_) RaiseForwardOnly();
  if (IsEmpty()) return;
  eof_ = false;
  if (current_ > 0) {
    --current_;
    bof_ = false;
  } else {
    bof_ = true;
  }
}

void TDataSet::MoveBy(qint64 distance) {
  for (; distance > 0 && !eof_; --distance) Next();
  for (; distance < 0 && !bof_; ++distance) Prior();
}

void TDataSet::GotoBookmark(TBookmark bookmark) {
  if (forward_) RaiseForwardOnly();
  if (!BookmarkValid(bookmark))
    throw EDatabaseError(QStringLiteral("%1: Record not found").arg(DataSetLabel()));
  current_ = bookmark;
  eof_ = bof_ = false;
}

TField* TDataSet::FindField(const QString& name) const {
  for (const auto& f : fields_)
    if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
  return nullptr;
}

TField& TDataSet::FieldByName(const QString& name) const {
  if (TField* f = FindField(name)) return *f;
  throw EDatabaseError(QStringLiteral("%1: Field '%2' not found").arg(DataSetLabel(), name));
}

QString TDataSet::DataSetLabel() const {
  return objectName().isEmpty() ? QStringLiteral("Dataset") : objectName();
}

}  // namespace qav::db
