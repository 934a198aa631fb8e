#include "core/Exception.h"
#include "db/embedded/EmbeddedSuite.h"
#include "tools/DemoSuite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using qav::db::embedded::NewDatabaseFile;
using qav::db::embedded::SuiteDatabases;
using qav::demo::CreateDemoSuite;
using qav::demo::DemoOptions;

// The demo files as the embedded back end sees them, read with plain SQLite.
class Db {
 public:
  explicit Db(const QString& path, int flags = SQLITE_OPEN_READONLY) {
    EXPECT_EQ(sqlite3_open_v2(path.toUtf8().constData(), &db_, flags, nullptr), SQLITE_OK)
        << path.toStdString();
  }
  ~Db() { sqlite3_close_v2(db_); }
  sqlite3* Handle() const { return db_; }

  // The error of preparing SQL; empty when it prepares.
  std::string PrepareError(const std::string& sql) const {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
    return rc == SQLITE_OK ? std::string() : sqlite3_errmsg(db_);
  }

  void Exec(const std::string& sql) const {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }

  // Every row, each column as UTF-8 text; nullopt for NULL.
  using Row = std::vector<std::optional<std::string>>;
  std::vector<Row> Rows(const std::string& sql) const {
    std::vector<Row> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) row.push_back(Column(stmt, i));
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  // The first column of the single row SQL returns; "NULL" for a NULL.
  std::string Text(const std::string& sql) const {
    const auto rows = Rows(sql);
    if (rows.size() != 1 || rows[0].empty()) {
      ADD_FAILURE() << sql << ": " << rows.size() << " rows";
      return {};
    }
    return rows[0][0].value_or("NULL");
  }
  long long Int(const std::string& sql) const { return std::stoll(Text(sql)); }

  // Runs a stored procedure the way the embedded back end does: the body from qav_procedures
  // with "@NAME" parameters bound, outputs by column name from the last result row.
  std::map<std::string, std::optional<std::string>> Call(
      const std::string& name, const std::vector<std::pair<std::string, QVariant>>& args) const {
    std::map<std::string, std::optional<std::string>> outputs;
    const std::string body = Text("SELECT body FROM qav_procedures WHERE name = '" + name + "'");
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, body.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << name << ": " << sqlite3_errmsg(db_);
      return outputs;
    }
    EXPECT_EQ(sqlite3_bind_parameter_count(stmt), static_cast<int>(args.size())) << name;
    for (const auto& [param, value] : args) {
      const int index = sqlite3_bind_parameter_index(stmt, param.c_str());
      EXPECT_GT(index, 0) << name << " has no parameter " << param;
      if (value.typeId() == QMetaType::Int)
        sqlite3_bind_int(stmt, index, value.toInt());
      else
        sqlite3_bind_text(stmt, index, value.toString().toUtf8().constData(), -1, SQLITE_TRANSIENT);
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
      for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        outputs[sqlite3_column_name(stmt, i)] = Column(stmt, i);
    EXPECT_EQ(rc, SQLITE_DONE) << name << ": " << sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return outputs;
  }

 private:
  static std::optional<std::string> Column(sqlite3_stmt* stmt, int i) {
    if (sqlite3_column_type(stmt, i) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                       static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
  }

  sqlite3* db_ = nullptr;
};

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                QDir::System);
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return file.readAll();
}

