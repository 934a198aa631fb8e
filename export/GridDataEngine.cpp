#include "export/GridDataEngine.h"

#include "core/Exception.h"
#include "export/ExportStrings.h"

#include <vector>

namespace qav {

namespace {

// A grid column's settings on an export column; the width from the dataset's field.
void FillFromGridColumn(TExportColumn& column, const TGridColumn& source, db::TDataSet* ds) {
  column.FieldName = source.FieldName;
  column.Alignment = source.Alignment;
  column.Color = source.Color;
  column.Font = source.Font;
  column.Visible = source.Visible;
  column.Title.Caption = source.TitleCaption;
  column.Title.Alignment = source.TitleAlignment;
  column.Title.Font = source.TitleFont;
  column.Title.Color = source.TitleColor;
  const db::TField* field = ds ? ds->FindField(source.FieldName) : nullptr;
  column.Width = field ? field->DisplayWidth() : 10;
}

}  // namespace

TGridDataEngine::TGridDataEngine(TGridKind kind, QObject* owner)
    : TCustomDBDataEngine(owner), kind_(kind) {}

void TGridDataEngine::SetDBGrid(QWidget* grid) {
  if (grid && !IsGridOfKind(grid, kind_))
    throw Exception(
        FormatExportText(ExportLanguageText(lsPropertyNotSpecified), grid->objectName()));
  grid_ = grid;
  columnGrid_ = dynamic_cast<TColumnGrid*>(grid);
  listGrid_ = dynamic_cast<TSelectedListGrid*>(grid);
  fieldsGrid_ = dynamic_cast<TFieldsGrid*>(grid);
}

TDBGridDataEngine::TDBGridDataEngine(QObject* owner) : TGridDataEngine(gkColumnGrid, owner) {}

db::TDataSet* TDBGridDataEngine::GetDataset() const {
  TColumnGrid* grid = Grid();
  return grid ? grid->DataSource() : nullptr;
}

void TDBGridDataEngine::FillColumns(TExportColumns& columns, bool rightToLeft) {
  columns.Clear();
  ForgetFields();
  TColumnGrid* grid = Grid();
  if (!grid) return;
  const int count = grid->ColumnCount();
  for (int k = 0; k < count; ++k)
    FillFromGridColumn(columns.Add(), grid->GridColumn(rightToLeft ? count - 1 - k : k),
                       GetDataset());
}

bool TDBGridDataEngine::Eof() {
  if (!SelectedRecords) return TGridDataEngine::Eof();
  return selectedIndex_ >= selected_.size();
}

void TDBGridDataEngine::First() {
  if (!SelectedRecords) return TGridDataEngine::First();
  TCustomDataEngine::First();
  TColumnGrid* grid = Grid();
  selected_ = grid ? grid->SelectedRows() : std::vector<db::TBookmark>{};
  selectedIndex_ = 0;
  if (!selected_.empty()) RequireDataset().GotoBookmark(selected_[0]);
}

void TDBGridDataEngine::Next() {
  if (!SelectedRecords) return TGridDataEngine::Next();
  TCustomDataEngine::Next();
  ++selectedIndex_;
  if (!Eof()) RequireDataset().GotoBookmark(selected_[selectedIndex_]);
}

int TDBGridDataEngine::RecordCount() {
  if (!SelectedRecords) return TGridDataEngine::RecordCount();
  TColumnGrid* grid = Grid();
  return grid ? static_cast<int>(grid->SelectedRows().size()) : 0;
}

TSelectedListGridDataEngine::TSelectedListGridDataEngine(QObject* owner)
    : TGridDataEngine(gkSelectedListGrid, owner) {}

db::TDataSet* TSelectedListGridDataEngine::GetDataset() const {
  TSelectedListGrid* grid = Grid();
  return grid ? grid->DataSource() : nullptr;
}

void TSelectedListGridDataEngine::FillColumns(TExportColumns& columns, bool rightToLeft) {
  columns.Clear();
  ForgetFields();
  TSelectedListGrid* grid = Grid();
  db::TDataSet* ds = GetDataset();
  if (!grid || !ds) return;
  // The list is made afresh from the result the grid shows now: a list kept from an earlier
  // export would filter this one down to the columns the two results share, and a name alone
  // cannot tell apart the fields of one name that a join gives.
  QStringList& list = grid->SelectedFieldList();
  list.clear();
  std::vector<int> fields;
  for (int i = 0; i < ds->FieldCount(); ++i) {
    const db::TField& field = ds->Fields(i);
    if (!field.Visible()) continue;
    list << field.FieldName() + u'\t' + QString::number(field.DisplayWidth()) + u'\t' +
                field.DisplayLabel();
    fields.push_back(i);
  }
  const QColor color = grid->GridColor();
  const QFont font = grid->GridFont();
  const QFont titleFont = grid->GridTitleFont();
  const size_t count = fields.size();
  for (size_t k = 0; k < count; ++k) {
    const db::TField& field = ds->Fields(fields[rightToLeft ? count - 1 - k : k]);
    TExportColumn& column = columns.Add();
    column.FieldName = field.FieldName();
    column.FieldIndex = field.Index();
    column.Alignment = field.Alignment();
    column.Width = field.DisplayWidth();
    column.Visible = field.Visible();
    column.Title.Caption = field.DisplayLabel();
    column.Title.Alignment = field.Alignment();
    column.Color = color;
    column.Font = font;
    column.Title.Font = titleFont;
    column.Title.Color = QColor(192, 192, 192);
  }
}

TFieldsGridDataEngine::TFieldsGridDataEngine(QObject* owner)
    : TGridDataEngine(gkFieldsGrid, owner) {}

db::TDataSet* TFieldsGridDataEngine::GetDataset() const {
  TFieldsGrid* grid = Grid();
  return grid ? grid->DataSource() : nullptr;
}

void TFieldsGridDataEngine::FillColumns(TExportColumns& columns, bool rightToLeft) {
  columns.Clear();
  ForgetFields();
  TFieldsGrid* grid = Grid();
  if (!grid) return;
  const int count = grid->FieldItemCount();
  for (int k = 0; k < count; ++k)
    FillFromGridColumn(columns.Add(), grid->FieldItem(rightToLeft ? count - 1 - k : k),
                       GetDataset());
}

}  // namespace qav
