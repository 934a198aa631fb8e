#pragma once

#include <QString>

namespace qav {

// The statement that counts the rows of a query without fetching them:
// "select count(*) from (QUERY) qav_rows", with a closing ORDER BY of the query left out (SQL
// Server refuses one in a derived table, and the order does not change the count). Empty when
// the text is not one SELECT or WITH query: several statements (with or without ";" between
// them), SELECT ... INTO (which creates a table) and a WITH that changes data are never run a
// second time just to be counted, and a text the server refuses is left to its own run.
QString CountStatementFor(const QString& sql);

}  // namespace qav
