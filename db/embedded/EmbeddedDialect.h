#pragma once

#include "db/embedded/ServerErrors.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qav::db::embedded {

// The few SQL Server forms that the suite's own statements use and SQLite does not take as they
// are. Everything here works on text alone; positions are QChar indexes.

// Skips white space and comments ("--" to the end of the line, "/* ... */").
qsizetype SkipBlank(QStringView text, qsizetype pos);
// True when the word at pos (a token start) is `word`, compared without regard to case.
bool IsKeywordAt(QStringView text, qsizetype pos, QLatin1StringView word);
// The number of "?" placeholders, outside quotes and comments.
int CountPlaceholders(QStringView text);

// True for the name of a T-SQL character type (char, varchar, nchar, nvarchar, text, ntext):
// the columns SQL Server compares by its collation.
bool IsTsqlTextType(QStringView type);

// "Alter Table T Add C Type[, ...]" as SQLite statements, one per column, with text columns
// given NOCASE collation (SQL Server's default collation ignores case). Empty when the statement
// is not of that form.
QStringList TranslateAlterTableAdd(QStringView statement);

// backup database NAME To Disk = 'PATH' [with ...]
struct BackupStatement {
  QString database;
  QString path;
};
std::optional<BackupStatement> ParseBackup(QStringView statement);

// SQL Server's error for a failure that SQLite reports as `message` with extended code `code`:
// the row of its number and its text; no row, and SQLite's text, where SQL Server has no error of
// its own for it. `verb` is the failing statement's first word (upper case). For a foreign key
// failure, `tables` names the tables it concerns when known, and `childSide` tells an UPDATE of a
// referencing row (its parent is missing) from one of a referenced row. `statement`, the failing
// statement as SQLite ran it, tells a column of an unknown table from an unknown column of a
// known one. The functions the translation calls are named as the T-SQL text named them.
struct ServerFailure {
  const ServerErrorRow* row = nullptr;
  QString text;
  static ServerFailure Of(ServerError error, const QStringList& args = {});
};
ServerFailure ServerErrorOf(int code, const QString& message, const QString& verb,
                            const QStringList& tables = {}, bool childSide = false,
                            QStringView statement = {});

}  // namespace qav::db::embedded
