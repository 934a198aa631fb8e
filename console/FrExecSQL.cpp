#include "console/FrExecSQL.h"

#include "app/DMConfig.h"
#include "app/Dialogs.h"

namespace qav {

TFrExecSQL::TFrExecSQL(QWidget* parent) : TFrForm(parent) {
  setObjectName(QStringLiteral("FrExecSQL"));
  setFixedSize(792, 573);
}

void TFrExecSQL::FormShow() {
  TFrForm::FormShow();
  if (DMConfig) {
    setWindowTitle(DMConfig->MenuCaption);
    SetApplicationTitle(DMConfig->MenuCaption);
  }
}

}  // namespace qav