TEST(DemoSuite, RefusesFolderWithContentAndLeavesItAlone) {
  struct Case {
    const char* name;
    const char* existingFile;  // relative to the target; empty: the target itself is a file
    int salesRows;
  };
  const Case cases[] = {
      {"non-empty folder", "suite/notes.txt", 500},
      {"only a hidden file", "suite/.keep", 500},
      {"a file, not a folder", "suite", 500},
      {"negative row count", nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir root;
    const QString target = root.filePath("suite");
    if (c.existingFile) {
      QDir().mkpath(QFileInfo(root.filePath(c.existingFile)).absolutePath());
      QFile file(root.filePath(c.existingFile));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write("บริษัท ทดสอบ จำกัด");
    }
    const QStringList before = Entries(root.path()) + Entries(target);
    DemoOptions options;
    options.salesRows = c.salesRows;
    try {
      CreateDemoSuite(target, options);
      ADD_FAILURE() << "no error";
    } catch (const qav::Exception& e) {
      if (c.existingFile) {
        EXPECT_TRUE(e.Message().contains(target)) << e.what();
      }
    }
    EXPECT_EQ(Entries(root.path()) + Entries(target), before);
    if (c.existingFile) {
      EXPECT_EQ(ReadAll(root.filePath(c.existingFile)), "บริษัท ทดสอบ จำกัด");
    }
  }
}

TEST(DemoSuite, CreatesMissingOrEmptyFolder) {
  QTemporaryDir root;
  const QString empty = root.filePath("empty");
  ASSERT_TRUE(QDir().mkdir(empty));
  for (const QString& folder : {root.filePath("a/b/suite"), empty}) {
    SCOPED_TRACE(folder.toStdString());
    DemoOptions options;
    options.salesRows = 20;
    CreateDemoSuite(folder, options);
    EXPECT_EQ(SuiteDatabases(folder), QStringList({"master", "DEMO", "DEMO2019", "QAV_CONFIG"}));
    EXPECT_TRUE(QFileInfo(folder + "/disk/C").isDir());  // backups land on the server's C:
    for (const QString& name : SuiteDatabases(folder))
      EXPECT_EQ(Db(NewDatabaseFile(folder, name)).Int("SELECT count(*) FROM qav_procedures"),
                name == "QAV_CONFIG" ? 2 : 0);
  }
}

TEST(DemoSuite, DefaultSizeIsTheSameOnEveryRun) {
  QTemporaryDir root;
  const QString first = root.filePath("first"), second = root.filePath("second");
  CreateDemoSuite(first);
  CreateDemoSuite(second);
  EXPECT_EQ(Db(NewDatabaseFile(first, "DEMO")).Int("SELECT count(*) FROM Sales"), 50000);
  EXPECT_EQ(Db(NewDatabaseFile(first, "DEMO2019")).Int("SELECT count(*) FROM Sales"), 5000);
  for (const QString& name : SuiteDatabases(first))
    EXPECT_TRUE(ReadAll(NewDatabaseFile(first, name)) == ReadAll(NewDatabaseFile(second, name)))
        << name.toStdString();
}

class DemoSuiteContent : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new QTemporaryDir;
    DemoOptions options;
    options.salesRows = 500;
    CreateDemoSuite(Folder(), options);
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  static QString Folder() { return root_->filePath("suite"); }
  static QString File(const char* database) { return NewDatabaseFile(Folder(), database); }

  static QTemporaryDir* root_;
};
QTemporaryDir* DemoSuiteContent::root_ = nullptr;

