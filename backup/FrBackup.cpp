#include "backup/FrBackup.h"

namespace qav {

TFrBackup::TFrBackup(QWidget* parent) : TFrForm(parent) {
  setObjectName(QStringLiteral("FrBackup"));
  setWindowTitle(QStringLiteral("Backup Data"));
  setFixedSize(546, 127);
}

}  // namespace qav
