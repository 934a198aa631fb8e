#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>
#include "db/DataSet.h"

namespace qav {

namespace db {
class TDataSet;
class TField;
}  // namespace db

// The rows of an open dataset as a table model: it reads the dataset's row store in place,
// one cell at a time as the view paints, so a large result is never copied. Columns are the
// dataset's visible fields in field order; the model follows the dataset as it opens and closes.
class TResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TResultModel(QObject* parent = nullptr);

  void SetDataSet(db::TDataSet* dataSet);
  db::TDataSet* DataSet() const { return dataSet_; }
  db::TField* FieldOfColumn(int column) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The row the dataset's cursor is on, which the row indicator marks.
  void SetCurrentRow(int row);

  // Sorts the rows shown by a column, ascending (NULL first, numbers by value, texts by their
  // characters); -1 restores the order they came in. Rows that arrive later go after them.
  void SortByColumn(int column);
  int SortColumn() const { return sortColumn_; }
  // The dataset's row that a row of the view shows.
  qint64 SourceRow(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < order_.size()
               ? order_[static_cast<std::size_t>(row)]
               : row;
  }
  // Every row of the dataset in the order shown (sorted rows first, later ones after them), as a
  // result of its own: what "Save output TO" writes from a sorted grid.
  std::unique_ptr<db::ResultSet> ShownRows() const;
  static QColor NullColor() { return QColor(128, 128, 128); }

 private:
  static constexpr int kGrowIntervalMs = 100;

  void Reload();
  // Shows the rows a background fetch has added since the last time.
  void Grow();

  QPointer<db::TDataSet> dataSet_;
  std::vector<db::TField*> columns_;
  int rows_ = 0;
  int currentRow_ = -1;
  QTimer growTimer_;
  std::vector<int> order_;  // view row to dataset row while sorted; empty otherwise
  int sortColumn_ = -1;
};

}  // namespace qav
