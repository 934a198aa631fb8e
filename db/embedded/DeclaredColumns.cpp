#include "db/embedded/DeclaredColumns.h"

#include "db/embedded/EmbeddedDialect.h"
#include "db/embedded/TsqlRewriter.h"
#include "db/embedded/TsqlTokens.h"

#include <sqlite3.h>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <string_view>
#include <utility>

namespace qav::db::embedded {

namespace {

using Kind = TsqlToken::Kind;
using Tokens = std::vector<TsqlToken>;

bool IsSymbol(const Tokens& t, std::size_t i, QStringView s) {
  return i < t.size() && t[i].kind == Kind::Symbol && t[i].text == s;
}

bool IsNameToken(const Tokens& t, std::size_t i) {
  return i < t.size() && (t[i].kind == Kind::Word || t[i].kind == Kind::Name);
}

// The end of the name "a", "a.b" or "a.b.c" that starts at `from`.
std::size_t NameEnd(const Tokens& t, std::size_t from) {
  std::size_t end = from + 1;
  while (IsSymbol(t, end, u".") && IsNameToken(t, end + 1)) end += 2;
  return end;
}

// [from, to) split at the commas outside parentheses.
std::vector<std::pair<std::size_t, std::size_t>> Items(const Tokens& t, std::size_t from,
                                                       std::size_t to) {
  std::vector<std::pair<std::size_t, std::size_t>> items;
  int depth = 0;
  std::size_t start = from;
  for (std::size_t i = from; i < to; ++i) {
    if (IsSymbol(t, i, u"("))
      ++depth;
    else if (IsSymbol(t, i, u")"))
      --depth;
    else if (depth == 0 && IsSymbol(t, i, u",")) {
      items.emplace_back(start, i);
      start = i + 1;
    }
  }
  items.emplace_back(start, to);
  return items;
}

QString Join(const Tokens& t, std::size_t from, std::size_t to) {
  QString out;
  for (std::size_t i = from; i < to && i < t.size(); ++i)
    out += (i == from ? QString() : t[i].lead) + t[i].text;
  return out;
}

// Texts to put around tokens, applied in one copy.
class Wraps {
 public:
  explicit Wraps(const TsqlTokens& parsed)
      : parsed_(parsed), before_(parsed.tokens.size() + 1), after_(parsed.tokens.size()) {}
  void Before(std::size_t i, const QString& text) {
    before_[i] += text;
    changed_ = true;
  }
  void After(std::size_t i, const QString& text) {
    after_[i] += text;
    changed_ = true;
  }
  bool Changed() const { return changed_; }
  QString Text() const {
    const Tokens& t = parsed_.tokens;
    QString out;
    for (std::size_t i = 0; i < t.size(); ++i)
      out += t[i].lead + before_[i] + t[i].text + after_[i];
    return out + before_[t.size()] + parsed_.tail;
  }

