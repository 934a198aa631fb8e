#include "db/embedded/TsqlRewriter.h"

#include "db/Errors.h"
#include "db/embedded/EmbeddedDialect.h"
#include "db/embedded/ServerErrors.h"
#include "db/embedded/TsqlFunctions.h"
#include "db/embedded/TsqlTokens.h"
#include "sql/TsqlParser.h"

#include <sqlite3.h>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace qav::db::embedded {

namespace {

using Kind = TsqlToken::Kind;
using Tokens = std::vector<TsqlToken>;

// Refuses a text whose parentheses, CASE expressions and BEGIN ... END blocks nest deeper than
// kMaxTsqlNesting, before any rewrite walks it (or the connection runs its blocks).
void CheckNesting(const Tokens& t) {
  int depth = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const TsqlToken& tok = t[i];
    const bool block =
        tok.Is(u"begin") && i + 1 < t.size() &&
        !t[i + 1].IsAny({"tran", "transaction", "deferred", "immediate", "exclusive"}) &&
        !t[i + 1].Is(u";");
    if (tok.Is(u"(") || tok.Is(u"case") || block) {
      if (++depth > kMaxTsqlNesting) RefuseTsqlNesting();
    } else if ((tok.Is(u")") || tok.Is(u"end")) && depth > 0) {
      --depth;
    }
  }
}

TsqlToken Make(Kind kind, const QString& text, const QString& lead = QStringLiteral(" ")) {
  TsqlToken t;
  t.kind = kind;
  t.text = text;
  t.lead = lead;
  return t;
}

bool IsSymbol(const Tokens& t, std::size_t i, char c) {
  return i < t.size() && t[i].kind == Kind::Symbol && t[i].text.size() == 1 &&
         t[i].text[0] == QLatin1Char(c);
}

bool IsWordAt(const Tokens& t, std::size_t i, const char* word) {
  return i < t.size() && t[i].kind == Kind::Word &&
         t[i].text.compare(QLatin1StringView(word), Qt::CaseInsensitive) == 0;
}

// Removes tokens [from, to), handing the lead of the first to whatever follows.
void Erase(Tokens& t, std::size_t from, std::size_t to) {
  if (from >= to) return;
  const QString lead = t[from].lead;
  t.erase(t.begin() + static_cast<std::ptrdiff_t>(from),
          t.begin() + static_cast<std::ptrdiff_t>(to));
  if (from < t.size() && t[from].lead.trimmed().isEmpty() && !lead.isEmpty()) t[from].lead = lead;
}

// Removals and insertions gathered over one pass and applied at its end in one copy: a script of
// thousands of statements would otherwise move the rest of its tokens for each of them.
class TokenEdits {
 public:
  explicit TokenEdits(const Tokens& t) : dropped_(t.size(), false) {}

  // Removes [from, to); `handLead`: as Erase, handing the lead of the first to what follows.
  void Drop(std::size_t from, std::size_t to, bool handLead) {
    if (from >= to) return;
    changed_ = true;
    for (std::size_t k = from; k < to && k < dropped_.size(); ++k) dropped_[k] = true;
    if (handLead) handLeads_.push_back(from);
  }
  void Insert(std::size_t before, TsqlToken token) {
    changed_ = true;
    inserts_.emplace_back(before, std::move(token));
  }
  bool Dropped(std::size_t i) const { return i < dropped_.size() && dropped_[i]; }
  // The last token before `i` that stays; t.size() when none.
  std::size_t Before(std::size_t i) const {
    while (i-- > 0)
      if (!dropped_[i]) return i;
    return dropped_.size();
  }

  void Apply(Tokens& t) {
    if (!changed_) return;
    std::stable_sort(inserts_.begin(), inserts_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::sort(handLeads_.begin(), handLeads_.end());
    Tokens out;
    out.reserve(t.size() + inserts_.size());
    std::size_t next = 0, lead = 0;
    QString handed;
    for (std::size_t i = 0; i <= t.size(); ++i) {
      for (; next < inserts_.size() && inserts_[next].first == i; ++next)
        out.push_back(std::move(inserts_[next].second));
      if (i == t.size()) break;
      const bool hands = lead < handLeads_.size() && handLeads_[lead] == i;
      if (hands) ++lead;
      if (dropped_[i]) {
        if (hands && (handed.isEmpty() || !t[i].lead.trimmed().isEmpty())) handed = t[i].lead;
        continue;
      }
      if (!handed.isEmpty() && t[i].lead.trimmed().isEmpty()) t[i].lead = handed;
      handed.clear();
      out.push_back(std::move(t[i]));
    }
    t = std::move(out);
  }

 private:
  bool changed_ = false;
  std::vector<bool> dropped_;
  std::vector<std::size_t> handLeads_;
  std::vector<std::pair<std::size_t, TsqlToken>> inserts_;
};

QString Join(const Tokens& t, std::size_t from, std::size_t to) {
  QString out;
  for (std::size_t i = from; i < to && i < t.size(); ++i)
    out += (i == from ? QString() : t[i].lead) + t[i].text;
  return out;
}

// Where the query part that starts at `from` ends: the ")" closing an outer "(", a UNION and its
// kin, or the end of the statement (the text is one statement, as the parser split it).
std::size_t QueryEnd(const Tokens& t, std::size_t from) {
  int depth = 0;
  for (std::size_t i = from + 1; i < t.size(); ++i) {
    if (IsSymbol(t, i, '(')) {
      ++depth;
    } else if (IsSymbol(t, i, ')')) {
      if (depth-- == 0) return i;
    } else if (depth == 0 &&
               (IsSymbol(t, i, ';') || t[i].IsAny({"union", "except", "intersect"}))) {
      return i;
    }
  }
  return t.size();
}

const char* const kTableHints[] = {"nolock",         "readuncommitted", "readcommitted",
                                   "repeatableread", "serializable",    "holdlock",
                                   "updlock",        "xlock",           "rowlock",
                                   "paglock",        "tablock",         "tablockx",
                                   "nowait",         "readpast",        "forceseek",
                                   "forcescan",      "noexpand",        "readcommittedlock"};

bool IsTableHint(const TsqlToken& t) {
  if (t.kind != Kind::Word) return false;
  for (const char* h : kTableHints)
    if (t.text.compare(QLatin1StringView(h), Qt::CaseInsensitive) == 0) return true;
  return false;
}

// "(NOLOCK)", "(NOLOCK, ROWLOCK)": a group of table hints only.
bool IsHintGroup(const Tokens& t, std::size_t open, std::size_t close) {
  if (close <= open + 1) return false;
  for (std::size_t i = open + 1; i < close; ++i) {
    const bool hint = (i - open) % 2 == 1;
    if (hint ? !IsTableHint(t[i]) : !IsSymbol(t, i, ',')) return false;
  }
  return true;
}

// A type as written in CONVERT or CAST, in one normal form: "varchar(10)", "decimal(10,2)".
QString TypeText(const Tokens& t, std::size_t from, std::size_t to) {
  QString type;
  for (std::size_t i = from; i < to; ++i) type += t[i].text;
  return type.toLower();
}

bool IsKeyword(const TsqlToken& t);

// Function names, schema, hints, conversions: the rewrites that look at a few tokens.
void RewriteCalls(Tokens& t) {
  TokenEdits edits(t);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (edits.Dropped(i)) continue;
    TsqlToken& tok = t[i];
    const bool call = IsSymbol(t, i + 1, '(');
    if (tok.kind == Kind::Word && tok.text.startsWith(u'#')) {
      tok.kind = Kind::Name;
      tok.text = u'"' + tok.text + u'"';
      continue;
    }
    // dbo.Name: the suite's databases have no schemas but their own.
    if ((tok.Is(u"dbo") ||
         (tok.kind == Kind::Name &&
          sql::NameValue(tok.text).compare(QLatin1StringView("dbo"), Qt::CaseInsensitive) == 0)) &&
        IsSymbol(t, i + 1, '.') && !IsSymbol(t, edits.Before(i), '.') && i + 2 < t.size() &&
        (t[i + 2].kind == Kind::Word || t[i + 2].kind == Kind::Name)) {
      edits.Drop(i, i + 2, true);
      continue;
    }
    // The session's values that the connection's functions give.
    if (tok.kind == Kind::Variable) {
      if (tok.text.compare(QLatin1StringView("@@rowcount"), Qt::CaseInsensitive) == 0)
        tok.text = QStringLiteral("tsql_rowcount()");
      else if (tok.text.compare(QLatin1StringView("@@identity"), Qt::CaseInsensitive) == 0)
        tok.text = QStringLiteral("tsql_identity_last()");
      continue;
    }
    if (tok.kind != Kind::Word) continue;
    // INSERT T ...: T-SQL may leave out INTO (as SQL Server's script generator does), SQLite not.
    if (tok.Is(u"insert") && i + 1 < t.size() &&
        (t[i + 1].kind == Kind::Name || (t[i + 1].kind == Kind::Word && !IsKeyword(t[i + 1])))) {
      edits.Insert(i + 1, Make(Kind::Word, QStringLiteral("INTO")));
      continue;
    }
    if (tok.Is(u"with") && call) {
      const std::size_t close = MatchingParen(t, i + 1);
      if (close < t.size() && IsHintGroup(t, i + 1, close)) edits.Drop(i, close + 1, true);
      continue;
    }
    if (tok.Is(u"option") && call) {
      edits.Drop(i, std::min(MatchingParen(t, i + 1) + 1, t.size()), true);
      continue;
    }
    if (!call) continue;
    const TsqlFunction* function = FindTsqlFunction(tok.text);
    if (function && function->first == TsqlArgument::DatePart) {
      // The date part is a word T-SQL reads itself: a text to the function.
      if (i + 2 < t.size() && t[i + 2].kind == Kind::Word) {
        t[i + 2].kind = Kind::String;
        t[i + 2].text = QuoteString(t[i + 2].text.toLower());
      }
    } else if (function && function->first == TsqlArgument::Value) {
      if (tok.text.compare(QLatin1StringView(function->callee), Qt::CaseInsensitive) != 0)
        tok.text = QLatin1StringView(function->callee);
    } else if (tok.IsAny({"convert", "try_convert"})) {
      std::size_t comma = i + 2;
      while (comma < t.size() && !IsSymbol(t, comma, ',') && !IsSymbol(t, comma, ')')) {
        if (IsSymbol(t, comma, '(')) comma = MatchingParen(t, comma);
        ++comma;
      }
      if (comma >= t.size() || !IsSymbol(t, comma, ',') || comma == i + 2) continue;
      // A style shapes a date written as text; a text literal is no date and keeps its form.
      if (IsTsqlTextType(t[i + 2].text) && comma + 1 < t.size() &&
          t[comma + 1].kind == Kind::String && IsSymbol(t, comma + 2, ',')) {
        const std::size_t close = MatchingParen(t, i + 1);
        if (close < t.size()) edits.Drop(comma + 2, close, false);
      }
      edits.Insert(i + 2,
                   Make(Kind::String, QuoteString(TypeText(t, i + 2, comma)), t[i + 2].lead));
      tok.text =
          tok.Is(u"convert") ? QStringLiteral("tsql_convert") : QStringLiteral("tsql_try_convert");
      edits.Drop(i + 2, comma, false);
    } else if (tok.IsAny({"cast", "try_cast"})) {
      const std::size_t close = MatchingParen(t, i + 1);
      if (close >= t.size()) continue;
      std::size_t as = close;
      int depth = 0;
      for (std::size_t k = i + 2; k < close; ++k) {
        if (IsSymbol(t, k, '('))
          ++depth;
        else if (IsSymbol(t, k, ')'))
          --depth;
        else if (depth == 0 && t[k].Is(u"as"))
          as = k;
      }
      if (as == close || as + 1 >= close) continue;
      const QString type = TypeText(t, as + 1, close);
      tok.text =
          tok.Is(u"cast") ? QStringLiteral("tsql_convert") : QStringLiteral("tsql_try_convert");
      edits.Drop(as, close, false);
      edits.Insert(i + 2, Make(Kind::String, QuoteString(type), QString()));
      edits.Insert(i + 2, Make(Kind::Symbol, QStringLiteral(","), QString()));
    }
  }
  edits.Apply(t);
  // FROM t (NOLOCK): the hints without WITH.
  TokenEdits hints(t);
  for (std::size_t i = 1; i < t.size(); ++i) {
    const std::size_t before = hints.Before(i);
    if (!IsSymbol(t, i, '(') || before >= t.size() ||
        (t[before].kind != Kind::Word && t[before].kind != Kind::Name))
      continue;
    const std::size_t close = MatchingParen(t, i);
    if (close < t.size() && IsHintGroup(t, i, close)) {
      hints.Drop(i, close + 1, true);
      i = close;
    }
  }
  hints.Apply(t);
}

