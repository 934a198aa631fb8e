#include "db/embedded/DeclaredColumns.h"

#include "db/embedded/ServerErrors.h"

#include "db/embedded/EmbeddedDialect.h"
#include "db/embedded/TsqlRewriter.h"
#include "sql/TsqlLexer.h"

#include <sqlite3.h>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <string_view>
#include <utility>

namespace qav::db::embedded {

namespace {

// The code tokens of a statement, read where they stand in its text: the statements here are
// read once each, on the way to SQLite, and most are a script's one-row INSERTs.
class Code {
 public:
  explicit Code(QStringView text) : text_(text), t_(sql::CodeTokens(text)) {}

  std::size_t size() const { return t_.size(); }
  QStringView Text() const { return text_; }
  qsizetype Start(std::size_t i) const { return i < t_.size() ? t_[i].start : text_.size(); }
  qsizetype End(std::size_t i) const { return t_[i].End(); }
  QString TextAt(std::size_t i) const { return t_[i].Text(text_).toString(); }

  bool Is(std::size_t i, const char* word) const {
    return i < t_.size() && sql::IsWord(text_, t_[i], QLatin1StringView(word));
  }
  bool IsAny(std::size_t i, std::initializer_list<const char*> words) const {
    for (const char* w : words)
      if (Is(i, w)) return true;
    return false;
  }
  bool Symbol(std::size_t i, const char* op) const {
    return i < t_.size() && sql::IsOperator(text_, t_[i], QLatin1StringView(op));
  }
  bool IsName(std::size_t i) const {
    return i < t_.size() &&
           (t_[i].kind == sql::TokenKind::Word || t_[i].kind == sql::TokenKind::QuotedName);
  }
  bool IsString(std::size_t i) const {
    return i < t_.size() && t_[i].kind == sql::TokenKind::String;
  }
  QString Name(std::size_t i) const { return sql::NameValue(t_[i].Text(text_)); }
  QString StringAt(std::size_t i) const { return sql::StringValue(t_[i].Text(text_)); }

  // The text from token `from` to the end of token `to - 1`.
  QString Join(std::size_t from, std::size_t to) const {
    if (from >= to || from >= t_.size()) return {};
    return text_.mid(t_[from].start, t_[std::min(to, t_.size()) - 1].End() - t_[from].start)
        .toString();
  }

  // The end of the name "a", "a.b" or "a.b.c" that starts at `from`.
  std::size_t NameEnd(std::size_t from) const {
    std::size_t end = from + 1;
    while (Symbol(end, ".") && IsName(end + 1)) end += 2;
    return end;
  }

  // The ")" closing the "(" at `open`; size() when it is not closed.
  std::size_t MatchingParen(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < t_.size(); ++i) {
      if (Symbol(i, "("))
        ++depth;
      else if (Symbol(i, ")") && --depth == 0)
        return i;
    }
    return t_.size();
  }

  // [from, to) split at the commas outside parentheses.
  std::vector<std::pair<std::size_t, std::size_t>> Items(std::size_t from, std::size_t to) const {
    std::vector<std::pair<std::size_t, std::size_t>> items;
    int depth = 0;
    std::size_t start = from;
    for (std::size_t i = from; i < to; ++i) {
      if (Symbol(i, "(")) {
        ++depth;
      } else if (Symbol(i, ")")) {
        --depth;
      } else if (depth == 0 && Symbol(i, ",")) {
        items.emplace_back(start, i);
        start = i + 1;
      }
    }
    items.emplace_back(start, to);
    return items;
  }

