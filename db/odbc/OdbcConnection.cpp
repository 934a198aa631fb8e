#include "db/odbc/OdbcConnection.h"

#include "db/Errors.h"
#include "db/odbc/OdbcConnectionString.h"
#include "db/odbc/OdbcError.h"
#include "db/odbc/OdbcParams.h"
#include "db/odbc/OdbcTypes.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <QDir>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>

namespace qav::db {

namespace odbc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be UTF-16");

constexpr SQLULEN kLoginTimeoutSeconds = 15;

SQLWCHAR* Wide(const QString& text) {
  // The W functions take non-const pointers but do not write through them.
  return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}

// Owns one ODBC handle and frees it on every path.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parentType) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      ThrowOdbcError(parentType, parent, QStringLiteral("SQLAllocHandle"));
    }
  }
  Handle(Handle&& other) noexcept : type_(other.type_), handle_(other.handle_) {
    other.handle_ = SQL_NULL_HANDLE;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_) SQLFreeHandle(type_, handle_);
  }

  SQLHANDLE get() const { return handle_; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// The process's one ODBC 3 environment. It is never freed: connections held by long-lived
// objects may close after static destructors have run.
SQLHENV Environment() {
  static const SQLHENV env = [] {
    SQLHENV h = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
      throw EDBEngineError(QStringLiteral("Cannot allocate the ODBC environment"));
    const SQLRETURN rc =
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0);
    if (!SQL_SUCCEEDED(rc)) {
      const EDBEngineError error =
          MakeEngineError(ReadDiagRecords(SQL_HANDLE_ENV, h), QStringLiteral("SQLSetEnvAttr"));
      SQLFreeHandle(SQL_HANDLE_ENV, h);
      throw error;
    }
    return h;
  }();
  return env;
}

