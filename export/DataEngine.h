#pragma once

#include "db/DataSet.h"
#include "export/ExportColumns.h"

#include <QObject>
#include <QPointer>
#include <QVariant>
#include <functional>
#include <vector>

namespace qav {

// Where an export takes its columns and records from. The base engine walks no records: it
// supplies columns through OnFillColumns, and a program may derive its own engine from it.
class TCustomDataEngine : public QObject {
  Q_OBJECT

 public:
  explicit TCustomDataEngine(QObject* owner = nullptr);

  // Export only the records selected in the grid; set by the export component.
  bool SelectedRecords = false;
  // Handed to OnNext on every step.
  bool Abort = false;

  std::function<void(TCustomDataEngine* sender)> OnFirst;
  std::function<void(TCustomDataEngine* sender, bool& abort)> OnNext;
  std::function<void(TCustomDataEngine* sender, int& count)> OnCount;
  std::function<void(TCustomDataEngine* sender)> OnBeforeExecute;
  std::function<void(TCustomDataEngine* sender)> OnAfterExecute;
  std::function<void(TExportColumns* sender)> OnFillColumns;
  std::function<void(TCustomDataEngine* sender, const TExportColumn& column, QVariant& value)>
      OnGetValue;

  virtual bool IsGridBased() const { return false; }
  virtual void EnableControls() {}
  virtual void DisableControls() {}
  virtual void BeforeExecute();
  virtual void AfterExecute();
  // Empties `columns` and appends one column per item of the source, in reverse order when
  // rightToLeft.
  virtual void FillColumns(TExportColumns& columns, bool rightToLeft);
  virtual bool Eof() { return true; }
  virtual void First();
  virtual void Next();
  virtual QVariant GetFieldValue(const TExportColumn& column);
  virtual int RecordCount();
  virtual db::TFieldType GetFieldType(const TExportColumn& column);
  virtual bool IsFieldRequired(const TExportColumn& column);
  virtual bool IsFieldReadOnly(const TExportColumn& column);
  virtual db::TField* FindColumnField(const TExportColumn& column);
  // Changes whenever a field FindColumnField gave may be gone or another field may be meant (the
  // dataset closed or replaced): a run that keeps its columns' fields asks for them again then.
  virtual quint64 FieldsVersion() const { return 0; }
};

// An engine over a dataset: the records are the dataset's, and the column operations look the
// column's field up by name, raising the database layer's field-not-found error.
class TCustomDBDataEngine : public TCustomDataEngine {
  Q_OBJECT

 public:
  explicit TCustomDBDataEngine(QObject* owner = nullptr);

  virtual db::TDataSet* GetDataset() const { return nullptr; }

  // The engine layer's datasets do not tell their views about cursor moves, so a walk never
  // repaints the grid; the count is kept for callers that nest the calls.
  void EnableControls() override;
  void DisableControls() override;
  int DisabledControlsCount() const { return disabledCount_; }

  // Remembers the current record; AfterExecute goes back to it.
  void BeforeExecute() override;
  void AfterExecute() override;
  void FillColumns(TExportColumns& columns, bool rightToLeft) override;
  bool Eof() override;
  void First() override;
  void Next() override;
  QVariant GetFieldValue(const TExportColumn& column) override;
  int RecordCount() override;
  db::TFieldType GetFieldType(const TExportColumn& column) override;
  db::TField* FindColumnField(const TExportColumn& column) override;
  quint64 FieldsVersion() const override {
    return GetDataset() == cachedFor_.data() ? fieldsVersion_ : fieldsVersion_ + 1;
  }

 protected:
  // Fills columns from the dataset's fields, visible or not.
  void FillFromFields(TExportColumns& columns, bool rightToLeft);
  db::TDataSet& RequireDataset() const;
  void ForgetFields();
  // The field a column shows: by its FieldIndex where that holds, else by its FieldName.
  static db::TField& FieldOfColumn(db::TDataSet& ds, const TExportColumn& column);

 private:
  struct CachedField {
    const TExportColumn* column;
    QString name;
    int index;
    db::TField* field;
  };
  // The writers ask for the field of every cell; a name search over the fields per cell
  // would cost more than the writing. The columns come in the same order record after
  // record, so the entry after the last one found is tried first. Cleared whenever the dataset
  // closes.
  std::vector<CachedField> fieldCache_;
  size_t nextCached_ = 0;
  QPointer<db::TDataSet> cachedFor_;
  QMetaObject::Connection closeWatch_;
  quint64 fieldsVersion_ = 0;
  db::TBookmark bookmark_ = 0;
  bool hasBookmark_ = false;
  int disabledCount_ = 0;
};

// The records and fields of a dataset.
class TDatasetDataEngine : public TCustomDBDataEngine {
  Q_OBJECT

 public:
  explicit TDatasetDataEngine(QObject* owner = nullptr);

  db::TDataSet* Dataset() const { return dataset_; }
  void SetDataset(db::TDataSet* dataset) { dataset_ = dataset; }
  db::TDataSet* GetDataset() const override { return dataset_; }

 private:
  QPointer<db::TDataSet> dataset_;
};

}  // namespace qav