 private:
  const TsqlTokens& parsed_;
  std::vector<QString> before_, after_;
  bool changed_ = false;
};

// The errors of declared types, each raised from here alone.
[[noreturn]] void RaiseExplicitIdentity(const QString& table) {
  RaiseTsqlError(QStringLiteral("Cannot insert explicit value for identity column in table '%1' "
                                "when IDENTITY_INSERT is set to OFF.")
                     .arg(table));
}

[[noreturn]] void RaiseIdentityWithoutColumnList(const QString& table) {
  RaiseTsqlError(QStringLiteral("An explicit value for the identity column in table '%1' can only "
                                "be specified when a column list is used and IDENTITY_INSERT is "
                                "ON.")
                     .arg(table));
}

[[noreturn]] void RaiseIdentityUpdate(const QString& column) {
  RaiseTsqlError(QStringLiteral("Cannot update identity column '%1'.").arg(column));
}

[[noreturn]] void RaiseNoSuchObject(const QString& name) {
  RaiseTsqlError(QStringLiteral("Cannot find the object \"%1\" because it does not exist or you do "
                                "not have permissions.")
                     .arg(name));
}

[[noreturn]] void RaiseNoIdentity(const QString& table) {
  RaiseTsqlError(
      QStringLiteral(
          "Table '%1' does not have the identity property. Cannot perform SET operation.")
          .arg(table));
}

[[noreturn]] void RaiseIdentityInsertElsewhere(const QString& on, const QString& table) {
  RaiseTsqlError(QStringLiteral("IDENTITY_INSERT is already ON for table '%1'. Cannot perform SET "
                                "operation for table '%2'.")
                     .arg(on, table));
}

QString TruncationText(const char* table, const char* column, QStringView kept) {
  return QStringLiteral(
             "String or binary data would be truncated in table '%1', column '%2'. Truncated "
             "value: '%3'.")
      .arg(QString::fromUtf8(table), QString::fromUtf8(column), kept);
}

// tsql_fit(value, measure, length, table, column): the value as its column keeps it. SQL Server
// cuts blanks past the length without a word, and fails the statement for anything else.
void FitFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
    sqlite3_result_value(context, argv[0]);
    return;
  }
  const auto* text = sqlite3_value_text(argv[0]);
  const int bytes = sqlite3_value_bytes(argv[0]);
  const int length = sqlite3_value_int(argv[2]);
  // A character is at least one byte in UTF-8: a text of no more bytes fits.
  if (bytes <= length) {
    sqlite3_result_value(context, argv[0]);
    return;
  }
  const bool units =
      sqlite3_value_int(argv[1]) == static_cast<int>(DeclaredColumn::Measure::Utf16Units);
  int counted = 0;
  int cut = bytes;  // the byte where the column's length ends
  for (int i = 0; i < bytes; ++i) {
    const unsigned char c = text[i];
    if ((c & 0xC0) == 0x80) continue;
    const int size = units && c >= 0xF0 ? 2 : 1;
    if (counted + size > length && cut == bytes) cut = i;
    counted += size;
  }
  if (counted <= length) {
    sqlite3_result_value(context, argv[0]);
    return;
  }
  bool blanks = true;
  for (int i = cut; i < bytes && blanks; ++i) blanks = text[i] == ' ';
  if (blanks) {
    sqlite3_result_text(context, reinterpret_cast<const char*>(text), cut, SQLITE_TRANSIENT);
    return;
  }
  const QByteArray message =
      TruncationText(reinterpret_cast<const char*>(sqlite3_value_text(argv[3])),
                     reinterpret_cast<const char*>(sqlite3_value_text(argv[4])),
                     QString::fromUtf8(reinterpret_cast<const char*>(text), cut))
          .toUtf8();
  sqlite3_result_error(context, message.constData(), static_cast<int>(message.size()));
}

QString Quoted(const QString& value) {
  return QuoteString(value);
}

}  // namespace