bool IsKeyword(const TsqlToken& t);

// ForSqlite's text; without the collation of text literals, the text SQLite names a result
// column by.
QString SqliteText(QStringView text, bool collateLiterals);

// The end of the select list that starts at `from`.
std::size_t SelectListEnd(const Tokens& t, std::size_t from) {
  int depth = 0;
  int cases = 0;
  for (std::size_t i = from; i < t.size(); ++i) {
    if (IsSymbol(t, i, '(')) {
      ++depth;
    } else if (IsSymbol(t, i, ')')) {
      if (depth-- == 0) return i;
    } else if (depth == 0) {
      if (t[i].Is(u"case")) ++cases;
      if (t[i].Is(u"end") && cases > 0) {
        --cases;
        continue;
      }
      if (IsSymbol(t, i, ';') ||
          (cases == 0 && (t[i].IsAny({"from", "into", "where", "group", "order", "having", "union",
                                      "except", "intersect", "option", "limit", "else"}))))
        return i;
    }
  }
  return t.size();
}

// A select-list item ending in an alias: "expr AS name", "expr name" or "expr 'name'".
bool HasAlias(const Tokens& t, std::size_t from, std::size_t to) {
  if (to < from + 2) return false;
  const TsqlToken& last = t[to - 1];
  const TsqlToken& before = t[to - 2];
  if (last.kind != Kind::Name && last.kind != Kind::String &&
      (last.kind != Kind::Word || IsKeyword(last)))
    return false;
  return before.Is(u"as") || (before.kind != Kind::Symbol && !IsKeyword(before)) ||
         IsSymbol(t, to - 2, ')');
}

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;

// The tokens [from, end) split at the commas outside parentheses, as [first, end) ranges; empty
// when a "(" stays open.
Ranges SplitAtCommas(const Tokens& t, std::size_t from, std::size_t end) {
  Ranges items;
  int depth = 0;
  std::size_t start = from;
  for (std::size_t k = from; k <= end && k <= t.size(); ++k) {
    if (k == end || (depth == 0 && IsSymbol(t, k, ','))) {
      items.emplace_back(start, k);
      start = k + 1;
    } else if (IsSymbol(t, k, '(')) {
      ++depth;
    } else if (IsSymbol(t, k, ')')) {
      --depth;
    }
  }
  if (depth != 0) items.clear();
  return items;
}

// The items of the select list that starts at `from`.
Ranges SelectItems(const Tokens& t, std::size_t from) {
  return SplitAtCommas(t, from, SelectListEnd(t, from));
}

// What stands between a SELECT and its select list: DISTINCT or ALL, and a TOP clause.
struct SelectHead {
  std::size_t list;  // where the select list starts
  bool distinct = false, top = false;
};

SelectHead HeadOf(const Tokens& t, std::size_t select) {
  SelectHead head{select + 1};
  std::size_t& from = head.list;
  head.distinct = IsWordAt(t, from, "distinct");
  if (head.distinct || IsWordAt(t, from, "all")) ++from;
  if (IsWordAt(t, from, "top")) {
    head.top = true;
    from += 2;
    if (IsSymbol(t, from - 1, '(')) from = MatchingParen(t, from - 1) + 1;
    if (IsWordAt(t, from, "percent")) ++from;
    if (IsWordAt(t, from, "with") && IsWordAt(t, from + 1, "ties")) from += 2;
  }
  return head;
}

bool HoldsQuery(const Tokens& t, std::size_t from, std::size_t to) {
  for (std::size_t k = from; k < to; ++k)
    if (t[k].Is(u"select")) return true;
  return false;
}

// SQL Server's alias written first, "Name = expr", "[Name] = expr", "'Name' = expr", becomes
// "expr AS Name"; "@v = expr" assigns and stays.
void MoveLeadingAliases(Tokens& t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!t[i].Is(u"select") || t[i].kind != Kind::Word) continue;
    const auto items = SelectItems(t, HeadOf(t, i).list);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      const auto [a, b] = *it;
      const TsqlToken& name = t[a];
      if (b < a + 3 || !IsSymbol(t, a + 1, '=') ||
          (name.kind != Kind::Name && name.kind != Kind::String &&
           (name.kind != Kind::Word || IsKeyword(name))))
        continue;
      const QString alias =
          name.kind == Kind::String ? sql::QuoteIdentifier(StringValue(name)) : name.text;
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(b),
               {Make(Kind::Word, QStringLiteral("AS")), Make(Kind::Name, alias)});
      Erase(t, a, a + 2);
    }
  }
}

// SQLite names a result column by its expression's text; an item the rewriter changes keeps the
// name it was written with, not the functions it became, nor the collation its texts take.
void NameSelectItems(Tokens& t, const DeclaredTypeOf& declared) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!t[i].Is(u"select")) continue;
    const auto items = SelectItems(t, HeadOf(t, i).list);
    // An unclosed "(" gives no items: SQLite's message should name the real fault.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      const auto [a, b] = *it;
      if (a >= b || HasAlias(t, a, b) || (t[a].kind == Kind::Variable && IsSymbol(t, a + 1, '=')))
        continue;
      const QString text = Join(t, a, b);
      // An item holding a query is named as written without rewriting it again here: each
      // nesting level would rewrite the levels inside it once more.
      if (!HoldsQuery(t, a, b) && ForSqlite(RewriteTsql(text, declared)) == SqliteText(text, false))
        continue;
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(b),
               {Make(Kind::Symbol, QStringLiteral("AS")),
                Make(Kind::Symbol, sql::QuoteIdentifier(text))});
    }
  }
}

QHash<QString, QString> DeclaredInText(const Tokens& t);

// The "INTO T" of the query whose SELECT is at `select` and that ends at `end`, as a range.
std::optional<std::pair<std::size_t, std::size_t>> IntoClause(const Tokens& t, std::size_t select,
                                                              std::size_t end) {
  int depth = 0;
  for (std::size_t k = select + 1; k < end; ++k) {
    if (IsSymbol(t, k, '('))
      ++depth;
    else if (IsSymbol(t, k, ')'))
      --depth;
    else if (depth == 0 && t[k].Is(u"from"))
      break;
    if (depth != 0 || !t[k].Is(u"into") || k + 1 >= end) continue;
    std::size_t nameEnd = k + 2;
    while (IsSymbol(t, nameEnd, '.') && nameEnd + 1 < end) nameEnd += 2;
    return std::pair(k, nameEnd);
  }
  return std::nullopt;
}

