#include "sql/TsqlTree.h"

#include <algorithm>

namespace qav::sql {

using namespace Qt::Literals::StringLiterals;

namespace {

// Words after which an expression is not yet complete, so that a name after them is no alias.
bool IsOperatorWord(const TokenText& t, std::size_t i) {
  return t.IsWordIn(i, {"collate",  "and",  "or",     "not",  "like",   "in",   "is",     "between",
                        "distinct", "all",  "then",   "else", "when",   "case", "select", "top",
                        "percent",  "ties", "escape", "as",   "exists", "some", "any"});
}

class TreeReader {
 public:
  TreeReader(const TokenText& t, Tree& tree) : t_(t), tree_(tree) {}

  int Query(std::size_t first, std::size_t last) {
    const Level level(*this, first);
    return ReadQuery(first, last);
  }

  // An expression over the whole range, or a raw node when the range holds more than one.
  int Range(std::size_t first, std::size_t last) {
    if (first >= last) return Raw(first, last);
    const std::size_t saved = i_;
    i_ = first;
    int e = Expr(last, 0);
    if (i_ != last) e = Raw(first, last);
    i_ = saved;
    return e;
  }

 private:
  [[noreturn]] void Fail(std::size_t at) const {
    const std::size_t k = std::min(at, t_.Size() ? t_.Size() - 1 : 0);
    throw ETsqlSyntax(191, NestedTooDeeplyText(), t_.Size() ? t_[k].line : 1);
  }

  // One level of nesting while it lives; past kMaxNesting, SQL Server's error 191.
  class Level {
   public:
    Level(TreeReader& reader, std::size_t at) : reader_(reader) {
      if (++reader_.depth_ > kMaxNesting) reader_.Fail(at);
    }
    ~Level() { --reader_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    TreeReader& reader_;
  };

  int Add(sql::Expr e) {
    tree_.exprs.push_back(std::move(e));
    return static_cast<int>(tree_.exprs.size() - 1);
  }

  int Node(ExprKind kind, std::size_t first, std::size_t last, std::vector<int> children = {}) {
    sql::Expr e;
    e.kind = kind;
    e.span = t_.SpanOf(first, last);
    e.children = std::move(children);
    return Add(std::move(e));
  }

  int Raw(std::size_t first, std::size_t last) { return Node(ExprKind::Raw, first, last); }
  // What is left of the range, unread: a "(" never closed inside it.
  int RawToLimit(std::size_t first, std::size_t limit) {
    i_ = limit;
    return Raw(first, limit);
  }

  std::size_t First(int e) const { return tree_.exprs[static_cast<std::size_t>(e)].span.first; }

  // The closing ")" of the "(" at i, or `limit` when it is not closed before it.
  std::size_t Close(std::size_t open, std::size_t limit) const {
    const std::size_t close = t_.Match(open);
    return close < limit ? close : limit;
  }

  bool StartsQuery(std::size_t i) const {
    while (t_.IsOperator(i, "("_L1)) ++i;
    return t_.IsWordIn(i, {"select", "with"});
  }

  // Splits [first, last) at the commas outside parentheses.
  std::vector<std::pair<std::size_t, std::size_t>> Commas(std::size_t first,
                                                          std::size_t last) const {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    std::size_t from = first;
    for (std::size_t k = first; k < last; ++k) {
      if (t_.IsOperator(k, "("_L1)) {
        k = Close(k, last);
      } else if (t_.IsOperator(k, ","_L1)) {
        parts.emplace_back(from, k);
        from = k + 1;
      }
    }
    parts.emplace_back(from, last);
    return parts;
  }

  // ------------------------------------------------------------------------------------------
  // Expressions, by precedence: OR 1, AND 2, NOT 3, comparisons 4, + - & ^ | 5, * / % 6.

  struct BinaryOp {
    int precedence = 0;
    std::size_t last = 0;  // after the operator's tokens
    bool negated = false;
    enum { Plain, Like, In, Between, Is } form = Plain;
  };

