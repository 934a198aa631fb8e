#include "db/embedded/TsqlCollation.h"

#include "db/Errors.h"
#include "db/embedded/ServerErrors.h"

#include <sqlite3.h>
#include <memory>

namespace qav::db::embedded {

namespace {

char16_t Folded(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  return QChar(c).toCaseFolded().unicode();
}

QStringView WithoutTrailingBlanks(QStringView s) {
  qsizetype n = s.size();
  while (n > 0 && s[n - 1] == u' ') --n;
  return s.first(n);
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

// The collation over UTF-8 as SQLite stores texts: ASCII, the most of the suite's codes and
// names, is compared in place; the rest of a text from its first other character on as Unicode.
int CompareUtf8(void*, int na, const void* pa, int nb, const void* pb) {
  const auto* a = static_cast<const unsigned char*>(pa);
  const auto* b = static_cast<const unsigned char*>(pb);
  while (na > 0 && a[na - 1] == ' ') --na;
  while (nb > 0 && b[nb - 1] == ' ') --nb;
  const int n = std::min(na, nb);
  int i = 0;
  for (; i < n; ++i) {
    unsigned x = a[i];
    unsigned y = b[i];
    if ((x | y) & 0x80) break;
    if (x - 'A' < 26u) x += 32;
    if (y - 'A' < 26u) y += 32;
    if (x != y) return x < y ? -1 : 1;
  }
  if (i == n && (i == na || i == nb)) return na == nb ? 0 : na < nb ? -1 : 1;
  const QString ra = QString::fromUtf8(reinterpret_cast<const char*>(a + i), na - i);
  const QString rb = QString::fromUtf8(reinterpret_cast<const char*>(b + i), nb - i);
  return Sign(ra.compare(rb, Qt::CaseInsensitive));
}

QStringView Text16(sqlite3_value* v) {
  const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(v));
  return text ? QStringView(text, sqlite3_value_bytes16(v) / 2) : QStringView();
}

void DeletePattern(void* p) {
  delete static_cast<TsqlLikePattern*>(p);
}

// like(pattern, text[, escape]): what SQLite calls for "text LIKE pattern [ESCAPE escape]".
// A constant pattern is read once per statement.
void Like(sqlite3_context* c, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(c);
  QChar escape;
  if (argc > 2) {
    const QStringView e = Text16(argv[2]);
    if (e.size() != 1) {
      return FailCall(c, ServerError::InvalidEscape, {e.toString(), QStringLiteral("LIKE")});
    }
    escape = e[0];
  }
  const QStringView source = Text16(argv[0]);
  const auto* kept = static_cast<const TsqlLikePattern*>(sqlite3_get_auxdata(c, 0));
  if (kept && kept->Source() == source && kept->Escape() == escape)
    return sqlite3_result_int(c, kept->Matches(Text16(argv[1])));
  auto pattern = std::make_unique<TsqlLikePattern>(source, escape);
  const bool matches = pattern->Matches(Text16(argv[1]));
  sqlite3_set_auxdata(c, 0, pattern.release(), DeletePattern);
  sqlite3_result_int(c, matches);
}

}  // namespace

int CompareTsqlText(QStringView a, QStringView b) {
  return Sign(
      QStringView(WithoutTrailingBlanks(a)).compare(WithoutTrailingBlanks(b), Qt::CaseInsensitive));
}

TsqlLikePattern::TsqlLikePattern(QStringView pattern, QChar escape)
    : source_(pattern.toString()), escape_(escape) {
  using Kind = Item::Kind;
  auto add = [this](Kind kind, char16_t ch = 0) {
    Item item;
    item.kind = kind;
    item.ch = ch;
    items_.push_back(std::move(item));
  };
  const qsizetype n = pattern.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = pattern[i].unicode();
    if (!escape.isNull() && c == escape.unicode() && i + 1 < n) {
      add(Kind::Char, Folded(pattern[++i].unicode()));
    } else if (c == u'%') {
      if (items_.empty() || items_.back().kind != Kind::Many) add(Kind::Many);
    } else if (c == u'_') {
      add(Kind::One);
    } else if (c == u'[') {
      // The set runs to the next "]" after its first character, so that "[]]" holds "]".
      qsizetype j = i + 1;
      const bool negate = j < n && pattern[j] == u'^' && j + 1 < n;
      if (negate) ++j;
      const qsizetype close = j < n ? pattern.indexOf(u']', j + 1) : -1;
      if (close < 0) {
        add(Kind::Char, u'[');
        continue;
      }
      Item set;
      set.kind = Kind::Set;
      set.negate = negate;
      for (qsizetype k = j; k < close; ++k) {
        const char16_t low = Folded(pattern[k].unicode());
        if (k + 2 < close && pattern[k + 1] == u'-') {
          set.set += QChar(low);
          set.set += QChar(Folded(pattern[k + 2].unicode()));
          k += 2;
        } else {
          set.set += QChar(low);
          set.set += QChar(low);
        }
      }
      items_.push_back(set);
      i = close;
    } else {
      add(Kind::Char, Folded(c));
    }
  }
}