TEST_F(DemoSuiteContent, RowCounts) {
  struct Case {
    const char* database;
    const char* table;
    long long rows;
  };
  const Case cases[] = {
      {"DEMO", "Sales", 500},
      {"DEMO2019", "Sales", 50},
      {"DEMO", "Customer", 200},
      {"DEMO2019", "Customer", 150},
      {"DEMO", "Product", 120},
      {"DEMO2019", "Product", 100},
      {"DEMO", "Config", 1},
      {"DEMO2019", "Config", 1},
      {"DEMO", "CurrencyEx", 8},
      {"DEMO2019", "CurrencyEx", 6},
      {"DEMO", "accountperiod", 3},
      {"DEMO", "Salesman", 8},
      {"QAV_CONFIG", "Company", 1},
      {"QAV_CONFIG", "DatabaseList", 2},
      {"QAV_CONFIG", "CompanyConfig", 1},
      {"QAV_CONFIG", "UserName", 4},
      {"QAV_CONFIG", "Menu", 12},
      {"QAV_CONFIG", "softwareconfig", 1},
      {"QAV_CONFIG", "ErrorLog", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Db(File(c.database)).Int(std::string("SELECT count(*) FROM ") + c.table), c.rows)
        << c.database << '.' << c.table;
}

// The documented facts, Thai text compared as UTF-8 bytes.
TEST_F(DemoSuiteContent, DocumentedFacts) {
  struct Case {
    const char* database;
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"QAV_CONFIG", "SELECT NameThai FROM Company WHERE Id = 1", "บริษัท ทดสอบ จำกัด"},
      {"QAV_CONFIG",
       "SELECT group_concat(x) FROM (SELECT DatabaseName || ':' || YearNo x FROM DatabaseList "
       "ORDER BY YearNo DESC)",
       "DEMO:2024,DEMO2019:2019"},
      {"QAV_CONFIG", "SELECT FullName FROM UserName WHERE Code = 'THAI'", "สมศรี มีสุข"},
      {"QAV_CONFIG",
       "SELECT group_concat(x) FROM (SELECT Code || ':' || LanguageNo x FROM UserName ORDER BY Id)",
       "ADMIN:0,THAI:1,GUEST:0,SOMCHAI:1"},
      {"QAV_CONFIG", "SELECT Command FROM Menu WHERE Id = 12", "EXPORT-TO"},
      {"QAV_CONFIG", "SELECT Caption FROM Menu WHERE Id = 12", "SQL Export"},
      {"QAV_CONFIG", "SELECT Command FROM Menu WHERE Id = 13", "BACKUP"},
      {"QAV_CONFIG", "SELECT Caption FROM Menu WHERE Id = 13", "Backup Data"},
      {"QAV_CONFIG", "SELECT count(*) FROM Menu WHERE Command IS NULL", "3"},
      {"DEMO", "SELECT NameThai FROM Customer WHERE Id = 1", "บริษัท สยามการค้า จำกัด"},
      {"DEMO", "SELECT NameEng FROM Customer WHERE Id = 1", "Siam Trading Co., Ltd."},
      {"DEMO2019", "SELECT NameThai FROM Customer WHERE Code = 'C0001'", "บริษัท สยามการค้า จำกัด"},
      {"DEMO", "SELECT count(*) FROM Customer WHERE Id % 4 = 3 AND TaxNo IS NULL", "50"},
      {"DEMO", "SELECT NameThai || '|' || Price FROM Product WHERE Id = 1",
       "น็อตหัวหกเหลี่ยม M8 ยาว 10 มม.|2.5"},
      {"DEMO2019", "SELECT Price FROM Product WHERE Id = 1", "2.2"},
      {"DEMO", "SELECT DocNo || ' ' || DocDate FROM Sales WHERE Id = 1", "IV2401-00001 2024-01-02"},
      {"DEMO2019", "SELECT DocDate FROM Sales WHERE Id = 1", "2019-01-02"},
      {"DEMO", "SELECT IvRefSO || MrRefPO || EditPricePO || ShowProductPriceList FROM Config",
       "YNYN"},
      {"DEMO2019", "SELECT IvRefSO || MrRefPO || EditPricePO || ShowProductPriceList FROM Config",
       "YYNy"},
      {"DEMO", "SELECT Description FROM Misc WHERE Id = (SELECT MainCurrencyId FROM Config)",
       "เงินบาท"},
      {"DEMO", "SELECT NameThai FROM Salesman WHERE Id = 1", "สมชาย ใจดี"},
      {"DEMO",
       "SELECT group_concat(x) FROM (SELECT AccountYear || Closed x FROM accountperiod ORDER BY 1)",
       "2022Y,2023Y,2024N"},
      // Texts compare without regard to case, as on SQL Server.
      {"DEMO", "SELECT Id FROM Customer WHERE NameEng = 'SIAM TRADING CO., LTD.'", "1"},
      // Credit notes carry negative quantities and amounts.
      {"DEMO", "SELECT count(*) FROM Sales WHERE (DocNo LIKE 'CN%') <> (Qty < 0 AND Amount <= 0)",
       "0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Db(File(c.database)).Text(c.sql), c.expected) << c.database << ": " << c.sql;
}

TEST_F(DemoSuiteContent, ColumnsAreDeclaredAndStoredTheSqlServerWay) {
  static const QRegularExpression kTypes(
      "^(int|integer|smallint|bigint|bit|money|float|datetime|date|text|decimal\\(\\d+,\\d+\\)|"
      "n?(var)?char\\(\\d+\\))$");
  for (const char* database : {"master", "QAV_CONFIG", "DEMO", "DEMO2019"}) {
    Db db(File(database));
    for (const auto& table : db.Rows(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name <> 'qav_procedures'"))
      for (const auto& column : db.Rows("PRAGMA table_info(" + *table[0] + ")")) {
        const std::string& name = *column[1];
        const QString type = QString::fromStdString(*column[2]).toLower();
        const std::string where = std::string(database) + '.' + *table[0] + '.' + name;
        ASSERT_TRUE(kTypes.match(type).hasMatch()) << where << ": " << type.toStdString();
        const char* collation = nullptr;
        sqlite3_table_column_metadata(db.Handle(), nullptr, table[0]->c_str(), name.c_str(),
                                      nullptr, &collation, nullptr, nullptr, nullptr);
        const bool isText = type.contains("char") || type == "text";
        if (isText) {
          EXPECT_STREQ(collation, "NOCASE") << where;
        }
        // Every stored value must be of the kind its declaration promises.
        const std::string c = '"' + name + '"';
        std::string wrong;
        if (isText)
          wrong = "typeof(" + c + ") <> 'text'";
        else if (type == "date")
          wrong = "typeof(" + c + ") <> 'text' OR date(" + c + ") IS NOT " + c;
        else if (type == "datetime")
          wrong = "typeof(" + c + ") <> 'text' OR datetime(" + c + ") IS NOT " + c;
        else if (type.contains("int") || type == "bit")
          wrong = "typeof(" + c + ") <> 'integer'";
        else
          wrong = "typeof(" + c + ") NOT IN ('integer', 'real')";
        EXPECT_EQ(db.Int("SELECT count(*) FROM " + *table[0] + " WHERE " + c +
                         " IS NOT NULL AND (" + wrong + ")"),
                  0)
            << where << " " << type.toStdString();
      }
  }
}

TEST_F(DemoSuiteContent, ConfigurationLeavesTheSchemaUpdateToDo) {
  Db db(File("QAV_CONFIG"));
  for (const char* column : {"Menu.Version", "UserName.UserSeeImport", "UserName.UserSeeCost"}) {
    const std::string qualified = column;
    const auto dot = qualified.find('.');
    EXPECT_EQ(db.Int("SELECT count(*) FROM pragma_table_info('" + qualified.substr(0, dot) +
                     "') WHERE name = '" + qualified.substr(dot + 1) + "' COLLATE NOCASE"),
              0)
        << column;
  }
}

// The SELECTs of the configuration and company modules, line for line.
const char* const kUserQuery =
    "select Code, fullname,languageno,EditSalePrice,Approve_Quo,Approve_SO,Approve_IV,Approve_PO, "
    "Approved_PORQ,\n"
    "       ApproveTranWH,ApproveTranBranch,ApproveWorkOrder,CanSeeCost,CanSeeSalePrice,"
    "CanModifyCusSale,\n"
    "       Approve_PreIs, CanModifyCusSale, ApproveCustomerDropUse, ApproveCustomerDropCredit,\n"
    "       CanModifyCredit, CanSetProductBlock, CanSetProductMinus, CanSaleCreditOnReturnCheque, "
    "UserSeeImport, UserSeeCost\n"
    "from  username\n"
    "where id=:uid\n"
    " \n \n \n \n \n";

const char* const kCurrencyQuery =
    "Select M.*, C.PurcScrap, C.PurcPart, C.PurcRate, C.SaleScrap, C.SalePart, C.SaleRate\n"
    "From Misc M\n"
    "Left Join (Select Currency, PurcScrap, PurcPart, PurcRate, SaleScrap, SalePart, SaleRate\n"
    "           From (Select RANK()Over ( Order BY C.ExchangeDate Desc) AS RowNumber,\n"
    "                         C.Currency, C.PurcScrap,  C.PurcPart,  C.PurcRate,\n"
    "\t\t\t\t\t\t C.SaleScrap,  C.SalePart , C.SaleRate\n"
    "                 From CurrencyEx C\n"
    "\t\t\t\t) As C \n"
    "\t\t   Where RowNumber = 1\n"
    "\t\t   ) As C On (C.Currency = M.Id)\n"
    "Where M.GroupCode = 'CURRENCY'\n"
    "Order by M.OrderNo";

// Named parameters become "?" as the engine hands them to the back end.
std::string Positional(std::string sql) {
  for (const char* name : {":GetName", ":uid"})
    for (size_t at; (at = sql.find(name)) != std::string::npos;) sql.replace(at, strlen(name), "?");
  return sql;
}

TEST_F(DemoSuiteContent, ModuleQueriesFindEveryColumn) {
  struct Case {
    const char* database;
    const char* sql;
  };
  // QChkConfig reads SysDatabases, which the back end makes up from the suite's files.
  const Case cases[] = {
      {"QAV_CONFIG", "select *\nfrom softwareconfig"},
      {"QAV_CONFIG",
       "SELECT C.Company, C.PicturePath, C.Public_Price_IE, C.DefaultWh,\n"
       "  C.POS1_Wh, C.POS1_TaxCode, C.POS1_Price_IE, C.POS1_PriceType,\n"
       "  C.POS1_SumDetail, C.DefaultPosComPort,C.DefaultTax,\n"
       "  C.DefaultPosMenuId,M.Command,M.MenuOption,\n"
       "  O.Description, O.YearNo,\n"
       "  P.Id, P.Code, P.Password, P.NameThai, P.NameEng, P.ShortName,\n"
       "  P.Address1, P.Address2, P.Address3, P.Address4, P.Province, P.Zip,\n"
       "  P.Telephone, P.Fax, P.EMail, P.Logo, P.TaxNo, P.InstallDate, P.RunYear,\n"
       "  P.LocalServer,P.FUNDNAME, P.TaxBranchHead, P.TaxBranchCode, P.TaxBranchName\n"
       "FROM CompanyConfig C\n"
       "Inner Join DatabaseList O On (O.Company = C.Company) \n"
       "Inner Join Company P On (P.Id = O.Company)\n"
       "Left Outer Join Menu M On (M.Id = C.DefaultPosMenuId)\n"
       "Where (O.DatabaseName = :GetName)"},
      {"QAV_CONFIG",
       "SELECT ID,CODE, PASSWORD, NAMETHAI, NAMEENG, SHORTNAME, \n"
       "  ADDRESS1, ADDRESS2, ADDRESS3, ADDRESS4, PROVINCE, ZIP, \n"
       "  TELEPHONE, FAX, EMAIL, LOGO, TAXNO, RUNYEAR,FUNDNAME, Coalesce(TaxBranchHead, 'N') "
       "TaxBranchHead, Coalesce(TaxBranchCode, '') TaxBranchCode, TaxBranchName\n"
       "FROM COMPANY\n"
       "Where (Id = (Select Distinct Company From DatabaseList Where DatabaseName = :GetName))\n"
       " \n \n"},
      {"DEMO",
       "SELECT *\n"
       "       ,(Select M.Code From Misc M Where M.Id = MainCurrencyId) MainCurrencyCode\n"
       "       ,(Select M.Description From Misc M Where M.Id = MainCurrencyId) MainCurrencyName\n"
       "FROM Config\n \n \n"},
      {"DEMO", "select  * \nfrom accountperiod\norder by accountyear desc"},
      {"DEMO", kCurrencyQuery},
  };
  for (const Case& c : cases)
    for (const char* database : {c.database, strcmp(c.database, "DEMO") ? "" : "DEMO2019"}) {
      if (!*database) continue;
      EXPECT_EQ(Db(File(database)).PrepareError(Positional(c.sql)), "") << database << ":\n"
                                                                        << c.sql;
    }
}

TEST_F(DemoSuiteContent, CompanyLookUpFindsBothYears) {
  Db db(File("QAV_CONFIG"));
  for (const char* name : {"DEMO", "DEMO2019"}) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.Handle(),
                                 "SELECT P.NameThai, M.Command FROM CompanyConfig C "
                                 "Inner Join DatabaseList O On (O.Company = C.Company) "
                                 "Inner Join Company P On (P.Id = O.Company) "
                                 "Left Outer Join Menu M On (M.Id = C.DefaultPosMenuId) "
                                 "Where (O.DatabaseName = ?)",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW) << name;
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "บริษัท ทดสอบ จำกัด");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)), "POS");
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
  }
}