  BinaryOp OpAt(std::size_t k, std::size_t limit) const {
    BinaryOp op;
    if (k >= limit) return op;
    const Token& tok = t_[k];
    if (tok.kind == TokenKind::Operator) {
      const QStringView s = t_.TextOf(k);
      static const char* const kComparisons[] = {"=", "<", ">", "<=", ">=", "<>", "!=", "!<", "!>"};
      for (const char* c : kComparisons)
        if (s == QLatin1StringView(c)) op.precedence = 4;
      if (s == u"+" || s == u"-" || s == u"&" || s == u"^" || s == u"|" || s == u"||")
        op.precedence = 5;
      if (s == u"*" || s == u"/" || s == u"%") op.precedence = 6;
      op.last = k + 1;
      return op;
    }
    if (tok.kind != TokenKind::Word) return op;
    if (t_.IsWord(k, "or"_L1)) return {1, k + 1};
    if (t_.IsWord(k, "and"_L1)) return {2, k + 1};
    std::size_t w = k;
    if (t_.IsWord(w, "not"_L1) && t_.IsWordIn(w + 1, {"like", "in", "between"})) {
      op.negated = true;
      ++w;
    }
    if (t_.IsWord(w, "like"_L1))
      op.form = BinaryOp::Like;
    else if (t_.IsWord(w, "in"_L1))
      op.form = BinaryOp::In;
    else if (t_.IsWord(w, "between"_L1))
      op.form = BinaryOp::Between;
    else if (t_.IsWord(w, "is"_L1))
      op.form = BinaryOp::Is;
    else
      return op;
    op.precedence = 4;
    op.last = w + 1;
    return op;
  }

  int Expr(std::size_t limit, int minPrecedence) {
    const Level level(*this, i_);
    const std::size_t first = i_;
    int left;
    if (minPrecedence <= 3 && t_.IsWord(i_, "not"_L1) && i_ + 1 < limit) {
      ++i_;
      const int operand = Expr(limit, 3);
      left = Node(ExprKind::Unary, first, i_, {operand});
      tree_.exprs.back().op = t_.SpanOf(first, first + 1);
    } else {
      left = Unary(limit);
    }
    for (;;) {
      const BinaryOp op = OpAt(i_, limit);
      if (op.precedence == 0 || op.precedence < minPrecedence) break;
      const std::size_t opFirst = i_;
      i_ = op.last;
      sql::Expr e;
      e.op = t_.SpanOf(opFirst, op.last);
      e.negated = op.negated;
      e.children = {left};
      switch (op.form) {
        case BinaryOp::Is:
          e.kind = ExprKind::IsNull;
          if (t_.IsWord(i_, "not"_L1)) {
            e.negated = true;
            ++i_;
          }
          if (!t_.IsWord(i_, "null"_L1) || i_ >= limit) {
            return RawToLimit(first, limit);
          }
          ++i_;
          break;
        case BinaryOp::In:
          e.kind = ExprKind::In;
          if (!t_.IsOperator(i_, "("_L1) || i_ >= limit) {
            return RawToLimit(first, limit);
          }
          InList(limit, e);
          break;
        case BinaryOp::Between: {
          e.kind = ExprKind::Between;
          e.children.push_back(Expr(limit, 5));
          if (!t_.IsWord(i_, "and"_L1) || i_ >= limit) {
            return RawToLimit(first, limit);
          }
          ++i_;
          e.children.push_back(Expr(limit, 5));
          break;
        }
        case BinaryOp::Like:
          e.kind = ExprKind::Binary;
          e.children.push_back(Expr(limit, 5));
          if (t_.IsWord(i_, "escape"_L1) && i_ + 1 < limit) {
            ++i_;
            e.children.push_back(Expr(limit, 5));
          }
          break;
        case BinaryOp::Plain:
          e.kind = ExprKind::Binary;
          if (i_ >= limit) {
            return RawToLimit(first, limit);
          }
          e.children.push_back(Expr(limit, op.precedence + 1));
          break;
      }
      e.span = t_.SpanOf(first, i_);
      left = Add(std::move(e));
    }
    return left;
  }

  // x IN (list) or x IN (query), the "(" at i_.
  void InList(std::size_t limit, sql::Expr& e) {
    const std::size_t open = i_;
    const std::size_t close = Close(open, limit);
    if (StartsQuery(open + 1)) {
      e.query = Query(open + 1, close);
    } else {
      for (const auto& [a, b] : Commas(open + 1, close)) e.children.push_back(Range(a, b));
    }
    i_ = close < limit ? close + 1 : limit;
  }

