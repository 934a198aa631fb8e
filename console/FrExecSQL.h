#pragma once

#include "app/FrForm.h"

namespace qav {

// The SQL console window of the command "EXPORT-TO".
class TFrExecSQL : public TFrForm {
  Q_OBJECT

 public:
  explicit TFrExecSQL(QWidget* parent = nullptr);

  void FormShow() override;
};

}  // namespace qav
