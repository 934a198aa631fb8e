#pragma once

// Everyday T-SQL and the answers SQL Server documents for it, for the embedded back end and for
// clients of the TDS test server. Dates are fixed; DEMO's customers are the demo's fixed facts.
#include "db/Backend.h"
#include "db/DateTime.h"
#include "db/Errors.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

namespace qav::test {

struct TsqlCase {
  const char* name;
  const char* sql;  // run on DEMO as one batch
  // The last result: rows on lines, columns split by "|", NULL for null. "!" and a text: the
  // statement fails with a message holding that text, which may begin with SQL Server's number.
  const char* expected;
};

inline const TsqlCase kTsqlCases[] = {
    // + concatenates texts, adds numbers, and fails when a text is no number
    {"ConcatColumns", "select Code + '-' + NameEng from Customer where Code = 'C0001'",
     "C0001-Siam Trading Co., Ltd."},
    {"ConcatWithNull", "select Code + '-' + NameEng from Customer where Code = 'C0003'", "NULL"},
    {"TextPlusNumberFails", "select 'a' + 1",
     "!245 Conversion failed when converting the varchar value 'a' to data type int."},
    {"TextPlusDecimalFails", "select 'x' + 5.5",
     "!8114 Error converting data type varchar to numeric."},
    {"NumericTextPlusNumber", "select '1' + 1, 1 + 2 * 3, 10 - 2 - 3", "2|7|5"},
    {"CaseThenConcat", "select case when 1 = 1 then 'a' end + 'b', 'x' + cast(1 + 2 as varchar)",
     "ab|x3"},
    {"UnicodeLiterals", "select N'บริษัท' + N' จำกัด', N'it''s'", "บริษัท จำกัด|it's"},
    {"IntegerDivision", "select 7 / 2, -7 / 2, 7 % 3, 7 / 2.0", "3|-3|1|3.5"},
    {"DivideByZero", "select 1 / 0", "!8134 Divide by zero error encountered."},
    {"DatePlusDays", "select convert(varchar(10), convert(datetime, '2024-01-31') + 1, 120)",
     "2024-02-01"},
    // Arithmetic: integer typing, overflow and implicit conversion
    {"IntOverflows", "select 2147483647 + 1",
     "!8115 Arithmetic overflow error converting expression to data type int."},
    {"IntOverflowsInAProduct", "select count(*) from Customer where Id * 65536 * 65536 > 0",
     "!8115 Arithmetic overflow error converting expression to data type int."},
    {"WiderTypesDoNotOverflow",
     "declare @b bigint = 2147483647; select @b + 1, cast(2147483647 as bigint) * 2, "
     "2147483648 + 1, 2147483647 + 1.0",
     "2147483648|4294967294|2147483649|2147483648"},
    // Literals never quietly rounded: beyond 38 digits 1007, a float beyond its range 168, and
    // what only SQL Server's numeric(38) holds exactly is refused here, not rounded
    {"NumberOfMoreThan38Digits", "select 123456789012345678901234567890123456789",
     "!The number '123456789012345678901234567890123456789' is out of the range for numeric "
     "representation (maximum precision 38)."},
    {"FloatBeyondItsRange", "select 1e400",
     "!The floating point value '1e400' is out of the range of computer representation (8 "
     "bytes)."},
    {"WholeNumberBeyondBigint", "select 12345678901234567890123",
     "!the embedded demo suite does not support the number 12345678901234567890123"},
    {"LongFractionBeyondADouble", "select 1.234567890123456789",
     "!the embedded demo suite does not support the number 1.234567890123456789"},
    {"LiteralsThatFitStayAsWritten", "select 9223372036854775807, 1.50000000000000000000",
     "9223372036854775807|1.5"},
    {"Modulo", "select 7 % -3, -7 % 3, 7.5 % 2", "1|-1|1.5"},
    {"ModuloByZero", "select 1 % 0", "!8134 Divide by zero error encountered."},
    {"AvgOfIntsIsAnInt", "select avg(Id), sum(Id), avg(Id * 1.0) from Customer where Id <= 4",
     "2|10|2.5"},
    {"AvgOfIntsTruncatesTowardZero", "select avg(v) from (select -5 as v union all select -6) t",
     "-5"},
    {"SumOfBigintsDoesNotOverflow",
     "create table #big (b bigint, i int); insert into #big values (2147483647, 2147483647), "
     "(1, 1); select sum(b), avg(b), count(i) from #big",
     "2147483648|1073741824|2"},
    {"SumOfIntsOverflows",
     "create table #ints (i int); insert into #ints values (2147483647), (1); "
     "select sum(i) from #ints",
     "!8115 Arithmetic overflow error converting expression to data type int."},
    {"WholeDecimalsStayDecimals",
     "create table #money (m money, q decimal(18, 4)); insert into #money values (10, 5), (11, 6); "
     "select avg(q), sum(case when m > 10 then m else 0 end) / 4, avg(m), min(q) / 2 from #money",
     "5.5|2.75|10.5|2.5"},
    {"WholeMoneyColumnDividesExactly",
     "select count(*) from Customer where CreditLimit / 7 <> CreditLimit * 1.0 / 7", "0"},
    {"PowerHasItsArgumentsType", "select power(2, -1), power(2.0, -1), power(2, 10), power(3, 0.5)",
     "0|0.5|1024|1"},
    {"PowerOverflows", "select power(2, 31)",
     "!8115 Arithmetic overflow error converting expression to data type int."},
    {"RoundNegativeLength",
     "select round(1234.567, -2), round(1250, -2), round(-1250, -2), round(1234.567, 1), "
     "round(1234.567, 1, 1), round(748.58, -4), round(1299, -2, 1)",
     "1200|1300|-1300|1234.6|1234.5|0|1200"},
    {"TextComparedWithNumber",
     "select case when '9' < 10 then 1 else 0 end, case when 10 = '10' then 1 else 0 end, "
     "case when ' 10 ' > 9 then 1 else 0 end, (select count(*) from Customer where Id = '5')",
     "1|1|1|1"},
    {"TextComparedWithBit",
     "select (select count(*) from Customer where Blocked = 'false') - (select count(*) from "
     "Customer where Blocked = 0), (select count(*) from Customer where Blocked = 'TRUE') - "
     "(select count(*) from Customer where Blocked = 1)",
     "0|0"},
    {"TextInListsAndBetween",
     "select (select count(*) from Customer where Id in ('1', '2', 3)), case when '5' between 1 "
     "and 10 then 1 else 0 end, case when 5 not in ('4', '6') then 1 else 0 end, case when "
     "'10' not between 9 and 11 then 1 else 0 end",
     "3|1|1|0"},
    {"TextColumnInNumbersFails", "select count(*) from Customer where Code in (1, 2)",
     "!245 Conversion failed when converting the varchar value 'C0"},
    {"TextThatIsNoNumberFailsComparison", "select case when 'abc' = 1 then 1 else 0 end",
     "!245 Conversion failed when converting the varchar value 'abc' to data type int."},
    {"TextColumnComparedWithNumber", "select count(*) from Customer where Code = 1",
     "!245 Conversion failed when converting the varchar value 'C0"},
    {"TextTimesText", "select '10' * '2'",
     "!8117 Operand data type varchar is invalid for multiply operator."},
    {"TextModuloText", "select '10' % '3'",
     "!8117 Operand data type varchar is invalid for modulo operator."},
    {"TextMeetsNumber", "select '10' * 2, '7' / 2, '' + 1, 1.5 * '2'", "20|3|1|3"},
    {"IsNullTakesTheFirstType",
     "select isnull(cast(null as varchar(2)), 'abcdef'), isnull(cast(null as int), 2.7), "
     "isnull(cast(null as char(3)), 'a') + 'x'",
     "ab|2|a  x"},
    {"CastEmptyText",
     "select cast('' as int), cast(' ' as bigint), cast('' as float), convert(int, ''), "
     "cast('' as bit)",
     "0|0|0|0|0"},
    {"CastEmptyTextToDecimalFails", "select cast('' as decimal(10, 2))",
     "!8114 Error converting data type varchar to numeric."},
    // Lexical forms: nested comments, "]]" in a bracketed name, a line comment ended by a CR
    {"NestedComments", "/* a /* b */ c */ select 2 as x", "2"},
    {"BracketedNameWithBracket", "select [a]]b] from (select 7 as [a]]b]) t", "7"},
    {"LineCommentEndedByCr", "select 1 as a -- note\r, 2 as b", "1|2"},
    {"UnclosedQuote", "select 'abc",
     "!105 Unclosed quotation mark after the character string 'abc'."},
    {"MissingEndComment", "select 1 /* a /* b */", "!113 Missing end comment mark '*/'."},
    // Statements on lines of their own need no ";": each runs in turn, a block as a whole
    {"SetThenSelectOnTheNextLine", "set nocount on\nselect top 2 Code from Customer order by Code",
     "C0001\nC0002"},
    {"DeclareSetSelectOnLinesOfTheirOwn",
     "declare @perLine int\nset @perLine = 2\nselect @perLine * 3", "6"},
    {"TableMadeAndChangedOnLinesOfTheirOwn",
     "create table #lines (a int)\ninsert into #lines values (1)\nupdate #lines set a = a + 1\n"
     "select a from #lines",
     "2"},
    {"TwoSelectsOnTwoLines", "select 1 as a\nselect 2 as b", "2"},
    {"InsertSelectIntoATableMadeOnTheLineBefore",
     "CREATE TABLE #x (id int)\nINSERT INTO #x (id) SELECT Id FROM Customer\n"
     "SELECT COUNT(*) FROM #x",
     "200"},
    {"TransactionOnLinesOfTheirOwn",
     "begin tran\nupdate Customer set NameEng = NameEng where Code = 'C0001'\ncommit\n"
     "select count(*) from Customer where Code = 'C0001'",
     "1"},
    {"ScriptGeneratorInserts",
     "CREATE TABLE [dbo].[#gen]([Id] [int] NOT NULL, [Name] [nvarchar](40) NULL)\n"
     "INSERT [dbo].[#gen] ([Id], [Name]) VALUES (1, N'บริษัท หนึ่ง')\n"
     "INSERT [dbo].[#gen] ([Id], [Name]) VALUES (2, NULL)\n"
     "SET NOCOUNT ON\nUPDATE [dbo].[#gen] SET [Name] = N'สอง' WHERE [Id] = 2\n"
     "SELECT [Name] FROM [dbo].[#gen] ORDER BY [Id]",
     "บริษัท หนึ่ง\nสอง"},
    {"IfElseWithoutSemicolons",
     "declare @n int = 3\nif @n > 2 select 'big' else select 'small'\nif @n > 5\nbegin\n"
     "  select 'huge'\nend\nelse\n  select 'not huge'",
     "not huge"},
    {"NestedTransactionsCommitAtTheOutermost",
     "begin transaction\nbegin tran\ncreate table #t1 (a int)\ncommit\nrollback\n"
     "select count(*) from #t1",
     "!208 Invalid object name '#t1'."},
    {"CommitWithoutBegin", "commit",
     "!3902 The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {"MisplacedEnd", "select 1\nend", "!156 Incorrect syntax near the keyword 'END'."},
    {"BlockOfTwoSelects", "if 1 = 1\nbegin\n  select 1 as a\n  select 2 as b\nend", "2"},
    // Texts compare as SQL Server's default collation compares them: case and trailing blanks
    // do not count, whoever made the value or the table
    {"CaseBlindLiterals",
     "select case when 'a' = 'A' then 1 else 0 end, case when N'Ab' > N'aA' then 1 else 0 end",
     "1|1"},
    {"TrailingBlanksDoNotCount",
     "select case when 'a' = 'a  ' then 1 else 0 end, case when 'a' < 'a ' then 1 else 0 end",
     "1|0"},
    {"DistinctAndUnionOfLiterals",
     "select count(*) from (select 'a' as v union select 'A ' union select 'b') t", "2"},
    {"MaxAndOrderOfLiterals",
     "select max(v) from (select 'b' as v union all select 'C' union all select 'a') t", "C"},
    {"CreatedTableCompares",
     "create table #names (v varchar(10)); insert into #names values ('Abc  '), ('abc'); "
     "select count(*), count(distinct v) from #names where v = 'ABC'",
     "2|1"},
    {"SuiteColumnCompares", "select count(*) from Customer where Code = 'c0001   '", "1"},
    // LIKE with SQL Server's patterns
    {"LikeSets",
     "select case when 'b' like '[a-c]' then 1 else 0 end, case when 'b' like '[^a]' then 1 "
     "else 0 end, case when 'a_b' like 'a[_]b' then 1 else 0 end, case when 'axb' like "
     "'a[_]b' then 1 else 0 end",
     "1|1|1|0"},
    {"LikeCaseEscapeAndBlanks",
     "select case when 'ABC' like 'a%' then 1 else 0 end, case when '10%' like '10!%' escape "
     "'!' then 1 else 0 end, case when '100' like '10!%' escape '!' then 1 else 0 end, case "
     "when 'a  ' like 'a' then 1 else 0 end, case when 'a' like 'a ' then 1 else 0 end",
     "1|1|0|1|0"},
    {"LikeThai", "select case when N'บริษัท สยาม' like N'บริษัท%' then 1 else 0 end", "1"},
    {"PatIndexSets", "select patindex('%[0-9]%', 'abc42'), patindex('%[^a-c]%', 'ABCd')", "4|4"},
    // TOP, OFFSET ... FETCH
    {"Top", "select top 3 Code from Customer order by Code", "C0001\nC0002\nC0003"},
    {"TopVariable", "declare @n int = 2; select top (@n) Code from Customer order by Code desc",
     "C0200\nC0199"},
    {"TopPercent", "select count(*) from (select top 10 percent Code from Customer) t", "20"},
    {"TopPercentCountsTheTranslatedQuery",
     "select top 50 percent Code from Customer where Code + '' = Code and Code < 'C0004' "
     "order by Code",
     "C0001\nC0002"},
    {"TopPercentInto",
     "select top 50 percent Code into #half from Customer where Code < 'C0004'; "
     "select count(*) from #half",
     "2"},
    {"TopWithTies", "select top 1 with ties Code from Customer order by Code",
     "!50000 the embedded demo suite does not support TOP ... WITH TIES"},
    {"OffsetFetch", "select Code from Customer order by Code offset 1 rows fetch next 2 rows only",
     "C0002\nC0003"},
    // table hints, schema, SELECT ... INTO, TRUNCATE
    {"TableHints",
     "select count(*) from dbo.Customer with (nolock) where Code in ('C0001', 'C0002')", "2"},
    {"SelectInto",
     "select Code into #picked from Customer where Code like 'C000%'; "
     "select count(*) from #picked",
     "9"},
    {"Truncate",
     "create table #scratch (a int); insert into #scratch values (1); truncate table #scratch; "
     "select count(*) from #scratch",
     "0"},
    // CONVERT and CAST
    {"ConvertStyle101",
     "select convert(varchar, convert(datetime, '2024-01-05 13:05:09.123'), 101)", "01/05/2024"},
    {"ConvertStyle103", "select convert(varchar(10), convert(datetime, '2024-12-10'), 103)",
     "10/12/2024"},
    {"ConvertStyle104", "select convert(varchar, convert(datetime, '2024-01-05'), 104)",
     "05.01.2024"},
    {"ConvertStyle105", "select convert(varchar, convert(datetime, '2024-01-05'), 105)",
     "05-01-2024"},
    {"ConvertStyle111", "select convert(varchar, convert(datetime, '2024-01-05'), 111)",
     "2024/01/05"},
    {"ConvertStyle112", "select convert(varchar, convert(datetime, '2024-01-05'), 112)",
     "20240105"},
    {"ConvertStyle120",
     "select convert(varchar, convert(datetime, '2024-01-05 13:05:09.123'), 120)",
     "2024-01-05 13:05:09"},
    {"ConvertStyle121",
     "select convert(varchar, convert(datetime, '2024-01-05 13:05:09.123'), 121)",
     "2024-01-05 13:05:09.123"},
    {"ConvertStyle126",
     "select convert(varchar, convert(datetime, '2024-01-05 13:05:09.123'), 126)",
     "2024-01-05T13:05:09.123"},
    {"ConvertDefaultStyle", "select convert(varchar, convert(datetime, '2024-01-05 13:05'))",
     "Jan  5 2024  1:05PM"},
    {"ConvertReadsStyle", "select convert(varchar, convert(datetime, '31/01/2024', 103), 112)",
     "20240131"},
    {"ConvertBadStyle", "select convert(varchar, convert(datetime, '2024-01-05'), 99)",
     "!281 99 is not a valid style number"},
    {"ConvertToInt", "select convert(int, '42') + 1, convert(int, 4.7), convert(bit, 5)", "43|4|1"},
    {"ConvertToIntFails", "select convert(int, '4.2')",
     "!245 Conversion failed when converting the varchar value '4.2' to data type int."},
    {"CastToSqlServerTypes",
     "select cast('2024-01-31' as date), cast(3.7 as int), cast(2.5 as decimal(10, 0)), "
     "cast('abcdef' as varchar(3)), cast(123 as varchar(2))",
     "2024-01-31|3|3|abc|*"},
    {"CastToDateFails", "select cast('2024-02-30' as datetime)",
     "!241 Conversion failed when converting date and/or time from character string."},
    // date functions
    {"DateAddDay", "select dateadd(day, 1, '2024-01-31')", "2024-02-01 00:00:00.000"},
    {"DateAddMonthClamps", "select dateadd(month, 1, '2024-01-31'), dateadd(yy, -1, '2024-02-29')",
     "2024-02-29 00:00:00.000|2023-02-28 00:00:00.000"},
    {"DateAddHour", "select dateadd(hour, 25, '2024-01-31 00:00')", "2024-02-01 01:00:00.000"},
    {"DateAddAcrossLeapDayAndYears",
     "select dateadd(minute, -90, '2024-03-01 00:30'), dateadd(ms, 3, '2024-12-31 23:59:59.997'), "
     "dateadd(week, -1, '1900-01-03'), dateadd(quarter, 4, '2023-02-28 10:00:00.123')",
     "2024-02-29 23:00:00.000|2025-01-01 00:00:00.000|1899-12-27 00:00:00.000|"
     "2024-02-28 10:00:00.123"},
    {"DateAddOverflowFails", "select dateadd(year, 8000, '2024-01-01')",
     "!517 Adding a value to a 'datetime' column caused an overflow."},
    {"DateAddHugeCountFails", "select dateadd(day, 3000000, '2024-01-01')",
     "!517 Adding a value to a 'datetime' column caused an overflow."},
    {"DateDiffCountsBoundaries",
     "select datediff(day, '2024-01-31 23:59', '2024-02-01 00:01'), "
     "datediff(month, '2024-01-31', '2024-02-01'), datediff(year, '2023-12-31', '2024-01-01'), "
     "datediff(week, '2024-01-06', '2024-01-07'), datediff(hour, '2024-01-01 10:59', "
     "'2024-01-01 11:00'), datediff(day, '2024-03-01', '2024-02-01')",
     "1|1|1|1|1|-29"},
    {"DatePart",
     "select datepart(weekday, '2024-01-31'), datepart(quarter, '2024-05-01'), "
     "datepart(dayofyear, '2024-03-01'), datepart(week, '2024-01-07'), "
     "datepart(iso_week, '2024-12-30'), datepart(minute, '2024-01-01 10:42')",
     "4|2|61|2|1|42"},
    {"DateName", "select datename(month, '2024-01-31'), datename(weekday, '2024-01-31')",
     "January|Wednesday"},
    {"YearMonthDay", "select year('2024-01-31'), month('2024-01-31'), day('2024-01-31')",
     "2024|1|31"},
    {"EndOfMonth", "select eomonth('2024-02-10'), eomonth('2024-01-31', 1)",
     "2024-02-29|2024-02-29"},
    {"GetDateIsADateTime", "select datediff(day, getdate(), dateadd(day, 2, getdate()))", "2"},
    // text functions
    {"LeftRight", "select left(NameEng, 4), right('abcdef', 2) from Customer where Code = 'C0001'",
     "Siam|ef"},
    {"LeftNegativeFails", "select left('abc', -1)",
     "!537 Invalid length parameter passed to the left function."},
    {"Substring", "select substring('abcdef', 2, 3), substring('abc', 0, 2)", "bcd|a"},
    // characters as SQL Server's nvarchar counts them: Thai one each, an emoji two
    {"TextFunctionsCountCharacters",
     "select left(N'กขค😀d', 5), right(N'a😀', 2), substring(N'ทดสอบ', 2, 3), "
     "left(N'ทดสอบ', 10), right(N'ทดสอบ', 0), substring(N'😀x', 3, 1)",
     "กขค😀|😀|ดสอ|ทดสอบ||x"},
    {"CharIndex",
     "select charindex('a', NameEng), charindex('S', 'siam'), charindex('a', 'banana', 3), "
     "charindex('z', 'abc') from Customer where Code = 'C0001'",
     "3|1|4|0"},
    {"PatIndex", "select patindex('%ter%', 'interesting data'), patindex('%[0-9]%', 'abc123')",
     "3|4"},
    {"Stuff", "select stuff('abcdef', 2, 3, 'ijklmn')", "aijklmnef"},
    {"Replicate", "select replicate('ab', 3), replicate('x', -1)", "ababab|NULL"},
    {"Space", "select 'a' + space(3) + 'b'", "a   b"},
    {"Str", "select str(123.45, 6, 1), str(123.45, 2, 2), str(3.5)", " 123.5|**|         4"},
    {"NullFunctions", "select isnull(NULL, 'x'), iif(1 > 2, 'a', 'b'), coalesce(NULL, NULL, 3)",
     "x|b|3"},
    // FORMAT
    {"FormatDate", "select format(convert(datetime, '2024-12-10 13:05:09'), 'dd/MM/yyyy')",
     "10/12/2024"},
    {"FormatDateTime",
     "select format(convert(datetime, '2024-01-31 13:05:09'), 'yyyy-MM-dd HH:mm:ss'), "
     "format(convert(datetime, '2024-01-31'), 'dddd d MMMM yyyy'), "
     "format(convert(datetime, '2024-01-31 13:05'), 'hh:mm tt')",
     "2024-01-31 13:05:09|Wednesday 31 January 2024|01:05 PM"},
    {"FormatNumber",
     "select format(1234567.891, '#,##0.00'), format(1234.5, 'N2'), format(-0.5, '0.00'), "
     "format(42, 'D5'), format(0.125, '0.00'), format(1234.5, 'N0')",
     "1,234,567.89|1,234.50|-0.50|00042|0.13|1,235"},
    // variables and statements of a script
    {"DeclareAndSet",
     "declare @d datetime = '2024-01-31'; set @d = dateadd(day, 1, @d); "
     "select convert(varchar(10), @d, 103)",
     "01/02/2024"},
    {"DeclareConverts",
     "declare @i int = '5', @s varchar(3) = 'abcdef'; set @i += 1; select @i, @s", "6|abc"},
    {"SelectAssigns",
     "declare @c varchar(20); select @c = Code from Customer where Code = 'C0002'; select @c",
     "C0002"},
    {"UndeclaredVariable", "select @nowhere",
     "!137 Must declare the scalar variable \"@nowhere\"."},
    {"MergeRefused",
     "merge into Customer using Customer s on 1 = 0 when not matched then insert default values",
     "!50000 the embedded demo suite does not support MERGE"},
    {"CursorRefused", "declare c cursor for select 1",
     "!50000 the embedded demo suite does not support cursors"},
    // Errors SQL Server raises, FORMAT patterns and datetime ticks
    {"UngroupedColumn", "select Code, count(*) from dbo.Customer",
     "!8120 Column 'dbo.Customer.Code' is invalid in the select list because it is not contained "
     "in "
     "either an aggregate function or the GROUP BY clause."},
    {"UngroupedColumnBesideGroupedOnes",
     "select c.Code, upper(c.NameEng) + '!', count(*) from Customer c group by c.Code",
     "!8120 Column 'c.NameEng' is invalid in the select list"},
    {"HavingGroupsTheQuery", "select Code from Customer having count(*) > 1",
     "!8120 Column 'Customer.Code' is invalid in the select list"},
    {"UngroupedColumnInHaving",
     "select left(Code, 2), count(*) from Customer group by left(Code, 2) having NameEng > ''",
     "!8121 Column 'Customer.NameEng' is invalid in the HAVING clause because it is not contained "
     "in "
     "either an aggregate function or the GROUP BY clause."},
    {"UngroupedColumnInOrderBy",
     "select left(Code, 2), count(*) n from Customer group by left(Code, 2) order by n, NameEng",
     "!8127 Column \"Customer.NameEng\" is invalid in the ORDER BY clause because it is not "
     "contained "
     "in either an aggregate function or the GROUP BY clause."},
    {"GroupedFormsRun",
     "select left(Code, 2) p, count(*), convert(varchar(7), count(*)) + ' rows', "
     "count(distinct Code) n, case when count(*) > 1 then 'many' end, "
     "datediff(day, min(CreateDate), max(CreateDate)) - datediff(day, min(CreateDate), "
     "max(CreateDate)), rank() over (order by count(*)) from Customer group by left(Code, 2)",
     "C0|200|200 rows|200|many|0|1"},
    {"WindowIsNoAggregate", "select count(*) over (), Code from Customer where Code = 'C0001'",
     "1|C0001"},
    {"DistinctOrderedByUnselected", "select distinct left(Code, 2) from Customer order by NameEng",
     "!145 ORDER BY items must appear in the select list if SELECT DISTINCT is specified."},
    {"DistinctOrderedByAlias",
     "select distinct Code as c from Customer where Code < 'C0003' order by c desc",
     "C0002\nC0001"},
    {"OffsetWithoutOrderBy", "select Code from Customer offset 1 rows",
     "!102 Incorrect syntax near '1'."},
    {"TopWithOffset", "select top 1 Code from Customer order by Code offset 1 rows",
     "!10741 A TOP cannot be used in the same query or sub-query as an OFFSET."},
    {"NegativeOffset", "select Code from Customer order by Code offset -1 rows",
     "!10742 The offset specified in an OFFSET clause may not be negative."},
    {"FetchNoRows", "select Code from Customer order by Code offset 0 rows fetch next 0 rows only",
     "!10744 The number of rows provided for a FETCH clause must be greater then zero."},
    {"OrderedSubquery", "select count(*) from (select Code from Customer order by Code) t",
     "!1033 The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, "
     "and "
     "common table expressions, unless TOP, OFFSET or FOR XML is also specified."},
    {"OrderedSubqueryWithTop",
     "select count(*) from (select top 5 Code from Customer order by Code) t", "5"},
    {"SetFromSubqueryOfRows",
     "declare @c varchar(10); set @c = (select Code from Customer where Code < 'C0003'); "
     "select @c",
     "!512 Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
     "!=, <, <= , >, >= or when the subquery is used as an expression."},
    {"ComparedWithSubqueryOfRows",
     "select count(*) from Customer where Code = (select Code from Customer where Code > 'C0198')",
     "!512 Subquery returned more than 1 value."},
    {"SubqueriesOfOneRow",
     "declare @c varchar(10); set @c = (select Code from Customer where Code = 'C0002'); "
     "select @c, (select top 1 Code from Customer order by Code desc), "
     "(select Code from Customer where 1 = 0), "
     "isnull((select count(*) from Customer c2 where c2.Code <= c.Code), 0) "
     "from Customer c where c.Code = 'C0003'",
     "C0002|C0200|NULL|3"},
    {"SubqueryOfTwoColumns",
     "select count(*) from Customer where Code = (select Code, NameEng from Customer where Code "
     "= 'C0001')",
     "!116 Only one expression can be specified in the select list when the subquery is not "
     "introduced with EXISTS."},
    {"ValuesFromSubqueryOfRows",
     "create table #v (c varchar(10), n int); insert into #v values ((select Code from Customer), "
     "1)",
     "!512 Subquery returned more than 1 value."},
    {"ValuesFromSubqueryOfOneRow",
     "create table #row (c varchar(10), n int); insert into #row values (1, (select count(*) "
     "from Customer where Code < 'C0003')), ((select max(Code) from Customer), 2); "
     "select c, n from #row order by n",
     "1|2\nC0200|2"},
    {"IfOnSubquery",
     "if (select count(*) from Customer where Code < 'C0003') = 2 select 'two' else select 'other'",
     "two"},
    {"SubqueriesOfManyRows",
     "select count(*) from Customer where Code in (select Code from Customer where Code < "
     "'C0003') and exists (select Code from Customer union select 'x')",
     "2"},
    {"FormatStandardPatterns",
     "select format(1234.5, 'C'), format(-1234.5, 'C'), format(0.1234, 'P1'), "
     "format(1234.5, 'c0'), format(42, 'N'), format(-0.1234, 'P')",
     "$1,234.50|($1,234.50)|12.3 %|$1,235|42.00|-12.34 %"},
    {"FormatUnknownLetterIsNull",
     "select format(5, 'Q'), format(convert(datetime, '2024-01-31'), 'Q')", "NULL|NULL"},
    {"FormatExponentRefused", "select format(1234.5, 'E2')",
     "!50000 the embedded demo suite does not support FORMAT pattern 'E2'"},
    {"FormatRoundTripDateRefused", "select format(convert(datetime, '2024-01-31'), 'o')",
     "!50000 the embedded demo suite does not support FORMAT pattern 'o'"},
    {"DateTimeTicks",
     "select cast('2024-01-01 23:59:59.999' as datetime), "
     "convert(datetime, '2024-01-01 10:00:00.995'), cast('2024-01-01 10:00:00.991' as datetime), "
     "cast('2024-01-01 10:00:00.002' as datetime), cast('2024-01-01 23:59:59.999' as date)",
     "2024-01-02 00:00:00.000|2024-01-01 10:00:00.997|2024-01-01 10:00:00.990|"
     "2024-01-01 10:00:00.003|2024-01-01"},
    {"DateTimeOutOfRange", "select cast('9999-12-31 23:59:59.999' as datetime)",
     "!242 The conversion of a varchar data type to a datetime data type resulted in an "
     "out-of-range "
     "value."},
    {"DateTimeBefore1753",
     "select try_cast('1752-12-31' as datetime), cast('1753-01-01' as datetime)",
     "NULL|1753-01-01 00:00:00.000"},
    {"DateTimeTicksOfCalculations",
     "declare @d datetime = '2024-03-31 23:59:59.999'; "
     "select convert(varchar(23), @d, 121), dateadd(day, 1, '2024-01-01 23:59:59.999'), "
     "convert(varchar(23), dateadd(ms, 2, '2024-01-01 10:00:00.000'), 121), "
     "dateadd(ms, 1, '2024-01-01 10:00:00.000')",
     "2024-04-01 00:00:00.000|2024-01-03 00:00:00.000|2024-01-01 10:00:00.003|"
     "2024-01-01 10:00:00.000"},
    {"StyleOnTextKeepsTheText",
     "select convert(varchar(10), '2024-03-05', 103), convert(varchar(10), N'2024-03-05', 103), "
     "convert(varchar(10), convert(datetime, '2024-03-05'), 103), "
     "convert(datetime, '05/03/2024', 103)",
     "2024-03-05|2024-03-05|05/03/2024|2024-03-05 00:00:00.000"},
    // INTO may be left out, as SQL Server Management Studio's scripts leave it out
    {"InsertWithoutInto",
     "create table #ins (a int, b varchar(5)); insert #ins values (1, 'x'); "
     "insert #ins (a, b) select 2, 'y'; select count(*), max(b) from #ins",
     "2|y"},
    // Long and nested expressions: a run of + takes each step in turn, as the pairs do
    {"ConcatSeventeenColumns",
     "select Code + ',' + NameEng + ',' + Code + ',' + NameEng + ',' + Code + ',' + NameEng + "
     "',' + Code + ',' + NameEng + ',' + Code + ',' + NameEng + ',' + Code + ',' + NameEng + "
     "',' + Code + ',' + NameEng + ',' + Code + ',' + NameEng + ',' + Code from Customer "
     "where Code = 'C0001'",
     "C0001,Siam Trading Co., Ltd.,C0001,Siam Trading Co., Ltd.,C0001,Siam Trading Co., Ltd.,"
     "C0001,Siam Trading Co., Ltd.,C0001,Siam Trading Co., Ltd.,C0001,Siam Trading Co., Ltd.,"
     "C0001,Siam Trading Co., Ltd.,C0001,Siam Trading Co., Ltd.,C0001"},
    {"RunsOfPlusTakeEachStepInTurn",
     "select '1' + '2' + 3 + 4 + 5, 1 + 2 + '3' + '4' + '5', 'a' + 'b' + 'c' + 'd' + 'e', "
     "10 - 1 - 2 - 3 - 4",
     "24|15|abcde|0"},
    {"RunOfPlusOverflowsAtItsStep", "select 2147483640 + 1 + 2 + 3 + 4 - 100",
     "!8115 Arithmetic overflow error converting expression to data type int."},
    {"RunsOfPlusKeepDatesAndBigints",
     "select convert(varchar(10), convert(datetime, '2024-01-31') + 1 + 1 + 1 - 2, 120), "
     "cast(2147483647 as bigint) + 1 + 1 + 1 + 1",
     "2024-02-01|2147483651"},
    {"NestedSubqueries",
     "select (select (select (select 1 a) b) c) d, (select (select (select 2)))", "1|2"},
    // Unknown names fail as SQL Server fails, "double-quoted" and [bracketed] ones too
    {"UnknownColumnIsNoText", "select top 2 [NoSuchColumn], Code from Customer",
     "!207 Invalid column name 'NoSuchColumn'."},
    {"UnknownColumnWritesNothing", "update Customer set NameEng = [NameThia] where Code = 'C0001'",
     "!207 Invalid column name 'NameThia'."},
    {"DoubleQuotedUnknownColumn", "select \"nosuch\" from Customer",
     "!207 Invalid column name 'nosuch'."},
    {"UnknownColumn", "select nosuch from Customer", "!207 Invalid column name 'nosuch'."},
    {"UnknownTable", "select * from NoSuchTable", "!208 Invalid object name 'NoSuchTable'."},
    {"UnknownQualifier", "select x.Code from Customer c",
     "!4104 The multi-part identifier \"x.Code\" could not be bound."},
    {"UnknownColumnOfAKnownTable", "select c.Nope from Customer c",
     "!207 Invalid column name 'Nope'."},
    // Errors name the functions the statement called, not those it became
    {"WrongArgumentCount", "select left('abc')", "!174 The left function requires 2 argument(s)."},
    {"WrongArgumentCountInASubquery", "select (select round(Id) from Customer where Id = 1)",
     "!189 The round function requires 2 to 3 arguments."},
    {"AggregateOfAnAggregate", "select sum(avg(Id) - 1) from Customer",
     "!130 Cannot perform an aggregate function on an expression containing an aggregate or a "
     "subquery."},
    {"AggregateInWhere", "select (select sum(Id) - 1 from Customer where sum(Id) > 1)",
     "!147 An aggregate may not appear in the WHERE clause unless it is in a subquery contained in "
     "a "
     "HAVING clause or a select list, and the column being aggregated is an outer reference."},
    {"InSubqueryOfTwoColumns",
     "select count(*) from Customer where Id - 1 in (select Id - 1, 2 from Customer)",
     "!116 Only one expression can be specified in the select list when the subquery is not "
     "introduced with EXISTS."},
    {"SubqueryOfAllColumns", "select 1 + (select * from Customer where Code = 'C0001')",
     "!116 Only one expression can be specified in the select list when the subquery is not "
     "introduced with EXISTS."},
    // Every alias form of a select list; "=" inside an item still compares
    {"AliasesWrittenFirst",
     "select Total = count(*), [My Name] = max(NameEng), 'Total:' = sum(Id), \"q\" = min(Code), "
     "x = case when max(Code) = 'C0200' then 1 else 0 end from Customer where Code <= 'C0002'",
     "2|Siam Trading Co., Ltd.|3|C0001|0"},
    {"AliasesWrittenLast",
     "select Code as c, Code d, Code 'e', Code as [f], Code as \"g\", Code as 'h', 1 'one' "
     "from Customer where Code = 'C0001'",
     "C0001|C0001|C0001|C0001|C0001|C0001|1"},
    {"AliasedSubqueryAndAssignment",
     "declare @n int; select @n = count(*) from Customer where Code < 'C0003'; "
     "select n = (select count(*) from Customer where Code = 'C0001'), @n, m = @n",
     "1|2|2"},
    // The functions of the function table, each as SQL Server answers
    {"SubstringOutsideTheText",
     "select substring('abc', -3, 2), substring('abcdef', 2, 0), substring('abc', 5, 1)", "||"},
    {"UpperLowerByUnicode", "select upper(N'café'), lower(N'ÀÉ'), upper('abc'), lower(N'ไทย')",
     "CAFÉ|àé|ABC|ไทย"},
    {"ConcatAndConcatWs",
     "select concat('a', null, 1, 2.5, N'ไทย'), concat_ws('-', 'a', null, 'b'), "
     "concat_ws(null, 'a', 'b'), concat(null, null)",
     "a12.5ไทย|a-b|ab|"},
    {"ConcatWritesADateTimeInStyleZero",
     "select concat('d:', cast('2024-03-05 13:04' as datetime))", "d:Mar  5 2024  1:04PM"},
    {"ConcatCountsItsArguments", "select concat('a')",
     "!189 The concat function requires 2 to 254 arguments."},
    {"ReverseQuoteNameTranslate",
     "select reverse(N'abcไทย'), quotename('a]b'), quotename('x', ''''), quotename('x', ')'), "
     "quotename('x', '|'), translate('2*[3+4]', '[]', '()')",
     "ยทไcba|[a]]b]|'x'|(x)|NULL|2*(3+4)"},
    {"TranslateNeedsEqualLengths", "select translate('abc', 'ab', 'x')",
     "!9828 The second and third arguments of the TRANSLATE built-in function must contain an "
     "equal number of characters."},
    {"Choose", "select choose(2, 'a', 'b', 'c'), choose(4, 'a', 'b', 'c'), choose(0, 1, 2)",
     "b|NULL|NULL"},
    {"DateFromParts",
     "select convert(varchar(10), datefromparts(2024, 2, 29), 120), "
     "convert(varchar(23), datetimefromparts(2024, 1, 31, 23, 59, 59, 0), 121), "
     "datefromparts(2024, null, 1)",
     "2024-02-29|2024-01-31 23:59:59.000|NULL"},
    {"DateFromPartsOfNoDate", "select datefromparts(2023, 2, 29)",
     "!289 Cannot construct data type date, some of the arguments have values which are not "
     "valid."},
    {"MoneyAndDecimalSumsAreExact",
     "create table #exact (ExactMoney money, ExactDecimal decimal(18, 2), ExactFloat float); "
     "insert into #exact values (100000000.10, 100000000.10, 0.5), (0.20, 0.20, 0.25), "
     "(-100000000.00, -100000000.00, 0.25); select case when sum(ExactMoney) = 0.3 then 'exact' "
     "else 'inexact' end, sum(ExactDecimal), avg(ExactDecimal), sum(ExactFloat) from #exact",
     "exact|0.3|0.1|1"},
    {"IsDate", "select isdate('2024-02-30'), isdate('2024-02-29'), isdate('abc'), isdate(null)",
     "0|1|0|0"},
    // Declared types kept: IDENTITY with its seed and increment, lengths, NOT NULL through
    // SELECT ... INTO, and the session's @@IDENTITY, SCOPE_IDENTITY() and @@ROWCOUNT
    {"IdentityFromSeedAndIncrement",
     "create table #ids (id int identity(100, 10), v varchar(5)); insert into #ids (v) values "
     "('a'); insert into #ids (v) values ('b'); insert into #ids (v) values ('c'); "
     "select max(id), min(id), count(*) from #ids",
     "120|100|3"},
    {"IdentityOnAPermanentTableIsNotReused",
     "drop table if exists IdPerm; create table IdPerm (id int identity(1, 5) primary key, "
     "v varchar(5)); insert into IdPerm (v) values ('a'), ('b'); insert into IdPerm (v) select "
     "Code from Customer where Id <= 2 order by Id; delete from IdPerm where id = 16; "
     "insert into IdPerm values ('z'); select id, v from IdPerm order by id",
     "1|a\n6|b\n11|C0001\n21|z"},
    {"ExplicitIdentityRefused",
     "create table #e1 (id int identity, v varchar(5)); insert into #e1 (id, v) values (5, 'a')",
     "!Cannot insert explicit value for identity column in table '#e1' when IDENTITY_INSERT is "
     "set to OFF."},
    {"IdentityInsertOnTakesExplicitValues",
     "create table #e2 (id int identity(1, 1), v varchar(5)); insert into #e2 (v) values ('a'); "
     "set identity_insert #e2 on; insert into #e2 (id, v) values (50, 'b'); "
     "set identity_insert #e2 off; insert into #e2 (v) values ('c'); "
     "select id, v from #e2 order by id",
     "1|a\n50|b\n51|c"},
    {"TruncateResetsIdentityAndDeleteDoesNot",
     "create table #e3 (id int identity(10, 1), v varchar(5)); insert into #e3 (v) values ('a'), "
     "('b'); truncate table #e3; insert into #e3 (v) values ('c'); delete from #e3; "
     "insert into #e3 (v) values ('d'); select id, v from #e3",
     "11|d"},
    {"LastIdentityOfTheSession",
     "create table #e4 (id int identity(100, 10), v varchar(5)); insert into #e4 (v) values "
     "('a'), ('b'), ('c'); select @@identity, scope_identity(), @@rowcount",
     "120|120|3"},
    {"RowCountAfterEachStatement",
     "create table #rc (a int); insert into #rc values (1), (2), (3); "
     "update #rc set a = a + 1 where a > 1; declare @u int = @@rowcount; "
     "delete from #rc where a = 4; declare @d int = @@rowcount; select a from #rc; "
     "declare @s int = @@rowcount; set @s = @s; select @u, @d, @s, @@rowcount",
     "2|1|2|1"},
    {"VarcharTooLongOnInsert",
     "create table #len (v varchar(3), n nvarchar(2)); insert into #len (v) values ('abcd')",
     "!String or binary data would be truncated in table"},
    {"TruncatedValueNamed",
     "create table #len1 (v varchar(3)); insert into #len1 (v) values ('abcd')",
     "!column 'v'. Truncated value: 'abc'."},
    {"NvarcharCountsUtf16Units",
     "create table #len2 (v varchar(3), n nvarchar(2)); insert into #len2 values ('ไทย', N'ไท'); "
     "insert into #len2 select v, N'ไทย' from #len2",
     "!column 'n'. Truncated value: 'ไท'."},
    {"ThaiVarcharCountsCodePageBytes",
     "create table #len3 (v varchar(3), n nchar(2)); insert into #len3 values ('ไทย', N'ไท'); "
     "select v, n from #len3",
     "ไทย|ไท"},
    {"UpdatePastTheLength",
     "create table #len4 (v varchar(3)); insert into #len4 values ('ab'); "
     "update #len4 set v = v + 'cd'",
     "!column 'v'. Truncated value: 'abc'."},
    {"TrailingBlanksPastTheLengthAreCut",
     "create table #len5 (v varchar(3)); insert into #len5 values ('ab    '); "
     "select v + '*' from #len5",
     "ab *"},
    {"EveryTextColumnOfCreateTableIsCaseBlind",
     "create table #two (a varchar(5), b nvarchar(5)); insert into #two values ('x', N'Abc'), "
     "('y', N'ABC'); select count(distinct b) from #two",
     "1"},
    {"InsertAfterWith",
     "create table #w (id int identity(7, 1), v varchar(2)); with s as (select 'a' as x union "
     "all select 'b') insert into #w (v) select x from s; select id, v from #w order by id",
     "7|a\n8|b"},
    {"InsertAfterWithMeasured",
     "create table #w2 (v varchar(2)); with s as (select 'abc' as x) insert into #w2 select x "
     "from s",
     "!column 'v'. Truncated value: 'ab'."},
    {"SelectIntoKeepsNotNull",
     "select Id as id, Code into #e from Customer where Id <= 2; update #e set id = NULL",
     "!Cannot insert the value NULL into column 'id'"},
    {"SelectIntoKeepsIdentity",
     "create table #src (id int identity(5, 5), v varchar(3) not null); insert into #src (v) "
     "values ('a'), ('b'); select * into #copy from #src; insert into #copy (v) values ('c'); "
     "select id, v from #copy order by id",
     "5|a\n10|b\n15|c"},
    {"SelectIntoKeepsLengths",
     "select Code into #codes from Customer where Id = 1; insert into #codes values "
     "('C0000000000000000000X')",
     "!column 'Code'. Truncated value: 'C0000000000000000000'."},
};

// A date-time cell as SQL Server's own tools show its type.
inline QString TsqlDateTimeText(db::TFieldType type, double value) {
  const QDateTime v = db::DecodeDateTime(value);
  if (type == db::ftDate) return v.toString(QStringLiteral("yyyy-MM-dd"));
  if (type == db::ftTime) return v.toString(QStringLiteral("HH:mm:ss.zzz"));
  return v.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// The result as kTsqlCases writes it.
inline QString TsqlResultText(const db::ResultSet& result) {
  QStringList lines;
  for (qint64 r = 0; r < result.rows.Rows(); ++r) {
    QStringList cells;
    for (int c = 0; c < static_cast<int>(result.fields.size()); ++c) {
      switch (result.rows.KindAt(r, c)) {
        case db::RowStore::Kind::Null:
          cells << QStringLiteral("NULL");
          break;
        case db::RowStore::Kind::Int:
          cells << QString::number(result.rows.IntAt(r, c));
          break;
        case db::RowStore::Kind::Float:
          if (db::IsDateTimeType(result.fields[static_cast<std::size_t>(c)].type))
            cells << TsqlDateTimeText(result.fields[static_cast<std::size_t>(c)].type,
                                      result.rows.FloatAt(r, c));
          else
            cells << QString::number(result.rows.FloatAt(r, c), 'g', 15);
          break;
        case db::RowStore::Kind::Bytes: {
          const std::string_view b = result.rows.BytesAt(r, c);
          cells << QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
          break;
        }
      }
    }
    lines << cells.join(u'|');
  }
  return lines.join(u'\n');
}

// What running a case gives, as the table writes it: the last result, or "!" and the message.
template <typename Run>
QString TsqlOutcome(Run run) {
  try {
    const std::unique_ptr<db::ResultSet> result = run();
    return result ? TsqlResultText(*result) : QStringLiteral("(no result)");
  } catch (const db::EDBEngineError& e) {
    // SQL Server's number before the text: every path carries the same.
    const int number = e.Errors().empty() ? 0 : e.Errors().front().NativeError;
    return u'!' + QString::number(number) + u' ' + e.Message();
  }
}

// An error case passes when the message holds the expected text.
inline void ExpectTsqlOutcome(const TsqlCase& c, const QString& outcome) {
  const QString expected = QString::fromUtf8(c.expected);
  if (expected.startsWith(u'!') && outcome.startsWith(u'!')) {
    // "!NUMBER text": the number first, then the text anywhere (a driver prefixes its own).
    QString text = expected.mid(1);
    if (const QString number = text.section(u' ', 0, 0); !number.isEmpty() && number[0].isDigit()) {
      EXPECT_EQ(outcome.section(u' ', 0, 0).mid(1).toStdString(), number.toStdString()) << c.sql;
      text = text.section(u' ', 1);
    }
    EXPECT_TRUE(outcome.contains(text)) << c.sql << "\n" << outcome.toStdString();
  } else
    EXPECT_EQ(outcome.toStdString(), c.expected) << c.sql;
}

}  // namespace qav::test