  int Unary(std::size_t limit) {
    if (i_ < limit &&
        (t_.IsOperator(i_, "-"_L1) || t_.IsOperator(i_, "+"_L1) || t_.IsOperator(i_, "~"_L1))) {
      const Level level(*this, i_);
      const std::size_t first = i_++;
      const int operand = Unary(limit);
      const int e = Node(ExprKind::Unary, first, i_, {operand});
      tree_.exprs.back().op = t_.SpanOf(first, first + 1);
      return e;
    }
    int e = Primary(limit);
    // x COLLATE name
    if (t_.IsWord(i_, "collate"_L1) && i_ + 1 < limit) {
      const std::size_t first = First(e);
      const std::size_t collate = i_;
      i_ += 2;
      e = Node(ExprKind::Unary, first, i_, {e});
      tree_.exprs.back().op = t_.SpanOf(collate, i_);
    }
    return e;
  }

  int Primary(std::size_t limit) {
    const std::size_t first = i_;
    if (i_ >= limit) return Raw(first, first);
    const Token& tok = t_[i_];
    switch (tok.kind) {
      case TokenKind::Number:
      case TokenKind::String:
        ++i_;
        return Node(ExprKind::Literal, first, i_);
      case TokenKind::Variable:
        ++i_;
        return Node(ExprKind::Variable, first, i_);
      case TokenKind::Param:
        ++i_;
        return Node(ExprKind::Param, first, i_);
      case TokenKind::Operator:
        if (t_.IsOperator(i_, "("_L1)) return Parenthesized(limit);
        if (t_.IsOperator(i_, "*"_L1)) {
          ++i_;
          return Node(ExprKind::Star, first, i_);
        }
        ++i_;
        return Raw(first, i_);
      case TokenKind::Word:
        if (t_.IsWordIn(i_, {"null", "default"})) {
          ++i_;
          return Node(ExprKind::Literal, first, i_);
        }
        if (t_.IsWord(i_, "case"_L1)) return Case(limit);
        if (t_.IsOperator(i_ + 1, "("_L1) && i_ + 1 < limit) {
          if (t_.IsWord(i_, "exists"_L1)) return Exists(limit);
          if (t_.IsWordIn(i_, {"cast", "try_cast", "convert", "try_convert"})) return Cast(limit);
        }
        if (IsOperatorWord(t_, i_) || IsStatementWord(t_.TextOf(i_)) ||
            t_.IsWordIn(i_, {"from", "where", "group", "having", "order", "into", "end"})) {
          ++i_;
          return Raw(first, i_);
        }
        return NameOrCall(limit);
      case TokenKind::QuotedName:
        return NameOrCall(limit);
      default:
        ++i_;
        return Raw(first, i_);
    }
  }

  int Parenthesized(std::size_t limit) {
    const std::size_t open = i_;
    const std::size_t close = Close(open, limit);
    if (close >= limit) return RawToLimit(open, limit);
    i_ = close + 1;
    if (StartsQuery(open + 1)) {
      const int q = Query(open + 1, close);
      const int e = Node(ExprKind::Subquery, open, close + 1);
      tree_.exprs.back().query = q;
      return e;
    }
    const Level level(*this, open);
    return Node(ExprKind::Paren, open, close + 1, {Range(open + 1, close)});
  }

  // CASE [operand] WHEN a THEN b ... [ELSE c] END
  int Case(std::size_t limit) {
    const Level level(*this, i_);
    const std::size_t first = i_++;
    std::vector<int> children;
    bool ok = true;
    if (!t_.IsWord(i_, "when"_L1)) children.push_back(Expr(limit, 0));
    while (ok && t_.IsWord(i_, "when"_L1) && i_ < limit) {
      ++i_;
      children.push_back(Expr(limit, 0));
      ok = t_.IsWord(i_, "then"_L1) && i_ < limit;
      if (!ok) break;
      ++i_;
      children.push_back(Expr(limit, 0));
    }
    if (ok && t_.IsWord(i_, "else"_L1) && i_ < limit) {
      ++i_;
      children.push_back(Expr(limit, 0));
    }
    ok = ok && t_.IsWord(i_, "end"_L1) && i_ < limit && children.size() >= 2;
    int e;
    if (ok) {
      ++i_;
      e = Node(ExprKind::Case, first, i_, std::move(children));
    } else {
      i_ = CaseEnd(first, limit);
      e = Raw(first, i_);
    }
    return e;
  }

