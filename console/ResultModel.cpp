#include "console/ResultModel.h"

#include "db/DataSet.h"

#include <QColor>
#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>

namespace qav {

namespace {

// Money with its two decimals and a decimal with the places of its scale, as SQL Server's tools
// show them; everything else as the field writes it.
QString CellText(const db::TField& field, qint64 row) {
  const int places = field.DataType() == db::ftCurrency ? 2
                     : field.DataType() == db::ftBCD    ? field.Scale()
                                                        : 0;
  const db::RowStore& store = *field.DataSet()->Store();
  if (places <= 0) return field.AsStringAt(row);
  switch (store.KindAt(row, field.Index())) {
    case db::RowStore::Kind::Float:
      return QString::number(store.FloatAt(row, field.Index()), 'f', places);
    case db::RowStore::Kind::Int:
      return QString::number(store.IntAt(row, field.Index())) + u'.' + QString(places, u'0');
    default:
      break;
  }
  return field.AsStringAt(row);
}

}  // namespace

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
      order_.clear();
      sortColumn_ = -1;
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
  order_.clear();
  sortColumn_ = -1;
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
  const qint64 row = SourceRow(index.row());
  const bool null = dataSet_->Store()->IsNull(row, field->Index());
  switch (role) {
    case Qt::DisplayRole:
      return null ? QStringLiteral("NULL") : CellText(*field, row);
    case Qt::ForegroundRole:
      return null ? QVariant(NullColor()) : QVariant();
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

void TResultModel::SortByColumn(int column) {
  const db::TField* field = FieldOfColumn(column);
  const db::RowStore* store = dataSet_ ? dataSet_->Store() : nullptr;
  emit layoutAboutToBeChanged();
  order_.clear();
  sortColumn_ = -1;
  if (field && store) {
    // Keys first, in one compact array sorted as it is: a million rows compare in well under a
    // second when a comparison neither finds its cell in the store nor jumps through an index.
    // Each key carries an ordered 64-bit summary of its value (a number's order, a text's first
    // eight bytes); only equal summaries look further.
    struct Key {
      quint64 summary;
      std::string_view text;
      int rank;  // null, number, text
      int row;
    };
    const int at = field->Index();
    std::vector<Key> keys(static_cast<std::size_t>(rows_));
    auto numberOrder = [](double v) {
      quint64 bits;
      std::memcpy(&bits, &v, sizeof bits);
      return bits & (quint64(1) << 63) ? ~bits : bits | (quint64(1) << 63);
    };
    for (int r = 0; r < rows_; ++r) {
      Key& k = keys[static_cast<std::size_t>(r)];
      k.row = r;
      switch (store->KindAt(r, at)) {
        case db::RowStore::Kind::Null:
          k.rank = 0;
          k.summary = 0;
          break;
        case db::RowStore::Kind::Int:
          k.rank = 1;
          k.summary = numberOrder(static_cast<double>(store->IntAt(r, at)));
          break;
        case db::RowStore::Kind::Float:
          k.rank = 1;
          k.summary = numberOrder(store->FloatAt(r, at));
          break;
        case db::RowStore::Kind::Bytes: {
          k.rank = 2;
          const std::string_view text = store->BytesAt(r, at);
          k.text = text;
          k.summary = 0;
          for (std::size_t b = 0; b < 8; ++b)
            k.summary =
                k.summary << 8 | (b < text.size() ? static_cast<unsigned char>(text[b]) : 0);
          break;
        }
      }
    }
    // Equal values keep the order they came in: the row number decides between them, which
    // std::sort does in less time than a stable sort.
    std::sort(keys.begin(), keys.end(), [store, at](const Key& x, const Key& y) {
      if (x.rank != y.rank) return x.rank < y.rank;
      if (x.summary != y.summary) return x.summary < y.summary;
      if (x.rank == 2) {
        // UTF-8 bytes compare in the order of their characters.
        const int c = x.text.compare(y.text);
        if (c != 0) return c < 0;
      } else if (x.rank == 1 && store->KindAt(x.row, at) == db::RowStore::Kind::Int &&
                 store->KindAt(y.row, at) == db::RowStore::Kind::Int) {
        // A bigint is more than a double holds: integers of one double compare exactly.
        const qint64 a = store->IntAt(x.row, at), b = store->IntAt(y.row, at);
        if (a != b) return a < b;
      }
      return x.row < y.row;
    });
    order_.resize(keys.size());
    for (std::size_t n = 0; n < keys.size(); ++n) order_[n] = keys[n].row;
    sortColumn_ = column;
  }
  emit layoutChanged();
}

std::unique_ptr<db::ResultSet> TResultModel::ShownRows() const {
  auto shown = std::make_unique<db::ResultSet>();
  if (!dataSet_ || !dataSet_->Active()) return shown;
  for (int i = 0; i < dataSet_->FieldCount(); ++i) {
    const db::TField& f = dataSet_->Fields(i);
    shown->fields.push_back({f.FieldName(), f.DataType(), f.Size(), f.Precision(), f.Scale()});
  }
  const db::RowStore& store = *dataSet_->Store();
  const int columns = store.Columns();
  shown->rows = db::RowStore(columns);
  for (qint64 r = 0; r < store.Rows(); ++r) {
    const qint64 from =
        r < static_cast<qint64>(order_.size()) ? order_[static_cast<std::size_t>(r)] : r;
    shown->rows.AddRow();
    for (int c = 0; c < columns; ++c) switch (store.KindAt(from, c)) {
        case db::RowStore::Kind::Null:
          break;
        case db::RowStore::Kind::Int:
          shown->rows.SetInt(c, store.IntAt(from, c));
          break;
        case db::RowStore::Kind::Float:
          shown->rows.SetFloat(c, store.FloatAt(from, c));
          break;
        case db::RowStore::Kind::Bytes:
          shown->rows.SetBytes(c, store.BytesAt(from, c));
          break;
      }
  }
  return shown;
}

void TResultModel::SetCurrentRow(int row) {
  if (row == currentRow_) return;
  const int old = currentRow_;
  currentRow_ = row;
  if (old >= 0) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
}

}  // namespace qav