 private:
  QStringView text_;
  std::vector<sql::Token> t_;
};

// Texts to put before and after tokens, applied in one copy; at one place, in the order given.
class Wraps {
 public:
  explicit Wraps(const Code& code) : code_(code) {}
  void Before(std::size_t i, const QString& text) { inserts_.emplace_back(code_.Start(i), text); }
  void After(std::size_t i, const QString& text) { inserts_.emplace_back(code_.End(i), text); }
  bool Changed() const { return !inserts_.empty(); }
  QString Text() const {
    auto inserts = inserts_;
    std::stable_sort(inserts.begin(), inserts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const QStringView text = code_.Text();
    QString out;
    qsizetype copied = 0;
    for (const auto& [at, insert] : inserts) {
      out += text.mid(copied, at - copied);
      out += insert;
      copied = at;
    }
    out += text.mid(copied);
    return out;
  }

 private:
  const Code& code_;
  std::vector<std::pair<qsizetype, QString>> inserts_;
};

// The errors of declared types, each raised from here alone.
[[noreturn]] void RaiseExplicitIdentity(const QString& table) {
  RaiseServerError(ServerError::ExplicitIdentity, {table});
}

[[noreturn]] void RaiseIdentityWithoutColumnList(const QString& table) {
  RaiseServerError(ServerError::IdentityWithoutColumnList, {table});
}

[[noreturn]] void RaiseIdentityUpdate(const QString& column) {
  RaiseServerError(ServerError::IdentityUpdate, {column});
}

[[noreturn]] void RaiseNoSuchObject(const QString& name) {
  RaiseServerError(ServerError::NoSuchObject, {name});
}

[[noreturn]] void RaiseNoIdentity(const QString& table) {
  RaiseServerError(ServerError::NoIdentity, {table});
}

[[noreturn]] void RaiseIdentityInsertElsewhere(const QString& on, const QString& table) {
  RaiseServerError(ServerError::IdentityInsertElsewhere, {on, table});
}

// What follows the value in the call that fits it to column `c` of table `display`.
QString FitArguments(const DeclaredColumn& c, const QString& display) {
  return QStringLiteral(", %1, %2, %3, %4)")
      .arg(static_cast<int>(c.measure))
      .arg(c.length)
      .arg(sql::QuoteString(display), sql::QuoteString(c.name));
}

const QLatin1StringView kFit("tsql_fit(");

// Whether the value [a, b) is a text written out that fits column `c` as it stands, so that the
// statement needs no call for it (a script's INSERT ... VALUES, one statement per row).
bool Fits(const Code& t, std::size_t a, std::size_t b, const DeclaredColumn& c) {
  if (b != a + 1 || !t.IsString(a)) return false;
  const QString value = t.StringAt(a);
  if (value.size() <= c.length) return true;  // UTF-16 units, at least one per character
  return c.measure == DeclaredColumn::Measure::CodePageBytes && value.toUcs4().size() <= c.length;
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
  FailCall(context, ServerError::Truncated,
           {QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[3]))),
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[4]))),
            QString::fromUtf8(reinterpret_cast<const char*>(text), cut)});
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

