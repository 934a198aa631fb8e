#include "console/ResultModel.h"

#include "db/DataSet.h"

#include <limits>

namespace qav {

TResultModel::TResultModel(QObject* parent) : QAbstractTableModel(parent) {
  growTimer_.setSingleShot(true);
  growTimer_.setInterval(kGrowIntervalMs);
  connect(&growTimer_, &QTimer::timeout, this, &TResultModel::Grow);
}

void TResultModel::Grow() {
  growTimer_.stop();
  if (!dataSet_ || !dataSet_->Active() || columns_.empty()) return;
  const int rows =
      static_cast<int>(std::min<qint64>(dataSet_->RecordCount(), std::numeric_limits<int>::max()));
  if (rows <= rows_) return;
  beginInsertRows({}, rows_, rows - 1);
  rows_ = rows;
  endInsertRows();
}

void TResultModel::SetDataSet(db::TDataSet* dataSet) {
  if (dataSet_) disconnect(dataSet_, nullptr, this, nullptr);
  dataSet_ = dataSet;
  if (dataSet_) {
    connect(dataSet_, &db::TDataSet::AfterOpen, this, &TResultModel::Reload);
    // Rows of a background fetch are added at the end as they arrive, a few times a second:
    // each addition makes the view lay out and paint again.
    connect(dataSet_, &db::TDataSet::RowsFetched, this, [this] {
      if (!growTimer_.isActive()) growTimer_.start();
    });
    connect(dataSet_, &db::TDataSet::FetchEnded, this, &TResultModel::Grow);
    connect(dataSet_, &db::TDataSet::BeforeClose, this, [this] {
      beginResetModel();
      columns_.clear();
      rows_ = 0;
      currentRow_ = -1;
      endResetModel();
    });
  }
  Reload();
}

void TResultModel::Reload() {
  beginResetModel();
  columns_.clear();
  rows_ = 0;
  currentRow_ = -1;
  if (dataSet_ && dataSet_->Active()) {
    for (int i = 0; i < dataSet_->FieldCount(); ++i)
      if (dataSet_->Fields(i).Visible()) columns_.push_back(&dataSet_->Fields(i));
    // A view counts its rows in an int; a larger result shows its first 2^31 - 1 rows.
    const qint64 count = dataSet_->RecordCount();
    rows_ = static_cast<int>(std::min<qint64>(count, std::numeric_limits<int>::max()));
    currentRow_ = rows_ > 0 ? static_cast<int>(dataSet_->CurrentRow()) : -1;
  }
  endResetModel();
}

db::TField* TResultModel::FieldOfColumn(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size())
             ? columns_[static_cast<size_t>(column)]
             : nullptr;
}

int TResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TResultModel::data(const QModelIndex& index, int role) const {
  const db::TField* field = FieldOfColumn(index.column());
  if (!field || index.row() >= rows_) return {};
  switch (role) {
    case Qt::DisplayRole:
      return field->AsStringAt(index.row());
    case Qt::TextAlignmentRole:
      switch (field->Alignment()) {
        case db::taRightJustify:
          return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        case db::taCenter:
          return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
        default:
          return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
      }
    default:
      return {};
  }
}

QVariant TResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    const db::TField* field = FieldOfColumn(section);
    if (!field) return {};
    if (role == Qt::DisplayRole) return field->DisplayLabel();
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  // The row indicator: a triangle at the current record, nothing elsewhere.
  if (role == Qt::DisplayRole) return section == currentRow_ ? QStringLiteral("\u25B6") : QString();
  return {};
}

void TResultModel::SetCurrentRow(int row) {
  if (row == currentRow_) return;
  const int old = currentRow_;
  currentRow_ = row;
  if (old >= 0) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
}

}  // namespace qav
