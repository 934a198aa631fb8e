#include "console/HeldResult.h"

namespace qav {

THeldResult::THeldResult(std::unique_ptr<db::ResultSet> rows, QObject* owner)
    : db::TDataSet(owner), rows_(std::move(rows)) {
  setObjectName(QStringLiteral("HeldResult"));
  Open();
}

std::unique_ptr<db::ResultSet> THeldResult::OpenCursor() {
  return std::move(rows_);
}

}  // namespace qav