  // After the END of the CASE at `first`, or `limit`.
  std::size_t CaseEnd(std::size_t first, std::size_t limit) const {
    int open = 0;
    for (std::size_t k = first; k < limit; ++k) {
      if (t_.IsOperator(k, "("_L1))
        k = Close(k, limit);
      else if (t_.IsWord(k, "case"_L1))
        ++open;
      else if (t_.IsWord(k, "end"_L1) && --open == 0)
        return k + 1;
    }
    return limit;
  }

  int Exists(std::size_t limit) {
    const std::size_t first = i_;
    const std::size_t open = i_ + 1;
    const std::size_t close = Close(open, limit);
    if (close >= limit) return RawToLimit(first, limit);
    const int q = Query(open + 1, close);
    i_ = close + 1;
    const int e = Node(ExprKind::Exists, first, i_);
    tree_.exprs.back().query = q;
    return e;
  }

  // CAST(x AS type), CONVERT(type, x[, style]): the values are children, the type stays text.
  int Cast(std::size_t limit) {
    const std::size_t first = i_;
    const std::size_t open = i_ + 1;
    const std::size_t close = Close(open, limit);
    if (close >= limit) return RawToLimit(first, limit);
    const Level level(*this, open);
    std::vector<int> children;
    if (t_.IsWordIn(first, {"cast", "try_cast"})) {
      std::size_t as = close;
      for (std::size_t k = open + 1; k < close; ++k) {
        if (t_.IsOperator(k, "("_L1))
          k = Close(k, close);
        else if (t_.IsWord(k, "as"_L1))
          as = k;
      }
      if (as >= close) {
        i_ = close + 1;
        return Raw(first, i_);
      }
      children.push_back(Range(open + 1, as));
    } else {
      const auto parts = Commas(open + 1, close);
      for (std::size_t p = 1; p < parts.size(); ++p)
        children.push_back(Range(parts[p].first, parts[p].second));
    }
    i_ = close + 1;
    const int e = Node(ExprKind::Cast, first, i_, std::move(children));
    tree_.exprs.back().op = t_.SpanOf(first, first + 1);
    return e;
  }

  // name[.name...], name.*, or name(args) [WITHIN GROUP (...)] [OVER (...)]
  int NameOrCall(std::size_t limit) {
    const std::size_t first = i_;
    ++i_;
    while (i_ + 1 < limit && t_.IsOperator(i_, "."_L1)) {
      // a..b leaves a part out
      while (i_ + 1 < limit && t_.IsOperator(i_ + 1, "."_L1)) ++i_;
      if (t_.IsOperator(i_ + 1, "*"_L1)) {
        i_ += 2;
        return Node(ExprKind::Star, first, i_);
      }
      if (t_[i_ + 1].kind != TokenKind::Word && t_[i_ + 1].kind != TokenKind::QuotedName) break;
      i_ += 2;
    }
    if (!t_.IsOperator(i_, "("_L1) || i_ >= limit) return Node(ExprKind::Name, first, i_);
    const std::size_t nameEnd = i_;
    const std::size_t open = i_;
    const std::size_t close = Close(open, limit);
    if (close >= limit) return RawToLimit(first, limit);
    std::vector<int> args;
    const Level level(*this, open);
    if (StartsQuery(open + 1)) {
      const int q = Query(open + 1, close);
      args.push_back(Node(ExprKind::Subquery, open + 1, close));
      tree_.exprs.back().query = q;
    } else if (close > open + 1) {
      for (auto [a, b] : Commas(open + 1, close)) {
        if (t_.IsWordIn(a, {"distinct", "all"}) && a + 1 < b) ++a;
        args.push_back(Range(a, b));
      }
    }
    i_ = close + 1;
    for (const char* clause : {"within", "over"}) {
      std::size_t k = i_;
      if (!t_.IsWord(k, QLatin1StringView(clause))) continue;
      if (t_.IsWord(k + 1, "group"_L1)) ++k;
      if (!t_.IsOperator(k + 1, "("_L1) || k + 1 >= limit) continue;
      const std::size_t end = Close(k + 1, limit);
      if (end >= limit) continue;
      i_ = end + 1;
    }
    const int e = Node(ExprKind::Call, first, i_, std::move(args));
    tree_.exprs.back().op = t_.SpanOf(first, nameEnd);
    return e;
  }

