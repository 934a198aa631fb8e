#include "tools/tds/TdsSqlText.h"

#include "db/embedded/EmbeddedDialect.h"

#include <QRegularExpression>

namespace qav::tds {

namespace {

using db::embedded::IsKeywordAt;
using db::embedded::ParseIf;
using db::embedded::SkipBlank;
using db::embedded::StatementEnd;

bool IsNameChar(QChar c) {
  return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// Calls `visit` for each "@name" outside quotes and comments with its start and length.
template <typename Visit>
void ForEachVariable(QStringView sql, Visit visit) {
  qsizetype i = 0;
  while (i < sql.size()) {
    const QChar c = sql[i];
    if (c == u'\'' || c == u'"' || c == u'[') {
      const QChar close = c == u'[' ? QChar(u']') : c;
      ++i;
      while (i < sql.size()) {
        if (sql[i] == close) {
          if (i + 1 < sql.size() && sql[i + 1] == close) {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (c == u'-' && i + 1 < sql.size() && sql[i + 1] == u'-') {
      while (i < sql.size() && sql[i] != u'\n') ++i;
    } else if (c == u'/' && i + 1 < sql.size() && sql[i + 1] == u'*') {
      const qsizetype end = sql.indexOf(u"*/", i + 2);
      i = end < 0 ? sql.size() : end + 2;
    } else if (c == u'@' && (i == 0 || !IsNameChar(sql[i - 1]))) {
      qsizetype end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      if (end > i + 1 && sql[i + 1] != u'@') visit(i, end - i);
      i = end;
    } else {
      ++i;
    }
  }
}

QString Unbracket(QString name) {
  name = name.trimmed();
  if (name.endsWith(u';')) name.chop(1);
  name = name.trimmed();
  if (name.size() >= 2 && ((name.front() == u'[' && name.back() == u']') ||
                           (name.front() == u'"' && name.back() == u'"')))
    name = name.mid(1, name.size() - 2);
  return name;
}

}  // namespace

QStringList SplitBatch(QStringView sql) {
  QStringList statements;
  qsizetype pos = 0;
  for (;;) {
    pos = SkipBlank(sql, pos);
    while (pos < sql.size() && sql[pos] == u';') pos = SkipBlank(sql, pos + 1);
    if (pos >= sql.size()) break;
    qsizetype end = -1;
    if (IsKeywordAt(sql, pos, QLatin1StringView("if")))
      if (const auto form = ParseIf(sql, pos)) end = form->end;
    if (end < 0) end = StatementEnd(sql, pos);
    end = std::max(end, pos + 1);
    statements << sql.mid(pos, end - pos).trimmed().toString();
    pos = end;
  }
  return statements;
}

ServerStatement ClassifyStatement(QStringView statement) {
  static const QRegularExpression kUse(
      QStringLiteral(R"(^USE\s+(\S.*?)\s*;?\s*$)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression kSet(QStringLiteral(R"(^SET\s+(\w+)(?:\s+(\S+))?)"),
                                       QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression kWait(
      QStringLiteral(R"(^WAITFOR\s+DELAY\s+'(\d+):(\d+)(?::(\d+)(?:\.(\d{1,3}))?)?'\s*;?\s*$)"),
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression kTran(
      QStringLiteral(
          R"(^(?:IF\s+@@TRANCOUNT\s*>\s*0\s+)?(BEGIN|COMMIT|ROLLBACK)(?:\s+(?:TRAN|TRANSACTION|WORK)\b.*)?\s*;?\s*$)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression kRaise(
      QStringLiteral(
          R"(^RAISERROR\s*\(\s*N?'((?:[^']|'')*)'\s*,\s*(\d+)\s*,\s*(\d+)\s*\)\s*;?\s*$)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);

  ServerStatement s;
  const QString text = statement.trimmed().toString();
  if (auto m = kUse.match(text); m.hasMatch()) {
    s.kind = ServerStatement::Kind::Use;
    s.name = Unbracket(m.captured(1));
  } else if (auto m2 = kSet.match(text); m2.hasMatch()) {
    s.kind = ServerStatement::Kind::Set;
    s.name = m2.captured(1).toUpper();
    s.on = m2.captured(2).compare(QLatin1String("ON"), Qt::CaseInsensitive) == 0;
  } else if (auto m3 = kWait.match(text); m3.hasMatch()) {
    s.kind = ServerStatement::Kind::WaitFor;
    s.milliseconds =
        ((m3.captured(1).toInt() * 60 + m3.captured(2).toInt()) * 60 + m3.captured(3).toInt()) *
            1000 +
        m3.captured(4).leftJustified(3, u'0').toInt();
  } else if (auto m4 = kTran.match(text); m4.hasMatch()) {
    const QString verb = m4.captured(1).toUpper();
    // BEGIN alone starts a block, not a transaction.
    if (verb != QLatin1String("BEGIN") || text.size() > 5) {
      s.kind = verb == QLatin1String("BEGIN")    ? ServerStatement::Kind::BeginTran
               : verb == QLatin1String("COMMIT") ? ServerStatement::Kind::Commit
                                                 : ServerStatement::Kind::Rollback;
    }
  } else if (auto m5 = kRaise.match(text); m5.hasMatch()) {
    s.kind = ServerStatement::Kind::RaiseError;
    s.text = m5.captured(1).replace(QLatin1String("''"), QLatin1String("'"));
    s.severity = m5.captured(2).toInt();
    s.state = m5.captured(3).toInt();
  }
  return s;
}

QStringList DeclaredParameterNames(QStringView declarations) {
  QStringList names;
  ForEachVariable(declarations, [&](qsizetype at, qsizetype length) {
    names << declarations.mid(at, length).toString();
  });
  return names;
}

QString NumberParameters(QStringView sql, const QStringList& names) {
  QString out;
  out.reserve(sql.size());
  qsizetype copied = 0;
  ForEachVariable(sql, [&](qsizetype at, qsizetype length) {
    const QStringView name = sql.mid(at, length);
    for (qsizetype k = 0; k < names.size(); ++k) {
      if (name.compare(names[k], Qt::CaseInsensitive) != 0) continue;
      out += sql.mid(copied, at - copied);
      out += u'?' + QString::number(k + 1);
      copied = at + length;
      return;
    }
  });
  out += sql.mid(copied);
  return out;
}

QStringList BodyVariables(QStringView body) {
  QStringList names;
  ForEachVariable(body, [&](qsizetype at, qsizetype length) {
    const QString name = body.mid(at, length).toString();
    if (!names.contains(name, Qt::CaseInsensitive)) names << name;
  });
  return names;
}

int ServerErrorNumber(const QString& text) {
  static const std::pair<const char*, int> kNumbers[] = {
      {"Cannot insert the value NULL", 515},
      {"Cannot insert duplicate key", 2601},
      {"conflicted with COLUMN", 547},
      {"Could not find stored procedure", 2812},
      {"Cannot open database", 4060},
      {"no such table", 208},
      {"syntax error", 102},
      {"Invalid object name", 208},
      {"Arithmetic overflow", 8115},
      {"Conversion failed when converting date", 241},
      {"Conversion failed when converting the", 245},
      {"Divide by zero", 8134},
      {"Error converting data type", 8114},
      {"Must declare the scalar variable", 137},
      {"Invalid length parameter", 537},
      {"is not a valid style number", 281},
  };
  for (const auto& [words, number] : kNumbers)
    if (text.contains(QLatin1String(words), Qt::CaseInsensitive)) return number;
  return 50000;
}

}  // namespace qav::tds
