#pragma once

#include "ui/NamedColors.h"

#include <QColor>
#include <QObject>

namespace qav {

namespace db {
class TDatabase;
class TQuery;
}  // namespace db
class Exception;

// The company database module: the connection to the company named on the command line, the
// company's configuration loaded when that connection first opens, the blue confirmation
// question, and the application-wide error handler.
class TDM : public QObject {
  Q_OBJECT

 public:
  explicit TDM(QObject* owner = nullptr);
  ~TDM() override;

  db::TDatabase* DMdata;
  db::TQuery* QConfig;
  db::TQuery* QchkPeriod;
  db::TQuery* QMiscCurrency;

  QString CompanyDatabaseName;  // argument 3, trimmed
  QColor DialogColor = NamedColor(TNamedColor::Blue);
  bool IvRefSO = false;
  bool MrRefPO = false;
  bool EditPricePO = false;
  bool ShowProductPriceList = false;
  int MainCurrencyId = 0;
  QString MainCurrencyName;

  void ReloadConfig();
  // The blue Yes/No question; true only for Yes.
  bool AskConfirm(const QString& text);

  void DMdataBeforeConnect(db::TDatabase& db);
  void DMdataAfterConnect(db::TDatabase& db);
  // Every error that escapes an event handler while the message loop runs.
  virtual void ApplicationEvents1Exception(QObject* sender, const Exception& e);
};

// The one company module, while it exists.
extern TDM* DM;

}  // namespace qav