  // ------------------------------------------------------------------------------------------
  // Queries

  int AddQuery(sql::Query q) {
    tree_.queries.push_back(std::move(q));
    return static_cast<int>(tree_.queries.size() - 1);
  }

  // The first word of `words` at the top level of [first, last), or last.
  std::size_t FindTop(std::size_t first, std::size_t last,
                      std::initializer_list<const char*> words) const {
    for (std::size_t k = first; k < last; ++k) {
      if (t_.IsOperator(k, "("_L1))
        k = Close(k, last);
      else if (t_.IsWordIn(k, words))
        return k;
    }
    return last;
  }

  int ReadQuery(std::size_t first, std::size_t last) {
    std::size_t k = first;
    Span with;
    if (t_.IsWord(k, "with"_L1)) {
      ++k;
      while (k < last) {
        ++k;  // the name
        if (t_.IsOperator(k, "("_L1)) k = Close(k, last) + 1;
        if (!t_.IsWord(k, "as"_L1) || !t_.IsOperator(k + 1, "("_L1)) break;
        k = Close(k + 1, last) + 1;
        if (!t_.IsOperator(k, ","_L1)) break;
        ++k;
      }
      k = std::min(k, last);
      with = t_.SpanOf(first, k);
    }
    // ORDER BY, OFFSET, FOR and OPTION close the whole query.
    std::size_t tail = last;
    for (std::size_t j = k; j < last; ++j) {
      if (t_.IsOperator(j, "("_L1)) {
        j = Close(j, last);
      } else if ((t_.IsWord(j, "order"_L1) && t_.IsWord(j + 1, "by"_L1)) ||
                 (t_.IsWord(j, "option"_L1) && t_.IsOperator(j + 1, "("_L1)) ||
                 (t_.IsWord(j, "for"_L1) &&
                  t_.IsWordIn(j + 1, {"xml", "browse", "json", "update", "read"}))) {
        tail = j;
        break;
      }
    }
    const int body = SetOperations(k, tail);
    sql::Query& q = tree_.queries[static_cast<std::size_t>(body)];
    q.span = t_.SpanOf(first, last);
    q.with = with;
    std::size_t j = tail;
    auto clauseEnd = [&](std::size_t from, std::initializer_list<const char*> next) {
      return FindTop(from, last, next);
    };
    if (t_.IsWord(j, "order"_L1) && j < last) {
      const std::size_t end = clauseEnd(j + 2, {"offset", "for", "option"});
      q.orderBy = t_.SpanOf(j + 2, end);
      j = end;
    }
    if (t_.IsWord(j, "offset"_L1) && j < last) {
      const std::size_t end = clauseEnd(j + 1, {"for", "option"});
      q.offset = t_.SpanOf(j, end);
      j = end;
    }
    if (t_.IsWord(j, "for"_L1) && j < last) {
      const std::size_t end = clauseEnd(j + 1, {"option"});
      q.forClause = t_.SpanOf(j, end);
      j = end;
    }
    if (j < last) q.option = t_.SpanOf(j, last);
    return body;
  }