QStringList RegisteredDrivers() {
  QStringList names;
  SQLWCHAR description[256];
  SQLWCHAR attributes[1024];
  SQLSMALLINT descriptionLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDriversW(Environment(), direction, description, 256, &descriptionLength,
                                   attributes, 1024, &attributesLength))) {
    names << QString::fromUtf16(reinterpret_cast<const char16_t*>(description),
                                std::min<SQLSMALLINT>(descriptionLength, 255));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

QStringList TdsLibraryCandidates() {
  QStringList candidates{QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so")};
  // Debian's other architectures, then the usual places of other systems.
  const QDir lib(QStringLiteral("/usr/lib"));
  for (const QString& dir : lib.entryList({QStringLiteral("*-linux-gnu*")}, QDir::Dirs))
    candidates << lib.filePath(dir + QStringLiteral("/odbc/libtdsodbc.so"));
  candidates << QStringLiteral("/usr/lib/odbc/libtdsodbc.so")
             << QStringLiteral("/usr/lib64/libtdsodbc.so")
             << QStringLiteral("/usr/local/lib/libtdsodbc.so")
             << QStringLiteral("/opt/homebrew/lib/libtdsodbc.so");
  return candidates;
}

// How a column's cells are read, and the driver's size of the column (characters of text,
// digits of a number, bytes of binary data; 0 when unknown).
struct ColumnPlan {
  CellFetch fetch = CellFetch::Text;
  SQLULEN size = 0;
};

// Reads the cells of fetched rows into a RowStore. The buffers live as long as the
// connection, so fetching allocates nothing per cell once they have grown to the largest
// value seen.
class CellReader {
 public:
  // Reads the cell with SQLGetData.
  void Read(SQLHSTMT statement, SQLUSMALLINT number, CellFetch fetch, RowStore& rows) {
    const int column = number - 1;
    switch (fetch) {
      case CellFetch::Integer:
      case CellFetch::Double: {
        char value[8];
        SQLLEN indicator = 0;
        Check(SQLGetData(statement, number,
                         fetch == CellFetch::Integer ? SQL_C_SBIGINT : SQL_C_DOUBLE, value,
                         sizeof value, &indicator),
              SQL_HANDLE_STMT, statement, "SQLGetData");
        if (indicator != SQL_NULL_DATA) Store(fetch, column, value, sizeof value, rows);
        return;
      }
      default: {
        std::size_t length = 0;
        if (ReadAll(statement, number, CType(fetch), Terminator(fetch), length))
          Store(fetch, column, raw_.data(), length, rows);
        return;
      }
    }
  }

  // The C type a column of the kind is read as, and the size of the null after its text.
  static SQLSMALLINT CType(CellFetch fetch) {
    switch (fetch) {
      case CellFetch::Integer:
        return SQL_C_SBIGINT;
      case CellFetch::Double:
        return SQL_C_DOUBLE;
      case CellFetch::Decimal:
        return SQL_C_CHAR;
      case CellFetch::Binary:
        return SQL_C_BINARY;
      default:
        return SQL_C_WCHAR;
    }
  }
  static std::size_t Terminator(CellFetch fetch) {
    const SQLSMALLINT type = CType(fetch);
    return type == SQL_C_WCHAR ? 2 : type == SQL_C_CHAR ? 1 : 0;
  }

  // Stores a cell's value as the driver gave it (`length` bytes at `data`, no terminator).
  void Store(CellFetch fetch, int column, const char* data, std::size_t length, RowStore& rows) {
    switch (fetch) {
      case CellFetch::Integer: {
        qint64 value = 0;
        std::memcpy(&value, data, sizeof value);
        rows.SetInt(column, value);
        return;
      }
      case CellFetch::Double: {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        rows.SetFloat(column, value);
        return;
      }
      case CellFetch::Decimal: {
        const std::string_view text(data, length);
        if (const auto value = ParseOdbcNumber(text))
          rows.SetFloat(column, *value);
        else
          rows.SetBytes(column, text);
        return;
      }
      case CellFetch::DateTime: {
        const std::u16string_view text = Utf16(data, length);
        if (const auto value = ParseOdbcDateTime(text)) {
          rows.SetFloat(column, *value);
        } else {
          // A date the driver gave in another form stays as text, so nothing is lost.
          utf8_.clear();
          AppendUtf8(text, utf8_);
          rows.SetBytes(column, utf8_);
        }
        return;
      }
      case CellFetch::Text:
      case CellFetch::Guid: {
        const std::u16string_view text = Utf16(data, length);
        utf8_.clear();
        const bool brace = fetch == CellFetch::Guid && !text.empty() && text.front() != u'{';
        if (brace) utf8_.push_back('{');
        AppendUtf8(text, utf8_);
        if (brace) utf8_.push_back('}');
        rows.SetBytes(column, utf8_);
        return;
      }
      case CellFetch::Binary:
        rows.SetBytes(column, std::string_view(data, length));
        return;
    }
  }

 private:
  static std::u16string_view Utf16(const char* data, std::size_t bytes) {
    return {reinterpret_cast<const char16_t*>(data), bytes / sizeof(char16_t)};
  }
  // Reads the whole value of a column into raw_, in as many pieces as the driver needs;
  // `terminator` is the size of the null the driver puts after text. Returns false for NULL.
  bool ReadAll(SQLHSTMT statement, SQLUSMALLINT number, SQLSMALLINT cType, std::size_t terminator,
               std::size_t& length) {
    constexpr std::size_t kMinimumRoom = 256;
    std::size_t used = 0;
    for (;;) {
      if (raw_.size() < used + kMinimumRoom) raw_.resize(std::max(raw_.size() * 2, used + 8192));
      const std::size_t room = raw_.size() - used;
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(statement, number, cType, raw_.data() + used,
                                      static_cast<SQLLEN>(room), &indicator);
      if (rc == SQL_NO_DATA) break;  // the previous piece was the last
      Check(rc, SQL_HANDLE_STMT, statement, "SQLGetData");
      if (indicator == SQL_NULL_DATA) return false;
      // What a cut piece holds: the room less the terminator, in whole characters.
      std::size_t piece = room - terminator;
      if (terminator == 2) piece &= ~std::size_t{1};
      if (rc == SQL_SUCCESS_WITH_INFO &&
          (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > piece)) {
        used += piece;
        if (indicator != SQL_NO_TOTAL) {
          // The indicator tells how much is left: make room for all of it at once.
          const std::size_t needed =
              used + (static_cast<std::size_t>(indicator) - piece) + terminator + kMinimumRoom;
          if (raw_.size() < needed) raw_.resize(needed);
        }
        continue;
      }
      used += static_cast<std::size_t>(indicator);
      break;
    }
    length = used;
    return true;
  }

  std::vector<char> raw_;
  std::string utf8_;
};

// Fetches the rows of a result many at a time into bound column buffers (column-wise binding,
// SQL_ATTR_ROW_ARRAY_SIZE), so that the driver hands over a block of rows per call instead of
// one call per cell. Only where every column has a known, modest size: a long or unsized column
// (text(max), image) is read with SQLGetData, one row at a time, as before.
class BlockFetch {
 public:
  explicit BlockFetch(SQLHSTMT statement) : statement_(statement) {}
  ~BlockFetch() { Release(); }
  BlockFetch(const BlockFetch&) = delete;
  BlockFetch& operator=(const BlockFetch&) = delete;

  // Binds the columns; false, leaving the statement as it was, where they cannot all be.
  bool Bind(const std::vector<ColumnPlan>& plan) {
    constexpr SQLULEN kLongest = 4000;  // characters of text or bytes of binary data bound
    constexpr std::size_t kBlockBytes = 256 * 1024;
    std::vector<Column> columns;
    std::size_t rowBytes = 0;
    for (const ColumnPlan& c : plan) {
      Column column;
      column.cType = CellReader::CType(c.fetch);
      switch (c.fetch) {
        case CellFetch::Integer:
        case CellFetch::Double:
          column.width = 8;
          break;
        case CellFetch::Decimal:
          if (c.size == 0 || c.size > 64) return false;
          column.width = static_cast<SQLLEN>(c.size) + 8;  // sign, point, a leading zero, null
          break;
        case CellFetch::DateTime:
          column.width = 2 * (static_cast<SQLLEN>(std::max<SQLULEN>(c.size, 40)) + 1);
          break;
        case CellFetch::Text:
        case CellFetch::Guid:
          if (c.size == 0 || c.size > kLongest) return false;
          // UTF-16 code units: a character outside the basic plane takes two.
          column.width = 2 * (2 * static_cast<SQLLEN>(c.size) + 1);
          break;
        case CellFetch::Binary:
          if (c.size == 0 || c.size > kLongest) return false;
          column.width = static_cast<SQLLEN>(c.size);
          break;
      }
      rowBytes += static_cast<std::size_t>(column.width) + sizeof(SQLLEN);
      columns.push_back(std::move(column));
    }
    if (columns.empty()) return false;
    SQLULEN rows = std::clamp<SQLULEN>(kBlockBytes / std::max<std::size_t>(rowBytes, 1), 1, 1024);
    if (!SQL_SUCCEEDED(SQLSetStmtAttrW(statement_, SQL_ATTR_ROW_ARRAY_SIZE,
                                       reinterpret_cast<SQLPOINTER>(rows), 0)))
      return false;
    // A driver may take fewer rows per block than asked (01S02).
    SQLULEN taken = 0;
    if (!SQL_SUCCEEDED(SQLGetStmtAttrW(statement_, SQL_ATTR_ROW_ARRAY_SIZE, &taken, 0, nullptr)) ||
        taken == 0 || taken > rows) {
      SQLSetStmtAttrW(statement_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
      return false;
    }
    rows = taken;
    columns_ = std::move(columns);
    status_.assign(rows, 0);
    bound_ = true;  // from here on Release undoes what is set
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      Column& c = columns_[i];
      c.data.resize(static_cast<std::size_t>(c.width) * rows);
      c.indicators.resize(rows);
      if (!SQL_SUCCEEDED(SQLBindCol(statement_, static_cast<SQLUSMALLINT>(i + 1), c.cType,
                                    c.data.data(), c.width, c.indicators.data()))) {
        Release();
        return false;
      }
    }
    if (!SQL_SUCCEEDED(SQLSetStmtAttrW(statement_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttrW(statement_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0))) {
      Release();
      return false;
    }
    return true;
  }

  bool Bound() const { return bound_; }

  // Adds the next row to `rows`; false at the end of the result.
  bool Next(const std::vector<ColumnPlan>& plan, CellReader& reader, RowStore& rows) {
    for (;;) {
      if (next_ < fetched_) break;
      if (end_) return false;
      fetched_ = 0;
      next_ = 0;
      const SQLRETURN rc = SQLFetch(statement_);
      if (rc == SQL_NO_DATA) {
        end_ = true;
        return false;
      }
      Check(rc, SQL_HANDLE_STMT, statement_, "SQLFetch");
    }
    const SQLULEN row = next_++;
    if (status_[row] == SQL_ROW_ERROR)
      throw EDatabaseError(QStringLiteral("The driver could not fetch row %1 of a block.")
                               .arg(static_cast<qulonglong>(row + 1)));
    rows.AddRow();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const Column& c = columns_[i];
      const SQLLEN indicator = c.indicators[row];
      if (indicator == SQL_NULL_DATA) continue;
      const char* data = c.data.data() + static_cast<std::size_t>(c.width) * row;
      std::size_t length = static_cast<std::size_t>(c.width);
      if (c.cType != SQL_C_SBIGINT && c.cType != SQL_C_DOUBLE) {
        const auto room = static_cast<std::size_t>(c.width) - CellReader::Terminator(plan[i].fetch);
        // Never a value cut short without a word: the column's size was to hold it.
        if (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room)
          throw EDatabaseError(
              QStringLiteral("A value of column %1 is longer than the size the driver gave the "
                             "column (%2).")
                  .arg(i + 1)
                  .arg(static_cast<qulonglong>(plan[i].size)));
        length = static_cast<std::size_t>(indicator);
      }
      reader.Store(plan[i].fetch, static_cast<int>(i), data, length, rows);
    }
    return true;
  }

  // Unbinds the buffers and sets the statement back to a row at a time, for the results after
  // this one.
  void Release() {
    if (!bound_) return;
    bound_ = false;
    SQLFreeStmt(statement_, SQL_UNBIND);
    SQLSetStmtAttrW(statement_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttrW(statement_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttrW(statement_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  }

 private:
  struct Column {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN width = 0;  // bytes per row
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
  };

  SQLHSTMT statement_;
  std::vector<Column> columns_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN fetched_ = 0;  // rows in the block
  SQLULEN next_ = 0;     // the next of them to hand over
  bool bound_ = false;
  bool end_ = false;
};

class OdbcConnection final : public BackendConnection {
 public:
  OdbcConnection(const QString& connectionString, int queryTimeoutSeconds)
      : dbc_(SQL_HANDLE_DBC, Environment(), SQL_HANDLE_ENV), queryTimeout_(queryTimeoutSeconds) {
    // An unreachable server must not keep the user waiting for the driver's default.
    SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), SQL_IS_UINTEGER);
    QString text = connectionString;
    Check(SQLDriverConnectW(dbc_.get(), nullptr, Wide(text), static_cast<SQLSMALLINT>(text.size()),
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_.get(), "SQLDriverConnect");
    connected_ = true;
  }

  ~OdbcConnection() override {
    if (!connected_) return;
    if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    SQLDisconnect(dbc_.get());
  }

  std::unique_ptr<ResultSet> Execute(const QString& sql,
                                     const std::vector<QVariant>& args) override {
    Executed executed = Run(sql, args);
    std::unique_ptr<ResultSet> result;
    ReadResults(executed.statement.get(), &result);
    return result;
  }

  std::unique_ptr<BackendCursor> OpenCursor(const QString& sql,
                                            const std::vector<QVariant>& args) override;

  qint64 RowsAffected() const override { return rowsAffected_; }

  std::vector<StatementNote> TakeNotes() override { return std::exchange(notes_, {}); }

  bool InTransaction() const override { return inTransaction_; }

  void StartTransaction() override {
    if (inTransaction_) throw EDatabaseError(QStringLiteral("A transaction is already active"));
    SetAutocommit(false);
    inTransaction_ = true;
  }

  void Commit() override {
    if (!inTransaction_) return;
    // A failed commit leaves the transaction open, so that the caller can still roll back.
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_COMMIT), SQL_HANDLE_DBC, dbc_.get(),
          "SQLEndTran");
    inTransaction_ = false;
    SetAutocommit(true);
  }

  void Rollback() override {
    if (!inTransaction_) return;
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    inTransaction_ = false;
    if (!SQL_SUCCEEDED(rc)) {
      const EDBEngineError error = MakeEngineError(ReadDiagRecords(SQL_HANDLE_DBC, dbc_.get()),
                                                   QStringLiteral("SQLEndTran"));
      SQLSetConnectAttrW(
          dbc_.get(), SQL_ATTR_AUTOCOMMIT,
          reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_ON)),
          SQL_IS_UINTEGER);
      throw error;
    }
    SetAutocommit(true);
  }

  void ExecProc(const QString& name, std::vector<ProcArg>& args) override {
    // The result is the first "?" of the call; the other arguments follow in their order.
    std::vector<std::size_t> order;
    std::size_t resultIndex = args.size();
    for (std::size_t i = 0; i < args.size(); ++i)
      if (args[i].direction == ptResult) {
        resultIndex = i;
        break;
      }
    if (resultIndex < args.size()) order.push_back(resultIndex);
    for (std::size_t i = 0; i < args.size(); ++i)
      if (args[i].direction != ptResult) order.push_back(i);

    rowsAffected_ = -1;
    notes_.clear();
    Handle statement = NewStatement();
    SQLHSTMT stmt = statement.get();
    QString text = ProcCallText(name, args);
    Check(SQLPrepareW(stmt, Wide(text), static_cast<SQLINTEGER>(text.size())), SQL_HANDLE_STMT,
          stmt, "SQLPrepare");
    std::vector<BoundParam> params(order.size());
    for (std::size_t n = 0; n < order.size(); ++n) {
      const ProcArg& arg = args[order[n]];
      BoundParam& p = params[n];
      switch (arg.direction) {
        case ptResult:
          p.SetOutput({}, arg.type == ftUnknown ? ftInteger : arg.type, false);
          break;
        case ptOutput:
          p.SetOutput({}, arg.type, false);
          break;
        case ptInputOutput:
          p.SetOutput(arg.value, arg.type, true);
          break;
        default:
          p.SetInput(arg.value, arg.type);
          break;
      }
      p.BindTo(stmt, static_cast<SQLUSMALLINT>(n + 1));
    }
    const SQLRETURN rc = SQLExecute(stmt);
    if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, stmt, "SQLExecute");
    // Output values arrive with the end of the last result.
    ReadResults(stmt, nullptr);
    for (ProcArg& arg : args)
      if (arg.direction == ptResult) arg.value = QVariant();
    for (std::size_t n = 0; n < order.size(); ++n)
      if (params[n].io != SQL_PARAM_INPUT) args[order[n]].value = params[n].OutputValue();
  }

 private:
  // An executed statement and the parameter buffers bound to it, which must stay put until
  // every result has been read.
  struct Executed {
    Handle statement;
    std::vector<BoundParam> params;
  };

  // Marks the statement the server works on while a call runs, for Interrupt from another
  // thread; the handle is only cancelled while it is sure to exist.
  class Busy {
   public:
    Busy(OdbcConnection& connection, SQLHSTMT stmt) : connection_(connection) {
      const std::lock_guard<std::mutex> lock(connection_.busyMutex_);
      connection_.busy_ = stmt;
    }
    ~Busy() {
      const std::lock_guard<std::mutex> lock(connection_.busyMutex_);
      connection_.busy_ = nullptr;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    OdbcConnection& connection_;
  };

 public:
  // SQLCancel from another thread: the driver sends the server an attention and the call under
  // way ends with "Operation canceled".
  void Interrupt() override {
    const std::lock_guard<std::mutex> lock(busyMutex_);
    if (busy_) SQLCancel(busy_);
  }

 private:
  Executed Run(const QString& sql, const std::vector<QVariant>& args) {
    rowsAffected_ = -1;
    notes_.clear();
    Executed executed{NewStatement(), std::vector<BoundParam>(args.size())};
    SQLHSTMT stmt = executed.statement.get();
    QString text = sql;
    SQLRETURN rc;
    if (args.empty()) {
      const Busy busy(*this, stmt);
      rc = SQLExecDirectW(stmt, Wide(text), static_cast<SQLINTEGER>(text.size()));
    } else {
      Check(SQLPrepareW(stmt, Wide(text), static_cast<SQLINTEGER>(text.size())), SQL_HANDLE_STMT,
            stmt, "SQLPrepare");
      for (std::size_t i = 0; i < args.size(); ++i) {
        executed.params[i].SetInput(args[i], ftUnknown);
        executed.params[i].BindTo(stmt, static_cast<SQLUSMALLINT>(i + 1));
      }
      const Busy busy(*this, stmt);
      rc = SQLExecute(stmt);
    }
    // SQL_NO_DATA: a statement that touched no rows.
    if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, stmt, "SQLExecute");
    NoteMessages(rc, stmt);
    return executed;
  }

  // Moves to the next result of the statement; false when there is none.
  bool MoreResults(SQLHSTMT stmt) {
    SQLRETURN rc;
    {
      const Busy busy(*this, stmt);
      rc = SQLMoreResults(stmt);
    }
    if (rc == SQL_NO_DATA) return false;
    Check(rc, SQL_HANDLE_STMT, stmt, "SQLMoreResults");
    NoteMessages(rc, stmt);
    return true;
  }

  // The count of a result without columns, for RowsAffected.
  void NoteRowCount(SQLHSTMT stmt) {
    SQLLEN count = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt, &count)) && count >= 0) {
      rowsAffected_ = count;
      StatementNote note;
      note.kind = StatementNote::Kind::RowsAffected;
      note.count = count;
      notes_.push_back(std::move(note));
    }
  }

  // The server's informational messages (PRINT, RAISERROR below severity 11) come as the
  // diagnostics of a call that succeeded with information (state 01000), apart from the notices
  // of a changed database (5701) or language (5703).
  void NoteMessages(SQLRETURN rc, SQLHSTMT stmt) {
    if (rc != SQL_SUCCESS_WITH_INFO) return;
    for (const DiagRecord& record : ReadDiagRecords(SQL_HANDLE_STMT, stmt)) {
      if (record.state != QLatin1StringView("01000") || record.nativeError == 5701 ||
          record.nativeError == 5703)
        continue;
      QString text = record.text;
      // "[FreeTDS][SQL Server]hello": the vendor and component prefixes go.
      while (text.startsWith(u'[') && text.indexOf(u']') > 0)
        text.remove(0, text.indexOf(u']') + 1);
      StatementNote note;
      note.text = text;
      notes_.push_back(std::move(note));
    }
  }

  Handle NewStatement() {
    Handle statement(SQL_HANDLE_STMT, dbc_.get(), SQL_HANDLE_DBC);
    if (queryTimeout_ > 0)
      SQLSetStmtAttrW(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(queryTimeout_)),
                      SQL_IS_UINTEGER);
    return statement;
  }

  void SetAutocommit(bool on) {
    const std::uintptr_t value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    Check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value),
                             SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_.get(), "SQLSetConnectAttr");
  }

  // Walks every result of the executed statement. With `keep`, the rows of the last result
  // that has columns end up there; RowsAffected takes the last count of a result without.
  void ReadResults(SQLHSTMT stmt, std::unique_ptr<ResultSet>* keep) {
    std::size_t keptAt = 0;  // where the result kept last came among the notes
    do {
      SQLSMALLINT columns = 0;
      Check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
      if (columns > 0) {
        if (keep) {
          if (*keep) {
            StatementNote earlier;
            earlier.kind = StatementNote::Kind::Rows;
            earlier.rows = std::move(*keep);
            notes_.insert(notes_.begin() + static_cast<std::ptrdiff_t>(keptAt), std::move(earlier));
          }
          *keep = FetchAll(stmt, columns);
          keptAt = notes_.size();
        }
      } else {
        NoteRowCount(stmt);
      }
    } while (MoreResults(stmt));
  }

  // The result's fields and how each column's cells are read.
  static void DescribeColumns(SQLHSTMT stmt, SQLSMALLINT columns, std::vector<FieldDef>& fields,
                              std::vector<ColumnPlan>& plan) {
    plan.reserve(static_cast<std::size_t>(columns));
    std::vector<SQLWCHAR> name(256);
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      for (;;) {
        Check(SQLDescribeColW(stmt, c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                              &nameLength, &dataType, &size, &digits, &nullable),
              SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        if (static_cast<std::size_t>(nameLength) < name.size()) break;
        name.resize(static_cast<std::size_t>(nameLength) + 1);
      }
      SQLWCHAR typeName[128] = {};
      SQLSMALLINT typeNameBytes = 0;
      if (!SQL_SUCCEEDED(SQLColAttributeW(stmt, c, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                          &typeNameBytes, nullptr)))
        typeNameBytes = 0;
      const qsizetype typeNameChars =
          std::min<qsizetype>(typeNameBytes / 2, std::size(typeName) - 1);
      const ColumnMapping mapping =
          MapColumn(dataType,
                    size > static_cast<SQLULEN>(std::numeric_limits<qint64>::max())
                        ? -1
                        : static_cast<qint64>(size),
                    QString::fromUtf16(reinterpret_cast<const char16_t*>(typeName), typeNameChars));
      fields.push_back(
          {QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()), nameLength),
           mapping.type, mapping.size});
      plan.push_back({mapping.fetch, size});
    }
  }

  // Fetches the next row into `rows`; false at the end of the result.
  bool FetchRow(SQLHSTMT stmt, const std::vector<ColumnPlan>& plan, BlockFetch& block,
                RowStore& rows) {
    if (block.Bound()) return block.Next(plan, reader_, rows);
    const SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
    rows.AddRow();
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(plan.size()); ++c)
      reader_.Read(stmt, c, plan[c - 1].fetch, rows);
    return true;
  }

  std::unique_ptr<ResultSet> FetchAll(SQLHSTMT stmt, SQLSMALLINT columns) {
    auto result = std::make_unique<ResultSet>();
    std::vector<ColumnPlan> plan;
    DescribeColumns(stmt, columns, result->fields, plan);
    result->rows = RowStore(columns);
    // Row by row: with blocks, FreeTDS loses the count of a statement after the rows of a
    // batch (a batch's last result and count are what Execute gives).
    BlockFetch block(stmt);
    while (FetchRow(stmt, plan, block, result->rows)) {
    }
    return result;
  }

  friend class OdbcCursor;

  Handle dbc_;
  bool connected_ = false;
  bool inTransaction_ = false;
  qint64 rowsAffected_ = -1;
  std::vector<StatementNote> notes_;
  int queryTimeout_ = 0;
  CellReader reader_;
  std::mutex busyMutex_;
  SQLHSTMT busy_ = nullptr;
};