// The first start adds the columns the user query needs; until then it cannot prepare.
TEST_F(DemoSuiteContent, SchemaUpdateCompletesTheUserQuery) {
  Db db(File("QAV_CONFIG"), SQLITE_OPEN_READWRITE);
  EXPECT_NE(db.PrepareError(Positional(kUserQuery)), "");
  db.Exec("BEGIN");
  db.Exec("ALTER TABLE Menu ADD Version Integer");
  db.Exec("ALTER TABLE UserName ADD UserSeeImport Char(1)");
  db.Exec("ALTER TABLE UserName ADD UserSeeCost Char(1)");
  EXPECT_EQ(db.PrepareError(Positional(kUserQuery)), "");
  db.Exec("Update Menu Set Version = 3 Where Version Is Null And Command Is Not Null");
  EXPECT_EQ(sqlite3_changes(db.Handle()), 9);
  db.Exec("ROLLBACK");
}

TEST_F(DemoSuiteContent, CurrencyListJoinsOnlyTheNewestExchangeDate) {
  struct Case {
    const char* database;
    const char* rates;  // Code:SaleRate by OrderNo
  };
  const Case cases[] = {
      {"DEMO", "THB:-,USD:36.85,JPY:-,EUR:39.65"},
      {"DEMO2019", "THB:-,USD:30.3,JPY:0.283,EUR:34.1"},
  };
  for (const Case& c : cases) {
    std::string rates;
    for (const auto& row : Db(File(c.database)).Rows(kCurrencyQuery))
      rates += (rates.empty() ? "" : ",") + *row[2] + ':' + row.back().value_or("-");
    EXPECT_EQ(rates, c.rates) << c.database;
  }
}