bool TsqlLikePattern::Accepts(const Item& item, char16_t folded) {
  switch (item.kind) {
    case Item::Kind::Char:
      return item.ch == folded;
    case Item::Kind::One:
      return true;
    case Item::Kind::Set: {
      bool in = false;
      for (qsizetype k = 0; k + 1 < item.set.size() && !in; k += 2)
        in = folded >= item.set[k].unicode() && folded <= item.set[k + 1].unicode();
      return in != item.negate;
    }
    case Item::Kind::Many:
      break;
  }
  return false;
}

// The matching of wildcards that goes back only to the last %: linear for the usual patterns,
// and never worse than the text's length times the pattern's.
bool TsqlLikePattern::MatchFrom(std::size_t first, QStringView text) const {
  const std::size_t m = items_.size();
  std::size_t k = first;
  qsizetype i = 0;
  std::size_t star = m;
  qsizetype mark = 0;
  while (i < text.size()) {
    if (k < m && items_[k].kind == Item::Kind::Many) {
      star = k++;
      mark = i;
    } else if (k < m && Accepts(items_[k], Folded(text[i].unicode()))) {
      ++k;
      ++i;
    } else if (star < m) {
      k = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (k < m && items_[k].kind == Item::Kind::Many) ++k;
  return k == m;
}

bool TsqlLikePattern::Matches(QStringView text) const {
  return MatchFrom(0, WithoutTrailingBlanks(text));
}

qsizetype TsqlLikePattern::IndexIn(QStringView text) const {
  if (items_.empty() || items_.front().kind != Item::Kind::Many) return MatchFrom(0, text) ? 0 : -1;
  for (qsizetype s = 0; s < text.size(); ++s)
    if (MatchFrom(1, text.mid(s))) return s;
  return -1;
}

void RegisterTsqlCollation(sqlite3* db) {
  auto check = [db](int rc) {
    if (rc != SQLITE_OK)
      throw EDatabaseError(QStringLiteral("The embedded suite could not register its text "
                                          "comparison: %1")
                               .arg(QString::fromUtf8(sqlite3_errmsg(db))));
  };
  check(sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, CompareUtf8, nullptr));
  const int flags = SQLITE_UTF16 | SQLITE_DETERMINISTIC;
  check(sqlite3_create_function_v2(db, "like", 2, flags, nullptr, Like, nullptr, nullptr, nullptr));
  check(sqlite3_create_function_v2(db, "like", 3, flags, nullptr, Like, nullptr, nullptr, nullptr));
}

namespace {

constexpr int kOrderedBySqlServer = 1 << 20;

int UserVersion(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  int version = 0;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    version = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return version;
}

void SetUserVersion(sqlite3* db, int version) {
  const QByteArray sql = "PRAGMA user_version = " + QByteArray::number(version);
  sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
}

}  // namespace

void OrderTextIndexes(sqlite3* db) {
  const int version = UserVersion(db);
  if (version & kOrderedBySqlServer || sqlite3_db_readonly(db, "main") != 0) return;
  if (sqlite3_exec(db, "REINDEX NOCASE", nullptr, nullptr, nullptr) == SQLITE_OK)
    SetUserVersion(db, version | kOrderedBySqlServer);
}

void MarkTextIndexesOrdered(sqlite3* db) {
  SetUserVersion(db, UserVersion(db) | kOrderedBySqlServer);
}

}  // namespace qav::db::embedded