// TOP n [PERCENT] after SELECT [DISTINCT|ALL] becomes a LIMIT at the end of that query.
void RewriteTop(Tokens& t, const DeclaredTypeOf& declared) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].IsAny({"update", "delete", "insert"}) && IsWordAt(t, i + 1, "top"))
      RefuseTsql(QStringLiteral("TOP in %1").arg(t[i].text.toUpper()));
    if (!t[i].Is(u"select")) continue;
    std::size_t top = i + 1;
    if (IsWordAt(t, top, "distinct") || IsWordAt(t, top, "all")) ++top;
    if (!IsWordAt(t, top, "top")) continue;
    std::size_t countEnd = top + 2;
    if (IsSymbol(t, top + 1, '(')) {
      countEnd = MatchingParen(t, top + 1) + 1;
    } else if (top + 1 >= t.size() ||
               (t[top + 1].kind != Kind::Number && t[top + 1].kind != Kind::Variable &&
                t[top + 1].kind != Kind::Param)) {
      continue;
    }
    if (countEnd > t.size()) continue;
    const QString count = u'(' + Join(t, top + 1, countEnd) + u')';
    std::size_t clauseEnd = countEnd;
    const bool percent = IsWordAt(t, clauseEnd, "percent");
    if (percent) ++clauseEnd;
    if (IsWordAt(t, clauseEnd, "with") && IsWordAt(t, clauseEnd + 1, "ties"))
      RefuseTsql(QStringLiteral("TOP ... WITH TIES"));
    Erase(t, top, clauseEnd);
    const std::size_t end = QueryEnd(t, i);
    if (end < t.size() && t[end].IsAny({"union", "except", "intersect"}))
      RefuseTsql(QStringLiteral("TOP in one part of a %1").arg(t[end].text.toUpper()));
    QString limit = count;
    if (percent) {
      for (std::size_t k = i; k < end; ++k)
        if (t[k].kind == Kind::Param) RefuseTsql(QStringLiteral("TOP ... PERCENT with parameters"));
      // The rows are counted by the query as translated, so that they are the rows it gives;
      // the batch's variables keep their declared types there.
      const QHash<QString, QString> variables = DeclaredInText(t);
      // SELECT ... INTO counts the rows it selects.
      Tokens rows(t.begin() + static_cast<std::ptrdiff_t>(i),
                  t.begin() + static_cast<std::ptrdiff_t>(end));
      if (const auto into = IntoClause(rows, 0, rows.size()))
        Erase(rows, into->first, into->second);
      const QString query = RewriteTsql(Join(rows, 0, rows.size()), [&](const QString& name) {
        const auto v = variables.constFind(name);
        return v != variables.constEnd() ? *v : declared ? declared(name) : QString();
      });
      // SQL Server rounds the share of rows up.
      limit = QStringLiteral(
                  "(SELECT CAST(x AS INTEGER) + (x > CAST(x AS INTEGER)) FROM (SELECT COUNT(*) * "
                  "%1 / 100.0 AS x FROM (%2)))")
                  .arg(count, query);
    }
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(end),
             {Make(Kind::Symbol, QStringLiteral("LIMIT")), Make(Kind::Symbol, limit)});
  }
}

// OFFSET n ROWS [FETCH FIRST|NEXT m ROWS ONLY] becomes LIMIT m OFFSET n.
void RewriteOffsetFetch(Tokens& t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!t[i].Is(u"offset")) continue;
    std::size_t rows = i + 1;
    while (rows < t.size() && !t[rows].IsAny({"row", "rows"}) && !IsSymbol(t, rows, ';')) {
      if (IsSymbol(t, rows, '(')) rows = MatchingParen(t, rows);
      ++rows;
    }
    if (rows >= t.size() || !t[rows].IsAny({"row", "rows"}) || rows == i + 1) continue;
    const QString offset = u'(' + Join(t, i + 1, rows) + u')';
    std::size_t end = rows + 1;
    QString fetch = QStringLiteral("-1");
    if (IsWordAt(t, end, "fetch") &&
        (IsWordAt(t, end + 1, "next") || IsWordAt(t, end + 1, "first"))) {
      std::size_t k = end + 2;
      while (k < t.size() && !t[k].IsAny({"row", "rows"}) && !IsSymbol(t, k, ';')) {
        if (IsSymbol(t, k, '(')) k = MatchingParen(t, k);
        ++k;
      }
      if (k + 1 >= t.size() || !IsWordAt(t, k + 1, "only")) continue;
      fetch = u'(' + Join(t, end + 2, k) + u')';
      end = k + 2;
    }
    const QString lead = t[i].lead;
    t.erase(t.begin() + static_cast<std::ptrdiff_t>(i),
            t.begin() + static_cast<std::ptrdiff_t>(end));
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(i),
             {Make(Kind::Symbol, QStringLiteral("LIMIT"), lead), Make(Kind::Symbol, fetch),
              Make(Kind::Symbol, QStringLiteral("OFFSET")), Make(Kind::Symbol, offset)});
  }
}

// SELECT ... INTO T FROM ... creates T from the query; TRUNCATE TABLE T deletes its rows;
// CREATE TABLE #T makes a temporary table.
void RewriteStatements(Tokens& t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].Is(u"truncate") && IsWordAt(t, i + 1, "table")) {
      t[i].text = QStringLiteral("DELETE");
      t[i + 1].text = QStringLiteral("FROM");
      continue;
    }
    if (t[i].Is(u"create") && IsWordAt(t, i + 1, "table") && i + 2 < t.size() &&
        sql::NameValue(t[i + 2].text).startsWith(u'#')) {
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(i + 1),
               Make(Kind::Word, QStringLiteral("TEMP")));
      continue;
    }
    if (!t[i].Is(u"select")) continue;
    const auto into = IntoClause(t, i, QueryEnd(t, i));
    if (!into) continue;
    const QString target = Join(t, into->first + 1, into->second);
    const bool temp = sql::NameValue(t[into->second - 1].text).startsWith(u'#');
    Erase(t, into->first, into->second);
    t[i].kind = Kind::Symbol;  // no longer a word an expression could take in
    t[i].text = QStringLiteral("CREATE %1TABLE %2 AS SELECT")
                    .arg(temp ? QStringLiteral("TEMP ") : QString(), target);
  }
}

// CREATE TABLE: text columns compare as SQL Server compares them, through the suite's NOCASE
// collation, unless the statement names a collation of its own.
void CollateTextColumns(Tokens& t) {
  for (std::size_t i = 0; i + 3 < t.size(); ++i) {
    if (!t[i].Is(u"create")) continue;
    std::size_t k = i + 1;
    if (t[k].IsAny({"temp", "temporary"})) ++k;
    if (!IsWordAt(t, k, "table")) continue;
    std::size_t open = k + 1;
    while (open < t.size() && !IsSymbol(t, open, '(') && !IsSymbol(t, open, ';') &&
           !t[open].Is(u"as"))
      ++open;
    if (!IsSymbol(t, open, '(')) continue;
    std::size_t close = MatchingParen(t, open);
    if (close >= t.size()) continue;
    std::size_t defStart = open + 1;
    for (std::size_t c = open + 1; c <= close; ++c) {
      if (IsSymbol(t, c, '(')) {
        c = MatchingParen(t, c);
        if (c >= close) break;
        continue;
      }
      if (c != close && !IsSymbol(t, c, ',')) continue;
      // One definition: NAME TYPE[(n)] ...; constraints of the table are no columns.
      const std::size_t type = defStart + 1;
      bool collated = false;
      for (std::size_t w = defStart; w < c; ++w) collated = collated || t[w].Is(u"collate");
      if (type < c && !collated && t[type].kind == Kind::Word && IsTsqlTextType(t[type].text) &&
          !t[defStart].IsAny({"constraint", "primary", "foreign", "unique", "check"})) {
        std::size_t at = type + 1;
        if (IsSymbol(t, at, '(')) at = MatchingParen(t, at) + 1;
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(at),
                 {Make(Kind::Word, QStringLiteral("COLLATE")),
                  Make(Kind::Word, QStringLiteral("NOCASE"))});
        c += 2;
        close += 2;  // the definitions after it moved as well
      }
      defStart = c + 1;
    }
  }
}

// Words that never stand for a value, so that an expression ends before them.
bool IsKeyword(const TsqlToken& t) {
  return t.IsAny(
      {"select",     "from",      "where",     "and",       "or",         "not",     "is",
       "in",         "like",      "between",   "exists",    "as",         "on",      "join",
       "inner",      "left",      "right",     "outer",     "cross",      "full",    "group",
       "by",         "order",     "having",    "union",     "all",        "except",  "intersect",
       "distinct",   "top",       "when",      "then",      "else",       "end",     "case",
       "asc",        "desc",      "limit",     "offset",    "rows",       "row",     "fetch",
       "values",     "set",       "into",      "insert",    "update",     "delete",  "with",
       "over",       "partition", "escape",    "collate",   "declare",    "print",   "if",
       "begin",      "return",    "using",     "glob",      "match",      "regexp",  "create",
       "table",      "view",      "index",     "drop",      "alter",      "primary", "key",
       "references", "default",   "check",     "unique",    "constraint", "foreign", "add",
       "returning",  "preceding", "following", "unbounded", "nulls",      "natural"});
}

// What the rewriter knows of an expression's type, for SQL Server's arithmetic: Int stands for
// int and the smaller integers (promoted to int by arithmetic), Fraction for decimal, numeric,
// money and float, whose whole values SQLite keeps as integers.
enum class ValueKind { Unknown, Null, Bit, Int, BigInt, Fraction, Text };

bool IsNumeric(ValueKind k) {
  return k == ValueKind::Bit || k == ValueKind::Int || k == ValueKind::BigInt ||
         k == ValueKind::Fraction;
}

ValueKind KindOfType(const QString& declared) {
  const QString base = declared.section(u'(', 0, 0).trimmed().toLower();
  if (base.isEmpty()) return ValueKind::Unknown;
  if (IsTsqlTextType(base) || base == u"text" || base == u"ntext" || base == u"sysname")
    return ValueKind::Text;
  if (base == u"bit") return ValueKind::Bit;
  for (const char* t : {"int", "integer", "smallint", "tinyint"})
    if (base == QLatin1StringView(t)) return ValueKind::Int;
  if (base == u"bigint") return ValueKind::BigInt;
  for (const char* t :
       {"decimal", "numeric", "money", "smallmoney", "float", "real", "double", "double precision"})
    if (base == QLatin1StringView(t)) return ValueKind::Fraction;
  return ValueKind::Unknown;
}

// The scale of a decimal, numeric or money type ("decimal(18, 2)" is 2, money 4); -1 for any
// other type.
int DecimalScale(const QString& declared) {
  const QString base = declared.section(u'(', 0, 0).trimmed().toLower();
  if (base == u"money" || base == u"smallmoney") return 4;
  if (base != u"decimal" && base != u"numeric") return -1;
  const QString scale = declared.section(u',', 1, 1).remove(u')').trimmed();
  return scale.isEmpty() ? 0 : scale.toInt();
}

// The kind of a result from two operands' kinds, by SQL Server's type precedence: a text meeting
// a number becomes the number; NULL takes the other side's type.
ValueKind Combined(ValueKind a, ValueKind b) {
  using K = ValueKind;
  if (a == K::Bit) a = K::Int;
  if (b == K::Bit) b = K::Int;
  if (a == K::Null) return b;
  if (b == K::Null) return a;
  if (a == K::Unknown || b == K::Unknown) return K::Unknown;
  if (a == K::Text) return b;
  if (b == K::Text) return a;
  if (a == K::Fraction || b == K::Fraction) return K::Fraction;
  if (a == K::BigInt || b == K::BigInt) return K::BigInt;
  return K::Int;
}

