#pragma once

#include "export/DataEngine.h"

#include <functional>

namespace qav {

// The dataset engine of a batch export, over a dataset that is read forward only. The export
// base takes the record total from its engine before the first record, and the worksheet and
// document formats announce their size in it; a forward-only dataset cannot tell, so the caller
// hands over the total it counted beforehand. The rows can change between that count and the
// reading, so with CheckTotal the engine stops after that many records and fails the run at the
// end when the statement gave another number, rather than let a file contradict its own size.
class TBatchDataEngine : public TDatasetDataEngine {
  Q_OBJECT

 public:
  explicit TBatchDataEngine(QObject* owner = nullptr);

  // The record total given to the export; -1 when not known.
  qint64 Total = -1;
  bool CheckTotal = false;
  // Called when the end of the records is seen: what follows is the file's completion, also
  // where no total was counted.
  std::function<void()> OnEnd;

  // Records passed so far.
  qint64 RecordsRead() const { return read_; }

  int RecordCount() override;
  bool Eof() override;
  void First() override;
  void Next() override;
  void AfterExecute() override;

 private:
  qint64 read_ = 0;
  bool checked_ = false;
};

}  // namespace qav