  // Terms joined by UNION [ALL], EXCEPT and INTERSECT, INTERSECT binding first; read without
  // recursion, so that a long UNION ALL chain costs no stack.
  int SetOperations(std::size_t first, std::size_t last) {
    struct Part {
      std::size_t first, last;
      SetOp op;  // the operation before it
    };
    std::vector<Part> parts;
    std::size_t from = first;
    SetOp before = SetOp::None;
    for (std::size_t k = first; k < last; ++k) {
      if (t_.IsOperator(k, "("_L1)) {
        k = Close(k, last);
        continue;
      }
      SetOp op = SetOp::None;
      std::size_t next = k + 1;
      if (t_.IsWord(k, "union"_L1)) {
        op = SetOp::Union;
        if (t_.IsWord(k + 1, "all"_L1)) {
          op = SetOp::UnionAll;
          ++next;
        }
      } else if (t_.IsWord(k, "except"_L1)) {
        op = SetOp::Except;
      } else if (t_.IsWord(k, "intersect"_L1)) {
        op = SetOp::Intersect;
      }
      if (op == SetOp::None) continue;
      parts.push_back({from, k, before});
      before = op;
      from = next;
      k = next - 1;
    }
    parts.push_back({from, last, before});

    auto combine = [&](int left, int right, SetOp op) {
      sql::Query q;
      q.op = op;
      q.left = left;
      q.right = right;
      const sql::Query& l = tree_.queries[static_cast<std::size_t>(left)];
      const sql::Query& r = tree_.queries[static_cast<std::size_t>(right)];
      q.span = t_.SpanOf(l.span.first, r.span.last);
      return AddQuery(std::move(q));
    };
    // INTERSECT runs first, then the others from left to right.
    std::vector<std::pair<int, SetOp>> terms;
    for (const Part& p : parts) {
      const int term = Term(p.first, p.last);
      if (p.op == SetOp::Intersect && !terms.empty())
        terms.back().first = combine(terms.back().first, term, SetOp::Intersect);
      else
        terms.emplace_back(term, p.op);
    }
    int result = terms.front().first;
    for (std::size_t n = 1; n < terms.size(); ++n)
      result = combine(result, terms[n].first, terms[n].second);
    return result;
  }

  // A SELECT, or a query in parentheses.
  int Term(std::size_t first, std::size_t last) {
    sql::Query q;
    q.span = t_.SpanOf(first, last);
    if (t_.IsOperator(first, "("_L1) && t_.Match(first) + 1 == last) {
      q.inner = Query(first + 1, last - 1);
      return AddQuery(std::move(q));
    }
    if (!t_.IsWord(first, "select"_L1)) {
      q.raw = true;
      return AddQuery(std::move(q));
    }
    q.select = Clauses(first, last);
    return AddQuery(std::move(q));
  }

  SelectClauses Clauses(std::size_t first, std::size_t last) {
    SelectClauses s;
    s.span = t_.SpanOf(first, last);
    std::size_t k = first + 1;
    if (t_.IsWordIn(k, {"all", "distinct"})) {
      s.distinct = t_.IsWord(k, "distinct"_L1);
      ++k;
    }
    if (t_.IsWord(k, "top"_L1)) {
      const std::size_t topFirst = k++;
      if (t_.IsOperator(k, "("_L1)) k = Close(k, last);
      ++k;
      if (t_.IsWord(k, "percent"_L1)) ++k;
      if (t_.IsWord(k, "with"_L1) && t_.IsWord(k + 1, "ties"_L1)) k += 2;
      k = std::min(k, last);
      s.top = t_.SpanOf(topFirst, k);
    }
    // The clauses in their order; each one ends where the next one found begins.
    std::size_t at[5];
    static const char* const kClauses[] = {"into", "from", "where", "group", "having"};
    std::size_t from = k;
    for (int c = 0; c < 5; ++c) {
      at[c] = last;
      const std::size_t found = FindTop(from, last, {kClauses[c]});
      if (found < last) {
        at[c] = found;
        from = found + 1;
      }
    }
    const std::size_t listEnd = std::min({at[0], at[1], at[2], at[3], at[4]});
    auto endOf = [&](int c) {
      std::size_t end = last;
      for (int d = c + 1; d < 5; ++d) end = std::min(end, at[d] > at[c] ? at[d] : last);
      return end;
    };
    if (listEnd > k)
      for (const auto& [a, b] : Commas(k, listEnd)) s.items.push_back(Item(a, b));
    if (at[0] < last) s.into = t_.SpanOf(at[0] + 1, endOf(0));
    if (at[1] < last) {
      s.from = t_.SpanOf(at[1] + 1, endOf(1));
      Tables(s.from.first, s.from.last, s.tables);
    }
    if (at[2] < last) s.where = Range(at[2] + 1, endOf(2));
    if (at[3] < last) {
      const std::size_t by = t_.IsWord(at[3] + 1, "by"_L1) ? at[3] + 2 : at[3] + 1;
      s.groupBy = t_.SpanOf(by, endOf(3));
    }
    if (at[4] < last) s.having = Range(at[4] + 1, endOf(4));
    return s;
  }

