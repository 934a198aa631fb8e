#pragma once

#include <QStringList>
#include <QTabWidget>
#include <vector>

class QPlainTextEdit;

namespace qav {

namespace db {
class TDataSet;
}
class TResultGrid;

// The results of a run: a grid page for each result set ("Results", "Results 2", ...), then
// "Messages" with what the statements said, in order. The grids and datasets made for a run
// after the first belong to the run and go with the next.
class TResultsPane : public QTabWidget {
  Q_OBJECT

 public:
  explicit TResultsPane(QWidget* parent = nullptr);

  TResultGrid* FirstGrid() const { return grids_.front(); }
  QPlainTextEdit* Messages() const { return messages_; }
  // The grids of the last run, in the order of their results.
  const std::vector<TResultGrid*>& Grids() const { return grids_; }
  // The result sets shown so far in this run.
  int Results() const { return results_; }

  // Empties the pages and deletes what the run made; the first grid shows `first`.
  void Clear(db::TDataSet* first);
  // Shows the next result set of the run: the first in the first grid, later ones on pages of
  // their own.
  void ShowResult(db::TDataSet* dataSet);
  // A dataset of the run that goes with it.
  void Own(QObject* object) { runOwned_.push_back(object); }
  // The Messages page with these lines, in front.
  void Say(const QStringList& lines);
  bool MessagesInFront() const;

  // The grid whose page is in front (the first when Messages is), and the dataset it shows.
  TResultGrid* FrontGrid() const;
  db::TDataSet* FrontDataSet() const;
  // A grid of the pane, or null.
  TResultGrid* GridOf(const QObject* object) const;

 private:
  QPlainTextEdit* messages_;
  std::vector<TResultGrid*> grids_;
  std::vector<QObject*> runOwned_;  // the datasets and grids of the run after the first
  int results_ = 0;
};

}  // namespace qav
