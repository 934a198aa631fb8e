#include "batch/BatchDataEngine.h"

#include "db/Errors.h"
#include "export/ExportProgress.h"

#include <limits>

namespace qav {

TBatchDataEngine::TBatchDataEngine(QObject* owner) : TDatasetDataEngine(owner) {}

int TBatchDataEngine::RecordCount() {
  if (Total < 0) return -1;
  return static_cast<int>(std::min<qint64>(Total, std::numeric_limits<int>::max()));
}

bool TBatchDataEngine::Eof() {
  const bool end = (CheckTotal && read_ >= Total) || TDatasetDataEngine::Eof();
  if (end && OnEnd) OnEnd();
  return end;
}

void TBatchDataEngine::First() {
  TDatasetDataEngine::First();
  read_ = 0;
  checked_ = false;
}

void TBatchDataEngine::Next() {
  TDatasetDataEngine::Next();
  ++read_;
}

void TBatchDataEngine::AfterExecute() {
  TDatasetDataEngine::AfterExecute();
  if (!CheckTotal || checked_ || IsExportCancelled()) return;
  checked_ = true;
  const db::TDataSet* ds = GetDataset();
  if (read_ < Total)
    throw db::EDatabaseError(QStringLiteral("The result changed while it was exported: %1 rows "
                                            "were counted, %2 read. Run the export again.")
                                 .arg(Total)
                                 .arg(read_));
  if (ds && !ds->Eof())
    throw db::EDatabaseError(QStringLiteral("The result changed while it was exported: %1 rows "
                                            "were counted, more were read. Run the export again.")
                                 .arg(Total));
}

}  // namespace qav
