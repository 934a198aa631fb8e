#pragma once

#include <QString>
#include <QStringView>
#include <vector>

struct sqlite3;

namespace qav::db::embedded {

// SQL Server's default comparison of texts: letter case does not count (Unicode, not ASCII
// only) and neither do trailing blanks. Negative, zero or positive, as strcmp.
int CompareTsqlText(QStringView a, QStringView b);

// A LIKE pattern as SQL Server reads it: % for any run of characters, _ for one, [abc], [a-c]
// and [^a] for one of a set or not of it, and an escape character that makes the next one
// plain. Letter case does not count, as in SQL Server's default collation.
class TsqlLikePattern {
 public:
  explicit TsqlLikePattern(QStringView pattern, QChar escape = QChar());

  // True when the whole text matches; trailing blanks of the text do not count (those of the
  // pattern do).
  bool Matches(QStringView text) const;
  // PATINDEX: the zero-based position where the first match begins, or -1.
  qsizetype IndexIn(QStringView text) const;

  const QString& Source() const { return source_; }
  QChar Escape() const { return escape_; }

 private:
  struct Item {
    enum class Kind : unsigned char { Char, One, Many, Set } kind = Kind::Char;
    char16_t ch = 0;      // Char: the folded character
    bool negate = false;  // Set: [^...]
    QString set;          // Set: folded pairs of range ends, a character standing as "cc"
  };
  bool MatchFrom(std::size_t item, QStringView text) const;
  static bool Accepts(const Item& item, char16_t folded);

  QString source_;
  QChar escape_;
  std::vector<Item> items_;
};

// Makes SQLite compare and match texts as SQL Server does: the NOCASE collation that the
// suite's text columns are declared with becomes SQL Server's comparison, and LIKE reads SQL
// Server's patterns. Raises when SQLite refuses one.
void RegisterTsqlCollation(sqlite3* db);

// Orders the indexes of a database's NOCASE texts by SQL Server's comparison once, when another
// program (or an older version of this one) ordered them by SQLite's own; a mark in the file's
// user_version says it is done. A file that cannot be written now is ordered at a later opening.
void OrderTextIndexes(sqlite3* db);
// Marks a database whose indexes were built with SQL Server's comparison registered.
void MarkTextIndexesOrdered(sqlite3* db);

}  // namespace qav::db::embedded