  // Whether the token at p can end an expression, so that a name after it is an alias.
  bool EndsExpression(std::size_t p) const {
    switch (t_[p].kind) {
      case TokenKind::Number:
      case TokenKind::String:
      case TokenKind::QuotedName:
      case TokenKind::Variable:
      case TokenKind::Param:
        return true;
      case TokenKind::Operator:
        return t_.IsOperator(p, ")"_L1);
      case TokenKind::Word:
        return !IsOperatorWord(t_, p) || t_.IsWord(p, "end"_L1);
      default:
        return false;
    }
  }

  SelectItem Item(std::size_t a, std::size_t b) {
    SelectItem item;
    item.span = t_.SpanOf(a, b);
    const std::size_t n = b - a;
    auto isName = [&](std::size_t k) {
      return t_[k].kind == TokenKind::Word || t_[k].kind == TokenKind::QuotedName ||
             t_[k].kind == TokenKind::String;
    };
    if (n == 0) {
      item.expr = Raw(a, b);
      return item;
    }
    if ((n == 1 && t_.IsOperator(a, "*"_L1)) ||
        (n >= 3 && t_.IsOperator(b - 1, "*"_L1) && t_.IsOperator(b - 2, "."_L1))) {
      item.star = true;
      return item;
    }
    if (n >= 3 && isName(a) && t_.IsOperator(a + 1, "="_L1) && !IsOperatorWord(t_, a)) {
      item.alias = t_.SpanOf(a, a + 1);
      item.aliasForm = SelectItem::AliasForm::Equals;
      item.expr = Range(a + 2, b);
      return item;
    }
    if (n >= 3 && t_.IsWord(b - 2, "as"_L1) && isName(b - 1)) {
      item.alias = t_.SpanOf(b - 1, b);
      item.aliasForm = SelectItem::AliasForm::As;
      item.expr = Range(a, b - 2);
      return item;
    }
    if (n >= 2 && isName(b - 1) && !IsOperatorWord(t_, b - 1) &&
        !t_.IsWordIn(b - 1, {"end", "null"}) && EndsExpression(b - 2) &&
        !t_.IsOperator(b - 2, "."_L1)) {
      item.alias = t_.SpanOf(b - 1, b);
      item.aliasForm = SelectItem::AliasForm::Bare;
      item.expr = Range(a, b - 1);
      return item;
    }
    item.expr = Range(a, b);
    return item;
  }

  // FROM a [AS] x JOIN b ON ..., c CROSS APPLY f(...)
  void Tables(std::size_t first, std::size_t last, std::vector<TableRef>& tables) {
    std::size_t refFirst = first;
    std::size_t joinFirst = first;  // where the join words of the current reference begin
    auto close = [&](std::size_t end, std::size_t nextJoin) {
      if (refFirst < end) tables.push_back(Table(joinFirst, refFirst, end));
      joinFirst = nextJoin;
    };
    for (std::size_t k = first; k < last; ++k) {
      if (t_.IsOperator(k, "("_L1)) {
        k = Close(k, last);
      } else if (t_.IsOperator(k, ","_L1)) {
        close(k, k + 1);
        refFirst = k + 1;
      } else if (t_.IsWordIn(k, {"join", "apply"})) {
        std::size_t words = k;
        while (words > refFirst &&
               t_.IsWordIn(words - 1, {"inner", "cross", "left", "right", "full", "outer", "loop",
                                       "hash", "merge", "remote"}))
          --words;
        close(words, words);
        refFirst = k + 1;
      }
    }
    close(last, last);
  }

  TableRef Table(std::size_t joinFirst, std::size_t first, std::size_t last) {
    TableRef r;
    r.span = t_.SpanOf(joinFirst, last);
    r.join = t_.SpanOf(joinFirst, first);
    std::size_t end = last;
    const std::size_t on = FindTop(first, last, {"on"});
    if (on < last) {
      r.on = Range(on + 1, last);
      end = on;
    }
    std::size_t k = first;
    if (t_.IsOperator(k, "("_L1) && StartsQuery(k + 1)) {
      const std::size_t close = Close(k, end);
      r.query = Query(k + 1, close);
      k = close + 1;
    } else if (k < end && (t_[k].kind == TokenKind::Word || t_[k].kind == TokenKind::QuotedName)) {
      const std::size_t nameFirst = k++;
      while (k + 1 < end && t_.IsOperator(k, "."_L1)) k += 2;
      if (t_.IsOperator(k, "("_L1)) {
        k = Close(k, end) + 1;  // a function's rows
      } else {
        r.name = t_.SpanOf(nameFirst, k);
      }
    }
    if (t_.IsWord(k, "as"_L1)) ++k;
    if (k < end && (t_[k].kind == TokenKind::Word || t_[k].kind == TokenKind::QuotedName) &&
        !t_.IsWordIn(k, {"with", "tablesample"}))
      r.alias = t_.SpanOf(k, k + 1);
    return r;
  }

