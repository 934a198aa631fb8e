#pragma once

#include "app/db/Backend.h"
#include "app/db/Field.h"

#include <QObject>
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
  void Close();
  bool Active() const { return result_ != nullptr; }
  void SetActive(bool active) { active ? Open() : Close(); }

  bool IsEmpty() const { return RecordCount() == 0; }
  qint64 RecordCount() const { return result_ ? result_->rows.Rows() : 0; }
  // One-based number of the current record; 0 when there is none.
  qint64 RecNo() const { return IsEmpty() ? 0 : current_ + 1; }
  void First();
  void Last();
  void Next();
  void Prior();
  void MoveBy(qint64 distance);
  // Eof: a Next went past the last record, or there is none. Bof likewise at the start.
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }

  TBookmark GetBookmark() const { return current_; }
  bool BookmarkValid(TBookmark bookmark) const { return bookmark >= 0 && bookmark < RecordCount(); }
  void GotoBookmark(TBookmark bookmark);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(static_cast<size_t>(index)); }
  TField* FindField(const QString& name) const;
  // Raises "Field 'NAME' not found" when the dataset has no such field.
  TField& FieldByName(const QString& name) const;

  // The rows as fetched, for views that read them directly; null while closed.
  const RowStore* Store() const { return result_ ? &result_->rows : nullptr; }
  qint64 CurrentRow() const { return current_; }

 signals:
  void AfterOpen();
  void BeforeClose();

 protected:
  // Runs the dataset's statement and returns its rows.
  virtual std::unique_ptr<ResultSet> OpenCursor() = 0;
  virtual void CloseCursor() {}
  QString DataSetLabel() const;

 private:
  std::unique_ptr<ResultSet> result_;
  std::vector<std::unique_ptr<TField>> fields_;
  qint64 current_ = 0;
  bool eof_ = true;
  bool bof_ = true;
};

}  // namespace qav::db