DeclaredColumn ReadDeclaredType(const QString& name, const QString& declared) {
  static const QRegularExpression kIdentity(
      QStringLiteral(R"(\bidentity\b\s*(?:\(\s*([-+]?\d+)\s*,\s*([-+]?\d+)\s*\))?)"),
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression kCharacters(
      QStringLiteral(R"(^\s*(n?)(?:var)?char\s*(?:\(\s*(\d+)\s*\))?\s*$)"),
      QRegularExpression::CaseInsensitiveOption);
  DeclaredColumn c;
  c.name = name;
  QString type = declared;
  type.remove(u'"').remove(u'[').remove(u']');
  if (const auto m = kIdentity.match(type); m.hasMatch()) {
    c.identity = true;
    if (m.hasCaptured(1)) {
      c.seed = m.captured(1).toLongLong();
      c.increment = m.captured(2).toLongLong();
      if (c.increment == 0) c.increment = 1;
    }
    type.remove(m.capturedStart(), m.capturedLength());
  }
  c.type = type.simplified();
  // A length not written (varchar alone) is taken as no limit: the suite's own tables declare
  // it so, and SQLite's CREATE TABLE AS SELECT writes such types too.
  if (const auto m = kCharacters.match(c.type); m.hasMatch() && m.hasCaptured(2)) {
    c.measure = m.captured(1).isEmpty() ? DeclaredColumn::Measure::CodePageBytes
                                        : DeclaredColumn::Measure::Utf16Units;
    c.length = m.captured(2).toInt();
  }
  return c;
}

DeclaredColumns::DeclaredColumns(sqlite3* db) : db_(db) {
  const int flags = SQLITE_UTF8;
  struct Function {
    const char* name;
    int args;
    int flags;
    void (*call)(sqlite3_context*, int, sqlite3_value**);
  };
  for (const Function& f : {Function{"tsql_fit", 5, flags | SQLITE_DETERMINISTIC, FitFunction},
                            Function{"tsql_identity", -1, flags, IdentityFunction},
                            Function{"tsql_identity_last", 0, flags, LastIdentityFunction},
                            Function{"scope_identity", 0, flags, LastIdentityFunction},
                            Function{"tsql_rowcount", 0, flags, RowCountFunction}}) {
    if (sqlite3_create_function_v2(db, f.name, f.args, f.flags, this, f.call, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
      RaiseSqliteError(db);
  }
}

void DeclaredColumns::IdentityFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* self = static_cast<DeclaredColumns*>(sqlite3_user_data(context));
  IdentityRun& run = self->run_;
  if (!run.active) {
    sqlite3_result_error(context, "no identity column is being filled", -1);
    return;
  }
  if (argc == 0) {
    run.last = run.next;
    run.next += run.increment;
    run.seen = true;
    sqlite3_result_int64(context, run.last);
    return;
  }
  // An explicit value under IDENTITY_INSERT: the identity goes on past it.
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER) {
    const qint64 v = sqlite3_value_int64(argv[0]);
    run.furthest = !run.seen           ? v
                   : run.increment > 0 ? std::max(run.furthest, v)
                                       : std::min(run.furthest, v);
    run.last = v;
    run.seen = true;
  }
  sqlite3_result_value(context, argv[0]);
}

void DeclaredColumns::LastIdentityFunction(sqlite3_context* context, int, sqlite3_value**) {
  const auto* self = static_cast<DeclaredColumns*>(sqlite3_user_data(context));
  if (self->lastIdentity_.isNull())
    sqlite3_result_null(context);
  else
    sqlite3_result_int64(context, self->lastIdentity_.toLongLong());
}

void DeclaredColumns::RowCountFunction(sqlite3_context* context, int, sqlite3_value**) {
  const auto* self = static_cast<DeclaredColumns*>(sqlite3_user_data(context));
  sqlite3_result_int64(context, self->rowCount_);
}

qint64 DeclaredColumns::SchemaVersion(int which) {
  StmtHandle& stmt = which == 0 ? mainVersion_ : tempVersion_;
  if (!stmt) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_,
                           which == 0 ? "PRAGMA main.schema_version" : "PRAGMA temp.schema_version",
                           -1, &raw, nullptr) != SQLITE_OK)
      return -1;
    stmt.reset(raw);
  }
  const qint64 v =
      sqlite3_step(stmt.get()) == SQLITE_ROW ? sqlite3_column_int64(stmt.get(), 0) : -1;
  sqlite3_reset(stmt.get());
  return v;
}