// The hint the arithmetic functions read: 0 the values decide (an integer that fits an int is
// one), 2 bigint, 3 a fraction; 4, a bit, for a text compared with one.
int Hint(ValueKind k) {
  switch (k) {
    case ValueKind::BigInt:
      return 2;
    case ValueKind::Fraction:
      return 3;
    default:
      return 0;
  }
}

ValueKind NumberKind(const QString& literal) {
  if (literal.startsWith(QLatin1StringView("0x"), Qt::CaseInsensitive)) return ValueKind::Unknown;
  if (literal.contains(u'.') || literal.contains(u'e') || literal.contains(u'E'))
    return ValueKind::Fraction;
  bool ok = false;
  const qint64 v = literal.toLongLong(&ok);
  // A whole literal beyond int is a numeric on SQL Server.
  return ok && v <= std::numeric_limits<qint32>::max() ? ValueKind::Int : ValueKind::Fraction;
}

bool IsComparison(const TsqlToken& t) {
  if (t.kind != Kind::Symbol) return false;
  for (const char* op : {"=", "<", ">", "<=", ">=", "<>", "!=", "!<", "!>"})
    if (t.text == QLatin1StringView(op)) return true;
  return false;
}

// An expression rewritten, with what is known of its type.
struct Typed {
  QString text;
  ValueKind kind = ValueKind::Unknown;
  QString declared;         // the declared type, where a column, variable or CONVERT gives one
  bool valueTells = false;  // a literal whose SQLite value has its kind: no hint needed

  int Hint() const { return valueTells ? 0 : embedded::Hint(kind); }
};

// Rewrites the operators of the expressions in a token range: a + b as tsql_add(a, b), and so
// on, with SQL Server's precedence (unary signs, then * / %, then + -), typed as SQL Server types
// them; and the calls whose answer depends on that type. Texts returned by the parsing members
// start at their first token, without its lead.
class OperatorRewriter {
 public:
  OperatorRewriter(const Tokens& t, const DeclaredTypeOf& declared,
                   const QHash<QString, QString>& variables)
      : t_(t), declared_(declared), variables_(variables) {}

  QString Range(std::size_t from, std::size_t to) { return Scan(from, to).text; }

 private:
  // The rewritten range, typed when it is one expression; `branches` collects the kinds of the
  // values that follow THEN and ELSE.
  Typed Scan(std::size_t from, std::size_t to, std::vector<ValueKind>* branches = nullptr) {
    const Nested nested(depth_);
    Typed result;
    int expressions = 0;
    bool other = false;
    std::size_t i = from;
    while (i < to) {
      std::size_t end = i;
      auto e = Expression(i, to, end);
      if (!e || end <= i) {
        result.text += t_[i].lead + t_[i].text;
        other = true;
        ++i;
        continue;
      }
      // "SET a = 1", "SELECT @v = x, @w = y" assign: the left side stays a name.
      const bool assigns =
          i > 0 && (t_[i - 1].IsAny({"set", "select"}) || IsSymbol(t_, i - 1, ','));
      if (end < to && IsComparison(t_[end]) && !assigns) {
        std::size_t rightEnd = end + 1;
        if (auto right = Expression(end + 1, to, rightEnd); right && rightEnd > end + 1) {
          ConvertForComparison(*e, *right);
          result.text +=
              t_[i].lead + e->text + t_[end].lead + t_[end].text + t_[end + 1].lead + right->text;
          other = true;
          i = rightEnd;
          continue;
        }
      }
      if (QString rest; !assigns && end < to)
        if (const auto after = InOrBetween(*e, end, to, rest)) {
          result.text += t_[i].lead + e->text + rest;
          other = true;
          i = *after;
          continue;
        }
      if (branches && i > from && (t_[i - 1].Is(u"then") || t_[i - 1].Is(u"else")))
        branches->push_back(
            end == to || t_[end].IsAny({"when", "else", "end"}) ? e->kind : ValueKind::Unknown);
      result.text += t_[i].lead + e->text;
      ++expressions;
      result.kind = e->kind;
      result.declared = e->declared;
      i = end;
    }
    if (expressions != 1 || other) {
      result.kind = ValueKind::Unknown;
      result.declared.clear();
    }
    return result;
  }

  // SQL Server compares a text with a number as numbers, converting the text (or failing).
  static void ConvertForComparison(Typed& a, Typed& b) {
    auto convert = [](Typed& text, const Typed& number) {
      if (text.kind == ValueKind::Text && IsNumeric(number.kind))
        text.text = QStringLiteral("tsql_number(%1, %2)")
                        .arg(text.text)
                        .arg(number.kind == ValueKind::Bit ? 4 : Hint(number.kind));
    };
    convert(a, b);
    convert(b, a);
  }

  // "[NOT] IN (list)" and "[NOT] BETWEEN a AND b" after `subject`, which ends at `end`: the
  // text from there, with the conversions of a text meeting a number; and where it ends.
  std::optional<std::size_t> InOrBetween(Typed& subject, std::size_t end, std::size_t to,
                                         QString& rest) {
    const std::size_t k = IsWordAt(t_, end, "not") ? end + 1 : end;
    const bool in = IsWordAt(t_, k, "in") && IsSymbol(t_, k + 1, '(');
    if (!in && !IsWordAt(t_, k, "between")) return std::nullopt;
    std::vector<Typed> values;
    std::vector<QString> before;  // what stands before each value
    std::size_t after = k + 1;
    if (in) {
      const std::size_t close = MatchingParen(t_, k + 1);
      if (close >= to) return std::nullopt;
      for (const auto& [a, b] : SplitAtCommas(t_, k + 2, close)) {
        before.push_back(a == k + 2 ? t_[k + 1].lead + u'(' : t_[a - 1].lead + u',');
        values.push_back(Scan(a, b));
      }
      before.push_back(t_[close].lead + u')');
      after = close + 1;
    } else {
      for (int bound = 0; bound < 2; ++bound) {
        QString words;
        if (bound == 1) {
          if (!IsWordAt(t_, after, "and")) return std::nullopt;
          words = t_[after].lead + t_[after].text;
          ++after;
        }
        const std::size_t from = after;
        auto value = Expression(from, to, after);
        if (!value || after <= from) return std::nullopt;
        before.push_back(words + t_[from].lead);
        values.push_back(std::move(*value));
      }
      before.emplace_back();
    }
    // A text subject converts to the values' number, text values to the subject's.
    const Typed original = subject;
    for (Typed& value : values) {
      Typed converted = original;
      ConvertForComparison(converted, value);
      if (converted.text != original.text) subject = converted;
    }
    for (std::size_t m = end; m <= k; ++m) rest += t_[m].lead + t_[m].text;
    for (std::size_t v = 0; v < values.size(); ++v) rest += before[v] + values[v].text;
    rest += before.back();
    return after;
  }

  bool IsOp(std::size_t i, std::size_t to, const char* ops) const {
    if (i >= to || t_[i].kind != Kind::Symbol || t_[i].text.size() != 1) return false;
    for (const char* o = ops; *o; ++o)
      if (t_[i].text[0] == QLatin1Char(*o)) return true;
    return false;
  }

  static Typed Operation(const char* function, const Typed& a, const Typed& b) {
    Typed r;
    r.kind = Combined(a.kind, b.kind);
    const int hints = a.Hint() * 4 + b.Hint();
    r.text = hints ? QStringLiteral("%1(%2, %3, %4)")
                         .arg(QLatin1StringView(function), a.text, b.text)
                         .arg(hints)
                   : QStringLiteral("%1(%2, %3)").arg(QLatin1StringView(function), a.text, b.text);
    return r;
  }

  std::optional<Typed> Expression(std::size_t i, std::size_t to, std::size_t& end) {
    auto left = Term(i, to, end);
    if (!left) return std::nullopt;
    std::vector<std::pair<bool, Typed>> steps;  // each "+" (true) or "-" and its right side
    while (IsOp(end, to, "+-")) {
      const std::size_t op = end;
      std::size_t next = op + 1;
      auto right = Term(op + 1, to, next);
      if (!right) break;
      steps.emplace_back(t_[op].text == u'+', std::move(*right));
      end = next;
    }
    if (steps.size() > kPairwiseSteps) return Chain(std::move(*left), steps);
    for (const auto& [add, right] : steps)
      left = Operation(add ? "tsql_add" : "tsql_sub", *left, right);
    return left;
  }

  // A longer run of + and - (a text joined from many columns) is one call, which SQLite's parser
  // reads flat where it gives up on calls nested some 30 deep: tsql_add_chain(a, code, b, code,
  // c, ...) takes the steps left to right, each as tsql_add or tsql_sub would with the hints in
  // its code (16 for a subtraction, plus the hints of the two sides). A very long run goes into
  // calls of kChainSteps steps each, as SQLite limits a call's arguments.
  static constexpr std::size_t kPairwiseSteps = 3;
  static constexpr std::size_t kChainSteps = 60;

  static Typed Chain(Typed left, const std::vector<std::pair<bool, Typed>>& steps) {
    QString text;
    for (std::size_t k = 0; k < steps.size(); ++k) {
      const auto& [add, right] = steps[k];
      if (k % kChainSteps == 0) text = QStringLiteral("tsql_add_chain(") + left.text;
      const int code = (add ? 0 : 16) + left.Hint() * 4 + right.Hint();
      text += QStringLiteral(", %1, ").arg(code) + right.text;
      left.kind = Combined(left.kind, right.kind);
      left.valueTells = false;
      left.declared.clear();
      if (k % kChainSteps == kChainSteps - 1 || k + 1 == steps.size()) left.text = text + u')';
    }
    return left;
  }