TEST_F(DemoSuiteContent, MenuCaptionProcedure) {
  struct Case {
    int menu;
    int user;
    const char* caption;  // nullptr: NULL
    const char* rights;   // ACCESS_R ADD_R MODIFY_R DELETE_R
    const char* userCode;
    const char* salesId;
  };
  const Case cases[] = {
      {12, 1, "SQL Export", "YYYY", "ADMIN", "0"},
      {13, 1, "Backup Data", "YYYY", "ADMIN", "0"},
      {13, 2, "Backup Data", "YYYY", "THAI", "2"},
      {12, 3, "SQL Export", "NNNN", "GUEST", "0"},   // a row saying no
      {13, 3, "Backup Data", "NNNN", "GUEST", "0"},  // no row at all
      {1, 3, "Sales", "YNNN", "GUEST", "0"},
      {12, 4, "SQL Export", "yynn", "SOMCHAI", "1"},
      {14, 1, " Import Data ", "YYYY", "ADMIN", "0"},
      {12, 99, "SQL Export", "NNNN", nullptr, "0"},
      {99, 1, nullptr, "NNNN", "ADMIN", "0"},
  };
  Db db(File("QAV_CONFIG"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "menu " << c.menu << " user " << c.user);
    auto out = db.Call("MENUCAPTION", {{"@MENUID", c.menu}, {"@USERID", c.user}});
    EXPECT_EQ(out["CAPTION"], c.caption ? std::optional<std::string>(c.caption) : std::nullopt);
    EXPECT_EQ(out["ACCESS_R"].value_or("") + out["ADD_R"].value_or("") +
                  out["MODIFY_R"].value_or("") + out["DELETE_R"].value_or(""),
              c.rights);
    EXPECT_EQ(out["USERCODE"], c.userCode ? std::optional<std::string>(c.userCode) : std::nullopt);
    EXPECT_EQ(out["SALESID"], c.salesId);
  }
  // Ids that arrive as text find the same rows.
  EXPECT_EQ(db.Call("MENUCAPTION", {{"@MENUID", "13"}, {"@USERID", "2"}})["USERCODE"], "THAI");
}

