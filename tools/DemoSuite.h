#pragma once

#include <QString>

namespace qav::demo {

struct DemoOptions {
  int salesRows = 50000;  // rows of DEMO's Sales table; DEMO2019 gets a tenth of them
};

// Creates an embedded demo suite in FOLDER: master, QAV_CONFIG, DEMO and DEMO2019, plus the
// server's empty drive FOLDER/disk/C. FOLDER may exist only when empty; a missing one is
// created. Raises qav::Exception on any failure, after removing what it had written.
//
// The content is the same for the same options on every machine. Facts that tests and the
// README rely on:
//
// QAV_CONFIG
// - Company 1 "บริษัท ทดสอบ จำกัด" / "Demo Company Limited" (Code "DEMO") runs two year databases,
//   listed in DatabaseList: "DEMO" (YearNo 2024) and "DEMO2019" (YearNo 2019). CompanyConfig
//   has its one row, DefaultPosMenuId 20.
// - Menu: 1 "Sales", 4 "Purchase", 10 "Utilities" (no command); 2 "Sales Order" (SO),
//   3 "Invoice" (IV), 5 "Purchase Order" (PO), 6 "Goods Receipt" (MR), 11 "Exchange Rates"
//   (CURRENCY), 12 "SQL Export" (EXPORT-TO), 13 "Backup Data" (BACKUP), 14 " Import Data "
//   (IMPORT; the caption has a blank on each side), 20 "Point of Sale" (POS). No Version column.
// - UserName (no UserSeeImport/UserSeeCost columns, so the first start adds them):
//     1 "ADMIN"   LanguageNo 0, every right on every menu;
//     2 "THAI"    LanguageNo 1, FullName "สมศรี มีสุข", every right on every menu;
//     3 "GUEST"   LanguageNo 0, read-only rights; an all-"N" row for menu 12, none for 13;
//     4 "SOMCHAI" LanguageNo 1, FullName "สมชาย ใจดี", SalesId 1; rights on menu 12 stored as
//                 small letters ("y"), none for 13.
// - Procedures "MENUCAPTION" (@MENUID, @USERID -> CAPTION, ACCESS_R, ADD_R, MODIFY_R,
//   DELETE_R, USERCODE, SALESID; rights "N" without a UserRight row, USERCODE NULL for an
//   unknown user) and "AddErrorLog" (@CompName, @LogName, @UserId, @MenuId, @ErrorMsg -> one
//   ErrorLog row stamped with the local date and time). ErrorLog starts empty.
//
// DEMO (year 2024) and DEMO2019 (year 2019)
// - Config (one row): DEMO IvRefSO "Y", MrRefPO "N", EditPricePO "Y", ShowProductPriceList "N";
//   DEMO2019 "Y", "Y", "N", "y" (small letter). MainCurrencyId 1 in both.
// - Misc group 'CURRENCY' by OrderNo: 1 THB "เงินบาท", 2 USD "ดอลลาร์สหรัฐ", 4 JPY "เยนญี่ปุ่น",
//   3 EUR "ยูโร" (Id 3 has OrderNo 4). Groups 'UNIT' (Ids 11-16) and 'PAYTERM' (21-23) as well.
// - CurrencyEx: DEMO has USD and EUR on 2024-06-26/27/28 and JPY on 2024-06-26/27 only, so
//   the newest date (2024-06-28, USD SaleRate 36.85, EUR SaleRate 39.65) leaves JPY without
//   a rate; DEMO2019 has all three on 2019-12-27 and 2019-12-30 (USD SaleRate 30.30).
// - accountperiod: DEMO 2022, 2023 (closed) and 2024 (open); DEMO2019 2017-2019, all closed.
// - Salesman: 8 rows, 1 "สมชาย ใจดี" / "Somchai Jaidee".
// - Customer: DEMO 200 rows, DEMO2019 the first 150 of them. Customer 1: Code "C0001",
//   NameThai "บริษัท สยามการค้า จำกัด", NameEng "Siam Trading Co., Ltd.". Shops (Id 3, 7, 11, ...)
//   have no TaxNo; half of them no NameEng.
// - Product: DEMO 120 rows, DEMO2019 the first 100 at older prices. Product 1: Code "P00001",
//   NameThai "น็อตหัวหกเหลี่ยม M8 ยาว 10 มม.", NameEng "Hex bolt M8 x 10 mm", Unit 11, Price
//   2.50 in DEMO, 2.20 in DEMO2019.
// - Sales: one row per invoice line, dates spread over the year, about 2 % credit notes
//   ("CN...", negative Qty). DEMO has salesRows rows; row 1 is DocNo "IV2401-00001",
//   DocDate "2024-01-02". DEMO2019 has salesRows / 10 rows; row 1 DocDate "2019-01-02".
//
// Column types are declared as SQL Server's (int, money, decimal(18,4), datetime, nvarchar(n),
// ...), every text column COLLATE NOCASE; dates are stored as "YYYY-MM-DD" and date-times as
// "YYYY-MM-DD HH:MM:SS" texts.
void CreateDemoSuite(const QString& folder, const DemoOptions& options = {});

}  // namespace qav::demo