  std::optional<Typed> Term(std::size_t i, std::size_t to, std::size_t& end) {
    auto left = Unary(i, to, end);
    if (!left) return std::nullopt;
    while (IsOp(end, to, "*/%")) {
      const std::size_t op = end;
      std::size_t next = op + 1;
      auto right = Unary(op + 1, to, next);
      if (!right) break;
      const QChar o = t_[op].text[0];
      left = Operation(o == u'*' ? "tsql_mul" : o == u'/' ? "tsql_div" : "tsql_mod", *left, *right);
      end = next;
    }
    return left;
  }

  std::optional<Typed> Unary(std::size_t i, std::size_t to, std::size_t& end) {
    if (IsOp(i, to, "+-~")) {
      const Nested nested(depth_);
      auto operand = Unary(i + 1, to, end);
      if (!operand) return std::nullopt;
      operand->text = t_[i].text + t_[i + 1].lead + operand->text;
      operand->declared.clear();
      return operand;
    }
    return Primary(i, to, end);
  }

  std::optional<Typed> Group(std::size_t open, std::size_t to, std::size_t& end) {
    const std::size_t close = MatchingParen(t_, open);
    if (close >= to) return std::nullopt;
    end = close + 1;
    Typed inner = Scan(open + 1, close);
    inner.text = u'(' + inner.text + t_[close].lead + u')';
    return inner;
  }

  // A call's arguments, each rewritten and typed; nullopt when the ")" is missing.
  std::optional<std::vector<Typed>> Arguments(std::size_t open, std::size_t to, std::size_t& end,
                                              QString& text) {
    const std::size_t close = MatchingParen(t_, open);
    if (close >= to) return std::nullopt;
    end = close + 1;
    std::vector<Typed> args;
    text = u'(';
    for (const auto& [a, b] : SplitAtCommas(t_, open + 1, close)) {
      if (a > open + 1) text += t_[a - 1].lead + u',';
      std::size_t from = a;
      // DISTINCT or ALL before an aggregate's argument
      if (a + 1 < b && t_[a].IsAny({"distinct", "all"})) {
        text += t_[a].lead + t_[a].text;
        ++from;
      }
      Typed arg = Scan(from, b);
      text += arg.text;
      args.push_back(std::move(arg));
    }
    text += t_[close].lead + u')';
    return args;
  }

  // The type of a call's value, by the function table, and the call rewritten by its
  // arguments' types where the function asks for that.
  Typed Call(const QString& name, const std::vector<Typed>& args, const QString& argsText) {
    Typed r;
    r.text = name + argsText;
    const TsqlFunction* f = TsqlFunctionCalled(name);
    if (!f) return r;
    const Typed none;
    const Typed& first = args.empty() ? none : args[0];
    switch (f->result) {
      case TsqlResult::Int:
        r.kind = ValueKind::Int;
        break;
      case TsqlResult::FirstArgument:
        r.kind = first.kind;
        r.declared = first.declared;
        break;
      case TsqlResult::TypeArgument:
        if (const QString type = first.text.trimmed(); type.startsWith(u'\'')) {
          r.declared = type.mid(1, type.size() - 2);
          r.kind = KindOfType(r.declared);
        }
        break;
      case TsqlResult::Text:
        r.kind = ValueKind::Text;
        break;
      case TsqlResult::DateTime:
        r.declared = QStringLiteral("datetime");
        break;
      case TsqlResult::Date:
        r.declared = QStringLiteral("date");
        break;
      case TsqlResult::Unknown:
        break;
    }
    if (f->Is(kIntegerVariants) && args.size() == 1 && first.kind == ValueKind::Fraction) {
      // A decimal or money total is exact on SQL Server: summed in units of its scale. SQLite
      // takes DISTINCT with one argument only, so such a total stays SQLite's own.
      const bool distinct = argsText.mid(argsText.indexOf(u'(') + 1)
                                .trimmed()
                                .startsWith(QLatin1StringView("distinct"), Qt::CaseInsensitive);
      if (const int scale = DecimalScale(first.declared); scale >= 0 && !distinct)
        r.text = QStringLiteral("tsql_%1_scaled").arg(QLatin1StringView(f->callee)) +
                 argsText.chopped(1) + QStringLiteral(", %1)").arg(scale);
    } else if (f->Is(kIntegerVariants) && args.size() == 1) {
      const char* suffix = first.kind == ValueKind::Int      ? "_int"
                           : first.kind == ValueKind::BigInt ? "_bigint"
                                                             : "";
      r.text =
          QStringLiteral("tsql_%1%2").arg(QLatin1StringView(f->callee), QLatin1StringView(suffix)) +
          argsText;
    }
    if (f->Is(kHinted) && !args.empty())
      r.text =
          name + argsText.chopped(1) + QStringLiteral(", ") + QString::number(first.Hint()) + u')';
    if (f->Is(kSecondAsFirst) && args.size() == 2) {
      const QString& type = first.declared;
      if (!type.isEmpty() && args[1].kind != ValueKind::Null &&
          (IsNumeric(first.kind) || (first.kind == ValueKind::Text && type.contains(u'('))))
        r.text = QStringLiteral("%1(%2, tsql_convert('%3', %4))")
                     .arg(name, first.text, type, args[1].text.trimmed());
    }
    return r;
  }

  ValueKind Declared(const QString& name, QString& declared) const {
    const QString key = name.toLower();
    if (const auto it = variables_.constFind(key); it != variables_.constEnd())
      declared = *it;
    else if (declared_)
      declared = declared_(key);
    return KindOfType(declared);
  }

  std::optional<Typed> Primary(std::size_t i, std::size_t to, std::size_t& end) {
    if (i >= to) return std::nullopt;
    const TsqlToken& tok = t_[i];
    std::optional<Typed> typed;
    end = i + 1;
    switch (tok.kind) {
      case Kind::String:
        typed = Typed{tok.text, ValueKind::Text, {}};
        break;
      case Kind::Number: {
        typed = Typed{tok.text, NumberKind(tok.text), {}};
        // 1.5 and 1e5 are SQLite floats; only a whole literal beyond int needs telling.
        typed->valueTells = typed->kind != ValueKind::Fraction || tok.text.contains(u'.') ||
                            tok.text.contains(u'e') || tok.text.contains(u'E');
        break;
      }
      case Kind::Variable: {
        typed = Typed{tok.text, ValueKind::Unknown, {}};
        typed->kind = Declared(tok.text, typed->declared);
        break;
      }
      case Kind::Param:
        typed = Typed{tok.text, ValueKind::Unknown, {}};
        break;
      case Kind::Name:
      case Kind::Word: {
        if (tok.Is(u"case")) {
          int depth = 0;
          std::size_t k = i;
          for (; k < to; ++k) {
            if (t_[k].Is(u"case")) ++depth;
            if (t_[k].Is(u"end") && --depth == 0) break;
            if (IsSymbol(t_, k, '(')) k = MatchingParen(t_, k);
          }
          if (k >= to) return std::nullopt;
          end = k + 1;
          std::vector<ValueKind> branches;
          typed = Scan(i + 1, k, &branches);
          typed->text = tok.text + typed->text + t_[k].lead + t_[k].text;
          typed->declared.clear();
          ValueKind kind = ValueKind::Null;
          for (const ValueKind b : branches) kind = Combined(kind, b);
          typed->kind = branches.empty() ? ValueKind::Unknown : kind;
          break;
        }
        if (tok.kind == Kind::Word && IsKeyword(tok)) return std::nullopt;
        if (tok.Is(u"null")) {
          typed = Typed{tok.text, ValueKind::Null, {}};
          break;
        }
        typed = Typed{tok.text, ValueKind::Unknown, {}};
        QString last = tok.text;
        while (IsSymbol(t_, end, '.') && end + 1 < to &&
               (t_[end + 1].kind == Kind::Word || t_[end + 1].kind == Kind::Name ||
                IsSymbol(t_, end + 1, '*'))) {
          typed->text += t_[end].lead + u'.' + t_[end + 1].lead + t_[end + 1].text;
          last = t_[end + 1].text;
          end += 2;
        }
        if (IsSymbol(t_, end, '(')) {
          std::size_t after = end;
          QString argsText;
          const auto args = Arguments(end, to, after, argsText);
          if (!args) return std::nullopt;
          typed = Call(typed->text, *args, t_[end].lead + argsText);
          end = after;
          if (IsWordAt(t_, end, "over") && IsSymbol(t_, end + 1, '(')) {
            auto window = Group(end + 1, to, after);
            if (!window) return std::nullopt;
            typed->text += t_[end].lead + t_[end].text + t_[end + 1].lead + window->text;
            end = after;
          }
        } else {
          typed->kind = Declared(sql::NameValue(last), typed->declared);
        }
        break;
      }
      case Kind::Symbol:
        if (tok.text == u'(') {
          typed = Group(i, to, end);
        } else if (tok.text == u'*') {
          typed = Typed{tok.text, ValueKind::Unknown, {}};
        }
        break;
    }
    if (typed && IsWordAt(t_, end, "collate") && end + 1 < to) {
      typed->text += t_[end].lead + t_[end].text + t_[end + 1].lead + t_[end + 1].text;
      end += 2;
    }
    return typed;
  }

  // One level of the recursion, refused past kMaxTsqlNesting.
  struct Nested {
    explicit Nested(int& counter) : depth(counter) {
      if (++depth > kMaxTsqlNesting) {
        --depth;
        RefuseTsqlNesting();
      }
    }
    ~Nested() { --depth; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
    int& depth;
  };