const DeclaredColumns::Table* DeclaredColumns::Find(const QString& name) {
  const std::pair<qint64, qint64> version{SchemaVersion(0), SchemaVersion(1)};
  if (version != version_ || version.first < 0 || version.second < 0) {
    tables_.clear();
    version_ = version;
  }
  const QString key = name.toLower();
  if (const auto it = tables_.constFind(key); it != tables_.constEnd())
    return it->columns.empty() ? nullptr : &*it;

  Table table;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT 'temp', name FROM temp.sqlite_schema WHERE type = 'table' AND "
                         "name = ?1 COLLATE NOCASE UNION ALL SELECT 'main', name FROM "
                         "main.sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
                         -1, &raw, nullptr) == SQLITE_OK) {
    const StmtHandle stmt(raw);
    const QByteArray n = name.toUtf8();
    sqlite3_bind_text(raw, 1, n.constData(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(raw) == SQLITE_ROW) {
      table.temporary =
          std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0))) == "temp";
      table.name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 1)));
    }
  }
  if (!table.name.isEmpty() &&
      sqlite3_prepare_v2(db_, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1, ?2)", -1,
                         &raw, nullptr) == SQLITE_OK) {
    const StmtHandle stmt(raw);
    const QByteArray n = table.name.toUtf8();
    sqlite3_bind_text(raw, 1, n.constData(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, table.temporary ? "temp" : "main", -1, SQLITE_STATIC);
    while (sqlite3_step(raw) == SQLITE_ROW) {
      DeclaredColumn c = ReadDeclaredType(
          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0))),
          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 1))));
      c.notNull = sqlite3_column_int(raw, 2) != 0;
      if (c.identity && table.identity < 0) table.identity = static_cast<int>(table.columns.size());
      table.measured = table.measured || c.measure != DeclaredColumn::Measure::None;
      table.columns.push_back(std::move(c));
    }
  }
  if (table.temporary) {
    table.display = QStringLiteral("tempdb.dbo.") + table.name;
  } else {
    const char* file = sqlite3_db_filename(db_, "main");
    table.display = QFileInfo(QString::fromUtf8(file ? file : "")).completeBaseName() +
                    QStringLiteral(".dbo.") + table.name;
  }
  const auto it = tables_.insert(key, std::move(table));
  return it->columns.empty() ? nullptr : &*it;
}

QVariant DeclaredColumns::CurrentIdentity(const Table& table, const DeclaredColumn& column) {
  const QString key = table.name.toLower();
  if (table.temporary) {
    if (const auto it = tempIdentity_.constFind(key); it != tempIdentity_.constEnd()) return *it;
  } else {
    sqlite3_stmt* raw = nullptr;
    // No table yet: no permanent table has had a value handed out here.
    if (sqlite3_prepare_v2(db_, "SELECT current FROM main.qav_identity WHERE name = ?1", -1, &raw,
                           nullptr) == SQLITE_OK) {
      const StmtHandle stmt(raw);
      const QByteArray n = key.toUtf8();
      sqlite3_bind_text(raw, 1, n.constData(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(raw) == SQLITE_ROW) return QVariant(sqlite3_column_int64(raw, 0));
    }
  }
  // A table filled before its identity was counted here continues from its rows.
  const QString sql = QStringLiteral("SELECT %1(%2) FROM %3.%4")
                          .arg(column.increment > 0 ? QStringLiteral("max") : QStringLiteral("min"),
                               sql::QuoteIdentifier(column.name),
                               table.temporary ? QStringLiteral("temp") : QStringLiteral("main"),
                               sql::QuoteIdentifier(table.name));
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare16_v2(db_, sql.utf16(), static_cast<int>(sql.size() * 2), &raw, nullptr) !=
      SQLITE_OK)
    RaiseSqliteError(db_, sql);
  const StmtHandle stmt(raw);
  if (sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_type(raw, 0) == SQLITE_INTEGER)
    return QVariant(sqlite3_column_int64(raw, 0));
  return {};
}

void DeclaredColumns::StoreIdentity(const QString& table, bool temporary, qint64 value) {
  const QString key = table.toLower();
  if (temporary) {
    tempIdentity_.insert(key, value);
    return;
  }
  ExecSql(db_,
          "CREATE TABLE IF NOT EXISTS main.qav_identity (name TEXT PRIMARY KEY, current INTEGER "
          "NOT NULL)");
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO main.qav_identity VALUES (?1, ?2)", -1, &raw,
                         nullptr) != SQLITE_OK)
    RaiseSqliteError(db_);
  const StmtHandle stmt(raw);
  const QByteArray n = key.toUtf8();
  sqlite3_bind_text(raw, 1, n.constData(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(raw, 2, value);
  if (sqlite3_step(raw) != SQLITE_DONE) RaiseSqliteError(db_);
}

void DeclaredColumns::ForgetIdentity(const QString& table) {
  const QString key = table.toLower();
  tempIdentity_.remove(key);
  if (key == identityInsert_) identityInsert_.clear();
  if (key.startsWith(u'#')) return;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "DELETE FROM main.qav_identity WHERE name = ?1", -1, &raw, nullptr) !=
      SQLITE_OK)
    return;  // no identity counted in this database yet
  const StmtHandle stmt(raw);
  const QByteArray n = key.toUtf8();
  sqlite3_bind_text(raw, 1, n.constData(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(raw) != SQLITE_DONE) RaiseSqliteError(db_);
}

