#include "batch/StatementCount.h"

#include "sql/TsqlTree.h"

namespace qav {

QString CountStatementFor(const QString& sql) {
  try {
    const sql::ParsedBatch batch(sql);
    const std::vector<sql::Statement>& statements = batch.Statements();
    if (statements.size() != 1 || statements.front().kind != sql::StatementKind::Select ||
        batch.Tokens().Unterminated().IsOpen())
      return {};
    const sql::Statement& statement = statements.front();
    sql::Tree tree;
    const sql::Query& query =
        tree.queries[static_cast<std::size_t>(sql::ParseStatementQuery(batch, statement, tree))];
    // SELECT ... INTO creates a table: never run a second time just to be counted.
    for (const sql::Query& q : tree.queries)
      if (!q.select.into.Empty()) return {};

    qsizetype end = statement.span.end;
    if (!query.orderBy.Empty()) {
      // What the ORDER BY carries along (a page, TOP ... WITH TIES, SQLite's LIMIT, which stays
      // in the list as the parser reads it) keeps it.
      const sql::TokenText& tokens = batch.Tokens();
      bool keep = !query.offset.Empty() || !query.forClause.Empty() || !query.option.Empty();
      if (query.Simple() && !query.select.top.Empty() &&
          tokens.IsWord(query.select.top.last - 1, QLatin1StringView("ties")))
        keep = true;
      for (std::size_t k = query.orderBy.first; k < query.orderBy.last && !keep; ++k)
        if (tokens.IsOperator(k, QLatin1StringView("(")))
          k = tokens.Match(k);
        else if (tokens.IsWord(k, QLatin1StringView("limit")))
          keep = true;
      // ORDER BY stands in the two tokens before its list.
      if (!keep) end = tokens[query.orderBy.first - 3].End();
    }
    // The line breaks keep a closing "--" comment from swallowing the parenthesis.
    return QStringLiteral("select count(*) from (\n") + sql.left(end) +
           QStringLiteral("\n) qav_rows");
  } catch (const sql::ETsqlSyntax&) {
    return {};  // the statement's own run reports what is wrong with it
  }
}

}  // namespace qav
