#include "console/ResultGrid.h"

#include "console/ResultModel.h"
#include "db/DataSet.h"

#include <QHeaderView>

namespace qav {

namespace {
// Widths are in characters; a very long text column would push everything else off the screen.
constexpr int kMaxColumnChars = 60;
}  // namespace

TResultGrid::TResultGrid(QWidget* parent) : QTableView(parent), model_(new TResultModel(this)) {
  setObjectName(QStringLiteral("DBGExecSQL"));
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(13);
  setFont(font);
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
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
  horizontalHeader()->setSectionsClickable(false);
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
            if (!current.isValid() || !ds || !ds->BookmarkValid(current.row())) return;
            ds->GotoBookmark(current.row());
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
  const int charWidth = fontMetrics().averageCharWidth();
  for (int c = 0; c < model_->columnCount(); ++c) {
    const db::TField* field = model_->FieldOfColumn(c);
    const int chars =
        std::clamp<int>(std::max<qsizetype>(field->DisplayWidth(), field->DisplayLabel().size()), 2,
                        kMaxColumnChars);
    setColumnWidth(c, chars * charWidth + 8);
  }
}

}  // namespace qav