QString DeclaredColumns::Insert(const QString& translated) {
  run_ = {};
  const TsqlTokens parsed = Tokenize(translated);
  const Tokens& t = parsed.tokens;
  if (t.size() < 3 || !t[0].Is(u"insert")) return translated;
  const std::size_t nameAt = t[1].Is(u"into") ? 2 : 1;
  if (!IsNameToken(t, nameAt)) return translated;
  const std::size_t nameEnd = NameEnd(t, nameAt);
  const Table* table = Find(sql::NameValue(t[nameEnd - 1].text));
  if (!table || (!table->measured && table->identity < 0)) return translated;

  // The columns the values go to, in order.
  std::vector<int> targets;
  std::size_t pos = nameEnd;
  std::size_t listClose = t.size();
  const bool listed = IsSymbol(t, pos, u"(") && pos + 1 < t.size() &&
                      !t[pos + 1].IsAny({"select", "values", "with"});
  if (listed) {
    listClose = MatchingParen(t, pos);
    if (listClose >= t.size()) return translated;
    for (const auto& [a, b] : Items(t, pos + 1, listClose)) {
      if (b != a + 1) return translated;
      const QString column = sql::NameValue(t[a].text);
      const auto found = std::find_if(
          table->columns.begin(), table->columns.end(),
          [&](const auto& c) { return c.name.compare(column, Qt::CaseInsensitive) == 0; });
      // SQLite names the column it does not know.
      if (found == table->columns.end()) return translated;
      targets.push_back(static_cast<int>(found - table->columns.begin()));
    }
    pos = listClose + 1;
  }
  const int identity = table->identity;
  const bool identityOn = identity >= 0 && identityInsert_ == table->name.toLower();
  const bool explicitIdentity =
      listed && std::find(targets.begin(), targets.end(), identity) != targets.end();
  if (identity >= 0 && explicitIdentity && !identityOn) RaiseExplicitIdentity(table->name);
  if (identity >= 0 && !listed && identityOn) RaiseIdentityWithoutColumnList(table->name);
  if (!listed)
    for (int i = 0; i < static_cast<int>(table->columns.size()); ++i)
      if (i != identity) targets.push_back(i);
  const bool generate = identity >= 0 && !explicitIdentity;

  Wraps wraps(parsed);
  // The value [a, b) for column `column`.
  auto wrap = [&](std::size_t a, std::size_t b, int column) {
    if (a >= b) return;
    const DeclaredColumn& c = table->columns[static_cast<std::size_t>(column)];
    if (column == identity) {
      wraps.Before(a, QStringLiteral("tsql_identity("));
      wraps.After(b - 1, QStringLiteral(")"));
    } else if (c.measure != DeclaredColumn::Measure::None) {
      wraps.Before(a, QStringLiteral("tsql_fit("));
      wraps.After(b - 1, QStringLiteral(", %1, %2, %3, %4)")
                             .arg(static_cast<int>(c.measure))
                             .arg(c.length)
                             .arg(Quoted(table->display), Quoted(c.name)));
    }
  };
  const QString identityName =
      identity >= 0 ? sql::QuoteIdentifier(table->columns[static_cast<std::size_t>(identity)].name)
                    : QString();
  auto addIdentityColumn = [&] {
    if (listed) {
      wraps.Before(listClose, QStringLiteral(", ") + identityName);
      return;
    }
    QStringList names;
    for (const int i : targets)
      names << sql::QuoteIdentifier(table->columns[static_cast<std::size_t>(i)].name);
    names << identityName;
    wraps.After(nameEnd - 1, QStringLiteral(" (") + names.join(QStringLiteral(", ")) + u')');
  };

  std::size_t end = t.size();
  while (end > pos && IsSymbol(t, end - 1, u";")) --end;
  QString text;
  if (pos + 1 < end && t[pos].Is(u"default") && t[pos + 1].Is(u"values")) {
    if (!generate) return translated;
    text = Join(t, 0, nameEnd) + QStringLiteral(" (%1) VALUES (tsql_identity())").arg(identityName);
  } else if (pos < end && t[pos].Is(u"values")) {
    for (std::size_t row = pos + 1; IsSymbol(t, row, u"(");) {
      const std::size_t close = MatchingParen(t, row);
      if (close >= end) return translated;
      const auto items = Items(t, row + 1, close);
      // A row of another length fails in SQLite's words, as it does today.
      if (items.size() == targets.size())
        for (std::size_t k = 0; k < items.size(); ++k)
          wrap(items[k].first, items[k].second, targets[k]);
      if (generate) wraps.Before(close, QStringLiteral(", tsql_identity()"));
      if (!IsSymbol(t, close + 1, u",")) break;
      row = close + 2;
    }
    if (generate) addIdentityColumn();
    text = wraps.Text();
  } else if (pos < end && (t[pos].Is(u"select") || IsSymbol(t, pos, u"("))) {
    // The rows of a query through a common table expression whose columns are named, so that
    // each can be measured against its column.
    QStringList names, values, columns;
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const DeclaredColumn& c = table->columns[static_cast<std::size_t>(targets[k])];
      const QString name = QStringLiteral("c%1").arg(k + 1);
      names << name;
      columns << sql::QuoteIdentifier(c.name);
      if (targets[k] == identity)
        values << QStringLiteral("tsql_identity(%1)").arg(name);
      else if (c.measure != DeclaredColumn::Measure::None)
        // Most values are short enough by their count of characters alone (a UTF-16 unit for
        // each or two), which SQLite counts without a call.
        values << QStringLiteral(
                      "CASE WHEN length(%1) <= %2 THEN %1 ELSE tsql_fit(%1, %3, %4, %5, %6) END")
                      .arg(name)
                      .arg(c.measure == DeclaredColumn::Measure::Utf16Units ? c.length / 2
                                                                            : c.length)
                      .arg(static_cast<int>(c.measure))
                      .arg(c.length)
                      .arg(Quoted(table->display), Quoted(c.name));
      else
        values << name;
    }
    if (generate) {
      columns << identityName;
      values << QStringLiteral("tsql_identity()");
    }
    text = QStringLiteral("WITH qav_rows(%1) AS (%2) INSERT INTO %3 (%4) SELECT %5 FROM qav_rows")
               .arg(names.join(QStringLiteral(", ")), Join(t, pos, end), Join(t, nameAt, nameEnd),
                    columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
  } else {
    return translated;
  }
  if (identity >= 0) {
    const DeclaredColumn& c = table->columns[static_cast<std::size_t>(identity)];
    run_.active = true;
    run_.generated = generate;
    run_.table = table->name;
    run_.temporary = table->temporary;
    run_.increment = c.increment;
    run_.current = CurrentIdentity(*table, c);
    run_.next = run_.current.isNull() ? c.seed : run_.current.toLongLong() + c.increment;
  }
  return text;
}

