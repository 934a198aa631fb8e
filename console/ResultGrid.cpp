#include "console/ResultGrid.h"

#include "console/ResultModel.h"
#include "db/DataSet.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>
#include <vector>

namespace qav {

namespace {
// A very long text column would push everything else off the screen.
constexpr int kMaxColumnChars = 60;
// The rows whose values size a column: the first screenfuls, read at once.
constexpr int kSizingRows = 200;

// A cell as spreadsheets read pasted text: quoted when it holds a tab, a line end or a quote.
QString TsvCell(QString text) {
  if (!text.contains(u'\t') && !text.contains(u'\n') && !text.contains(u'\r') &&
      !text.contains(u'"'))
    return text;
  return u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
}
}  // namespace

TResultGrid::TResultGrid(QWidget* parent) : QTableView(parent), model_(new TResultModel(this)) {
  setObjectName(QStringLiteral("DBGExecSQL"));
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(13);
  setFont(font);
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  // Rows as before; Shift and Ctrl add to the selection, for Ctrl+C.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(true);
  setAlternatingRowColors(true);
  QPalette p = palette();
  p.setColor(QPalette::AlternateBase, AlternateRowColor());
  setPalette(p);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTabKeyNavigation(true);

  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setSectionsClickable(true);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int column) { SortByColumn(model_->SortColumn() == column ? -1 : column); });
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  // Uniform row heights keep a result of hundreds of thousands of rows quick to scroll.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->setFixedWidth(14);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  verticalHeader()->setHighlightSections(false);

  connect(model_, &QAbstractItemModel::modelReset, this, &TResultGrid::SizeColumns);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            db::TDataSet* ds = DataSource();
            if (!current.isValid() || !ds) return;
            const qint64 row = model_->SourceRow(current.row());
            if (!ds->BookmarkValid(row)) return;
            ds->GotoBookmark(row);
            model_->SetCurrentRow(current.row());
          });
}

void TResultGrid::SetDataSource(db::TDataSet* dataSet) {
  model_->SetDataSet(dataSet);
}

db::TDataSet* TResultGrid::DataSource() const {
  return model_->DataSet();
}

QFont TResultGrid::GridTitleFont() const {
  return horizontalHeader()->font();
}

void TResultGrid::SizeColumns() {
  // The title and the widest of the first rows, not the declared width: a date or a big number
  // shows whole, and a varchar(4000) of short texts stays narrow.
  const QFontMetrics cells = fontMetrics();
  const QFontMetrics titles(horizontalHeader()->font());
  const int cap = kMaxColumnChars * cells.averageCharWidth();
  const int rows = std::min(model_->rowCount(), kSizingRows);
  for (int c = 0; c < model_->columnCount(); ++c) {
    int width =
        titles.horizontalAdvance(model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    for (int r = 0; r < rows && width < cap; ++r)
      width = std::max(width, cells.horizontalAdvance(model_->index(r, c).data().toString()));
    setColumnWidth(c, std::clamp(width, 2 * cells.averageCharWidth(), cap) + 12);
  }
}

void TResultGrid::SortByColumn(int column) {
  model_->SortByColumn(column);
  horizontalHeader()->setSortIndicatorShown(model_->SortColumn() >= 0);
  if (model_->SortColumn() >= 0)
    horizontalHeader()->setSortIndicator(model_->SortColumn(), Qt::AscendingOrder);
}

bool TResultGrid::Sorted() const {
  return model_->SortColumn() >= 0;
}

QString TResultGrid::SelectionText() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  std::vector<int> rows, columns;
  for (const QModelIndex& i : selected) {
    rows.push_back(i.row());
    columns.push_back(i.column());
  }
  for (auto* v : {&rows, &columns}) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
  }
  if (rows.empty()) return {};
  QStringList lines;
  QStringList cells;
  for (int c : columns)
    cells << TsvCell(model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
  lines << cells.join(u'\t');
  for (int r : rows) {
    cells.clear();
    for (int c : columns) {
      const QModelIndex i = model_->index(r, c);
      // NULL is shown, not pasted: a spreadsheet takes an empty cell for it.
      const bool null = i.data(Qt::ForegroundRole).isValid();
      cells << (selectionModel()->isSelected(i) && !null ? TsvCell(i.data().toString())
                                                         : QString());
    }
    lines << cells.join(u'\t');
  }
  return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

void TResultGrid::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    QGuiApplication::clipboard()->setText(SelectionText());
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Escape && Sorted()) {
    SortByColumn(-1);
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace qav
