#include "db/DataSet.h"

#include "db/Errors.h"

namespace qav::db {

TDataSet::TDataSet(QObject* owner) : QObject(owner) {}

TDataSet::~TDataSet() = default;

void TDataSet::SetUniDirectional(bool forwardOnly) {
  if (Active())
    throw EDatabaseError(
        QStringLiteral("%1: Cannot perform this operation on an open dataset").arg(DataSetLabel()));
  uniDirectional_ = forwardOnly;
}

std::unique_ptr<BackendCursor> TDataSet::OpenForwardCursor() {
  return CursorOverResult(OpenCursor());
}

void TDataSet::Open() {
  if (Active()) return;
  std::unique_ptr<ResultSet> result;
  std::unique_ptr<BackendCursor> cursor;
  if (uniDirectional_) {
    cursor = OpenForwardCursor();
    if (cursor) {
      try {
        result = std::make_unique<ResultSet>();
        result->fields = cursor->Fields();
        result->rows = RowStore(static_cast<int>(result->fields.size()));
        cursor->Fetch(result->rows, kWindowRows);
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
    throw EDatabaseError(
        QStringLiteral("%1: Query does not return a result set").arg(DataSetLabel()));
  }
  result_ = std::move(result);
  forward_ = uniDirectional_;
  cursor_ = std::move(cursor);
  spare_ = RowStore(static_cast<int>(result_->fields.size()));
  windowStart_ = 0;
  moved_ = false;
  fields_.clear();
  for (size_t i = 0; i < result_->fields.size(); ++i)
    fields_.push_back(std::make_unique<TField>(this, static_cast<int>(i), result_->fields[i]));
  First();
  emit AfterOpen();
}

void TDataSet::Close() {
  if (!Active()) return;
  emit BeforeClose();
  fields_.clear();
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
