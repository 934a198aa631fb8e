#include "console/ResultsPane.h"

#include "console/ResultGrid.h"
#include "db/DataSet.h"

#include <QPlainTextEdit>

namespace qav {

TResultsPane::TResultsPane(QWidget* parent) : QTabWidget(parent) {
  setObjectName(QStringLiteral("ResultTabs"));
  setDocumentMode(true);
  auto* first = new TResultGrid(this);
  grids_.push_back(first);
  addTab(first, QStringLiteral("Results"));
  messages_ = new QPlainTextEdit(this);
  messages_->setObjectName(QStringLiteral("MessagesMemo"));
  messages_->setReadOnly(true);
  addTab(messages_, QStringLiteral("Messages"));
}

void TResultsPane::Clear(db::TDataSet* first) {
  FirstGrid()->SetDataSource(first);
  grids_.resize(1);
  // Grids first: they hold on to their datasets.
  for (auto it = runOwned_.rbegin(); it != runOwned_.rend(); ++it) delete *it;
  runOwned_.clear();
  results_ = 0;
  messages_->clear();
  setCurrentIndex(0);
}

void TResultsPane::ShowResult(db::TDataSet* dataSet) {
  ++results_;
  if (results_ == 1) {
    FirstGrid()->SetDataSource(dataSet);
    return;
  }
  auto* grid = new TResultGrid(this);
  grid->setObjectName(QStringLiteral("DBGExecSQL%1").arg(results_));
  grid->SetDataSource(dataSet);
  grids_.push_back(grid);
  runOwned_.push_back(grid);
  insertTab(results_ - 1, grid, QStringLiteral("Results %1").arg(results_));
}

void TResultsPane::Say(const QStringList& lines) {
  messages_->setPlainText(lines.join(u'\n'));
  setCurrentWidget(messages_);
}

bool TResultsPane::MessagesInFront() const {
  return currentWidget() == messages_;
}

TResultGrid* TResultsPane::FrontGrid() const {
  for (TResultGrid* grid : grids_)
    if (currentWidget() == grid) return grid;
  return FirstGrid();
}

db::TDataSet* TResultsPane::FrontDataSet() const {
  return FrontGrid()->DataSource();
}

TResultGrid* TResultsPane::GridOf(const QObject* object) const {
  for (TResultGrid* grid : grids_)
    if (object == grid) return grid;
  return nullptr;
}

}  // namespace qav