  const Tokens& t_;
  const DeclaredTypeOf& declared_;
  const QHash<QString, QString>& variables_;
  int depth_ = 0;
};

// The type named at `from` ("int", "decimal(18, 4)") and where it ends.
std::size_t TypeEnd(const Tokens& t, std::size_t from) {
  std::size_t end = from;
  if (end < t.size() && t[end].kind == Kind::Word) ++end;
  if (IsSymbol(t, end, '(')) end = std::min(MatchingParen(t, end) + 1, t.size());
  return end;
}

// The variables a DECLARE of the text names and the columns of the tables a CREATE TABLE makes,
// with their types, by lower-case name: they type the statements after them before those have
// run.
QHash<QString, QString> DeclaredInText(const Tokens& t) {
  QHash<QString, QString> variables;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i].Is(u"create")) {
      std::size_t k = i + 1;
      if (IsWordAt(t, k, "temp") || IsWordAt(t, k, "temporary")) ++k;
      if (!IsWordAt(t, k, "table") || k + 2 >= t.size() || !IsSymbol(t, k + 2, '(')) continue;
      const std::size_t close = MatchingParen(t, k + 2);
      if (close >= t.size()) continue;
      for (const auto& [a, b] : SplitAtCommas(t, k + 3, close))
        if (a + 1 < b && (t[a].kind == Kind::Word || t[a].kind == Kind::Name) &&
            !t[a].IsAny({"constraint", "primary", "foreign", "unique", "check"}))
          variables.insert(sql::NameValue(t[a].text).toLower(),
                           TypeText(t, a + 1, TypeEnd(t, a + 1)));
      continue;
    }
    if (!t[i].Is(u"declare")) continue;
    std::size_t k = i + 1;
    while (k < t.size() && t[k].kind == Kind::Variable) {
      const QString name = t[k].text.toLower();
      std::size_t type = k + 1;
      if (IsWordAt(t, type, "as")) ++type;
      const std::size_t typeEnd = TypeEnd(t, type);
      variables.insert(name, TypeText(t, type, typeEnd));
      // on past the value to the next variable
      int depth = 0;
      k = typeEnd;
      for (; k < t.size(); ++k) {
        if (IsSymbol(t, k, '(')) ++depth;
        if (IsSymbol(t, k, ')')) --depth;
        if (depth == 0 && (IsSymbol(t, k, ',') || IsSymbol(t, k, ';'))) break;
      }
      if (!IsSymbol(t, k, ',')) break;
      ++k;
    }
  }
  return variables;
}

// --- Errors SQL Server raises on the form of a query ----------------------------------------
// Each check looks at the tokens as written and speaks only where it is certain: a form it
// cannot judge runs as it did.

Ranges CallArguments(const Tokens& t, std::size_t open);

bool IsAggregateName(const TsqlToken& t) {
  const TsqlFunction* f = t.kind == Kind::Word ? FindTsqlFunction(t.text) : nullptr;
  return f && f->Is(kAggregate);
}

// Words in a select list that name no column.
bool IsValueWord(const TsqlToken& t) {
  return IsKeyword(t) ||
         t.IsAny({"null", "user", "current_user", "session_user", "system_user",
                  "current_timestamp", "current_date", "next", "value", "for", "within"});
}

// The paren depth of each token, counted from the start of the text.
std::vector<int> Depths(const Tokens& t) {
  std::vector<int> depths(t.size());
  int depth = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (IsSymbol(t, i, ')')) --depth;
    depths[i] = depth;
    if (IsSymbol(t, i, '(')) ++depth;
  }
  return depths;
}

// The clauses of the query whose SELECT is at `select`: where each starts (t.size() when absent).
struct QueryClauses {
  std::size_t list = 0, listEnd = 0, from, group, having, order, offset, end;
  bool distinct = false, top = false, inUnion = false;
};

QueryClauses ClausesOf(const Tokens& t, std::size_t select) {
  QueryClauses q;
  q.from = q.group = q.having = q.order = q.offset = t.size();
  q.end = QueryEnd(t, select);
  const SelectHead head = HeadOf(t, select);
  q.distinct = head.distinct;
  q.top = head.top;
  q.list = head.list;
  q.listEnd = std::min(SelectListEnd(t, q.list), q.end);
  int depth = 0;
  for (std::size_t i = q.listEnd; i < q.end; ++i) {
    if (IsSymbol(t, i, '(')) ++depth;
    if (IsSymbol(t, i, ')')) --depth;
    if (depth != 0) continue;
    if (t[i].Is(u"from") && q.from == t.size()) q.from = i;
    if (t[i].Is(u"group") && IsWordAt(t, i + 1, "by")) q.group = i;
    if (t[i].Is(u"having")) q.having = i;
    if (t[i].Is(u"order") && IsWordAt(t, i + 1, "by")) q.order = i;
    if (t[i].Is(u"offset") && q.offset == t.size()) q.offset = i;
  }
  q.inUnion = (q.end < t.size() && t[q.end].IsAny({"union", "except", "intersect"})) ||
              (select > 0 && t[select - 1].IsAny({"union", "all", "except", "intersect"}));
  return q;
}

// Where the clause that starts at `from` ends: the next clause of the query, or its end.
std::size_t ClauseEnd(const QueryClauses& q, std::size_t from) {
  std::size_t end = q.end;
  for (std::size_t c : {q.from, q.group, q.having, q.order, q.offset})
    if (c > from && c < end) end = c;
  return end;
}

// A column as written: its name and what qualifies it ("c" of c.Code).
struct ColumnRef {
  QString qualifier, name;
};

QString NamePart(const TsqlToken& t) {
  return t.kind == Kind::Name ? sql::NameValue(t.text) : t.text;
}

// The plain column references of the select-list item [from, to) outside aggregates,
// subqueries, windows, type names and date parts.
void ColumnsOutsideAggregates(const Tokens& t, std::size_t from, std::size_t to,
                              std::vector<ColumnRef>& out) {
  for (std::size_t k = from; k < to; ++k) {
    const TsqlToken& tok = t[k];
    if (IsSymbol(t, k, '(')) {
      if (IsWordAt(t, k + 1, "select")) k = MatchingParen(t, k);
      continue;
    }
    if (tok.kind != Kind::Word && tok.kind != Kind::Name) continue;
    if (tok.kind == Kind::Word && (tok.Is(u"as") || tok.Is(u"collate"))) {
      ++k;  // an alias, a type or a collation
      if (IsSymbol(t, k + 1, '(')) k = MatchingParen(t, k + 1);
      continue;
    }
    if (tok.Is(u"within") && IsWordAt(t, k + 1, "group") && IsSymbol(t, k + 2, '(')) {
      k = MatchingParen(t, k + 2);
      continue;
    }
    if (tok.Is(u"over") && IsSymbol(t, k + 1, '(')) {
      k = MatchingParen(t, k + 1);
      continue;
    }
    if (tok.kind == Kind::Word && IsValueWord(tok)) continue;
    std::size_t last = k;
    while (IsSymbol(t, last + 1, '.') && last + 2 < to &&
           (t[last + 2].kind == Kind::Word || t[last + 2].kind == Kind::Name))
      last += 2;
    if (IsSymbol(t, last + 1, '(')) {  // a call
      const std::size_t close = MatchingParen(t, last + 1);
      if (close >= to) return;
      if ((IsAggregateName(t[last]) && !IsWordAt(t, close + 1, "over")) ||
          IsWordAt(t, close + 1, "over")) {
        k = close;
        continue;
      }
      k = last + 1;
      // The first argument is a type or a date part, not a value.
      if (const TsqlFunction* f =
              t[last].kind == Kind::Word ? FindTsqlFunction(t[last].text) : nullptr;
          f && f->first != TsqlArgument::Value) {
        const Ranges args = CallArguments(t, last + 1);
        if (!args.empty()) k = args[0].second;
      }
      continue;
    }
    ColumnRef ref;
    for (std::size_t p = k; p < last; p += 2)
      ref.qualifier += (ref.qualifier.isEmpty() ? QString() : QStringLiteral(".")) + NamePart(t[p]);
    ref.name = NamePart(t[last]);
    out.push_back(ref);
    k = last;
  }
}