// Streams the first result with columns of an executed statement. Execute keeps the last one;
// a statement that returns another after the streamed one raises at the end rather than leave
// its reader with rows that are not the ones Execute would give.
class OdbcCursor final : public BackendCursor {
 public:
  OdbcCursor(OdbcConnection& connection, OdbcConnection::Executed executed, SQLSMALLINT columns)
      : connection_(connection), executed_(std::move(executed)) {
    OdbcConnection::DescribeColumns(executed_.statement.get(), columns, fields_, plan_);
    block_.Bind(plan_);
  }

  ~OdbcCursor() override {
    // Unread rows would keep the connection busy: the statement is closed with the cursor.
    if (!done_) SQLCloseCursor(executed_.statement.get());
  }

  const std::vector<FieldDef>& Fields() const override { return fields_; }

  // ODBC allows SQLCancel from another thread while a fetch on the statement runs: the driver
  // sends the server an attention and the fetch ends with "Operation canceled".
  void Interrupt() override { SQLCancel(executed_.statement.get()); }

  qint64 Fetch(RowStore& window, int maxRows) override {
    window.Clear();
    if (done_) return 0;
    SQLHSTMT stmt = executed_.statement.get();
    if (!rowsRead_) {
      while (window.Rows() < maxRows) {
        if (!connection_.FetchRow(stmt, plan_, block_, window)) {
          rowsRead_ = true;
          break;
        }
      }
    }
    // The last rows go to the reader before the statements after the query run, which may take
    // their time (and be cancelled meanwhile).
    if (rowsRead_ && window.Rows() == 0) {
      done_ = true;
      block_.Release();
      FinishResults();
    }
    return window.Rows();
  }

