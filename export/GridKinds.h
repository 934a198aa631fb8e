#pragma once

#include "db/DataSet.h"
#include "db/FieldTypes.h"

#include <QColor>
#include <QFont>
#include <QStringList>
#include <vector>

class QWidget;

namespace qav {

// The three kinds of grid control an export can take its columns and records from. A grid
// widget implements one (or more) of these interfaces; the export tests them in this order.

// A column of a column grid or an item of a fields grid, with its title.
struct TGridColumn {
  QString FieldName;
  db::TAlignment Alignment = db::taLeftJustify;
  QColor Color = QColor(255, 255, 255);
  QFont Font;
  bool Visible = true;
  QString TitleCaption;
  db::TAlignment TitleAlignment = db::taLeftJustify;
  QFont TitleFont;
  QColor TitleColor = QColor(192, 192, 192);
};

// A standard data grid: a column collection whose items carry a field name.
class TColumnGrid {
 public:
  virtual ~TColumnGrid() = default;
  virtual db::TDataSet* DataSource() const = 0;
  virtual int ColumnCount() const = 0;
  virtual TGridColumn GridColumn(int index) const = 0;
  // The rows the user selected, as bookmarks in the order of the grid's selection list.
  virtual std::vector<db::TBookmark> SelectedRows() const = 0;
};

// A grid with a selected-fields text list: one line per column, "field name TAB width TAB
// caption", optionally more tab-separated parts. The console's results grid is one.
class TSelectedListGrid {
 public:
  virtual ~TSelectedListGrid() = default;
  virtual db::TDataSet* DataSource() const = 0;
  virtual QStringList& SelectedFieldList() = 0;
  // Background colour, font and title font of the cells; by default the widget's own.
  virtual QColor GridColor() const;
  virtual QFont GridFont() const;
  virtual QFont GridTitleFont() const;
};

// A grid with a fields collection.
class TFieldsGrid {
 public:
  virtual ~TFieldsGrid() = default;
  virtual db::TDataSet* DataSource() const = 0;
  virtual int FieldItemCount() const = 0;
  virtual TGridColumn FieldItem(int index) const = 0;
};

enum TGridKind { gkNone, gkColumnGrid, gkSelectedListGrid, gkFieldsGrid };

// The first kind the control is of, in the order above.
TGridKind GridKindOf(QWidget* control);
// Whether the control implements the interface of that kind (whatever else it implements).
bool IsGridOfKind(QWidget* control, TGridKind kind);

}  // namespace qav
