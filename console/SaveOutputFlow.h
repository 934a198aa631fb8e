#pragma once

#include "export/SaveOutputSettings.h"

#include <QObject>
#include <QString>
#include <vector>

namespace qav {

namespace db {
class TDataSet;
}
class TExportBaseComponent;
class TResultGrid;

// "Save output TO": the save dialog (through the dialog seam), the type chosen in its list or by
// the extension typed, the overwrite question, one export component run over the grid in front
// (a sorted grid's rows in the order shown), and the message that says how it ended.
class TSaveOutputFlow : public QObject {
  Q_OBJECT

 public:
  // The components (one per save type, owned by `owner`) start on the window's first grid.
  TSaveOutputFlow(TResultGrid* grid, db::TDataSet* dataSet, QObject* owner);

  TExportBaseComponent* ComponentFor(TSaveFormat format) const;

  // Saves the rows of `front`, all of which have arrived; false when the dialog was cancelled
  // (or answered with a type of no component), true after a run however it ended.
  bool Run(TResultGrid* front);

  // The save dialog's state between showings.
  QString DefaultExt = QStringLiteral("XLS");
  int FilterIndex = 1;

 private:
  // Runs one save and tells the user how it ended; `source` is the result the user sees.
  void Save(TExportBaseComponent* component, const QString& fileName, const db::TDataSet& source);

  TResultGrid* grid_;
  db::TDataSet* dataSet_;
  std::vector<TExportBaseComponent*> components_;  // in the order of the save types
};

}  // namespace qav