TEST_F(DemoSuiteContent, AddErrorLogWritesOneStampedRow) {
  Db db(File("QAV_CONFIG"), SQLITE_OPEN_READWRITE);
  db.Exec("BEGIN");
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  db.Call("AddErrorLog", {{"@CompName", "PC-ACCOUNT"},
                          {"@LogName", "SOMCHAI"},
                          {"@UserId", 4},
                          {"@MenuId", 12},
                          {"@ErrorMsg", "ป้อนวันที่ไม่ถูกต้อง '31/02/2024' is not a valid date"}});
  const auto rows =
      db.Rows("SELECT LogDate, CompName, LogName, UserId, MenuId, ErrorMsg FROM ErrorLog");
  db.Exec("ROLLBACK");
  ASSERT_EQ(rows.size(), 1u);
  const QDateTime logged =
      QDateTime::fromString(QString::fromStdString(*rows[0][0]), "yyyy-MM-dd HH:mm:ss");
  EXPECT_TRUE(logged >= before && logged <= QDateTime::currentDateTime().addSecs(1)) << *rows[0][0];
  EXPECT_EQ(rows[0][1], "PC-ACCOUNT");
  EXPECT_EQ(rows[0][2], "SOMCHAI");
  EXPECT_EQ(rows[0][3], "4");
  EXPECT_EQ(rows[0][4], "12");
  EXPECT_EQ(rows[0][5], "ป้อนวันที่ไม่ถูกต้อง '31/02/2024' is not a valid date");
}

