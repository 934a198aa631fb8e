#pragma once

#include "app/FrForm.h"

namespace qav {

// The window of the command "BACKUP".
class TFrBackup : public TFrForm {
  Q_OBJECT

 public:
  explicit TFrBackup(QWidget* parent = nullptr);
};

}  // namespace qav
