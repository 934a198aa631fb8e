#include "tools/DemoSuite.h"

#include "core/Exception.h"
#include "db/embedded/EmbeddedSuite.h"
#include "db/embedded/SqliteHandle.h"
#include "db/embedded/TsqlCollation.h"

#include <sqlite3.h>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qav::demo {

namespace {

namespace suite = qav::db::embedded;

// splitmix64: the demo's content must be the same with every compiler and standard library,
// which the standard engines' distributions do not promise.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int low, int high) { return low + Below(high - low + 1); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

const QVariant kNull;

QString Day(const QDate& date) {
  return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QString Stamp(const QDate& date, int secondOfDay) {
  return Day(date) + QString::asprintf(" %02d:%02d:%02d", secondOfDay / 3600, secondOfDay / 60 % 60,
                                       secondOfDay % 60);
}

// Money is computed in satang (hundredths) so that amounts add up exactly.
double Money(qint64 hundredths) {
  return static_cast<double>(hundredths) / 100.0;
}

qint64 RoundDiv(qint64 value, qint64 divisor) {
  return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
}

// A column as SQL Server would declare it; constraints may follow the type.
struct Column {
  const char* name;
  const char* type;
};

// SQL Server compares texts without regard to case by default; the embedded files follow it.
bool IsTextType(const char* type) {
  const QByteArray t = QByteArray(type).toLower();
  return t.startsWith("char") || t.startsWith("varchar") || t.startsWith("nchar") ||
         t.startsWith("nvarchar") || t.startsWith("text");
}

class DatabaseFile {
 public:
  explicit DatabaseFile(const QString& path) : path_(path) {
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      const QString reason =
          db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw Exception(
          QStringLiteral("Cannot create %1: %2").arg(QDir::toNativeSeparators(path_), reason));
    }
    db::embedded::RefuseDoubleQuotedStrings(db_);
    // The suite's text indexes are built in SQL Server's order, as its connections compare.
    db::embedded::RegisterTsqlCollation(db_);
    db::embedded::MarkTextIndexesOrdered(db_);
    Exec("BEGIN");
    Exec(suite::kProcedureTableDdl);
  }
  ~DatabaseFile() { sqlite3_close_v2(db_); }
  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;

  sqlite3* Handle() const { return db_; }

  [[noreturn]] void Fail() const {
    throw Exception(
        QStringLiteral("Cannot write %1: %2")
            .arg(QDir::toNativeSeparators(path_), QString::fromUtf8(sqlite3_errmsg(db_))));
  }

  void Exec(const QByteArray& sql) {
    if (sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  void AddProcedure(const char* name, const char* body);

  void Commit() { Exec("COMMIT"); }

 private:
  QString path_;
  sqlite3* db_ = nullptr;
};

// Creates a table and inserts rows that list a value for every column, in column order.
class Table {
 public:
  Table(DatabaseFile& file, const char* name, const std::vector<Column>& columns,
        const char* constraints = nullptr)
      : file_(file), columnCount_(static_cast<int>(columns.size())) {
    QByteArray ddl = QByteArray("CREATE TABLE ") + name + " (";
    QByteArray insert = QByteArray("INSERT INTO ") + name + " VALUES (";
    for (int i = 0; i < columnCount_; ++i) {
      const Column& c = columns[static_cast<size_t>(i)];
      ddl += QByteArray(i ? ", " : "") + c.name + ' ' + c.type;
      if (IsTextType(c.type)) ddl += " COLLATE NOCASE";
      insert += i ? ", ?" : "?";
    }
    if (constraints) ddl += QByteArray(", ") + constraints;
    file_.Exec(ddl + ')');
    if (sqlite3_prepare_v2(file_.Handle(), (insert + ')').constData(), -1, &insert_, nullptr) !=
        SQLITE_OK)
      file_.Fail();
  }
  ~Table() { sqlite3_finalize(insert_); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  void Add(const std::vector<QVariant>& values) {
    if (static_cast<int>(values.size()) != columnCount_)
      throw Exception(QStringLiteral("Demo row of %1 values for %2 columns")
                          .arg(values.size())
                          .arg(columnCount_));
    sqlite3_reset(insert_);
    for (int i = 0; i < columnCount_; ++i) {
      const QVariant& v = values[static_cast<size_t>(i)];
      int rc = SQLITE_OK;
      switch (v.typeId()) {
        case QMetaType::UnknownType:
          rc = sqlite3_bind_null(insert_, i + 1);
          break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::LongLong:
          rc = sqlite3_bind_int64(insert_, i + 1, v.toLongLong());
          break;
        case QMetaType::Double:
          rc = sqlite3_bind_double(insert_, i + 1, v.toDouble());
          break;
        default: {
          const QByteArray text = v.toString().toUtf8();
          rc = sqlite3_bind_text(insert_, i + 1, text.constData(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
        }
      }
      if (rc != SQLITE_OK) file_.Fail();
    }
    if (sqlite3_step(insert_) != SQLITE_DONE) file_.Fail();
  }

  void AddRows(const std::vector<std::vector<QVariant>>& rows) {
    for (const auto& row : rows) Add(row);
  }

 private:
  DatabaseFile& file_;
  int columnCount_;
  sqlite3_stmt* insert_ = nullptr;
};

void DatabaseFile::AddProcedure(const char* name, const char* body) {
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT INTO qav_procedures (name, body) VALUES (?, ?)", -1, &insert,
                         nullptr) != SQLITE_OK)
    Fail();
  sqlite3_bind_text(insert, 1, name, -1, SQLITE_STATIC);
  sqlite3_bind_text(insert, 2, body, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(insert);
  sqlite3_finalize(insert);
  if (rc != SQLITE_DONE) Fail();
}

// ---------------------------------------------------------------------------------------------
// QAV_CONFIG

// One output row whatever the ids: SQL Server's procedure always sets its output parameters,
// and rights without a UserRight row read "N".
constexpr char kMenuCaptionBody[] =
    "SELECT M.Caption AS CAPTION,\n"
    "       Coalesce(R.Access_R, 'N') AS ACCESS_R, Coalesce(R.Add_R, 'N') AS ADD_R,\n"
    "       Coalesce(R.Modify_R, 'N') AS MODIFY_R, Coalesce(R.Delete_R, 'N') AS DELETE_R,\n"
    "       U.Code AS USERCODE, Coalesce(U.SalesId, 0) AS SALESID\n"
    "FROM (SELECT @MENUID AS MenuId, @USERID AS UserId) K\n"
    "LEFT JOIN Menu M ON M.Id = K.MenuId\n"
    "LEFT JOIN UserName U ON U.Id = K.UserId\n"
    "LEFT JOIN UserRight R ON R.UserId = K.UserId AND R.MenuId = K.MenuId";

// GETDATE() is the server's local time.
constexpr char kAddErrorLogBody[] =
    "INSERT INTO ErrorLog (LogDate, CompName, LogName, UserId, MenuId, ErrorMsg)\n"
    "VALUES (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), @CompName, @LogName, @UserId,\n"
    "        @MenuId, @ErrorMsg)";

constexpr int kCompanyId = 1;

void WriteConfigDatabase(const QString& path) {
  DatabaseFile file(path);

  Table company(file, "Company",
                {{"Id", "int NOT NULL PRIMARY KEY"},
                 {"Code", "varchar(10) NOT NULL"},
                 {"Password", "varchar(20)"},
                 {"NameThai", "nvarchar(100) NOT NULL"},
                 {"NameEng", "nvarchar(100)"},
                 {"ShortName", "varchar(20)"},
                 {"Address1", "nvarchar(100)"},
                 {"Address2", "nvarchar(100)"},
                 {"Address3", "nvarchar(100)"},
                 {"Address4", "nvarchar(100)"},
                 {"Province", "nvarchar(50)"},
                 {"Zip", "varchar(5)"},
                 {"Telephone", "varchar(50)"},
                 {"Fax", "varchar(50)"},
                 {"EMail", "varchar(100)"},
                 {"Logo", "varchar(255)"},
                 {"TaxNo", "varchar(13)"},
                 {"InstallDate", "datetime"},
                 {"RunYear", "smallint"},
                 {"LocalServer", "varchar(50)"},
                 {"FUNDNAME", "nvarchar(100)"},
                 {"TaxBranchHead", "char(1)"},
                 {"TaxBranchCode", "varchar(5)"},
                 {"TaxBranchName", "nvarchar(100)"}});
  company.Add({kCompanyId,
               "DEMO",
               kNull,
               "บริษัท ทดสอบ จำกัด",
               "Demo Company Limited",
               "DEMO CO.",
               "99/9 อาคารทดสอบ ชั้น 12",
               "ถนนสุขุมวิท",
               "แขวงคลองเตยเหนือ",
               "เขตวัฒนา",
               "กรุงเทพมหานคร",
               "10110",
               "02-123-4567",
               "02-123-4568",
               "account@demo.example",
               kNull,
               "0105561234567",
               "2015-04-01 09:00:00",
               2024,
               "QAV",
               kNull,
               "Y",
               "00000",
               "สำนักงานใหญ่"});

  Table databases(file, "DatabaseList",
                  {{"Company", "int NOT NULL"},
                   {"DatabaseName", "varchar(30) NOT NULL PRIMARY KEY"},
                   {"Description", "nvarchar(100)"},
                   {"YearNo", "smallint NOT NULL"}});
  databases.AddRows({{kCompanyId, "DEMO", "ปีบัญชี 2024", 2024},
                     {kCompanyId, "DEMO2019", "ปีบัญชี 2019 (ปิดบัญชีแล้ว)", 2019}});

  Table companyConfig(file, "CompanyConfig",
                      {{"Company", "int NOT NULL PRIMARY KEY"},
                       {"PicturePath", "varchar(255)"},
                       {"Public_Price_IE", "char(1)"},
                       {"DefaultWh", "varchar(10)"},
                       {"POS1_Wh", "varchar(10)"},
                       {"POS1_TaxCode", "varchar(10)"},
                       {"POS1_Price_IE", "char(1)"},
                       {"POS1_PriceType", "smallint"},
                       {"POS1_SumDetail", "char(1)"},
                       {"DefaultPosComPort", "varchar(10)"},
                       {"DefaultTax", "decimal(18,4)"},
                       {"DefaultPosMenuId", "int"}});
  companyConfig.Add(
      {kCompanyId, "C:\\QAV\\Pictures", "I", "WH01", "WH02", "V7", "I", 1, "N", "COM1", 7.0, 20});

  Table software(file, "softwareconfig",
                 {{"Id", "int NOT NULL PRIMARY KEY"},
                  {"SoftwareName", "nvarchar(60)"},
                  {"VersionNo", "varchar(20)"},
                  {"ReleaseDate", "date"},
                  {"LicenseNo", "varchar(30)"},
                  {"MaxUsers", "smallint"},
                  {"UpdatePath", "varchar(255)"}});
  software.Add({1, "QAV Business Suite", "5.2.0", "2023-11-15", "QAV-DEMO-0001", 10, kNull});

  Table menu(file, "Menu",
             {{"Id", "int NOT NULL PRIMARY KEY"},
              {"ParentId", "int"},
              {"OrderNo", "smallint"},
              {"Caption", "nvarchar(60) NOT NULL"},
              {"CaptionThai", "nvarchar(60)"},
              {"Command", "varchar(30)"},
              {"MenuOption", "varchar(30)"}});
  const std::vector<std::vector<QVariant>> menus = {
      {1, kNull, 1, "Sales", "ระบบขาย", kNull, kNull},
      {2, 1, 1, "Sales Order", "ใบสั่งขาย", "SO", kNull},
      {3, 1, 2, "Invoice", "ใบกำกับภาษี", "IV", "VAT"},
      {4, kNull, 2, "Purchase", "ระบบซื้อ", kNull, kNull},
      {5, 4, 1, "Purchase Order", "ใบสั่งซื้อ", "PO", kNull},
      {6, 4, 2, "Goods Receipt", "ใบรับสินค้า", "MR", kNull},
      {10, kNull, 9, "Utilities", "เครื่องมือ", kNull, kNull},
      {11, 10, 1, "Exchange Rates", "อัตราแลกเปลี่ยน", "CURRENCY", kNull},
      {12, 10, 2, "SQL Export", "ส่งออกข้อมูลด้วย SQL", "EXPORT-TO", kNull},
      {13, 10, 3, "Backup Data", "สำรองข้อมูล", "BACKUP", kNull},
      {14, 10, 4, " Import Data ", "นำเข้าข้อมูล", "IMPORT", kNull},
      {20, kNull, 3, "Point of Sale", "ขายหน้าร้าน", "POS", "TOUCH"},
  };
  menu.AddRows(menus);

  // The flag columns of UserName, in the order the user query names them.
  static const char* const kUserFlags[] = {"EditSalePrice",
                                           "Approve_Quo",
                                           "Approve_SO",
                                           "Approve_IV",
                                           "Approve_PO",
                                           "Approved_PORQ",
                                           "ApproveTranWH",
                                           "ApproveTranBranch",
                                           "ApproveWorkOrder",
                                           "CanSeeCost",
                                           "CanSeeSalePrice",
                                           "CanModifyCusSale",
                                           "Approve_PreIs",
                                           "ApproveCustomerDropUse",
                                           "ApproveCustomerDropCredit",
                                           "CanModifyCredit",
                                           "CanSetProductBlock",
                                           "CanSetProductMinus",
                                           "CanSaleCreditOnReturnCheque"};
  std::vector<Column> userColumns = {
      {"Id", "int NOT NULL PRIMARY KEY"},  {"Code", "varchar(20) NOT NULL"},
      {"FullName", "nvarchar(100)"},       {"Password", "varchar(20)"},
      {"LanguageNo", "smallint NOT NULL"}, {"SalesId", "int"}};
  for (const char* flag : kUserFlags) userColumns.push_back({flag, "char(1)"});
  Table users(file, "UserName", userColumns);
  struct User {
    int id;
    const char* code;
    const char* fullName;
    const char* password;
    int languageNo;
    QVariant salesId;
    const char* flags;  // one letter per flag column
  };
  const User kUsers[] = {
      {1, "ADMIN", "Administrator", "admin", 0, kNull, "YYYYYYYYYYYYYYYYYYY"},
      {2, "THAI", "สมศรี มีสุข", "thai", 1, 2, "YYYYYYYYYYYYYYYYYYY"},
      {3, "GUEST", "Guest", "", 0, kNull, "NNNNNNNNNNNNNNNNNNN"},
      {4, "SOMCHAI", "สมชาย ใจดี", "1234", 1, 1, "YNYYNNNNNNYYNNNYNNY"},
  };
  for (const User& u : kUsers) {
    std::vector<QVariant> row = {u.id, u.code, u.fullName, u.password, u.languageNo, u.salesId};
    for (const char* f = u.flags; *f; ++f) row.push_back(QString(QLatin1Char(*f)));
    users.Add(row);
  }

  Table rights(file, "UserRight",
               {{"UserId", "int NOT NULL"},
                {"MenuId", "int NOT NULL"},
                {"Access_R", "char(1) NOT NULL"},
                {"Add_R", "char(1) NOT NULL"},
                {"Modify_R", "char(1) NOT NULL"},
                {"Delete_R", "char(1) NOT NULL"}},
               "PRIMARY KEY (UserId, MenuId)");
  for (const auto& m : menus) {
    const int menuId = m[0].toInt();
    for (int userId : {1, 2}) rights.Add({userId, menuId, "Y", "Y", "Y", "Y"});
    if (menuId == 12) {
      rights.Add({3, menuId, "N", "N", "N", "N"});
      rights.Add({4, menuId, "y", "y", "n", "n"});
    } else if (menuId != 13) {
      rights.Add({3, menuId, "Y", "N", "N", "N"});
      rights.Add({4, menuId, "Y", "Y", "Y", "N"});
    }
  }

  Table errorLog(file, "ErrorLog",
                 {{"Id", "integer PRIMARY KEY"},
                  {"LogDate", "datetime NOT NULL"},
                  {"CompName", "varchar(50)"},
                  {"LogName", "varchar(50)"},
                  {"UserId", "int"},
                  {"MenuId", "int"},
                  {"ErrorMsg", "text"}});

  file.AddProcedure("MENUCAPTION", kMenuCaptionBody);
  file.AddProcedure("AddErrorLog", kAddErrorLogBody);
  file.Commit();
}

// ---------------------------------------------------------------------------------------------
// Company databases

constexpr int kTHB = 1, kUSD = 2, kEUR = 3, kJPY = 4;
constexpr int kPieces = 11, kBox = 12, kMetre = 13, kKilogram = 14, kGallon = 15, kRoll = 16;

struct Rate {
  int currency;
  const char* date;
  double purcScrap, purcPart, purcRate, saleScrap, salePart, saleRate;
};

struct YearSetup {
  int year;
  uint64_t seed;
  const char* configFlags;  // IvRefSO, MrRefPO, EditPricePO, ShowProductPriceList
  const char* lastClosing;
  std::vector<Rate> rates;
  std::vector<std::vector<QVariant>> periods;
  int customers;
  int products;
  int pricePercent;  // of today's list prices
  int usdBase;       // lowest USD rate of the year, in satang
  int salesRows;
};

void WriteCompanyBasics(DatabaseFile& file, const YearSetup& y) {
  Table misc(file, "Misc",
             {{"Id", "int NOT NULL PRIMARY KEY"},
              {"GroupCode", "varchar(20) NOT NULL"},
              {"Code", "varchar(20) NOT NULL"},
              {"Description", "nvarchar(100)"},
              {"DescriptionEng", "varchar(100)"},
              {"OrderNo", "int"},
              {"Active", "char(1)"}});
  misc.AddRows({
      {kTHB, "CURRENCY", "THB", "เงินบาท", "Thai Baht", 1, "Y"},
      {kUSD, "CURRENCY", "USD", "ดอลลาร์สหรัฐ", "US Dollar", 2, "Y"},
      {kEUR, "CURRENCY", "EUR", "ยูโร", "Euro", 4, "Y"},
      {kJPY, "CURRENCY", "JPY", "เยนญี่ปุ่น", "Japanese Yen", 3, "Y"},
      {kPieces, "UNIT", "PCS", "ชิ้น", "Piece", 1, "Y"},
      {kBox, "UNIT", "BOX", "กล่อง", "Box", 2, "Y"},
      {kMetre, "UNIT", "M", "เมตร", "Metre", 3, "Y"},
      {kKilogram, "UNIT", "KG", "กิโลกรัม", "Kilogram", 4, "Y"},
      {kGallon, "UNIT", "GAL", "แกลลอน", "Gallon", 5, "Y"},
      {kRoll, "UNIT", "ROLL", "ม้วน", "Roll", 6, "N"},
      {21, "PAYTERM", "CASH", "เงินสด", "Cash", 1, "Y"},
      {22, "PAYTERM", "CR30", "เครดิต 30 วัน", "30 days credit", 2, "Y"},
      {23, "PAYTERM", "CR60", "เครดิต 60 วัน", kNull, 3, "Y"},
  });

  Table config(file, "Config",
               {{"Id", "int NOT NULL PRIMARY KEY"},
                {"IvRefSO", "char(1)"},
                {"MrRefPO", "char(1)"},
                {"EditPricePO", "char(1)"},
                {"ShowProductPriceList", "char(1)"},
                {"MainCurrencyId", "int"},
                {"VatRate", "decimal(18,4)"},
                {"PriceDecimals", "smallint"},
                {"QtyDecimals", "smallint"},
                {"DefaultWarehouse", "varchar(10)"},
                {"FiscalStart", "date"},
                {"LastClosing", "datetime"}});
  const char* f = y.configFlags;
  config.Add({1, QString(QLatin1Char(f[0])), QString(QLatin1Char(f[1])), QString(QLatin1Char(f[2])),
              QString(QLatin1Char(f[3])), kTHB, 7.0, 2, 4, "WH01", Day(QDate(y.year, 1, 1)),
              y.lastClosing});

  Table periods(file, "accountperiod",
                {{"AccountYear", "smallint NOT NULL PRIMARY KEY"},
                 {"StartDate", "date NOT NULL"},
                 {"EndDate", "date NOT NULL"},
                 {"Closed", "char(1) NOT NULL"},
                 {"CloseDate", "datetime"},
                 {"ClosedBy", "varchar(20)"}});
  periods.AddRows(y.periods);

  Table rates(file, "CurrencyEx",
              {{"Id", "int NOT NULL PRIMARY KEY"},
               {"Currency", "int NOT NULL"},
               {"ExchangeDate", "date NOT NULL"},
               {"PurcScrap", "decimal(18,4)"},
               {"PurcPart", "decimal(18,4)"},
               {"PurcRate", "decimal(18,4)"},
               {"SaleScrap", "decimal(18,4)"},
               {"SalePart", "decimal(18,4)"},
               {"SaleRate", "decimal(18,4)"}});
  int rateId = 0;
  for (const Rate& r : y.rates)
    rates.Add({++rateId, r.currency, r.date, r.purcScrap, r.purcPart, r.purcRate, r.saleScrap,
               r.salePart, r.saleRate});

  Table salesmen(file, "Salesman",
                 {{"Id", "int NOT NULL PRIMARY KEY"},
                  {"Code", "varchar(10) NOT NULL"},
                  {"NameThai", "nvarchar(100) NOT NULL"},
                  {"NameEng", "varchar(100)"},
                  {"Phone", "varchar(20)"},
                  {"CommissionRate", "decimal(18,4)"},
                  {"Active", "bit NOT NULL"}});
  salesmen.AddRows({
      {1, "S01", "สมชาย ใจดี", "Somchai Jaidee", "081-234-5678", 2.5, true},
      {2, "S02", "สมศรี มีสุข", "Somsri Meesuk", "089-876-5432", 2.5, true},
      {3, "S03", "วิชัย มั่งมี", "Wichai Mangmee", kNull, 3.0, true},
      {4, "S04", "ปราณี ศรีสวัสดิ์", "Pranee Srisawat", "086-555-0101", 3.0, true},
      {5, "S05", "ธนากร บุญมา", "Thanakorn Boonma", "084-111-2222", 1.75, true},
      {6, "S06", "กมลชนก แสงทอง", "Kamonchanok Saengthong", kNull, 2.0, false},
      {7, "S07", "อนุชา พงษ์ไพร", "Anucha Phongphrai", "087-333-4444", 2.0, true},
      {8, "S08", "นภัสสร วงศ์ดี", kNull, "085-999-0000", 1.5, true},
  });
}

struct CustomerForm {
  const char* thai;  // %1 name, %2 line of business
  const char* english;
  bool taxRegistered;
};

const CustomerForm kForms[] = {
    {"บริษัท %1%2 จำกัด", "%1 %2 Co., Ltd.", true},
    {"ห้างหุ้นส่วนจำกัด %1%2", "%1 %2 Ltd., Part.", true},
    {"ร้าน%1%2", "%1 %2 Shop", false},
    {"บริษัท %1%2 จำกัด (มหาชน)", "%1 %2 Public Co., Ltd.", true},
};
const char* const kNames[][2] = {{"สยาม", "Siam"},
                                 {"รุ่งเรือง", "Rungrueang"},
                                 {"เจริญผล", "Charoenphon"},
                                 {"ทองดี", "Thongdee"},
                                 {"ศรีสุข", "Srisuk"},
                                 {"มั่นคง", "Mankhong"},
                                 {"ไทยพัฒนา", "Thai Phatthana"},
                                 {"บางกอก", "Bangkok"},
                                 {"ล้านนา", "Lanna"},
                                 {"อีสานรุ่ง", "Isan Rung"},
                                 {"อันดามัน", "Andaman"}};
const char* const kBusinesses[][2] = {{"การค้า", "Trading"},       {"อุตสาหกรรม", "Industries"},
                                      {"ก่อสร้าง", "Construction"}, {"อาหาร", "Foods"},
                                      {"ยานยนต์", "Auto Parts"},   {"เคมีภัณฑ์", "Chemicals"},
                                      {"อิเล็กทริก", "Electric"},    {"พลาสติก", "Plastics"},
                                      {"วัสดุภัณฑ์", "Materials"},    {"โลจิสติกส์", "Logistics"}};
const char* const kRoads[] = {"สุขุมวิท",  "พหลโยธิน",    "เพชรบุรี",   "รัชดาภิเษก",
                              "มิตรภาพ", "นิมมานเหมินท์", "กาญจนวนิช", "เทพกระษัตรี"};
// Province, post code, telephone area code.
const char* const kProvinces[][3] = {{"กรุงเทพมหานคร", "10110", "02"}, {"นนทบุรี", "11000", "02"},
                                     {"ชลบุรี", "20000", "038"},        {"นครราชสีมา", "30000", "044"},
                                     {"ขอนแก่น", "40000", "043"},      {"เชียงใหม่", "50200", "053"},
                                     {"ภูเก็ต", "83000", "076"},        {"สงขลา", "90110", "074"}};

template <typename T, size_t N>
constexpr int Count(const T (&)[N]) {
  return static_cast<int>(N);
}

constexpr int kCreditDays[] = {30, 45, 60, 90};
constexpr double kCustomerDiscounts[] = {0, 0, 2.5, 5};

void WriteCustomers(DatabaseFile& file, const YearSetup& y) {
  Table customers(file, "Customer",
                  {{"Id", "int NOT NULL PRIMARY KEY"},
                   {"Code", "varchar(20) NOT NULL"},
                   {"NameThai", "nvarchar(100) NOT NULL"},
                   {"NameEng", "nvarchar(100)"},
                   {"Address1", "nvarchar(100)"},
                   {"Province", "nvarchar(50)"},
                   {"Zip", "char(5)"},
                   {"Telephone", "varchar(30)"},
                   {"Email", "varchar(100)"},
                   {"TaxNo", "char(13)"},
                   {"CreditLimit", "money NOT NULL"},
                   {"CreditDays", "smallint NOT NULL"},
                   {"Discount", "decimal(18,4)"},
                   {"Salesman", "int"},
                   {"Blocked", "bit NOT NULL"},
                   {"CreateDate", "datetime NOT NULL"},
                   {"LastSaleDate", "date"}},
                  "UNIQUE (Code)");
  // The same seed in every year, so a customer reads the same in each year's database.
  Random rng(0xC057011E5ull);
  for (int id = 1; id <= y.customers; ++id) {
    const int n = id - 1;
    const CustomerForm& form = kForms[n % Count(kForms)];
    const auto& name = kNames[n % Count(kNames)];
    const auto& business = kBusinesses[n / Count(kNames) % Count(kBusinesses)];
    const QString thai = QString::fromUtf8(form.thai).arg(QString::fromUtf8(name[0]),
                                                          QString::fromUtf8(business[0]));
    QVariant english =
        QString::fromUtf8(form.english).arg(QLatin1String(name[1]), QLatin1String(business[1]));
    if (!form.taxRegistered && id % 8 == 3) english = kNull;

    const int house = rng.Between(1, 999);
    const int houseSub = rng.Between(0, 30);
    const int road = rng.Below(Count(kRoads));
    const auto& province = kProvinces[rng.Below(Count(kProvinces))];
    const bool mobile = rng.Chance(40);
    const int phoneA = rng.Between(100, 999);
    const int phoneB = rng.Between(0, 9999);
    const bool hasEmail = rng.Chance(65);
    const int taxDigits = rng.Between(100000000, 999999999);
    const int creditSteps = rng.Between(2, 100);
    const int creditDays = kCreditDays[rng.Below(Count(kCreditDays))];
    const double discount = kCustomerDiscounts[rng.Below(Count(kCustomerDiscounts))];
    const bool noSalesman = rng.Chance(15);
    const int salesman = rng.Between(1, 8);
    const bool blocked = rng.Chance(4);
    const int createdDay = rng.Below(3287);
    const int createdSecond = rng.Between(8 * 3600, 18 * 3600 - 1);
    const bool noLastSale = rng.Chance(10);
    const int lastSaleDay = rng.Below(360);

    const QString address =
        (houseSub ? QStringLiteral("%1/%2").arg(house).arg(houseSub) : QString::number(house)) +
        QStringLiteral(" ถนน") + QString::fromUtf8(kRoads[road]);
    const QString area = QLatin1String(province[2]);
    QString phone;
    if (mobile)
      phone = QString::asprintf("08%d-%03d-%04d", phoneA % 10, phoneA, phoneB);
    else if (area.size() == 2)  // Bangkok's numbers have one digit more
      phone = area + QString::asprintf("-%03d-%04d", phoneA, phoneB);
    else
      phone = area + QString::asprintf("-%03d-%03d", phoneA, phoneB % 1000);
    const QString code = QString::asprintf("C%04d", id);
    customers.Add(
        {id, code, thai, english, address, QString::fromUtf8(province[0]), province[1], phone,
         hasEmail ? QVariant(QStringLiteral("sales%1@customer.example").arg(id)) : kNull,
         form.taxRegistered ? QVariant(QStringLiteral("0105%1").arg(taxDigits)) : kNull,
         form.taxRegistered ? Money(qint64(creditSteps) * 5000000) : 0.0,
         form.taxRegistered ? creditDays : 0, discount, noSalesman ? kNull : QVariant(salesman),
         blocked, Stamp(QDate(2010, 1, 1).addDays(createdDay), createdSecond),
         noLastSale ? kNull : QVariant(Day(QDate(y.year, 1, 1).addDays(lastSaleDay)))});
  }
}

// 15 variants of each family; the size fills %1 of both names.
struct ProductFamily {
  const char* thai;
  const char* english;
  int unit;
  bool decimalQty;  // sold by length or weight
  int firstPrice;   // satang
  int priceStep;
  const char* sizes[15];
};

const ProductFamily kFamilies[] = {
    {"น็อตหัวหกเหลี่ยม M8 ยาว %1 มม.",
     "Hex bolt M8 x %1 mm",
     kPieces,
     false,
     250,
     40,
     {"10", "15", "20", "25", "30", "35", "40", "45", "50", "55", "60", "65", "70", "75", "80"}},
    {"สกรูเกลียวปล่อย #8 ยาว %1 นิ้ว",
     "Self-tapping screw #8 x %1 in",
     kBox,
     false,
     4500,
     1500,
     {"1/2", "5/8", "3/4", "1", "1-1/4", "1-1/2", "1-3/4", "2", "2-1/4", "2-1/2", "3", "3-1/2", "4",
      "5", "6"}},
    {"ท่อพีวีซี ชั้น 8.5 ขนาด %1 นิ้ว",
     "PVC pipe class 8.5, %1 in",
     kPieces,
     false,
     4200,
     9000,
     {"1/2", "3/4", "1", "1-1/4", "1-1/2", "2", "2-1/2", "3", "4", "5", "6", "8", "10", "12",
      "14"}},
    {"สายไฟ THW %1 ตร.มม.",
     "THW cable %1 sq.mm",
     kMetre,
     true,
     650,
     2400,
     {"1", "1.5", "2.5", "4", "6", "10", "16", "25", "35", "50", "70", "95", "120", "150", "185"}},
    {"หลอดไฟ LED %1 วัตต์",
     "LED lamp %1 W",
     kPieces,
     false,
     4900,
     2500,
     {"3", "5", "7", "9", "12", "14", "18", "20", "24", "30", "36", "40", "50", "60", "100"}},
    {"สีน้ำอะครีลิก เฉดที่ %1",
     "Acrylic paint, shade %1",
     kGallon,
     false,
     39000,
     1500,
     {"101", "102", "103", "104", "105", "106", "107", "108", "109", "110", "111", "112", "113",
      "114", "115"}},
    {"ลวดผูกเหล็ก เบอร์ %1",
     "Tie wire gauge %1",
     kKilogram,
     true,
     5500,
     200,
     {"10", "11", "12", "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23", "24"}},
    {"เทปพันสายไฟ ยาว %1 เมตร",
     "Insulation tape, %1 m",
     kRoll,
     false,
     1500,
     350,
     {"5", "10", "15", "20", "25", "30", "35", "40", "45", "50", "55", "60", "65", "70", "75"}},
};
constexpr int kVariants = 15;

struct ProductInfo {
  qint64 price;  // satang
  bool decimalQty;
};

// EAN-13 with Thailand's prefix 885 and a valid check digit.
QString Barcode(int body) {
  const QString digits = QStringLiteral("885") + QString::asprintf("%09d", body);
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (digits[i].unicode() - '0') * (i % 2 ? 3 : 1);
  return digits + QChar(u'0' + (10 - sum % 10) % 10);
}

std::vector<ProductInfo> WriteProducts(DatabaseFile& file, const YearSetup& y) {
  Table products(file, "Product",
                 {{"Id", "int NOT NULL PRIMARY KEY"},
                  {"Code", "varchar(20) NOT NULL"},
                  {"Barcode", "varchar(20)"},
                  {"NameThai", "nvarchar(100) NOT NULL"},
                  {"NameEng", "nvarchar(100)"},
                  {"Unit", "int NOT NULL"},
                  {"Price", "money NOT NULL"},
                  {"Cost", "money"},
                  {"Weight", "decimal(18,4)"},
                  {"StockQty", "decimal(18,4) NOT NULL"},
                  {"ReorderLevel", "int"},
                  {"Active", "bit NOT NULL"},
                  {"CreateDate", "datetime NOT NULL"}},
                 "UNIQUE (Code)");
  std::vector<ProductInfo> infos;
  Random rng(0x9A0D0C75ull);
  const int count = std::min(y.products, Count(kFamilies) * kVariants);
  for (int id = 1; id <= count; ++id) {
    const ProductFamily& family = kFamilies[(id - 1) / kVariants];
    const int variant = (id - 1) % kVariants;
    const qint64 listPrice = family.firstPrice + qint64(family.priceStep) * variant;
    const qint64 price = RoundDiv(listPrice * y.pricePercent, 100);

    const bool hasBarcode = rng.Chance(80);
    const int barcode = rng.Between(0, 999999999);
    const int costPercent = rng.Between(60, 85);
    const bool hasWeight = rng.Chance(75);
    const int weight = rng.Between(100, 50000);  // 1/10000 kg
    const int stock = rng.Between(0, 250000);    // hundredths
    const bool hasReorder = rng.Chance(66);
    const int reorder = rng.Between(1, 20) * 10;
    const bool inactive = rng.Chance(5);
    const int createdDay = rng.Below(3000);
    const int createdSecond = rng.Between(8 * 3600, 18 * 3600 - 1);

    const QString size = QLatin1String(family.sizes[variant]);
    const qint64 stockQty = family.decimalQty ? stock : stock / 100 * 100;
    products.Add(
        {id, QString::asprintf("P%05d", id), hasBarcode ? QVariant(Barcode(barcode)) : kNull,
         QString::fromUtf8(family.thai).arg(size), QString::fromUtf8(family.english).arg(size),
         family.unit, Money(price), Money(RoundDiv(price * costPercent, 100)),
         hasWeight ? QVariant(weight / 10000.0) : kNull, Money(stockQty),
         hasReorder ? QVariant(reorder) : kNull, !inactive,
         Stamp(QDate(2014, 1, 1).addDays(createdDay), createdSecond)});
    infos.push_back({price, family.decimalQty});
  }
  return infos;
}

const char* const kRemarks[] = {"ส่งของด่วน",     "ลูกค้ารับสินค้าเอง",
                                "ชำระเป็นเงินสด", "Deliver before 10:00",
                                "แบ่งส่ง 2 งวด",  "ของแถม 1 ชิ้น"};

constexpr int kDueDays[] = {30, 45, 60};
constexpr int kDiscounts[] = {0, 0, 0, 0, 250, 500, 1000};  // basis points

void WriteSales(DatabaseFile& file, const YearSetup& y, const std::vector<ProductInfo>& products) {
  Table sales(file, "Sales",
              {{"Id", "int NOT NULL PRIMARY KEY"},
               {"DocNo", "varchar(20) NOT NULL"},
               {"ItemNo", "smallint NOT NULL"},
               {"DocDate", "date NOT NULL"},
               {"DueDate", "date"},
               {"Customer", "int NOT NULL"},
               {"Salesman", "int"},
               {"Product", "int NOT NULL"},
               {"Qty", "decimal(18,4) NOT NULL"},
               {"Price", "money NOT NULL"},
               {"DiscountPct", "decimal(18,4) NOT NULL"},
               {"Amount", "money NOT NULL"},
               {"VatAmount", "money NOT NULL"},
               {"Currency", "int NOT NULL"},
               {"ExchangeRate", "float NOT NULL"},
               {"Paid", "bit NOT NULL"},
               {"Remark", "nvarchar(200)"},
               {"CreateTime", "datetime NOT NULL"}});
  if (products.empty() || y.customers < 1) return;
  Random rng(y.seed);
  const QDate first(y.year, 1, 2);
  const qint64 span = first.daysTo(QDate(y.year, 12, 28)) + 1;
  int documents = 0, invoices = 0, creditNotes = 0, linesLeft = 0, item = 0;
  QString docNo, docDay, dueDay, stamp;
  QVariant salesman, remark;
  int customer = 0, currency = kTHB;
  double exchangeRate = 1.0;
  bool creditNote = false, paid = false;
  for (int id = 1; id <= y.salesRows; ++id) {
    if (linesLeft == 0) {
      QDate date = first.addDays((id - 1) * span / y.salesRows);
      if (date.dayOfWeek() == Qt::Sunday) date = date.addDays(1);
      ++documents;
      item = 0;
      linesLeft = rng.Between(1, 5);
      creditNote = documents > 1 && rng.Chance(2);
      customer = rng.Between(1, y.customers);
      const bool noSalesman = rng.Chance(10);
      const int salesmanId = rng.Between(1, 8);
      const bool dollars = rng.Chance(5);
      const int rate = y.usdBase + rng.Below(300);
      const int dueDays = kDueDays[rng.Below(Count(kDueDays))];
      paid = rng.Chance(80);
      const bool hasRemark = rng.Chance(6);
      const int remarkIndex = rng.Below(Count(kRemarks));
      const int second = rng.Between(8 * 3600, 18 * 3600 - 1);

      docNo = QString::asprintf("%s%02d%02d-%05d", creditNote ? "CN" : "IV", y.year % 100,
                                date.month(), creditNote ? ++creditNotes : ++invoices);
      docDay = Day(date);
      dueDay = Day(date.addDays(dueDays));
      stamp = Stamp(date, second);
      salesman = noSalesman ? kNull : QVariant(salesmanId);
      currency = dollars ? kUSD : kTHB;
      exchangeRate = dollars ? rate / 100.0 : 1.0;
      remark = hasRemark ? QVariant(QString::fromUtf8(kRemarks[remarkIndex])) : kNull;
    }
    --linesLeft;
    ++item;
    const int productIndex = rng.Below(static_cast<int>(products.size()));
    const ProductInfo& product = products[static_cast<size_t>(productIndex)];
    const int quantity = product.decimalQty ? rng.Between(50, 5000) : rng.Between(1, 100) * 100;
    const int discountBp = kDiscounts[rng.Below(Count(kDiscounts))];

    const qint64 qty = creditNote ? -quantity : quantity;  // hundredths
    const qint64 amount = RoundDiv(qty * product.price * (10000 - discountBp), 100 * 10000);
    const qint64 vat = RoundDiv(amount * 7, 100);
    sales.Add({id, docNo, item, docDay, dueDay, customer, salesman, productIndex + 1, Money(qty),
               Money(product.price), discountBp / 100.0, Money(amount), Money(vat), currency,
               exchangeRate, paid, item == 1 ? remark : kNull, stamp});
  }
}

void WriteCompanyDatabase(const QString& path, const YearSetup& y) {
  DatabaseFile file(path);
  WriteCompanyBasics(file, y);
  WriteCustomers(file, y);
  WriteSales(file, y, WriteProducts(file, y));
  file.Exec("CREATE INDEX Sales_DocNo ON Sales (DocNo)");
  file.Exec("CREATE INDEX Sales_DocDate ON Sales (DocDate)");
  file.Exec("CREATE INDEX Sales_Customer ON Sales (Customer)");
  file.Exec("CREATE INDEX Misc_Group ON Misc (GroupCode, OrderNo)");
  file.Commit();
}

YearSetup CurrentYear(int salesRows) {
  return {2024,
          0x5A1E52024ull,
          "YNYN",
          "2024-01-18 16:40:00",
          {{kUSD, "2024-06-26", 35.90, 36.20, 36.35, 36.65, 36.70, 36.75},
           {kEUR, "2024-06-26", 38.30, 38.65, 38.80, 39.45, 39.50, 39.55},
           {kJPY, "2024-06-26", 0.2180, 0.2220, 0.2240, 0.2310, 0.2320, 0.2330},
           {kUSD, "2024-06-27", 35.85, 36.15, 36.30, 36.60, 36.65, 36.70},
           {kEUR, "2024-06-27", 38.20, 38.55, 38.70, 39.35, 39.40, 39.45},
           {kJPY, "2024-06-27", 0.2170, 0.2210, 0.2230, 0.2300, 0.2310, 0.2320},
           {kUSD, "2024-06-28", 36.00, 36.30, 36.45, 36.75, 36.80, 36.85},
           {kEUR, "2024-06-28", 38.40, 38.75, 38.90, 39.55, 39.60, 39.65}},
          {{2022, "2022-01-01", "2022-12-31", "Y", "2023-01-20 10:15:00", "ADMIN"},
           {2023, "2023-01-01", "2023-12-31", "Y", "2024-01-18 16:40:00", "ADMIN"},
           {2024, "2024-01-01", "2024-12-31", "N", kNull, kNull}},
          200,
          120,
          100,
          3400,
          salesRows};
}

YearSetup Year2019(int salesRows) {
  return {2019,
          0x5A1E52019ull,
          "YYNy",
          "2020-01-22 09:30:00",
          {{kUSD, "2019-12-27", 29.70, 29.90, 30.00, 30.25, 30.30, 30.35},
           {kEUR, "2019-12-27", 33.00, 33.30, 33.45, 33.90, 33.95, 34.00},
           {kJPY, "2019-12-27", 0.2700, 0.2730, 0.2750, 0.2800, 0.2810, 0.2820},
           {kUSD, "2019-12-30", 29.65, 29.85, 29.95, 30.20, 30.25, 30.30},
           {kEUR, "2019-12-30", 33.10, 33.40, 33.55, 34.00, 34.05, 34.10},
           {kJPY, "2019-12-30", 0.2710, 0.2740, 0.2760, 0.2810, 0.2820, 0.2830}},
          {{2017, "2017-01-01", "2017-12-31", "Y", "2018-01-25 11:00:00", "ADMIN"},
           {2018, "2018-01-01", "2018-12-31", "Y", "2019-01-24 14:20:00", "ADMIN"},
           {2019, "2019-01-01", "2019-12-31", "Y", "2020-01-22 09:30:00", "ADMIN"}},
          150,
          100,
          88,
          2950,
          salesRows / 10};
}

}  // namespace

void CreateDemoSuite(const QString& folder, const DemoOptions& options) {
  if (options.salesRows < 0)
    throw Exception(
        QStringLiteral("The number of sales rows cannot be negative: %1").arg(options.salesRows));
  if (folder.isEmpty()) throw Exception(QStringLiteral("No folder given for the demo suite"));
  const QString shown = QDir::toNativeSeparators(folder);
  const QFileInfo info(folder);
  bool madeFolder = false;
  if (info.exists()) {
    if (!info.isDir())
      throw Exception(
          QStringLiteral("Cannot create the demo suite in %1: it is a file").arg(shown));
    if (!QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                              QDir::System))
      throw Exception(
          QStringLiteral("Cannot create the demo suite in %1: the folder is not empty").arg(shown));
  } else {
    if (!QDir().mkpath(folder))
      throw Exception(QStringLiteral("Cannot create the folder %1").arg(shown));
    madeFolder = true;
  }

  const QStringList names = {QStringLiteral("master"), QStringLiteral("QAV_CONFIG"),
                             QStringLiteral("DEMO"), QStringLiteral("DEMO2019")};
  const QString disk = QDir(folder).absoluteFilePath(QStringLiteral("disk"));
  try {
    {
      DatabaseFile master(suite::NewDatabaseFile(folder, names[0]));
      master.Commit();
    }
    WriteConfigDatabase(suite::NewDatabaseFile(folder, names[1]));
    WriteCompanyDatabase(suite::NewDatabaseFile(folder, names[2]), CurrentYear(options.salesRows));
    WriteCompanyDatabase(suite::NewDatabaseFile(folder, names[3]), Year2019(options.salesRows));
    // Backups go to the server's drive C:, which exists on any server.
    if (!QDir().mkpath(disk + QStringLiteral("/C")))
      throw Exception(QStringLiteral("Cannot create the folder %1")
                          .arg(QDir::toNativeSeparators(disk + QStringLiteral("/C"))));
  } catch (...) {
    // Leave the folder as it was found, so that a second attempt is not refused.
    for (const QString& name : names) {
      const QString path = suite::NewDatabaseFile(folder, name);
      QFile::remove(path);
      QFile::remove(path + QStringLiteral("-journal"));
    }
    QDir(disk).removeRecursively();
    if (madeFolder) QDir().rmdir(folder);
    throw;
  }
}

}  // namespace qav::demo
