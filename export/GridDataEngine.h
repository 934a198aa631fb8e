#pragma once

#include "export/DataEngine.h"
#include "export/GridKinds.h"

#include <QPointer>
#include <QWidget>

namespace qav {

// The engines over a grid control: the records are those of the grid's dataset, the columns
// come from the grid. Each takes a grid of its own kind and raises "Property %s is not
// specified." with the control's name for any other.
class TGridDataEngine : public TCustomDBDataEngine {
  Q_OBJECT

 public:
  QWidget* DBGrid() const { return grid_; }
  void SetDBGrid(QWidget* grid);

 protected:
  TGridDataEngine(TGridKind kind, QObject* owner);
  TGridKind Kind() const { return kind_; }
  // The grid's interfaces, looked up once: the walk asks for the dataset at every cell.
  TColumnGrid* ColumnGrid() const { return grid_ ? columnGrid_ : nullptr; }
  TSelectedListGrid* ListGrid() const { return grid_ ? listGrid_ : nullptr; }
  TFieldsGrid* FieldsGrid() const { return grid_ ? fieldsGrid_ : nullptr; }

 private:
  TGridKind kind_;
  QPointer<QWidget> grid_;
  TColumnGrid* columnGrid_ = nullptr;
  TSelectedListGrid* listGrid_ = nullptr;
  TFieldsGrid* fieldsGrid_ = nullptr;
};

// A standard data grid (a column grid); the one engine that honours SelectedRecords.
class TDBGridDataEngine : public TGridDataEngine {
  Q_OBJECT

 public:
  explicit TDBGridDataEngine(QObject* owner = nullptr);

  TColumnGrid* Grid() const { return ColumnGrid(); }
  db::TDataSet* GetDataset() const override;
  bool IsGridBased() const override { return true; }

  // Columns from the grid's columns; the width from the dataset field of that name, else 10.
  void FillColumns(TExportColumns& columns, bool rightToLeft) override;
  bool Eof() override;
  void First() override;
  void Next() override;
  int RecordCount() override;

 private:
  std::vector<db::TBookmark> selected_;
  size_t selectedIndex_ = 0;
};

// The console's results grid. Every export writes the grid's columns as they are now: the
// dataset's visible fields in field order, which it also records in the grid's selected-fields
// list.
class TSelectedListGridDataEngine : public TGridDataEngine {
  Q_OBJECT

 public:
  explicit TSelectedListGridDataEngine(QObject* owner = nullptr);

  TSelectedListGrid* Grid() const { return ListGrid(); }
  db::TDataSet* GetDataset() const override;
  bool IsGridBased() const override { return true; }

  void FillColumns(TExportColumns& columns, bool rightToLeft) override;
};

// A grid with a fields collection; no window of this program has one.
class TFieldsGridDataEngine : public TGridDataEngine {
  Q_OBJECT

 public:
  explicit TFieldsGridDataEngine(QObject* owner = nullptr);

  TFieldsGrid* Grid() const { return FieldsGrid(); }
  db::TDataSet* GetDataset() const override;

  void FillColumns(TExportColumns& columns, bool rightToLeft) override;
};

}  // namespace qav