void DeclaredColumns::Inserted() {
  const IdentityRun run = std::exchange(run_, {});
  lastIdentity_ = QVariant();
  if (!run.active || !run.seen) return;
  qint64 current = run.last;
  if (!run.generated) {
    current = run.furthest;
    if (!run.current.isNull())
      current = run.increment > 0 ? std::max(current, run.current.toLongLong())
                                  : std::min(current, run.current.toLongLong());
  }
  StoreIdentity(run.table, run.temporary, current);
  lastIdentity_ = run.last;
}

void DeclaredColumns::Abandon() {
  run_ = {};
}

QString DeclaredColumns::Update(const QString& translated) {
  const TsqlTokens parsed = Tokenize(translated);
  const Tokens& t = parsed.tokens;
  if (t.size() < 4 || !t[0].Is(u"update") || !IsNameToken(t, 1)) return translated;
  const std::size_t nameEnd = NameEnd(t, 1);
  const Table* table = Find(sql::NameValue(t[nameEnd - 1].text));
  if (!table || (!table->measured && table->identity < 0) || !t[nameEnd].Is(u"set"))
    return translated;
  std::size_t end = nameEnd + 1;
  for (int depth = 0; end < t.size(); ++end) {
    if (IsSymbol(t, end, u"("))
      ++depth;
    else if (IsSymbol(t, end, u")"))
      --depth;
    else if (depth == 0 && (IsSymbol(t, end, u";") ||
                            t[end].IsAny({"from", "where", "order", "limit", "returning"})))
      break;
  }
  Wraps wraps(parsed);
  for (const auto& [a, b] : Items(t, nameEnd + 1, end)) {
    std::size_t eq = a;
    while (eq < b && !IsSymbol(t, eq, u"=")) ++eq;
    if (eq == a || eq + 1 >= b || !IsNameToken(t, eq - 1)) continue;
    const QString name = sql::NameValue(t[eq - 1].text);
    for (std::size_t i = 0; i < table->columns.size(); ++i) {
      const DeclaredColumn& c = table->columns[i];
      if (c.name.compare(name, Qt::CaseInsensitive) != 0) continue;
      if (static_cast<int>(i) == table->identity) RaiseIdentityUpdate(c.name);
      if (c.measure == DeclaredColumn::Measure::None) break;
      wraps.Before(eq + 1, QStringLiteral("tsql_fit("));
      wraps.After(b - 1, QStringLiteral(", %1, %2, %3, %4)")
                             .arg(static_cast<int>(c.measure))
                             .arg(c.length)
                             .arg(Quoted(table->display), Quoted(c.name)));
      break;
    }
  }
  return wraps.Changed() ? wraps.Text() : translated;
}

