#pragma once

#include "db/DataSet.h"

#include <memory>

namespace qav {

// A result set that a batch handed over whole (one of several), as a dataset a grid shows and
// "Save output TO" writes. It opens once, with the rows it was made with.
class THeldResult : public db::TDataSet {
  Q_OBJECT

 public:
  THeldResult(std::unique_ptr<db::ResultSet> rows, QObject* owner);

 protected:
  std::unique_ptr<db::ResultSet> OpenCursor() override;

 private:
  std::unique_ptr<db::ResultSet> rows_;
};

}  // namespace qav