const DeclaredColumns::Table* DeclaredColumns::Find(const QString& name) {
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
  inserting_ = false;
  const Code t(translated);
  // WITH ... INSERT: the INSERT is read alone, and a common table expression it needs goes
  // after those of the statement.
  if (t.Is(0, "with")) {
    int depth = 0;
    for (std::size_t k = 1; k < t.size(); ++k) {
      if (t.Symbol(k, "(")) ++depth;
      if (t.Symbol(k, ")")) --depth;
      if (depth != 0 || !t.Is(k, "insert")) continue;
      const QString head = translated.left(t.Start(k));
      const QString insert = Insert(translated.mid(t.Start(k)));
      static const QLatin1StringView kWith("WITH ");
      return insert.startsWith(kWith)
                 ? head.trimmed() + QStringLiteral(", ") + insert.mid(kWith.size())
                 : head + insert;
    }
    return translated;
  }
  if (t.size() < 3 || !t.Is(0, "insert")) return translated;
  inserting_ = true;
  const std::size_t nameAt = t.Is(1, "into") ? 2 : 1;
  if (!t.IsName(nameAt)) return translated;
  const std::size_t nameEnd = t.NameEnd(nameAt);
  const Table* table = Find(t.Name(nameEnd - 1));
  if (!table || (!table->measured && table->identity < 0)) return translated;

  // The columns the values go to, in order.
  std::vector<int> targets;
  std::size_t pos = nameEnd;
  std::size_t listClose = t.size();
  const bool listed =
      t.Symbol(pos, "(") && pos + 1 < t.size() && !t.IsAny(pos + 1, {"select", "values", "with"});
  if (listed) {
    listClose = t.MatchingParen(pos);
    if (listClose >= t.size()) return translated;
    for (const auto& [a, b] : t.Items(pos + 1, listClose)) {
      if (b != a + 1) return translated;
      const QString column = t.Name(a);
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

  Wraps wraps(t);
  // The value [a, b) for column `column`.
  auto wrap = [&](std::size_t a, std::size_t b, int column) {
    if (a >= b) return;
    const DeclaredColumn& c = table->columns[static_cast<std::size_t>(column)];
    if (column == identity) {
      wraps.Before(a, QStringLiteral("tsql_identity("));
      wraps.After(b - 1, QStringLiteral(")"));
    } else if (c.measure != DeclaredColumn::Measure::None && !Fits(t, a, b, c)) {
      wraps.Before(a, kFit);
      wraps.After(b - 1, FitArguments(c, table->display));
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
  while (end > pos && t.Symbol(end - 1, ";")) --end;
  QString text;
  if (pos + 1 < end && t.Is(pos, "default") && t.Is(pos + 1, "values")) {
    if (!generate) return translated;
    text = t.Join(0, nameEnd) + QStringLiteral(" (%1) VALUES (tsql_identity())").arg(identityName);
  } else if (pos < end && t.Is(pos, "values")) {
    for (std::size_t row = pos + 1; t.Symbol(row, "(");) {
      const std::size_t close = t.MatchingParen(row);
      if (close >= end) return translated;
      const auto items = t.Items(row + 1, close);
      // A row of another length fails in SQLite's words, as it does today.
      if (items.size() == targets.size())
        for (std::size_t k = 0; k < items.size(); ++k)
          wrap(items[k].first, items[k].second, targets[k]);
      if (generate) wraps.Before(close, QStringLiteral(", tsql_identity()"));
      if (!t.Symbol(close + 1, ",")) break;
      row = close + 2;
    }
    if (generate) addIdentityColumn();
    text = wraps.Changed() ? wraps.Text() : translated;
  } else if (pos < end && (t.Is(pos, "select") || t.Symbol(pos, "("))) {
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
      else if (c.measure == DeclaredColumn::Measure::None)
        values << name;
      else
        // Most values are short enough by their count of characters alone (a UTF-16 unit for
        // each or two), which SQLite counts without a call.
        values << QStringLiteral("CASE WHEN length(%1) <= %2 THEN %1 ELSE %3%1%4 END")
                      .arg(name)
                      .arg(c.measure == DeclaredColumn::Measure::Utf16Units ? c.length / 2
                                                                            : c.length)
                      .arg(kFit, FitArguments(c, table->display));
    }
    if (generate) {
      columns << identityName;
      values << QStringLiteral("tsql_identity()");
    }
    text = QStringLiteral("WITH qav_rows(%1) AS (%2) INSERT INTO %3 (%4) SELECT %5 FROM qav_rows")
               .arg(names.join(QStringLiteral(", ")), t.Join(pos, end), t.Join(nameAt, nameEnd),
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
  if (!std::exchange(inserting_, false)) return;
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
  SchemaChanged();
}

QString DeclaredColumns::Update(const QString& translated) {
  const Code t(translated);
  if (t.size() < 4 || !t.Is(0, "update") || !t.IsName(1)) return translated;
  const std::size_t nameEnd = t.NameEnd(1);
  const Table* table = Find(t.Name(nameEnd - 1));
  if (!table || (!table->measured && table->identity < 0) || !t.Is(nameEnd, "set"))
    return translated;
  std::size_t end = nameEnd + 1;
  for (int depth = 0; end < t.size(); ++end) {
    if (t.Symbol(end, "("))
      ++depth;
    else if (t.Symbol(end, ")"))
      --depth;
    else if (depth == 0 &&
             (t.Symbol(end, ";") || t.IsAny(end, {"from", "where", "order", "limit", "returning"})))
      break;
  }
  Wraps wraps(t);
  for (const auto& [a, b] : t.Items(nameEnd + 1, end)) {
    std::size_t eq = a;
    while (eq < b && !t.Symbol(eq, "=")) ++eq;
    if (eq == a || eq + 1 >= b || !t.IsName(eq - 1)) continue;
    const QString name = t.Name(eq - 1);
    for (std::size_t i = 0; i < table->columns.size(); ++i) {
      const DeclaredColumn& c = table->columns[i];
      if (c.name.compare(name, Qt::CaseInsensitive) != 0) continue;
      if (static_cast<int>(i) == table->identity) RaiseIdentityUpdate(c.name);
      if (c.measure == DeclaredColumn::Measure::None) break;
      wraps.Before(eq + 1, kFit);
      wraps.After(b - 1, FitArguments(c, table->display));
      break;
    }
  }
  return wraps.Changed() ? wraps.Text() : translated;
}

QStringList DeclaredColumns::SelectInto(const QString& translated) {
  // Every query comes here: one that is no CREATE TABLE ... AS SELECT is not read further.
  if (!sql::IsWord(translated, sql::Lexer(translated).NextCode(), QLatin1StringView("create")))
    return {};
  const Code t(translated);
  if (t.size() < 5 || !t.Is(0, "create")) return {};
  std::size_t k = 1;
  const bool temporary = t.IsAny(k, {"temp", "temporary"});
  if (temporary) ++k;
  if (!t.Is(k, "table") || !t.IsName(k + 1)) return {};
  const std::size_t nameEnd = t.NameEnd(k + 1);
  if (!t.Is(nameEnd, "as") || nameEnd + 1 >= t.size() || !t.Is(nameEnd + 1, "select")) return {};
  std::size_t end = t.size();
  while (end > nameEnd && t.Symbol(end - 1, ";")) --end;
  const QString query = t.Join(nameEnd + 1, end);

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
    if (t.Symbol(i, "(")) ++depth;
    if (t.Symbol(i, ")")) --depth;
    if (depth == 0 &&
        (t.IsAny(i, {"join", "group", "union", "except", "intersect", "distinct"}) ||
         (t.Symbol(i, ",") &&
          t.Join(nameEnd + 1, i).contains(QLatin1StringView("from"), Qt::CaseInsensitive))))
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
  ForgetIdentity(t.Name(nameEnd - 1));
  const QString target = t.Join(k + 1, nameEnd);
  return {QStringLiteral("CREATE %1TABLE %2 (%3)")
              .arg(temporary ? QStringLiteral("TEMP ") : QString(), target,
                   definitions.join(QStringLiteral(", "))),
          QStringLiteral("INSERT INTO %1 %2").arg(target, query)};
}

bool DeclaredColumns::SetIdentityInsert(QStringView statement) {
  const Code t(statement);
  if (t.size() < 4 || !t.Is(0, "set") || !t.Is(1, "identity_insert")) return false;
  if (!t.IsName(2)) RaiseServerError(ServerError::SyntaxNear, {QStringLiteral("IDENTITY_INSERT")});
  const std::size_t nameEnd = t.NameEnd(2);
  const bool on = nameEnd < t.size() && t.Is(nameEnd, "on");
  if (!on && !(nameEnd < t.size() && t.Is(nameEnd, "off")))
    RaiseServerError(ServerError::SyntaxNear,
                     {nameEnd < t.size() ? t.TextAt(nameEnd) : t.TextAt(t.size() - 1)});
  const QString written = t.Name(nameEnd - 1);
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
  const Code t(statement);
  if (t.size() < 3 || !t.IsAny(0, {"create", "drop", "truncate"}) || !t.Is(1, "table")) return;
  std::size_t i = 2;
  if (t.Is(i, "if") && i + 1 < t.size() && t.Is(i + 1, "exists")) i += 2;
  while (t.IsName(i)) {
    const std::size_t end = t.NameEnd(i);
    ForgetIdentity(t.Name(end - 1));
    if (!t.Is(0, "drop") || !t.Symbol(end, ",")) break;
    i = end + 1;
  }
}

}  // namespace qav::db::embedded