#ifdef QAV_MAKE_DEMO_SUITE
TEST(MakeDemoSuite, ExitCodes) {
  QTemporaryDir root;
  QFile busy(root.filePath("busy"));
  ASSERT_TRUE(busy.open(QIODevice::WriteOnly));
  busy.close();
  struct Case {
    QStringList args;
    int exitCode;
    const char* stderrHas;
  };
  const Case cases[] = {
      {{root.filePath("made"), "--sales-rows", "30"}, 0, ""},
      {{}, 2, "usage"},
      {{root.filePath("x"), "--sales-rows"}, 2, "usage"},
      {{root.filePath("x"), "--sales-rows", "many"}, 2, "usage"},
      {{root.filePath("x"), "--sales-rows", "-5"}, 2, "usage"},
      {{root.filePath("x"), root.filePath("y")}, 2, "usage"},
      {{root.filePath("x"), "--rows", "5"}, 2, "usage"},
      {{root.path()}, 1, "not empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    QProcess tool;
    tool.start(QAV_MAKE_DEMO_SUITE, c.args);
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), c.exitCode);
    EXPECT_TRUE(QString::fromLocal8Bit(tool.readAllStandardError()).contains(c.stderrHas));
  }
  EXPECT_EQ(Db(NewDatabaseFile(root.filePath("made"), "DEMO")).Int("SELECT count(*) FROM Sales"),
            30);
  EXPECT_FALSE(QFileInfo::exists(root.filePath("x")));
}
#endif

}  // namespace
