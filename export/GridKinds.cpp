#include "export/GridKinds.h"

#include <QPalette>
#include <QWidget>

namespace qav {

QColor TSelectedListGrid::GridColor() const {
  const auto* w = dynamic_cast<const QWidget*>(this);
  // The colour the cells show in use: during a run the progress window disables the grid, and
  // the disabled colour is not the grid's.
  return w ? w->palette().color(QPalette::Active, QPalette::Base) : QColor(255, 255, 255);
}

QFont TSelectedListGrid::GridFont() const {
  const auto* w = dynamic_cast<const QWidget*>(this);
  return w ? w->font() : QFont();
}

QFont TSelectedListGrid::GridTitleFont() const {
  return GridFont();
}

TGridKind GridKindOf(QWidget* control) {
  if (!control) return gkNone;
  if (dynamic_cast<TColumnGrid*>(control)) return gkColumnGrid;
  if (dynamic_cast<TSelectedListGrid*>(control)) return gkSelectedListGrid;
  if (dynamic_cast<TFieldsGrid*>(control)) return gkFieldsGrid;
  return gkNone;
}

bool IsGridOfKind(QWidget* control, TGridKind kind) {
  switch (kind) {
    case gkColumnGrid:
      return dynamic_cast<TColumnGrid*>(control) != nullptr;
    case gkSelectedListGrid:
      return dynamic_cast<TSelectedListGrid*>(control) != nullptr;
    case gkFieldsGrid:
      return dynamic_cast<TFieldsGrid*>(control) != nullptr;
    case gkNone:
      break;
  }
  return false;
}

}  // namespace qav
