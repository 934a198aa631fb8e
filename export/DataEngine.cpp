#include "export/DataEngine.h"

#include "db/Errors.h"
#include "export/ExportStrings.h"

#include <limits>

namespace qav {

TCustomDataEngine::TCustomDataEngine(QObject* owner) : QObject(owner) {}

void TCustomDataEngine::BeforeExecute() {
  if (OnBeforeExecute) OnBeforeExecute(this);
}

void TCustomDataEngine::AfterExecute() {
  if (OnAfterExecute) OnAfterExecute(this);
}

void TCustomDataEngine::FillColumns(TExportColumns& columns, bool /*rightToLeft*/) {
  columns.Clear();
  if (OnFillColumns) OnFillColumns(&columns);
}

void TCustomDataEngine::First() {
  if (OnFirst) OnFirst(this);
}

void TCustomDataEngine::Next() {
  if (OnNext) OnNext(this, Abort);
}

QVariant TCustomDataEngine::GetFieldValue(const TExportColumn& /*column*/) {
  return {};
}

int TCustomDataEngine::RecordCount() {
  int count = 0;
  if (OnCount) OnCount(this, count);
  return count;
}

db::TFieldType TCustomDataEngine::GetFieldType(const TExportColumn& /*column*/) {
  return db::ftString;
}

// The engine layer's fields carry neither flag.
bool TCustomDataEngine::IsFieldRequired(const TExportColumn& /*column*/) {
  return false;
}

bool TCustomDataEngine::IsFieldReadOnly(const TExportColumn& /*column*/) {
  return false;
}

db::TField* TCustomDataEngine::FindColumnField(const TExportColumn& /*column*/) {
  return nullptr;
}

TCustomDBDataEngine::TCustomDBDataEngine(QObject* owner) : TCustomDataEngine(owner) {}

void TCustomDBDataEngine::EnableControls() {
  if (disabledCount_ > 0) --disabledCount_;
}

void TCustomDBDataEngine::DisableControls() {
  ++disabledCount_;
}

void TCustomDBDataEngine::BeforeExecute() {
  TCustomDataEngine::BeforeExecute();
  ForgetFields();
  if (db::TDataSet* ds = GetDataset()) {
    bookmark_ = ds->GetBookmark();
    hasBookmark_ = true;
  }
}

void TCustomDBDataEngine::AfterExecute() {
  TCustomDataEngine::AfterExecute();
  db::TDataSet* ds = GetDataset();
  if (hasBookmark_ && ds && ds->BookmarkValid(bookmark_)) ds->GotoBookmark(bookmark_);
  hasBookmark_ = false;
}

void TCustomDBDataEngine::FillColumns(TExportColumns& columns, bool rightToLeft) {
  TCustomDataEngine::FillColumns(columns, rightToLeft);
  FillFromFields(columns, rightToLeft);
}

void TCustomDBDataEngine::FillFromFields(TExportColumns& columns, bool rightToLeft) {
  ForgetFields();
  db::TDataSet* ds = GetDataset();
  if (!ds) return;
  const int count = ds->FieldCount();
  for (int k = 0; k < count; ++k) {
    const db::TField& field = ds->Fields(rightToLeft ? count - 1 - k : k);
    TExportColumn& column = columns.Add();
    column.FieldName = field.FieldName();
    column.FieldIndex = field.Index();
    column.Alignment = field.Alignment();
    column.Color = QColor(255, 255, 255);
    column.Width = field.DisplayWidth();
    column.Visible = field.Visible();
    column.Title.Caption = field.DisplayLabel();
    column.Title.Alignment = field.Alignment();
    column.Title.Font.setBold(true);
    column.Title.Color = QColor(192, 192, 192);
  }
}

bool TCustomDBDataEngine::Eof() {
  db::TDataSet* ds = GetDataset();
  return !ds || ds->Eof();
}

void TCustomDBDataEngine::First() {
  TCustomDataEngine::First();
  if (db::TDataSet* ds = GetDataset()) ds->First();
}

void TCustomDBDataEngine::Next() {
  TCustomDataEngine::Next();
  if (db::TDataSet* ds = GetDataset()) ds->Next();
}

QVariant TCustomDBDataEngine::GetFieldValue(const TExportColumn& column) {
  return FindColumnField(column)->AsVariant();
}

int TCustomDBDataEngine::RecordCount() {
  db::TDataSet* ds = GetDataset();
  if (!ds) return 0;
  // An export counts and writes the whole result: rows still arriving are waited for.
  if (ds->Fetching()) ds->CompleteFetch();
  return static_cast<int>(std::min<qint64>(ds->RecordCount(), std::numeric_limits<int>::max()));
}

db::TFieldType TCustomDBDataEngine::GetFieldType(const TExportColumn& column) {
  return FindColumnField(column)->DataType();
}

db::TField* TCustomDBDataEngine::FindColumnField(const TExportColumn& column) {
  db::TDataSet& ds = RequireDataset();
  if (cachedFor_ != &ds) {
    ForgetFields();
    cachedFor_ = &ds;
    closeWatch_ = connect(&ds, &db::TDataSet::BeforeClose, this, [this] { ForgetFields(); });
  }
  const size_t count = fieldCache_.size();
  for (size_t k = 0; k < count; ++k) {
    size_t i = nextCached_ + k;
    if (i >= count) i -= count;
    CachedField& entry = fieldCache_[i];
    if (entry.column != &column) continue;
    if (entry.name != column.FieldName || entry.index != column.FieldIndex) {
      entry.field = &FieldOfColumn(ds, column);
      entry.name = column.FieldName;
      entry.index = column.FieldIndex;
    }
    nextCached_ = i + 1;
    return entry.field;
  }
  db::TField* field = &FieldOfColumn(ds, column);
  fieldCache_.push_back(CachedField{&column, column.FieldName, column.FieldIndex, field});
  nextCached_ = fieldCache_.size();
  return field;
}

db::TField& TCustomDBDataEngine::FieldOfColumn(db::TDataSet& ds, const TExportColumn& column) {
  // The position decides while it still holds a field of the column's name; a column moved to
  // another dataset falls back to the name.
  if (column.FieldIndex >= 0 && column.FieldIndex < ds.FieldCount()) {
    db::TField& field = ds.Fields(column.FieldIndex);
    if (field.FieldName().compare(column.FieldName, Qt::CaseInsensitive) == 0) return field;
  }
  return ds.FieldByName(column.FieldName);
}

db::TDataSet& TCustomDBDataEngine::RequireDataset() const {
  db::TDataSet* ds = GetDataset();
  if (!ds)
    throw db::EDatabaseError(
        FormatExportText(ExportLanguageText(lsPropertyNotSpecified), QStringLiteral("Dataset")));
  return *ds;
}

void TCustomDBDataEngine::ForgetFields() {
  ++fieldsVersion_;
  fieldCache_.clear();
  nextCached_ = 0;
  if (closeWatch_) disconnect(closeWatch_);
  closeWatch_ = {};
  cachedFor_ = nullptr;
}

TDatasetDataEngine::TDatasetDataEngine(QObject* owner) : TCustomDBDataEngine(owner) {}

}  // namespace qav