 private:
  void FinishResults() {
    SQLHSTMT stmt = executed_.statement.get();
    while (connection_.MoreResults(stmt)) {
      SQLSMALLINT columns = 0;
      Check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
      if (columns > 0)
        throw EDatabaseError(QStringLiteral(
            "The statement returns more than one result set; only a statement with one can be "
            "read forward."));
      connection_.NoteRowCount(stmt);
    }
  }

  OdbcConnection& connection_;
  OdbcConnection::Executed executed_;
  std::vector<FieldDef> fields_;
  std::vector<ColumnPlan> plan_;
  BlockFetch block_{executed_.statement.get()};  // after executed_: released before it goes
  bool rowsRead_ = false;                        // the query's rows are all fetched
  bool done_ = false;                            // and the results after them too
};

std::unique_ptr<BackendCursor> OdbcConnection::OpenCursor(const QString& sql,
                                                          const std::vector<QVariant>& args) {
  Executed executed = Run(sql, args);
  SQLHSTMT stmt = executed.statement.get();
  // Counts of the statements before the query, as Execute notes them.
  do {
    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
    if (columns > 0) return std::make_unique<OdbcCursor>(*this, std::move(executed), columns);
    NoteRowCount(stmt);
  } while (MoreResults(stmt));
  return nullptr;
}

}  // namespace

