#pragma once

#include "db/FieldTypes.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <memory>
#include <vector>

class QObject;

namespace qav {

class TExportColumns;

// The caption cell of an exported column.
struct TExportColumnTitle {
  QString Caption;
  QColor Color = QColor(192, 192, 192);  // silver
  db::TAlignment Alignment = db::taLeftJustify;
  QFont Font;

  void Assign(const TExportColumnTitle& source);
};

// One exported column: the dataset field it shows and how its cells look.
class TExportColumn {
 public:
  explicit TExportColumn(TExportColumns* collection = nullptr) : collection_(collection) {}

  QString FieldName;
  // The field's position in the dataset when the column was filled from the dataset's fields;
  // -1 when the column names its field only. Results often hold several fields of one name
  // (a join's "Code" and "Code"), and only the position tells them apart.
  int FieldIndex = -1;
  QColor Color = QColor(255, 255, 255);
  int Width = 0;  // in characters
  QFont Font;
  db::TAlignment Alignment = db::taLeftJustify;
  bool Visible = true;  // invisible columns are skipped by the writers
  TExportColumnTitle Title;

  TExportColumns* Collection() const { return collection_; }
  // Position in the collection; -1 outside one.
  int Index() const;
  // Copies every field and the title's, inside one update bracket of the collection.
  void Assign(const TExportColumn& source);

 private:
  TExportColumns* collection_;
};

// The ordered column list of an export component, which owns it.
class TExportColumns {
 public:
  explicit TExportColumns(QObject* owner = nullptr) : owner_(owner) {}
  TExportColumns(const TExportColumns&) = delete;
  TExportColumns& operator=(const TExportColumns&) = delete;

  QObject* Owner() const { return owner_; }

  // Appends a column with the default settings.
  TExportColumn& Add();
  TExportColumn& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  TExportColumn& operator[](int index) const { return Items(index); }
  int Count() const { return static_cast<int>(items_.size()); }
  int VisibleCount() const;
  void Clear();
  void Assign(const TExportColumns& source);

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() { --updateCount_; }
  int UpdateCount() const { return updateCount_; }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  friend class TExportColumn;
  QObject* owner_;
  std::vector<std::unique_ptr<TExportColumn>> items_;
  int updateCount_ = 0;
};

}  // namespace qav
