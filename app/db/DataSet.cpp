#include "app/db/DataSet.h"

#include "app/db/Errors.h"

namespace qav::db {

TDataSet::TDataSet(QObject* owner) : QObject(owner) {}

TDataSet::~TDataSet() = default;

void TDataSet::Open() {
  if (Active()) return;
  std::unique_ptr<ResultSet> result = OpenCursor();
  if (!result) {
    CloseCursor();
    throw EDatabaseError(QStringLiteral("%1: Query does not return a result set").arg(DataSetLabel()));
  }
  result_ = std::move(result);
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
  result_.reset();
  current_ = 0;
  eof_ = bof_ = true;
  CloseCursor();
}

void TDataSet::First() {
  current_ = 0;
  bof_ = true;
  eof_ = IsEmpty();
}

void TDataSet::Last() {
  current_ = IsEmpty() ? 0 : RecordCount() - 1;
  eof_ = true;
  bof_ = IsEmpty();
}

void TDataSet::Next() {
  if (IsEmpty()) return;
  bof_ = false;
  if (current_ + 1 < RecordCount()) {
    ++current_;
    eof_ = false;
  } else {
    eof_ = true;
  }
}

void TDataSet::Prior() {
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