QStringList DeclaredColumns::SelectInto(const QString& translated) {
  const TsqlTokens parsed = Tokenize(translated);
  const Tokens& t = parsed.tokens;
  if (t.size() < 5 || !t[0].Is(u"create")) return {};
  std::size_t k = 1;
  const bool temporary = t[k].IsAny({"temp", "temporary"});
  if (temporary) ++k;
  if (!t[k].Is(u"table") || !IsNameToken(t, k + 1)) return {};
  const std::size_t nameEnd = NameEnd(t, k + 1);
  if (!t[nameEnd].Is(u"as") || nameEnd + 1 >= t.size() || !t[nameEnd + 1].Is(u"select")) return {};
  std::size_t end = t.size();
  while (end > nameEnd && IsSymbol(t, end - 1, u";")) --end;
  const QString query = Join(t, nameEnd + 1, end);

  sqlite3_stmt* raw = nullptr;
  // A query that does not prepare fails as the statement would.
  if (sqlite3_prepare16_v2(db_, query.utf16(), static_cast<int>(query.size() * 2), &raw, nullptr) !=
          SQLITE_OK ||
      !raw)
    return {};
  const StmtHandle stmt(raw);
  // SQL Server carries IDENTITY to a table made from one table's rows, taken once and not
  // grouped, joined or combined.
  bool single = true;
  int depth = 0;
  for (std::size_t i = nameEnd + 1; i < end; ++i) {
    if (IsSymbol(t, i, u"(")) ++depth;
    if (IsSymbol(t, i, u")")) --depth;
    if (depth == 0 &&
        (t[i].IsAny({"join", "group", "union", "except", "intersect", "distinct"}) ||
         (IsSymbol(t, i, u",") &&
          Join(t, nameEnd + 1, i).contains(QLatin1StringView("from"), Qt::CaseInsensitive))))
      single = false;
  }
  const std::vector<ComputedType> computed = ComputedColumnTypes(query);
  const int count = sqlite3_column_count(raw);
  QStringList definitions;
  bool declared = false;
  int identities = 0;
  for (int i = 0; i < count; ++i) {
    const QString name = QString::fromUtf8(sqlite3_column_name(raw, i));
    const char* database = sqlite3_column_database_name(raw, i);
    const char* origin = sqlite3_column_origin_name(raw, i);
    const char* source = sqlite3_column_table_name(raw, i);
    QString definition = sql::QuoteIdentifier(name);
    const char* type = nullptr;
    const char* collation = nullptr;
    int notNull = 0, primary = 0, autoincrement = 0;
    if (database && origin && source &&
        sqlite3_table_column_metadata(db_, database, source, origin, &type, &collation, &notNull,
                                      &primary, &autoincrement) == SQLITE_OK) {
      declared = true;
      const DeclaredColumn c =
          ReadDeclaredType(QString::fromUtf8(origin), QString::fromUtf8(type ? type : ""));
      definition += u' ' + c.type;
      if (c.identity && single) {
        ++identities;
        definition += QStringLiteral(" IDENTITY(%1,%2)").arg(c.seed).arg(c.increment);
      }
      if (collation && qstricmp(collation, "BINARY") != 0)
        definition += QStringLiteral(" COLLATE ") + QString::fromUtf8(collation);
      if (notNull || primary || c.identity) definition += QStringLiteral(" NOT NULL");
    } else if (static_cast<std::size_t>(i) < computed.size() &&
               !computed[static_cast<std::size_t>(i)].declared.isEmpty()) {
      const QString& type = computed[static_cast<std::size_t>(i)].declared;
      definition += u' ' + type;
      if (IsTsqlTextType(type.section(u'(', 0, 0))) definition += QStringLiteral(" COLLATE NOCASE");
    }
    definitions << definition;
  }
  // Columns that carry nothing declared are made as SQLite makes them.
  if (!declared) return {};
  // A second identity column is none on SQL Server either: the table takes neither.
  if (identities > 1)
    for (QString& d : definitions)
      d.remove(QRegularExpression(QStringLiteral(" IDENTITY\\(\\S+\\)")));
  ForgetIdentity(sql::NameValue(t[nameEnd - 1].text));
  const QString target = Join(t, k + 1, nameEnd);
  return {QStringLiteral("CREATE %1TABLE %2 (%3)")
              .arg(temporary ? QStringLiteral("TEMP ") : QString(), target,
                   definitions.join(QStringLiteral(", "))),
          QStringLiteral("INSERT INTO %1 %2").arg(target, query)};
}

