#pragma once

#include "export/GridKinds.h"

#include <QStringList>
#include <QTableView>

namespace qav {

namespace db {
class TDataSet;
}
class TResultModel;

// The console's results grid: the dataset's visible fields in field order, titles left-aligned,
// row and column lines, whole-row selection, alternate rows in light blue, a row indicator and
// resizable columns. Selecting a row moves the dataset's cursor there.
// For the exports it is a selected-list grid.
class TResultGrid : public QTableView, public TSelectedListGrid {
  Q_OBJECT

 public:
  explicit TResultGrid(QWidget* parent = nullptr);

  void SetDataSource(db::TDataSet* dataSet);
  db::TDataSet* DataSource() const override;
  TResultModel* ResultModel() const { return model_; }

  // One line per column (field name, tab, width in characters, tab, caption, ...). The export
  // engine writes it; the grid itself never reads it.
  QStringList SelectedFields;
  QStringList& SelectedFieldList() override { return SelectedFields; }
  QFont GridTitleFont() const override;

  static QColor AlternateRowColor() { return QColor(240, 251, 255); }

  // The selected cells with their columns' titles as tab-separated lines, as spreadsheets paste
  // them (Ctrl+C puts it on the clipboard).
  QString SelectionText() const;
  // A header click sorts by its column; the same click again, or Escape, restores the order.
  void SortByColumn(int column);
  bool Sorted() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SizeColumns();

  TResultModel* model_;
};

}  // namespace qav