// Whether a word or name in [from, to) is `name`.
bool NamesIn(const Tokens& t, std::size_t from, std::size_t to, const QString& name) {
  for (std::size_t k = from; k < to; ++k)
    if ((t[k].kind == Kind::Word || t[k].kind == Kind::Name) &&
        NamePart(t[k]).compare(name, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

// The name a lone table of the FROM clause goes by, as SQL Server names it in its messages;
// empty when the clause joins several.
QString LoneTableName(const Tokens& t, const QueryClauses& q) {
  if (q.from >= t.size()) return {};
  const std::size_t end = ClauseEnd(q, q.from);
  std::size_t k = q.from + 1;
  QString name;
  if (IsSymbol(t, k, '(')) {
    k = MatchingParen(t, k) + 1;
  } else {
    while (k < end && (t[k].kind == Kind::Word || t[k].kind == Kind::Name)) {
      name += (name.isEmpty() ? QString() : QStringLiteral(".")) + NamePart(t[k]);
      if (!IsSymbol(t, k + 1, '.')) break;
      k += 2;
    }
    ++k;
  }
  if (IsWordAt(t, k, "as")) ++k;
  if (k < end && (t[k].kind == Kind::Name || (t[k].kind == Kind::Word && !IsKeyword(t[k])))) {
    name = NamePart(t[k]);
    ++k;
  }
  for (; k < end; ++k) {
    if (IsSymbol(t, k, '(')) k = MatchingParen(t, k);
    if (k >= end) break;
    if (IsSymbol(t, k, ',') || t[k].IsAny({"join", "apply"})) return {};
  }
  return name;
}

// 8120, 8121, 8127: a grouped query (GROUP BY, HAVING or an aggregate) selects, filters or
// orders by a column it neither groups nor aggregates. Only a query at the top of its statement is
// judged, where no name can be an outer query's.
void CheckGrouping(const Tokens& t, const QueryClauses& q) {
  const Ranges items = SplitAtCommas(t, q.list, q.listEnd);
  std::vector<ColumnRef> columns;
  bool aggregates = false;
  for (auto [a, b] : items) {
    if (a >= b) return;
    for (std::size_t k = a; k < b; ++k) {
      if (IsSymbol(t, k, '*') && (k == a || IsSymbol(t, k - 1, '.'))) return;
      if (IsSymbol(t, k, '(') && IsWordAt(t, k + 1, "select")) k = MatchingParen(t, k);
      if (k < b && t[k].kind == Kind::Word && IsAggregateName(t[k]) && IsSymbol(t, k + 1, '(') &&
          !IsWordAt(t, MatchingParen(t, k + 1) + 1, "over"))
        aggregates = true;
    }
    if (HasAlias(t, a, b)) b -= t[b - 2].Is(u"as") ? 2 : 1;
    if (b > a + 1 && IsSymbol(t, a + 1, '=') &&
        (t[a].kind == Kind::Word || t[a].kind == Kind::Name || t[a].kind == Kind::String ||
         t[a].kind == Kind::Variable))
      a += 2;
    ColumnsOutsideAggregates(t, a, b, columns);
  }
  if (!aggregates && q.group == t.size() && q.having == t.size()) return;
  const std::size_t groupEnd = q.group < t.size() ? ClauseEnd(q, q.group) : q.group;
  // The first column of `found` that the GROUP BY clause does not name fails with `text`; an
  // ORDER BY may also name what the select list names, aliases included.
  auto check = [&](const std::vector<ColumnRef>& found, ServerError error, bool selected) {
    for (const ColumnRef& c : found) {
      if (q.group < t.size() && NamesIn(t, q.group + 2, groupEnd, c.name)) continue;
      if (selected && NamesIn(t, q.list, q.listEnd, c.name)) continue;
      QString table = c.qualifier;
      if (table.isEmpty()) table = LoneTableName(t, q);
      RaiseServerError(error, {table.isEmpty() ? c.name : table + u'.' + c.name});
    }
  };
  check(columns, ServerError::NotInGroupBySelect, false);
  if (q.having < t.size()) {
    std::vector<ColumnRef> having;
    ColumnsOutsideAggregates(t, q.having + 1, ClauseEnd(q, q.having), having);
    check(having, ServerError::NotInGroupByHaving, false);
  }
  if (q.order < t.size() && !q.inUnion) {
    std::vector<ColumnRef> order;
    ColumnsOutsideAggregates(t, q.order + 2, ClauseEnd(q, q.order), order);
    check(order, ServerError::NotInGroupByOrder, true);
  }
}

// 145: SELECT DISTINCT ordered by a column the select list does not name.
void CheckDistinctOrder(const Tokens& t, const QueryClauses& q) {
  if (!q.distinct || q.order >= t.size() || q.inUnion) return;
  for (std::size_t k = q.list; k < q.listEnd; ++k)
    if (IsSymbol(t, k, '*')) return;
  const std::size_t end = ClauseEnd(q, q.order);
  for (auto [a, b] : SplitAtCommas(t, q.order + 2, end)) {
    if (b > a && t[b - 1].IsAny({"asc", "desc"})) --b;
    // A plain column only, maybe qualified.
    bool plain = b > a && (b - a) % 2 == 1;
    for (std::size_t k = a; plain && k < b; ++k)
      plain = (k - a) % 2 == 0
                  ? (t[k].kind == Kind::Name || (t[k].kind == Kind::Word && !IsValueWord(t[k])))
                  : IsSymbol(t, k, '.');
    if (plain && !NamesIn(t, q.list, q.listEnd, NamePart(t[b - 1])))
      RaiseServerError(ServerError::OrderByNotInDistinct);
  }
}

// OFFSET belongs to ORDER BY, and TOP does not go with it.
void CheckOffset(const Tokens& t, const QueryClauses& q) {
  if (q.offset >= t.size()) return;
  const std::size_t o = q.offset;
  // "offset" stands for a name unless rows to skip follow it.
  std::size_t rows = o + 1;
  while (rows < q.end && !t[rows].IsAny({"row", "rows"})) ++rows;
  const bool negative = IsSymbol(t, o + 1, '-') && o + 2 < rows && t[o + 2].kind == Kind::Number;
  if (rows >= q.end || rows == o + 1 ||
      !(t[o + 1].kind == Kind::Number || t[o + 1].kind == Kind::Variable ||
        t[o + 1].kind == Kind::Param || IsSymbol(t, o + 1, '(') || negative))
    return;
  if (q.order > o) {
    // Without ORDER BY the word is read as a name, and what follows it is out of place.
    const TsqlToken& before = t[o - 1];
    const bool named =
        (before.kind == Kind::Name || before.kind == Kind::Word) && o >= 2 &&
        (t[o - 2].IsAny({"from", "join"}) || IsSymbol(t, o - 2, ',') || IsSymbol(t, o - 2, '.'));
    RaiseServerError(ServerError::SyntaxNear, {named ? t[o + 1].text : t[o].text});
  }
  if (q.top) RaiseServerError(ServerError::TopWithOffset);
  // Counts written as numbers are judged before the query runs.
  if (negative && t[o + 2].text.toDouble() != 0) RaiseServerError(ServerError::NegativeOffset);
  if (IsWordAt(t, rows + 1, "fetch") && rows + 3 < q.end && t[rows + 3].kind == Kind::Number &&
      t[rows + 3].text.toDouble() == 0 &&
      (IsWordAt(t, rows + 4, "row") || IsWordAt(t, rows + 4, "rows")))
    RaiseServerError(ServerError::FetchNotPositive);
}

// 1033: ORDER BY in a subquery, a derived table or a common table expression, without TOP,
// OFFSET or FOR XML to give it a meaning.
void CheckSubqueryOrder(const Tokens& t, std::size_t open) {
  const std::size_t close = MatchingParen(t, open);
  if (close >= t.size()) return;
  bool ordered = false, limited = false;
  int depth = 0;
  for (std::size_t k = open + 1; k < close; ++k) {
    if (IsSymbol(t, k, '(')) ++depth;
    if (IsSymbol(t, k, ')')) --depth;
    if (depth != 0) continue;
    if (t[k].Is(u"order") && IsWordAt(t, k + 1, "by")) ordered = true;
    if (t[k].IsAny({"top", "offset"}) || (t[k].Is(u"for") && IsWordAt(t, k + 1, "xml")))
      limited = true;
  }
  if (ordered && !limited) RaiseServerError(ServerError::OrderByInSubquery);
}

void CheckQueries(const Tokens& t) {
  const std::vector<int> depths = Depths(t);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!t[i].Is(u"select") || t[i].kind != Kind::Word) continue;
    if (i > 0 && IsSymbol(t, i - 1, '(') && i >= 2 && !IsSymbol(t, i - 2, ';'))
      CheckSubqueryOrder(t, i - 1);
    const QueryClauses q = ClausesOf(t, i);
    CheckOffset(t, q);
    if (depths[i] != 0) continue;
    CheckGrouping(t, q);
    CheckDistinctOrder(t, q);
  }
}

// Whether the subquery whose "(" is at `open` stands for one value, where SQL Server wants at
// most one row: after an operator, in a select list, in a call's arguments, as a condition.
bool IsScalarSubquery(const Tokens& t, std::size_t open) {
  if (open == 0) return false;
  const TsqlToken& p = t[open - 1];
  if (p.kind == Kind::Symbol)
    for (const char* op : {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>", "+", "-", "*", "/",
                           "%", "&", "|", "^", "~"})
      if (p.text == QLatin1StringView(op)) return true;
  if (p.kind == Kind::Word &&
      p.IsAny({"select", "where", "and", "or", "not", "when", "then", "else", "case", "having",
               "on", "return", "print", "if", "while", "like", "between", "by", "distinct"}))
    return true;
  // The "(" of a call's arguments or of the first row of VALUES (not of an IN list or a table
  // source).
  auto holdsValues = [&](std::size_t paren) {
    return paren > 0 && t[paren - 1].kind == Kind::Word &&
           (!IsKeyword(t[paren - 1]) || t[paren - 1].Is(u"values"));
  };
  if (IsSymbol(t, open - 1, '(')) return holdsValues(open - 1);
  if (!IsSymbol(t, open - 1, ',')) return false;
  // A comma: in the arguments of a call or a row, or between select-list items.
  int depth = 0;
  for (std::size_t k = open - 1; k-- > 0;) {
    if (IsSymbol(t, k, ')')) {
      ++depth;
    } else if (IsSymbol(t, k, '(')) {
      if (depth-- == 0) return holdsValues(k);
    } else if (depth == 0 && t[k].kind == Kind::Word) {
      if (t[k].IsAny({"select", "by"})) return true;
      if (IsKeyword(t[k]) &&
          !t[k].IsAny({"case", "when", "then", "else", "end", "and", "or", "not", "is", "like",
                       "between", "as", "collate", "distinct", "over", "partition"}))
        return false;
    }
  }
  return false;
}

// 512: a subquery that stands for one value fails on a second row instead of giving the first.
void GuardScalarSubqueries(Tokens& t) {
  int count = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if (!IsSymbol(t, i, '(') || !IsWordAt(t, i + 1, "select") || !IsScalarSubquery(t, i)) continue;
    const std::size_t close = MatchingParen(t, i);
    if (close >= t.size()) return;
    const QueryClauses q = ClausesOf(t, i + 1);
    if (SplitAtCommas(t, q.list, q.listEnd).size() > 1)
      RaiseServerError(ServerError::OneExpressionInSubquery);
    const QString rows = QStringLiteral("tsql_rows%1").arg(++count);
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(close),
             {Make(Kind::Symbol, QStringLiteral(")"), QString()),
              Make(Kind::Symbol, QStringLiteral("SELECT tsql_single(v) FROM %1").arg(rows))});
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(i + 1),
             {Make(Kind::Symbol, QStringLiteral("WITH %1(v) AS").arg(rows), QString()),
              Make(Kind::Symbol, QStringLiteral("("))});
    i += 2;
  }
}

// Number literals SQLite would hold only rounded or not at all: SQL Server reads a whole number
// of up to 38 digits as an exact numeric and refuses more (1007), and refuses a float beyond
// its range (168). SQLite makes a double of what passes a 64-bit integer, and an infinity of
// what passes a double: those are errors here, never a value quietly changed.
void CheckNumberLiterals(const Tokens& t) {
  for (const TsqlToken& tok : t) {
    if (tok.kind != TsqlToken::Kind::Number ||
        tok.text.startsWith(QLatin1StringView("0x"), Qt::CaseInsensitive))
      continue;
    const QString& text = tok.text;
    const qsizetype exponent = text.indexOf(u'e', 0, Qt::CaseInsensitive);
    if (exponent >= 0) {
      if (std::isinf(text.toDouble())) RaiseServerError(ServerError::FloatOutOfRange, {text});
      continue;
    }
    QString digits = text;
    digits.remove(u'.');
    while (digits.size() > 1 && digits.front() == u'0') digits.remove(0, 1);
    if (digits.size() > 38) RaiseServerError(ServerError::NumberOutOfRange, {text});
    bool exact = false;
    if (!text.contains(u'.')) text.toLongLong(&exact);
    // A fraction keeps what a double holds: 17 significant digits, trailing zeros aside.
    if (text.contains(u'.')) {
      QString significant = digits;
      while (significant.size() > 1 && significant.back() == u'0') significant.chop(1);
      exact = significant.size() <= 17;
    }
    if (!exact)
      RefuseTsql(QStringLiteral("the number %1, which it would hold only rounded").arg(text));
  }
}

