// The T-SQL parser: where statements end with and without ";", the set operations' precedence,
// every alias form, nesting bounded by an error, and text that prints back as it was read.
#include "sql/TsqlParser.h"
#include "sql/TsqlTree.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <functional>
#include <random>

namespace qav::sql {
namespace {

// "KIND@line: text" for each statement, the bodies of blocks indented below it.
void Describe(const ParsedBatch& batch, const std::vector<Statement>& statements, int indent,
              QStringList& out) {
  for (const Statement& s : statements) {
    out << QString(indent, u' ') + QStringLiteral("%1@%2: %3")
                                       .arg(QLatin1StringView(StatementKindName(s.kind)))
                                       .arg(s.line)
                                       .arg(batch.TextOf(s).toString().simplified());
    Describe(batch, s.body, indent + 2, out);
  }
}

QString Describe(const QString& text) {
  const ParsedBatch batch(text);
  QStringList out;
  Describe(batch, batch.Statements(), 0, out);
  return out.join(u'\n');
}

TEST(TsqlParserTest, SplitsStatementsWithAndWithoutSemicolons) {
  struct Case {
    const char* sql;
    const char* statements;
  };
  const Case cases[] = {
      {"select 1; select 2", "SELECT@1: select 1\nSELECT@1: select 2"},
      {"SET NOCOUNT ON\nselect top 2 Code from Customer",
       "SET@1: SET NOCOUNT ON\nSELECT@2: select top 2 Code from Customer"},
      {"set nocount on\nupdate t set a = 1\nset xact_abort on delete from t\nset ansi_nulls on "
       "insert t default values",
       "SET@1: set nocount on\nUPDATE@2: update t set a = 1\nSET@3: set xact_abort on\nDELETE@3: "
       "delete from t\nSET@4: set ansi_nulls on\nINSERT@4: insert t default values"},
      {"begin tran\nupdate T set a = 1\ncommit",
       "BEGIN TRANSACTION@1: begin tran\nUPDATE@2: update T set a = 1\nCOMMIT@3: commit"},
      {"CREATE TABLE #x (id int)\nINSERT INTO #x (id) SELECT Id FROM Customer\n"
       "SELECT COUNT(*) FROM #x",
       "CREATE@1: CREATE TABLE #x (id int)\nINSERT@2: INSERT INTO #x (id) SELECT Id FROM "
       "Customer\nSELECT@3: SELECT COUNT(*) FROM #x"},
      {"insert into t values (1) select 2",
       "INSERT@1: insert into t values (1)\nSELECT@1: select 2"},
      {"insert t exec p 1\nprint 'x'", "INSERT@1: insert t exec p 1\nPRINT@2: print 'x'"},
      {"select a from t union all select b from u except select c from v\norder by 1",
       "SELECT@1: select a from t union all select b from u except select c from v order by 1"},
      {"with c as (select 1 a) select * from c\ndelete from t where x in (select 1)",
       "SELECT@1: with c as (select 1 a) select * from c\nDELETE@2: delete from t where x in "
       "(select 1)"},
      {"with c as (select 1 a) update t set a = 1 from c",
       "UPDATE@1: with c as (select 1 a) update t set a = 1 from c"},
      {"update t set a = case when b = 1 then 2 else 3 end where c = 1 set @x = 1",
       "UPDATE@1: update t set a = case when b = 1 then 2 else 3 end where c = 1\nSET@1: set @x "
       "= 1"},
      {"declare @n int = 1\nset @n = @n + 1\nprint @n\nraiserror('x', 16, 1)\nthrow 50000, 'y', 1",
       "DECLARE@1: declare @n int = 1\nSET@2: set @n = @n + 1\nPRINT@3: print @n\nRAISERROR@4: "
       "raiserror('x', 16, 1)\nTHROW@5: throw 50000, 'y', 1"},
      {"if exists (select 1 from t) begin select 1 select 2 end else print 'no'\nselect 3",
       "IF@1: if exists (select 1 from t) begin select 1 select 2 end else print 'no'\n"
       "  BEGIN@1: begin select 1 select 2 end\n    SELECT@1: select 1\n    SELECT@1: select 2\n"
       "  PRINT@1: print 'no'\nSELECT@2: select 3"},
      {"if @a = 1 select 1; else if @a = 2 select 2 else select 3",
       "IF@1: if @a = 1 select 1; else if @a = 2 select 2 else select 3\n  SELECT@1: select 1\n"
       "  IF@1: if @a = 2 select 2 else select 3\n    SELECT@1: select 2\n    SELECT@1: select 3"},
      // the configuration database's schema update, with CR LF line ends
      {"If (Not Exists(Select Name From SysColumns\r\nWhere Id = (Select Id From SysObjects Where "
       "Ltrim(Rtrim(Upper(Name))) = 'MENU') And\r\nLtrim(Rtrim(Upper(Name)))='VERSION'))\r\n"
       "Begin\r\nAlter Table Menu Add Version Integer\r\nEnd\r\nIf Not Exists(select Id From "
       "SysColumns Where Name = 'UserSeeImport')\r\n   Alter Table UserName Add UserSeeImport "
       "Char(1)",
       "IF@1: If (Not Exists(Select Name From SysColumns Where Id = (Select Id From SysObjects "
       "Where Ltrim(Rtrim(Upper(Name))) = 'MENU') And Ltrim(Rtrim(Upper(Name)))='VERSION')) Begin "
       "Alter Table Menu Add Version Integer End\n  BEGIN@4: Begin Alter Table Menu Add Version "
       "Integer End\n    ALTER@5: Alter Table Menu Add Version Integer\nIF@7: If Not "
       "Exists(select Id From SysColumns Where Name = 'UserSeeImport') Alter Table UserName Add "
       "UserSeeImport Char(1)\n  ALTER@8: Alter Table UserName Add UserSeeImport Char(1)"},
      // quotes, comments and CASE ... END inside a block
      {"IF EXISTS (select ')' from t -- (\n) begin select case when a then 'End' end from t; "
       "update t set a = 1 END else BEGIN delete from t end; select 2",
       "IF@1: IF EXISTS (select ')' from t -- ( ) begin select case when a then 'End' end from t; "
       "update t set a = 1 END else BEGIN delete from t end\n  BEGIN@2: begin select case when a "
       "then 'End' end from t; update t set a = 1 END\n    SELECT@2: select case when a then "
       "'End' end from t\n    UPDATE@2: update t set a = 1\n  BEGIN@2: BEGIN delete from t "
       "end\n    DELETE@2: delete from t\nSELECT@2: select 2"},
      {"while @i < 3 set @i = @i + 1\nbegin try select 1/0 end try begin catch print 'e' end "
       "catch",
       "WHILE@1: while @i < 3 set @i = @i + 1\n  SET@1: set @i = @i + 1\nTRY@2: begin try select "
       "1/0 end try begin catch print 'e' end catch\n  BEGIN@2: begin try select 1/0 end try\n"
       "    SELECT@2: select 1/0\n  BEGIN@2: begin catch print 'e' end catch\n    PRINT@2: print "
       "'e'"},
      {"alter table t add constraint f foreign key (a) references p (a) on delete set null on "
       "update cascade\nalter table t drop column c\ndrop table if exists #t\ntruncate table u",
       "ALTER@1: alter table t add constraint f foreign key (a) references p (a) on delete set "
       "null on update cascade\nALTER@2: alter table t drop column c\nDROP@3: drop table if "
       "exists #t\nTRUNCATE@4: truncate table u"},
      {"declare c cursor for select a from t for update\nopen c\nfetch next from c into @a\n"
       "close c\ndeallocate c",
       "DECLARE@1: declare c cursor for select a from t for update\nCURSOR@2: open c\nCURSOR@3: "
       "fetch next from c into @a\nCURSOR@4: close c\nCURSOR@5: deallocate c"},
      {"select * from t order by a offset 5 rows fetch next 5 rows only\nexec sp_who",
       "SELECT@1: select * from t order by a offset 5 rows fetch next 5 rows only\nEXECUTE@2: exec "
       "sp_who"},
      {"grant select, insert, update on t to u\nuse DEMO\nwaitfor delay '00:00:01'",
       "GRANT@1: grant select, insert, update on t to u\nUSE@2: use DEMO\nWAITFOR@3: waitfor "
       "delay '00:00:01'"},
      {"merge t using s on t.a = s.a when matched then update set b = s.b when not matched then "
       "insert (a) values (s.a);\nselect 1",
       "MERGE@1: merge t using s on t.a = s.a when matched then update set b = s.b when not "
       "matched then insert (a) values (s.a)\nSELECT@2: select 1"},
      {"create procedure p as select 1\nselect 2",
       "CREATE MODULE@1: create procedure p as select 1 select 2"},
      {"backup database DEMO to disk = 'c:\\x.bak' with format\nrestore headeronly from disk = 'x'",
       "BACKUP@1: backup database DEMO to disk = 'c:\\x.bak' with format\nRESTORE@2: restore "
       "headeronly from disk = 'x'"},
      {"(select 1) union (select 2)\nsave tran s\nrollback tran s\nreturn",
       "SELECT@1: (select 1) union (select 2)\nSAVE TRANSACTION@2: save tran s\nROLLBACK@3: "
       "rollback tran s\nRETURN@4: return"},
      {"again: print 1 goto again", "LABEL@1: again:\nPRINT@1: print 1\nGOTO@1: goto again"},
      {"\n\n-- a comment\nselect 1/0 /* x */;;\n", "SELECT@4: select 1/0"},
      {"sp_help 'T'\nselect 1", "OTHER@1: sp_help 'T'\nSELECT@2: select 1"},
      {"bulk insert t from 'f.csv'\nwhile 1 = 1 begin break continue end\ndbcc checkdb\n"
       "checkpoint\nkill 52",
       "BULK INSERT@1: bulk insert t from 'f.csv'\nWHILE@2: while 1 = 1 begin break continue "
       "end\n  BEGIN@2: begin break continue end\n    BREAK@2: break\n    CONTINUE@2: "
       "continue\nDBCC@3: dbcc checkdb\nCHECKPOINT@4: checkpoint\nKILL@5: kill 52"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Describe(QString::fromUtf8(c.sql)).toStdString(), c.statements) << c.sql;
}

TEST(TsqlParserTest, StatementsCoverTheBatchAndEndAtTheirSemicolon) {
  const QString text = QStringLiteral("select 1 ; -- one\n  insert t values (1)\nselect 'x;'");
  const ParsedBatch batch(text);
  ASSERT_EQ(batch.Statements().size(), 3u);
  EXPECT_EQ(text.mid(batch.Statements()[0].span.start,
                     batch.Statements()[0].end - batch.Statements()[0].span.start),
            QStringLiteral("select 1 ;"));
  EXPECT_EQ(batch.TextOf(batch.Statements()[2]), u"select 'x;'");
}

TEST(TsqlParserTest, MisplacedBlockWordsFailInSqlServersTerms) {
  struct Case {
    const char* sql;
    int number;
    const char* message;
    int line;
  };
  const Case cases[] = {
      {"select 1\nend", 156, "Incorrect syntax near the keyword 'END'.", 2},
      {"else select 1", 156, "Incorrect syntax near the keyword 'ELSE'.", 1},
      {"begin\nselect 1", 102, "Incorrect syntax near '1'.", 2},
      {"if 1 = 1", 102, "Incorrect syntax near '1'.", 1},
      {"begin try select 1 end try select 2", 156, "Incorrect syntax near the keyword 'SELECT'.",
       1},
  };
  for (const Case& c : cases) {
    try {
      ParsedBatch batch{QString::fromUtf8(c.sql)};
      ADD_FAILURE() << c.sql << " was read";
    } catch (const ETsqlSyntax& e) {
      EXPECT_EQ(e.Number(), c.number) << c.sql;
      EXPECT_EQ(e.Message().toStdString(), c.message) << c.sql;
      EXPECT_EQ(e.Line(), c.line) << c.sql;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Queries and expressions

struct Parsed {
  explicit Parsed(const QString& sql) : text(sql) {
    query = ParseQuery(text, text.SpanOf(0, text.Size()), tree);
  }
  const Query& Q(int i = -1) const {
    return tree.queries[static_cast<std::size_t>(i < 0 ? query : i)];
  }
  QString Of(const Span& s) const { return text.TextOf(s).toString(); }
  QString Shape(int q) const {
    const Query& x = Q(q);
    static const char* const kOps[] = {"", "UNION", "UNION ALL", "EXCEPT", "INTERSECT"};
    if (x.op != SetOp::None)
      return QStringLiteral("(%1 %2 %3)")
          .arg(Shape(x.left), QLatin1StringView(kOps[static_cast<int>(x.op)]), Shape(x.right));
    if (x.inner >= 0) return Shape(x.inner);
    return Of(x.select.items.empty() ? x.span : x.select.items.front().span);
  }
  TokenText text;
  Tree tree;
  int query;
};

TEST(TsqlParserTest, IntersectBindsBeforeUnionAndExcept) {
  const struct {
    const char* sql;
    const char* shape;
  } cases[] = {
      {"select 1 union select 2 intersect select 3", "(1 UNION (2 INTERSECT 3))"},
      {"select 1 intersect select 2 except select 3 union all select 4",
       "(((1 INTERSECT 2) EXCEPT 3) UNION ALL 4)"},
      {"(select 1 union select 2) intersect select 3", "((1 UNION 2) INTERSECT 3)"},
      {"select 1 except select 2 intersect select 3 intersect select 4",
       "(1 EXCEPT ((2 INTERSECT 3) INTERSECT 4))"},
  };
  for (const auto& c : cases) {
    const Parsed p(QString::fromUtf8(c.sql));
    EXPECT_EQ(p.Shape(p.query).toStdString(), c.shape) << c.sql;
  }
  // TOP belongs to its own SELECT; ORDER BY closes the whole query.
  const Parsed p(QStringLiteral("select a from t union all select top 1 b from u order by 1"));
  EXPECT_EQ(p.Q().op, SetOp::UnionAll);
  EXPECT_TRUE(p.Q(p.Q().left).select.top.Empty());
  EXPECT_EQ(p.Of(p.Q(p.Q().right).select.top), u"top 1");
  EXPECT_EQ(p.Of(p.Q().orderBy), u"1");
}

TEST(TsqlParserTest, ReadsEveryAliasForm) {
  const Parsed p(QStringLiteral(
      "select Total = sum(Amount), [My Name] = NameEng, 'Total:' = count(*), a as x, b y, c 'z', "
      "d as [w w], e as \"q\", f, g.h, t.*, *, case when a = 1 then 2 end k, x collate Thai_CI_AS, "
      "-1 n, (select 1) s, 1 + 2 from t"));
  const struct {
    const char* alias;
    SelectItem::AliasForm form;
    const char* expr;
  } expected[] = {
      {"Total", SelectItem::AliasForm::Equals, "sum(Amount)"},
      {"[My Name]", SelectItem::AliasForm::Equals, "NameEng"},
      {"'Total:'", SelectItem::AliasForm::Equals, "count(*)"},
      {"x", SelectItem::AliasForm::As, "a"},
      {"y", SelectItem::AliasForm::Bare, "b"},
      {"'z'", SelectItem::AliasForm::Bare, "c"},
      {"[w w]", SelectItem::AliasForm::As, "d"},
      {"\"q\"", SelectItem::AliasForm::As, "e"},
      {"", SelectItem::AliasForm::None, "f"},
      {"", SelectItem::AliasForm::None, "g.h"},
      {"", SelectItem::AliasForm::None, ""},
      {"", SelectItem::AliasForm::None, ""},
      {"k", SelectItem::AliasForm::Bare, "case when a = 1 then 2 end"},
      {"", SelectItem::AliasForm::None, "x collate Thai_CI_AS"},
      {"n", SelectItem::AliasForm::Bare, "-1"},
      {"s", SelectItem::AliasForm::Bare, "(select 1)"},
      {"", SelectItem::AliasForm::None, "1 + 2"},
  };
  const SelectClauses& s = p.Q().select;
  ASSERT_EQ(s.items.size(), std::size(expected));
  for (std::size_t i = 0; i < s.items.size(); ++i) {
    const SelectItem& item = s.items[i];
    EXPECT_EQ(p.Of(item.alias).toStdString(), expected[i].alias) << i;
    EXPECT_EQ(item.aliasForm, expected[i].form) << i;
    EXPECT_EQ(item.expr >= 0 ? Print(p.text, p.tree, item.expr).toStdString() : "",
              expected[i].expr)
        << i;
  }
  EXPECT_TRUE(s.items[10].star);
  EXPECT_TRUE(s.items[11].star);
  EXPECT_EQ(p.tree.exprs[static_cast<std::size_t>(s.items[15].expr)].kind, ExprKind::Subquery);
  EXPECT_EQ(p.tree.exprs[static_cast<std::size_t>(s.items[16].expr)].kind, ExprKind::Binary);
}

TEST(TsqlParserTest, ReadsTheClausesOfAQuery) {
  const Parsed p(QStringLiteral(
      "with c as (select 1 a) select distinct top (5) percent c.a, d.b into #t from c "
      "left outer join dbo.D d with (nolock) on d.a = c.a cross apply f(c.a) g, (select 2 b) e "
      "where c.a between 1 and 2 and d.b not in (1, 2) group by c.a, d.b having count(*) > 1 "
      "order by 1 desc offset 0 rows fetch next 3 rows only option (recompile)"));
  const Query& q = p.Q();
  EXPECT_EQ(p.Of(q.with), u"with c as (select 1 a)");
  EXPECT_TRUE(q.select.distinct);
  EXPECT_EQ(p.Of(q.select.top), u"top (5) percent");
  EXPECT_EQ(p.Of(q.select.into), u"#t");
  ASSERT_EQ(q.select.tables.size(), 4u);
  EXPECT_EQ(p.Of(q.select.tables[0].name), u"c");
  EXPECT_EQ(p.Of(q.select.tables[1].join), u"left outer join");
  EXPECT_EQ(p.Of(q.select.tables[1].name), u"dbo.D");
  EXPECT_EQ(p.Of(q.select.tables[1].alias), u"d");
  EXPECT_EQ(Print(p.text, p.tree, q.select.tables[1].on), u"d.a = c.a");
  EXPECT_EQ(p.Of(q.select.tables[2].join), u"cross apply");
  EXPECT_EQ(p.Of(q.select.tables[2].alias), u"g");
  EXPECT_GE(q.select.tables[3].query, 0);
  EXPECT_EQ(p.Of(q.select.tables[3].alias), u"e");
  const Expr& where = p.tree.exprs[static_cast<std::size_t>(q.select.where)];
  EXPECT_EQ(where.kind, ExprKind::Binary);
  EXPECT_EQ(p.tree.exprs[static_cast<std::size_t>(where.children[0])].kind, ExprKind::Between);
  const Expr& in = p.tree.exprs[static_cast<std::size_t>(where.children[1])];
  EXPECT_EQ(in.kind, ExprKind::In);
  EXPECT_TRUE(in.negated);
  EXPECT_EQ(in.children.size(), 3u);
  EXPECT_EQ(p.Of(q.select.groupBy), u"c.a, d.b");
  EXPECT_EQ(Print(p.text, p.tree, q.select.having), u"count(*) > 1");
  EXPECT_EQ(p.Of(q.orderBy), u"1 desc");
  EXPECT_EQ(p.Of(q.offset), u"offset 0 rows fetch next 3 rows only");
  EXPECT_EQ(p.Of(q.option), u"option (recompile)");
}

TEST(TsqlParserTest, ExpressionsFollowSqlServersPrecedence) {
  // Each binary node printed in brackets shows how the parser grouped it.
  const struct {
    const char* expr;
    const char* grouped;
  } cases[] = {
      {"a + b * c - d", "((a + (b * c)) - d)"},
      {"a = 1 or b = 2 and not c = 3", "((a = 1) or ((b = 2) and not (c = 3)))"},
      {"-a * b", "(-a * b)"},
      {"a like 'x%' escape '!' and b is not null", "((a like 'x%' escape '!') and b is not null)"},
      {"case when a > 1 then b + 1 else c end + d",
       "(case when (a > 1) then (b + 1) else c end + d)"},
      {"cast(a + 1 as int) + convert(varchar(10), b, 120)",
       "(cast((a + 1) as int) + convert(varchar(10), b, 120))"},
      {"count(distinct a) over (partition by b) / 2",
       "(count(distinct a) over (partition by b) / 2)"},
  };
  for (const auto& c : cases) {
    const TokenText text{QString::fromUtf8(c.expr)};
    Tree tree;
    const int root = ParseExpression(text, text.SpanOf(0, text.Size()), tree);
    std::function<QString(int)> grouped = [&](int e) -> QString {
      const Expr& x = tree.exprs[static_cast<std::size_t>(e)];
      QString out;
      qsizetype at = x.span.start;
      for (int child : x.children) {
        const Expr& cx = tree.exprs[static_cast<std::size_t>(child)];
        out += text.Text().mid(at, cx.span.start - at) + grouped(child);
        at = cx.span.end;
      }
      out += text.Text().mid(at, x.span.end - at);
      return x.kind == ExprKind::Binary ? u'(' + out + u')' : out;
    };
    EXPECT_EQ(grouped(root).toStdString(), c.grouped) << c.expr;
  }
}

TEST(TsqlParserTest, NestingPastTheBoundIsSqlServersError191) {
  const auto nested = [](const char* open, const char* core, const char* close, int depth) {
    QString s = QStringLiteral("select ");
    for (int i = 0; i < depth; ++i) s += QLatin1StringView(open);
    s += QLatin1StringView(core);
    for (int i = 0; i < depth; ++i) s += QLatin1StringView(close);
    return s;
  };
  const QString deep[] = {
      nested("(", "1", ")", 4000),
      nested("case when 1 = 1 then ", "1", " end", 4000),
      nested("(select ", "1", ")", 1000),
      nested("- ", "1", "", 4000),
      QStringLiteral("select 1 where ") + nested("not ", "1 = 1", "", 4000).mid(7),
  };
  for (const QString& sql : deep) {
    const TokenText text(sql);
    Tree tree;
    try {
      ParseQuery(text, text.SpanOf(0, text.Size()), tree);
      ADD_FAILURE() << sql.left(40).toStdString() << " was read";
    } catch (const ETsqlSyntax& e) {
      EXPECT_EQ(e.Number(), 191);
      EXPECT_EQ(e.Message(), NestedTooDeeplyText());
    }
  }
  // Blocks nest under the same bound; everyday depths read.
  QString blocks;
  for (int i = 0; i < 4000; ++i) blocks += QStringLiteral("begin ");
  EXPECT_THROW(ParsedBatch{blocks + QStringLiteral("select 1")}, ETsqlSyntax);
  const TokenText everyday(nested("(", "1", ")", 100));
  Tree tree;
  EXPECT_NO_THROW(ParseQuery(everyday, everyday.SpanOf(0, everyday.Size()), tree));
  // A long chain of one operator is read without nesting.
  QString chain = QStringLiteral("select a");
  for (int i = 0; i < 5000; ++i) chain += QStringLiteral(" + a");
  const TokenText flat(chain);
  EXPECT_NO_THROW(ParseQuery(flat, flat.SpanOf(0, flat.Size()), tree));
}

// What the parser cannot read stays raw text: open parentheses, strings, names and comments, and
// forms it does not know, print back byte for byte.
TEST(TsqlParserTest, KeepsUnreadFormsAsRawText) {
  const char* const forms[] = {
      "select (1 + ",
      "select case when a",
      "select cast(x",
      "select 'abc",
      "select [a",
      "select a /* open",
      "select trim(' ' from x)",
      "select a from t where x = ",
      "select a.. b from t",
      "select x is not",
      "select 1 in",
      "select a between 1",
      "select @@spid, $5, :p, ?, ~1",
      "select * from t with (nolock) tablesample (10 percent) pivot (sum(a) for b in ([x])) p",
  };
  for (const char* form : forms) {
    const TokenText text{QString::fromUtf8(form)};
    Tree tree;
    const int q = ParseQuery(text, text.SpanOf(0, text.Size()), tree);
    EXPECT_EQ(PrintQuery(text, tree, q), text.TextOf(text.SpanOf(0, text.Size()))) << form;
  }
}

// Parse-then-print gives every statement's text back, what the parser does not understand
// included, over bounded random token soups.
TEST(TsqlParserTest, PrintsBackWhatItRead) {
  const char* const vocabulary[] = {
      "select",  "from",     "where",     "(",      ")",      ",",    "a",       "[b c]",
      "'x''y'",  "N'ไทย'",   "1",         "2.5",    "+",      "-",    "*",       "/",
      "=",       "<>",       "and",       "or",     "not",    "in",   "between", "like",
      "is",      "null",     "case",      "when",   "then",   "else", "end",     "as",
      "union",   "all",      "intersect", "except", "order",  "by",   "group",   "having",
      "top",     "distinct", "into",      "join",   "on",     "left", "exists",  "cast",
      "convert", "over",     "@v",        "?",      ".",      "t.*",  "/* c */", "-- d\n",
      ";",       "insert",   "update",    "set",    "delete", "if",   "begin",   "declare",
      "with",    "collate",  "#t"};
  std::mt19937 random(38);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(vocabulary) - 1);
  std::uniform_int_distribution<int> length(1, 30);
  for (int n = 0; n < 3000; ++n) {
    QString sql = QStringLiteral("select ");
    const int count = length(random);
    for (int k = 0; k < count; ++k) sql += QString::fromUtf8(vocabulary[pick(random)]) + u' ';
    try {
      const ParsedBatch batch(sql);
      for (const Statement& s : batch.Statements()) {
        if (s.kind != StatementKind::Select) continue;
        Tree tree;
        const int q = ParseStatementQuery(batch, s, tree);
        ASSERT_EQ(PrintQuery(batch.Tokens(), tree, q), batch.TextOf(s)) << sql.toStdString();
        for (std::size_t e = 0; e < tree.exprs.size(); ++e)
          ASSERT_EQ(Print(batch.Tokens(), tree, static_cast<int>(e)),
                    batch.TextOf(tree.exprs[e].span))
              << sql.toStdString();
      }
    } catch (const ETsqlSyntax&) {
      // a misplaced END or ELSE: refused as a whole, as SQL Server refuses it
    }
  }
}

TEST(TsqlParserTest, IsLinearInTheLengthOfTheScript) {
  // 20,000 statements without ";" would take minutes if each one scanned the rest.
  QString script;
  for (int i = 0; i < 20000; ++i)
    script += QStringLiteral("INSERT [dbo].[T] ([Id], [Name]) VALUES (%1, N'บริษัท %1')\n").arg(i);
  const ParsedBatch batch(script);
  ASSERT_EQ(batch.Statements().size(), 20000u);
  EXPECT_EQ(batch.Statements().back().line, 20000);
}

}  // namespace
}  // namespace qav::sql