  const TokenText& t_;
  Tree& tree_;
  std::size_t i_ = 0;
  int depth_ = 0;
};

// ----------------------------------------------------------------------------------------------
// Printing: the source between the children, and each child printed in turn.

class Printer {
 public:
  Printer(const TokenText& t, const Tree& tree) : t_(t), tree_(tree) {}

  QString Expr(int e) {
    QString out;
    PrintExpr(e, out);
    return out;
  }
  QString Query(int q) {
    QString out;
    PrintQuery(q, out);
    return out;
  }

 private:
  struct Region {
    qsizetype start, end;
    int expr = -1, query = -1;
  };

  void Splice(qsizetype start, qsizetype end, std::vector<Region> regions, QString& out) {
    std::stable_sort(regions.begin(), regions.end(),
                     [](const Region& a, const Region& b) { return a.start < b.start; });
    qsizetype at = start;
    for (const Region& r : regions) {
      if (r.end <= r.start) continue;
      out += QStringView(t_.Text()).mid(at, std::max<qsizetype>(0, r.start - at));
      if (r.expr >= 0)
        PrintExpr(r.expr, out);
      else
        PrintQuery(r.query, out);
      at = r.end;
    }
    out += QStringView(t_.Text()).mid(at, std::max<qsizetype>(0, end - at));
  }

  Region ExprRegion(int e) const {
    const Span& s = tree_.exprs[static_cast<std::size_t>(e)].span;
    return {s.start, s.end, e, -1};
  }
  Region QueryRegion(int q) const {
    const Span& s = tree_.queries[static_cast<std::size_t>(q)].span;
    return {s.start, s.end, -1, q};
  }

  void PrintExpr(int e, QString& out) {
    const sql::Expr& x = tree_.exprs[static_cast<std::size_t>(e)];
    std::vector<Region> regions;
    for (int c : x.children) regions.push_back(ExprRegion(c));
    if (x.query >= 0) regions.push_back(QueryRegion(x.query));
    Splice(x.span.start, x.span.end, std::move(regions), out);
  }

  void PrintQuery(int q, QString& out) {
    const sql::Query& x = tree_.queries[static_cast<std::size_t>(q)];
    std::vector<Region> regions;
    if (x.left >= 0) regions.push_back(QueryRegion(x.left));
    if (x.right >= 0) regions.push_back(QueryRegion(x.right));
    if (x.inner >= 0) regions.push_back(QueryRegion(x.inner));
    for (const SelectItem& item : x.select.items)
      if (item.expr >= 0) regions.push_back(ExprRegion(item.expr));
    for (const TableRef& table : x.select.tables) {
      if (table.query >= 0) regions.push_back(QueryRegion(table.query));
      if (table.on >= 0) regions.push_back(ExprRegion(table.on));
    }
    if (x.select.where >= 0) regions.push_back(ExprRegion(x.select.where));
    if (x.select.having >= 0) regions.push_back(ExprRegion(x.select.having));
    Splice(x.span.start, x.span.end, std::move(regions), out);
  }

  const TokenText& t_;
  const Tree& tree_;
};

}  // namespace

int ParseQuery(const TokenText& text, Span span, Tree& tree) {
  return TreeReader(text, tree).Query(span.first, span.last);
}

int ParseExpression(const TokenText& text, Span span, Tree& tree) {
  return TreeReader(text, tree).Range(span.first, span.last);
}

QString Print(const TokenText& text, const Tree& tree, int expr) {
  return Printer(text, tree).Expr(expr);
}

QString PrintQuery(const TokenText& text, const Tree& tree, int query) {
  return Printer(text, tree).Query(query);
}

int ParseStatementQuery(const ParsedBatch& batch, const Statement& statement, Tree& tree) {
  return ParseQuery(batch.Tokens(), statement.span, tree);
}

}  // namespace qav::sql