// SQL Server's errors for a string, name or comment that the text never closes.
void RefuseUnterminated(const TsqlTokens& parsed) {
  const sql::LexState open = parsed.unterminated;
  if (!open.IsOpen()) return;
  if (open.open == sql::TokenKind::BlockComment) RaiseServerError(ServerError::MissingEndComment);
  const TsqlToken& last = parsed.tokens.back();
  RaiseServerError(ServerError::UnclosedQuote, {last.text.mid(1)});
}

// The arguments of the call whose "(" is at `open`.
Ranges CallArguments(const Tokens& t, std::size_t open) {
  const std::size_t close = MatchingParen(t, open);
  return close < t.size() ? SplitAtCommas(t, open + 1, close) : Ranges();
}

bool IsDateTimeTypeName(const QString& type) {
  return type == u"datetime" || type == u"smalldatetime" || type == u"datetime2";
}

// The type of a + b or a - b from the types of its sides; `numberA` and `numberB`: the side is
// a number written out.
ComputedType SumType(bool add, const ComputedType& a, bool numberA, const ComputedType& b,
                     bool numberB) {
  // SQL Server: a date-time plus or minus a number is a date-time.
  if (IsDateTimeTypeName(a.declared) || IsDateTimeTypeName(b.declared))
    return {QStringLiteral("datetime")};
  const bool moved = add ? numberA != numberB : numberB && !numberA;
  // The other side's kind is not known here (a column): a stored date moves by days, a
  // number adds.
  if (moved && (numberB ? a : b).declared.isEmpty()) return {QString(), true};
  return {};
}

// The type of the rewritten expression [from, to) where its outermost function decides it;
// `depth` counts the calls it looks into.
ComputedType ExpressionType(const Tokens& t, std::size_t from, std::size_t to, int depth = 0) {
  if (depth > kMaxTsqlNesting) return {};
  while (to > from + 1 && IsSymbol(t, from, '(') && MatchingParen(t, from) == to - 1) {
    ++from;
    --to;
  }
  if (to < from + 3 || t[from].kind != Kind::Word || !IsSymbol(t, from + 1, '(') ||
      MatchingParen(t, from + 1) != to - 1)
    return {};
  const TsqlToken& call = t[from];
  const auto args = CallArguments(t, from + 1);
  if (const TsqlFunction* f = TsqlFunctionCalled(call.text)) {
    switch (f->result) {
      case TsqlResult::DateTime:
        return {QStringLiteral("datetime")};
      case TsqlResult::Date:
        return {QStringLiteral("date")};
      case TsqlResult::Int:
        return {QStringLiteral("int")};
      case TsqlResult::TypeArgument:
        if (!args.empty() && args[0].second == args[0].first + 1 &&
            t[args[0].first].kind == Kind::String)
          return {StringValue(t[args[0].first])};
        return {};
      default:
        break;
    }
  }
  auto isNumber = [&](std::pair<std::size_t, std::size_t> r) {
    return (r.second == r.first + 1 && t[r.first].kind == Kind::Number) ||
           (r.second == r.first + 2 && IsSymbol(t, r.first, '-') &&
            t[r.first + 1].kind == Kind::Number);
  };
  auto typeOf = [&](std::pair<std::size_t, std::size_t> r) {
    return ExpressionType(t, r.first, r.second, depth + 1);
  };
  if (call.IsAny({"tsql_add", "tsql_sub"}) && args.size() >= 2)
    return SumType(call.Is(u"tsql_add"), typeOf(args[0]), isNumber(args[0]), typeOf(args[1]),
                   isNumber(args[1]));
  if (call.Is(u"tsql_add_chain") && args.size() % 2 == 1) {
    // The steps one after another, as the pairwise calls would be typed.
    ComputedType sum = typeOf(args[0]);
    bool number = isNumber(args[0]);
    for (std::size_t k = 1; k + 1 < args.size(); k += 2) {
      const bool add = t[args[k].first].text.toInt() < 16;
      sum = SumType(add, sum, number, typeOf(args[k + 1]), isNumber(args[k + 1]));
      number = false;
    }
    return sum;
  }
  return {};
}

}  // namespace

std::vector<ComputedType> ComputedColumnTypes(QStringView rewritten) {
  const TsqlTokens parsed = Tokenize(rewritten);
  const Tokens& t = parsed.tokens;
  if (t.empty() || !t[0].Is(u"select")) return {};
  std::size_t from = 1;
  if (IsWordAt(t, from, "distinct") || IsWordAt(t, from, "all")) ++from;
  const auto items = SelectItems(t, from);
  std::vector<ComputedType> types;
  bool any = false;
  for (auto [a, b] : items) {
    if (a >= b || IsSymbol(t, b - 1, '*')) return {};
    if (HasAlias(t, a, b)) b -= t[b - 2].Is(u"as") ? 2 : 1;
    types.push_back(ExpressionType(t, a, b));
    any = any || !types.back().declared.isEmpty() || types.back().datesWhenText;
  }
  if (!any) types.clear();
  return types;
}

void RefuseTsqlNesting() {
  RaiseServerError(ServerError::NestedTooDeeply);
}

void RefuseTsql(const QString& what) {
  RaiseServerError(ServerError::NotSupported, {what});
}

namespace {

// Whether a text literal after `previous` is a value, not the name of the column before it
// ("select Code 'c'"): after an operator, a parenthesis, a comma or a word that a value follows.
bool ValueFollows(QStringView text, const sql::Token* previous) {
  if (!previous) return true;
  switch (previous->kind) {
    case sql::TokenKind::Operator:
      return previous->Text(text) != u")";
    case sql::TokenKind::Word:
      for (const char* w :
           {"select",  "distinct", "all",  "then",   "else", "when",    "like",   "escape",
            "default", "print",    "and",  "or",     "not",  "between", "in",     "is",
            "return",  "values",   "case", "exists", "on",   "by",      "having", "where"})
        if (sql::IsWord(text, *previous, QLatin1StringView(w))) return true;
      return false;
    default:
      return false;
  }
}

}  // namespace

QString ForSqlite(QStringView text) {
  return SqliteText(text, true);
}

namespace {

QString SqliteText(QStringView text, bool collateLiterals) {
  const std::vector<sql::Token> tokens = sql::Tokenize(text);
  QString out;
  out.reserve(text.size() + text.size() / 4);
  const sql::Token* previous = nullptr;  // the code token before
  bool ownWords = false;                 // PRAGMA and BACKUP, read as they stand, literals included
  // For each open parenthesis: whether it holds the arguments of a call (or an IN or VALUES
  // list), whose literals are values handed on, not compared: they stay as written, so that
  // the constant arguments of the T-SQL functions read as they were written.
  std::vector<bool> calls;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const sql::Token& t = tokens[i];
    if (t.construct == sql::TokenKind::BlockComment) {
      out += u' ';
      continue;
    }
    if (t.construct == sql::TokenKind::LineComment) continue;  // the line end after it stays
    if (t.kind == sql::TokenKind::QuotedName && text[t.start] == u'[') {
      out += sql::QuoteIdentifier(sql::NameValue(t.Text(text)));
    } else {
      out += t.Text(text);
    }
    if (!t.IsCode()) continue;
    if (sql::IsOperator(text, t, QLatin1StringView("("))) {
      calls.push_back(previous && (previous->kind == sql::TokenKind::Word ||
                                   previous->kind == sql::TokenKind::QuotedName));
    } else if (sql::IsOperator(text, t, QLatin1StringView(")")) && !calls.empty()) {
      calls.pop_back();
    }
    const bool argument = !calls.empty() && calls.back() && previous &&
                          (sql::IsOperator(text, *previous, QLatin1StringView("(")) ||
                           sql::IsOperator(text, *previous, QLatin1StringView(",")));
    if (previous == nullptr || sql::IsOperator(text, *previous, QLatin1StringView(";")))
      ownWords = sql::IsWord(text, t, QLatin1StringView("pragma")) ||
                 sql::IsWord(text, t, QLatin1StringView("backup"));
    // A text literal compares, sorts, groups and is distinct as SQL Server's texts are.
    if (collateLiterals && t.kind == sql::TokenKind::String && !ownWords && !argument &&
        ValueFollows(text, previous)) {
      const sql::Token* next = nullptr;
      for (std::size_t k = i + 1; k < tokens.size() && !next; ++k)
        if (tokens[k].IsCode()) next = &tokens[k];
      if (!next || !sql::IsWord(text, *next, QLatin1StringView("collate")))
        out += QLatin1StringView(" COLLATE NOCASE");
    }
    previous = &t;
  }
  return out;
}

}  // namespace

QString RewriteTsql(QStringView text, const DeclaredTypeOf& declared) {
  TsqlTokens parsed = Tokenize(text);
  RefuseUnterminated(parsed);
  Tokens& t = parsed.tokens;
  CheckNesting(t);
  CheckNumberLiterals(t);
  CheckQueries(t);
  MoveLeadingAliases(t);
  NameSelectItems(t, declared);
  GuardScalarSubqueries(t);
  RewriteCalls(t);
  RewriteTop(t, declared);
  RewriteStatements(t);
  CollateTextColumns(t);
  RewriteOffsetFetch(t);
  if (t.empty()) return parsed.Text();
  const QHash<QString, QString> variables = DeclaredInText(t);
  return OperatorRewriter(t, declared, variables).Range(0, t.size()) + parsed.tail;
}

QString MergedDeclaredType(const QString& a, const QString& b) {
  if (a.compare(b, Qt::CaseInsensitive) == 0) return a;
  const ValueKind kind = KindOfType(a);
  if (kind != KindOfType(b)) return {};
  switch (kind) {
    case ValueKind::Int:
      return QStringLiteral("int");
    case ValueKind::BigInt:
      return QStringLiteral("bigint");
    case ValueKind::Fraction:
      return QStringLiteral("float");
    case ValueKind::Text:
      return QStringLiteral("varchar");
    default:
      return {};
  }
}

}  // namespace qav::db::embedded