bool DeclaredColumns::SetIdentityInsert(QStringView statement) {
  const TsqlTokens parsed = Tokenize(statement);
  const Tokens& t = parsed.tokens;
  if (t.size() < 4 || !t[0].Is(u"set") || !t[1].Is(u"identity_insert")) return false;
  if (!IsNameToken(t, 2))
    RaiseTsqlError(QStringLiteral("Incorrect syntax near 'IDENTITY_INSERT'."));
  const std::size_t nameEnd = NameEnd(t, 2);
  const bool on = nameEnd < t.size() && t[nameEnd].Is(u"on");
  if (!on && !(nameEnd < t.size() && t[nameEnd].Is(u"off")))
    RaiseTsqlError(QStringLiteral("Incorrect syntax near '%1'.")
                       .arg(nameEnd < t.size() ? t[nameEnd].text : t.back().text));
  const QString written = sql::NameValue(t[nameEnd - 1].text);
  const Table* table = Find(written);
  if (!table) RaiseNoSuchObject(written);
  if (table->identity < 0) RaiseNoIdentity(table->name);
  const QString key = table->name.toLower();
  if (on) {
    if (!identityInsert_.isEmpty() && identityInsert_ != key)
      RaiseIdentityInsertElsewhere(identityInsertDisplay_, table->name);
    identityInsert_ = key;
    identityInsertDisplay_ = table->display;
  } else if (identityInsert_ == key) {
    identityInsert_.clear();
  }
  return true;
}

void DeclaredColumns::TablesRemade(QStringView statement) {
  const TsqlTokens parsed = Tokenize(statement);
  const Tokens& t = parsed.tokens;
  if (t.size() < 3 || !t[0].IsAny({"create", "drop", "truncate"}) || !t[1].Is(u"table")) return;
  std::size_t i = 2;
  if (t[i].Is(u"if") && i + 1 < t.size() && t[i + 1].Is(u"exists")) i += 2;
  while (IsNameToken(t, i)) {
    const std::size_t end = NameEnd(t, i);
    ForgetIdentity(sql::NameValue(t[end - 1].text));
    if (!t[0].Is(u"drop") || !IsSymbol(t, end, u",")) break;
    i = end + 1;
  }
}

}  // namespace qav::db::embedded
