#pragma once

#include "app/Dialogs.h"
#include "db/DataSet.h"
#include "export/GridKinds.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <vector>

namespace qav::test {

// A dataset over rows held in the test: null QVariant for null, numbers, texts, byte arrays
// and dates (stored as the engine layer stores them).
class TMemoryDataSet : public db::TDataSet {
 public:
  TMemoryDataSet(std::vector<db::FieldDef> fields, std::vector<std::vector<QVariant>> rows,
                 QObject* owner = nullptr);

 protected:
  std::unique_ptr<db::ResultSet> OpenCursor() override;

 private:
  std::vector<db::FieldDef> fields_;
  std::vector<std::vector<QVariant>> rows_;
};

// Answers every dialog with OK and keeps the requests.
class DialogLog {
 public:
  DialogLog();
  ~DialogLog();
  QStringList Texts() const;
  std::vector<DialogRequest> requests;
};

// A device that takes `capacity` bytes and then fails as a full disk does.
class FailingDevice : public QBuffer {
 public:
  explicit FailingDevice(qint64 capacity) : capacity_(capacity) { open(QIODevice::WriteOnly); }
  int Writes() const { return writes_; }

 protected:
  qint64 writeData(const char* data, qint64 size) override;

 private:
  qint64 capacity_;
  int writes_ = 0;
};

// A standard data grid stand-in with fixed columns and a list of selected rows.
class FakeColumnGrid : public QWidget, public TColumnGrid {
 public:
  db::TDataSet* dataSet = nullptr;
  std::vector<TGridColumn> columns;
  std::vector<db::TBookmark> selected;

  db::TDataSet* DataSource() const override { return dataSet; }
  int ColumnCount() const override { return static_cast<int>(columns.size()); }
  TGridColumn GridColumn(int index) const override {
    return columns.at(static_cast<size_t>(index));
  }
  std::vector<db::TBookmark> SelectedRows() const override { return selected; }
};

class FakeFieldsGrid : public QWidget, public TFieldsGrid {
 public:
  db::TDataSet* dataSet = nullptr;
  std::vector<TGridColumn> items;

  db::TDataSet* DataSource() const override { return dataSet; }
  int FieldItemCount() const override { return static_cast<int>(items.size()); }
  TGridColumn FieldItem(int index) const override { return items.at(static_cast<size_t>(index)); }
};

QByteArray ReadFileBytes(const QString& path);
void WriteFileBytes(const QString& path, const QByteArray& bytes);

}  // namespace qav::test
