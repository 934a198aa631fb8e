// The SQLite text every shared T-SQL case becomes, against a checked-in copy: a change to the
// translation shows as a line diff of the cases it touches. QAV_UPDATE_GOLDEN=1 writes the copy
// afresh instead of comparing.
#include "db/Errors.h"
#include "db/embedded/TsqlRewriter.h"
#include "tests/db/TsqlCases.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>

namespace qav::db {
namespace {

// One line per text: backslashes, line ends and tabs escaped.
QString OneLine(const QString& text) {
  QString out;
  for (const QChar ch : text) {
    if (ch == u'\\')
      out += QStringLiteral("\\\\");
    else if (ch == u'\n')
      out += QStringLiteral("\\n");
    else if (ch == u'\r')
      out += QStringLiteral("\\r");
    else if (ch == u'\t')
      out += QStringLiteral("\\t");
    else
      out += ch;
  }
  return out;
}

// Each case: its name, then its translation or "!" and the error, then a blank line.
QString Translations() {
  QString out;
  for (const test::TsqlCase& c : test::kTsqlCases) {
    QString translated;
    try {
      translated = embedded::ForSqlite(embedded::RewriteTsql(QString::fromUtf8(c.sql)));
    } catch (const EDBEngineError& e) {
      translated = u'!' + e.Message();
    }
    out += QString::fromUtf8(c.name) + u'\n' + OneLine(translated) + QStringLiteral("\n\n");
  }
  return out;
}

TEST(TsqlTranslation, MatchesTheGoldenFile) {
  const QString path = QStringLiteral(QAV_TSQL_GOLDEN);
  const QString now = Translations();
  if (qEnvironmentVariableIntValue("QAV_UPDATE_GOLDEN") == 1) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(now.toUtf8());
    return;
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  // Compared case by case, so that a new case does not shift every one after it.
  const auto entries = [](const QString& text) {
    QMap<QString, QString> byName;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); i += 3) byName.insert(lines[i], lines[i + 1]);
    return byName;
  };
  const QMap<QString, QString> want = entries(QString::fromUtf8(file.readAll()));
  const QMap<QString, QString> got = entries(now);
  for (auto it = got.begin(); it != got.end(); ++it) {
    if (!want.contains(it.key()))
      ADD_FAILURE() << it.key().toStdString() << " is not in the golden file";
    else
      EXPECT_EQ(it.value().toStdString(), want[it.key()].toStdString()) << it.key().toStdString();
  }
  for (auto it = want.begin(); it != want.end(); ++it)
    EXPECT_TRUE(got.contains(it.key())) << it.key().toStdString() << " is no case any more";
}

}  // namespace
}  // namespace qav::db
