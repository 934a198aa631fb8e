#include "app/DM.h"

#include "app/CommandLine.h"
#include "app/DMConfig.h"
#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/FormLogo.h"
#include "app/FrShowError.h"
#include "core/ExceptionHandler.h"
#include "core/TextUtil.h"
#include "db/Database.h"
#include "db/Query.h"

#include <cstdio>
#include <memory>

namespace qav {

using db::TDatabase;
using db::TQuery;

TDM* DM = nullptr;

namespace {

TQuery* CompanyQuery(QObject* owner, const char* name, const QStringList& sql) {
  auto* q = new TQuery(owner);
  q->setObjectName(QString::fromLatin1(name));
  q->SetDatabaseName(QStringLiteral("DMDATA"));
  q->SetSQL(sql);
  return q;
}

const QStringList kConfig = {
    QStringLiteral("SELECT *"),
    QStringLiteral(
        "       ,(Select M.Code From Misc M Where M.Id = MainCurrencyId) MainCurrencyCode"),
    QStringLiteral(
        "       ,(Select M.Description From Misc M Where M.Id = MainCurrencyId) MainCurrencyName"),
    QStringLiteral("FROM Config"),
    QStringLiteral(" "),
    QStringLiteral(" "),
};

const QStringList kCheckPeriod = {
    QStringLiteral("select  * "),
    QStringLiteral("from accountperiod"),
    QStringLiteral("order by accountyear desc"),
};

const QStringList kMiscCurrency = {
    QStringLiteral(
        "Select M.*, C.PurcScrap, C.PurcPart, C.PurcRate, C.SaleScrap, C.SalePart, C.SaleRate"),
    QStringLiteral("From Misc M"),
    QStringLiteral(
        "Left Join (Select Currency, PurcScrap, PurcPart, PurcRate, SaleScrap, SalePart, SaleRate"),
    QStringLiteral(
        "           From (Select RANK()Over ( Order BY C.ExchangeDate Desc) AS RowNumber,"),
    QStringLiteral("                         C.Currency, C.PurcScrap,  C.PurcPart,  C.PurcRate,"),
    QStringLiteral("\t\t\t\t\t\t C.SaleScrap,  C.SalePart , C.SaleRate"),
    QStringLiteral("                 From CurrencyEx C"),
    QStringLiteral("\t\t\t\t) As C "),
    QStringLiteral("\t\t   Where RowNumber = 1"),
    QStringLiteral("\t\t   ) As C On (C.Currency = M.Id)"),
    QStringLiteral("Where M.GroupCode = 'CURRENCY'"),
    QStringLiteral("Order by M.OrderNo"),
};

}  // namespace

TDM::TDM(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DM"));
  DMdata = new TDatabase(this);
  DMdata->setObjectName(QStringLiteral("DMdata"));
  DMdata->SetDatabaseName(QStringLiteral("DMDATA"));
  DMdata->SetDriverName(QStringLiteral("MSSQL"));
  DMdata->SetHandleShared(true);
  DMdata->SetLoginPrompt(false);
  DMdata->BeforeConnect = [this](TDatabase& db) { DMdataBeforeConnect(db); };
  DMdata->AfterConnect = [this](TDatabase& db) { DMdataAfterConnect(db); };
  QConfig = CompanyQuery(this, "QConfig", kConfig);
  QchkPeriod = CompanyQuery(this, "QchkPeriod", kCheckPeriod);
  QMiscCurrency = CompanyQuery(this, "QMiscCurrency", kMiscCurrency);
  DM = this;
  SetApplicationExceptionHandler(
      [this](const Exception& e) { ApplicationEvents1Exception(nullptr, e); });
}

TDM::~TDM() {
  if (DM == this) {
    DM = nullptr;
    SetApplicationExceptionHandler({});
  }
}

void TDM::ReloadConfig() {
  QConfig->Close();
  QConfig->Open();
  QchkPeriod->Close();
  QchkPeriod->Open();
}

bool TDM::AskConfirm(const QString& text) {
  return Dialogs::Confirm(text, DialogColor);
}

void TDM::DMdataBeforeConnect(TDatabase&) {
  CompanyDatabaseName = Trim(ParamStr(3));
  QString server = TDMConfig::ReadServerName();
  if (server.isEmpty()) server = QStringLiteral("QAV");
  DMdata->Params() =
      SuiteConnectionParams(CompanyDatabaseName, server, TDMConfig::ReadConnectionSettings());
}

void TDM::DMdataAfterConnect(TDatabase&) {
  ReloadConfig();
  IvRefSO = QConfig->FieldByName(QStringLiteral("IvRefSO")).AsString() == u"Y";
  MrRefPO = QConfig->FieldByName(QStringLiteral("MrRefPO")).AsString() == u"Y";
  EditPricePO = QConfig->FieldByName(QStringLiteral("EditPricePO")).AsString() == u"Y";
  ShowProductPriceList =
      QConfig->FieldByName(QStringLiteral("ShowProductPriceList")).AsString() == u"Y";
  MainCurrencyId = QConfig->FieldByName(QStringLiteral("MainCurrencyId")).AsInteger();
  MainCurrencyName = QConfig->FieldByName(QStringLiteral("MainCurrencyName")).AsString();
  ReleaseLogo();
  QMiscCurrency->Close();
  QMiscCurrency->Open();
}

void TDM::ApplicationEvents1Exception(QObject*, const Exception& e) {
  // A log that cannot be written (the configuration database gone, say) must not take the
  // user's work with it: the error is still shown, and the log's failure noted on stderr.
  try {
    if (DMConfig) DMConfig->WriteErrorLog(e.Message());
  } catch (const std::exception& logError) {
    std::fprintf(stderr, "Error log not written: %s\n", logError.what());
  }
  auto window = std::make_unique<TFrShowError>();
  window->ErrorText = ErrorWindowText(e.Message());
  window->exec();
}

}  // namespace qav
