#pragma once

#include "sql/TsqlParser.h"

#include <vector>

// Queries and expressions as trees over the tokens of a parsed text.
namespace qav::sql {

// ----------------------------------------------------------------------------------------------
// Expressions

enum class ExprKind : unsigned char {
  Literal,   // a number, string, NULL, DEFAULT
  Name,      // a column or other name, possibly a.b.c
  Variable,  // @v, @@v
  Param,     // ?, :name
  Star,      // * or t.*
  Unary,     // - + ~ NOT: children[0]
  Binary,    // children[0] op children[1]: arithmetic, comparison, AND, OR, LIKE, ...
  Call,      // name(args): children are the arguments; OVER (...) stays inside the span
  Case,      // CASE ...: children are the operand (when simple), WHEN, THEN and ELSE expressions
  Cast,      // CAST(x AS type), TRY_CAST, CONVERT(type, x[, style]): children are the values
  Paren,     // ( expression ): children[0]
  Subquery,  // ( query ): `query` set
  Exists,    // EXISTS ( query )
  In,        // x [NOT] IN (list | query)
  Between,   // x [NOT] BETWEEN a AND b
  IsNull,    // x IS [NOT] NULL
  Raw,       // tokens the parser does not read further
};

struct Expr {
  ExprKind kind = ExprKind::Raw;
  Span span;
  Span op;  // the operator's tokens (Binary, Unary, In, Between, IsNull), the name of a Call
  bool negated = false;       // NOT IN, NOT BETWEEN, NOT LIKE, IS NOT NULL
  std::vector<int> children;  // indexes into Tree::exprs
  int query = -1;             // Subquery, Exists, In: index into Tree::queries
};

// ----------------------------------------------------------------------------------------------
// Queries

struct SelectItem {
  Span span;
  int expr = -1;  // index into Tree::exprs; -1 for "*" and "t.*"
  Span alias;     // the name token, without AS; empty when there is none
  enum class AliasForm : unsigned char { None, As, Bare, Equals } aliasForm = AliasForm::None;
  bool star = false;
};

struct TableRef {
  Span span;  // the whole reference with its alias, hints and join condition
  Span name;  // a table's name (possibly dbo.T), empty for a derived table or a function
  Span alias;
  int query = -1;  // a derived table
  Span join;       // the join words before it ("LEFT OUTER JOIN"), empty for the first table
  int on = -1;     // the ON expression
};

// One SELECT, without the set operations and ORDER BY around it.
struct SelectClauses {
  Span span;
  Span top;  // TOP n [PERCENT] [WITH TIES]
  bool distinct = false;
  std::vector<SelectItem> items;
  Span into;  // the table's name after INTO
  Span from;  // FROM and what follows it up to the next clause
  std::vector<TableRef> tables;
  int where = -1;
  Span groupBy;
  int having = -1;
};

enum class SetOp : unsigned char { None, Union, UnionAll, Except, Intersect };

// A query: a SELECT, a query in parentheses, or a set operation of two queries, with the
// ORDER BY, OFFSET/FETCH, FOR and OPTION that close it.
struct Query {
  Span span;
  Span with;  // WITH name AS (...), ...: the common table expressions before it
  SetOp op = SetOp::None;
  int left = -1, right = -1;  // SetOp: indexes into Tree::queries
  int inner = -1;             // a query in parentheses
  SelectClauses select;       // op None and inner -1: the SELECT
  Span orderBy;               // ORDER BY list
  Span offset;                // OFFSET ... [FETCH ...]
  Span forClause;             // FOR XML / FOR BROWSE / FOR JSON
  Span option;                // OPTION (...)
  bool raw = false;           // text that is no query the parser reads: kept as it stands
  bool Simple() const { return op == SetOp::None && inner < 0; }
};

// The trees of one statement's query and expressions.
class Tree {
 public:
  std::vector<Expr> exprs;
  std::vector<Query> queries;
};

// Reads the query that stands at tokens [first, last) of `text` (a SELECT statement, or the
// query of an INSERT ... SELECT). Returns the index of the query in `tree`. What the parser does
// not read stays a Raw expression, whose text is kept. Raises ETsqlSyntax past kMaxNesting.
int ParseQuery(const TokenText& text, Span span, Tree& tree);
// Reads an expression over the whole span.
int ParseExpression(const TokenText& text, Span span, Tree& tree);

// The text of a node, as read: its children's texts and the text between them.
QString Print(const TokenText& text, const Tree& tree, int expr);
QString PrintQuery(const TokenText& text, const Tree& tree, int query);

// The SELECT that a statement of kind Select holds, with its clauses: index into `tree`.
int ParseStatementQuery(const ParsedBatch& batch, const Statement& statement, Tree& tree);

}  // namespace qav::sql
