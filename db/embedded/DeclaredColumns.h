#pragma once

#include "db/embedded/SqliteHandle.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace qav::db::embedded {

// What a column's declared type says that SQLite does not keep: the length of a character
// column and the IDENTITY property, read from the type as the table declares it ("varchar(5)",
// "int IDENTITY(100,10)"; SQLite keeps such a type as written).
struct DeclaredColumn {
  // How SQL Server measures a character column: varchar and char in code page bytes (one per
  // character in the Thai code page 874, where every character is one byte), nvarchar and nchar
  // in UTF-16 units.
  enum class Measure { None, CodePageBytes, Utf16Units };
  QString name;
  QString type;  // as declared, without IDENTITY
  bool notNull = false;
  Measure measure = Measure::None;
  int length = 0;
  bool identity = false;
  qint64 seed = 1;
  qint64 increment = 1;
};
DeclaredColumn ReadDeclaredType(const QString& name, const QString& declared);

// The declared types of the tables kept as SQL Server keeps them, around the SQLite statements
// the translation writes: a character value longer than its column fails the statement (2628);
// IDENTITY columns are filled with their seed and increment, refuse explicit values unless SET
// IDENTITY_INSERT is ON (544), and start again after TRUNCATE TABLE; SELECT ... INTO copies the
// types, NOT NULL and IDENTITY of the columns it takes. Also the session's @@IDENTITY,
// SCOPE_IDENTITY() and @@ROWCOUNT, which the functions registered here read.
//
// A permanent table's last identity value lives in the database's qav_identity table, so that
// every connection continues it; a temporary table's lives here.
class DeclaredColumns {
 public:
  explicit DeclaredColumns(sqlite3* db);
  DeclaredColumns(const DeclaredColumns&) = delete;
  DeclaredColumns& operator=(const DeclaredColumns&) = delete;

  // The translated INSERT (also WITH ... INSERT) or UPDATE as it should run: values measured
  // against their columns, identity values added. Raises 544 and its kin. Any other statement
  // comes back as it is.
  QString Insert(const QString& translated);
  QString Update(const QString& translated);
  // The statements a translated SELECT ... INTO (CREATE [TEMP] TABLE T AS SELECT ...) runs as:
  // the table with the declared types of the columns it copies, then the rows. Empty when the
  // text is not of that form or copies nothing declared.
  QStringList SelectInto(const QString& translated);
  // After the statement Insert read ran: when it was an INSERT, the table's identity value moves
  // on, and @@IDENTITY follows it.
  void Inserted();
  // A statement failed: nothing of an INSERT counts, and the tables are read again.
  void Abandon();

  // SET IDENTITY_INSERT T ON|OFF, in T-SQL; false for any other statement.
  bool SetIdentityInsert(QStringView statement);
  // CREATE, DROP or TRUNCATE TABLE (T-SQL) ran: the tables it names count from their seed again.
  void TablesRemade(QStringView statement);

  void SetRowCount(qint64 rows) { rowCount_ = rows; }

  // A statement made, changed or dropped tables, or failed: the tables are read again when next
  // written. (Reading the schema's version before every INSERT would lock the database file for
  // it, which costs more than a short INSERT; another connection's change is seen after this
  // connection's next one.)
  void SchemaChanged() { tables_.clear(); }

 private:
  struct Table {
    QString name;     // as SQLite knows it
    QString display;  // as SQL Server's messages name it: DEMO.dbo.T, tempdb.dbo.#t
    bool temporary = false;
    std::vector<DeclaredColumn> columns;
    int identity = -1;  // the index of the identity column
    bool measured = false;
  };
  // What Insert started: the values the identity function hands out.
  struct IdentityRun {
    bool active = false;
    bool generated = false;  // by tsql_identity(); else explicit values were seen
    QString table;
    bool temporary = false;
    qint64 next = 0, increment = 1;
    QVariant current;  // before the statement
    qint64 last = 0;   // the last value handed out or seen
    qint64 furthest = 0;
    bool seen = false;
  };

  const Table* Find(const QString& name);
  QVariant CurrentIdentity(const Table& table, const DeclaredColumn& column);
  void StoreIdentity(const QString& table, bool temporary, qint64 value);
  void ForgetIdentity(const QString& table);

  static void IdentityFunction(sqlite3_context* context, int argc, sqlite3_value** argv);
  static void LastIdentityFunction(sqlite3_context* context, int argc, sqlite3_value** argv);
  static void RowCountFunction(sqlite3_context* context, int argc, sqlite3_value** argv);

  sqlite3* db_;
  QHash<QString, Table> tables_;  // by lower-case name, as last read
  QHash<QString, qint64> tempIdentity_;
  QString identityInsert_;  // the table SET IDENTITY_INSERT is ON for, lower case
  QString identityInsertDisplay_;
  IdentityRun run_;
  bool inserting_ = false;  // the last text Insert read was an INSERT
  QVariant lastIdentity_;
  qint64 rowCount_ = 0;
};

}  // namespace qav::db::embedded