QString ProcCallText(const QString& name, const std::vector<ProcArg>& args) {
  const bool hasResult = std::any_of(args.begin(), args.end(),
                                     [](const ProcArg& a) { return a.direction == ptResult; });
  const auto inputs = std::count_if(args.begin(), args.end(),
                                    [](const ProcArg& a) { return a.direction != ptResult; });
  QString text = hasResult ? QStringLiteral("{? = call ") : QStringLiteral("{call ");
  text += name;
  if (inputs > 0) {
    QStringList marks;
    for (qsizetype i = 0; i < inputs; ++i) marks << QStringLiteral("?");
    text += u'(' + marks.join(QLatin1String(", ")) + u')';
  }
  return text + u'}';
}

}  // namespace odbc

std::unique_ptr<BackendConnection> OpenOdbc(const ConnectSettings& settings) {
#ifdef Q_OS_WIN
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  const QString driver =
      odbc::ChooseDriver(qEnvironmentVariable("QAV_ODBC_DRIVER"), odbc::RegisteredDrivers(),
                         odbc::TdsLibraryCandidates(), kWindows);
  // The old engine's "MAX QUERY TIME": seconds a statement may run before it is cancelled.
  const int queryTimeout =
      ConnectSettings::Value(settings.params, QStringLiteral("MAX QUERY TIME")).trimmed().toInt();
  return std::make_unique<odbc::OdbcConnection>(odbc::BuildConnectionString(settings, driver),
                                                std::max(queryTimeout, 0));
}

std::unique_ptr<BackendConnection> OpenOdbcConnectionString(const QString& connectionString) {
  return std::make_unique<odbc::OdbcConnection>(connectionString, 0);
}

}  // namespace qav::db
