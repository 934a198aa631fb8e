#include "tools/tds/TdsSqlText.h"

#include "db/embedded/EmbeddedDialect.h"
#include "sql/TsqlLexer.h"

#include <QRegularExpression>

namespace qav::tds {

namespace {

using db::embedded::IsKeywordAt;
using db::embedded::ParseIf;
using db::embedded::SkipBlank;
using db::embedded::StatementEnd;

// Calls `visit` for each "@name" in code with its start and length; "@@name" is no variable.
template <typename Visit>
void ForEachVariable(QStringView text, Visit visit) {
  for (const sql::Token& t : sql::CodeTokens(text))
    if (t.kind == sql::TokenKind::Variable && t.length > 1 && text[t.start + 1] != u'@')
      visit(t.start, t.length);
}

bool IsWordIn(QStringView text, const std::vector<sql::Token>& t, std::size_t i,
              std::initializer_list<const char*> words) {
  if (i >= t.size()) return false;
  for (const char* w : words)
    if (sql::IsWord(text, t[i], QLatin1StringView(w))) return true;
  return false;
}

bool IsOp(QStringView text, const std::vector<sql::Token>& t, std::size_t i, const char* op) {
  return i < t.size() && sql::IsOperator(text, t[i], QLatin1StringView(op));
}

// "hh:mm[:ss[.mmm]]" in milliseconds, or -1.
int DelayMilliseconds(const QString& text) {
  static const QRegularExpression kDelay(
      QStringLiteral(R"(^(\d+):(\d+)(?::(\d+)(?:\.(\d{1,3}))?)?$)"));
  const auto m = kDelay.match(text);
  if (!m.hasMatch()) return -1;
  return ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) *
             1000 +
         m.captured(4).leftJustified(3, u'0').toInt();
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
  ServerStatement s;
  std::vector<sql::Token> t = sql::CodeTokens(statement);
  while (!t.empty() && IsOp(statement, t, t.size() - 1, ";")) t.pop_back();
  if (t.empty()) return s;
  auto text = [&](std::size_t i) { return t[i].Text(statement); };

  if (IsWordIn(statement, t, 0, {"use"}) && t.size() == 2) {
    s.kind = ServerStatement::Kind::Use;
    s.name = sql::NameValue(text(1));
  } else if (IsWordIn(statement, t, 0, {"set"}) && t.size() > 1 &&
             t[1].kind == sql::TokenKind::Word) {
    s.kind = ServerStatement::Kind::Set;
    s.name = text(1).toString().toUpper();
    s.on = IsWordIn(statement, t, 2, {"on"});
  } else if (IsWordIn(statement, t, 0, {"waitfor"}) && IsWordIn(statement, t, 1, {"delay"}) &&
             t.size() == 3 && t[2].kind == sql::TokenKind::String) {
    const int ms = DelayMilliseconds(sql::StringValue(text(2)));
    if (ms >= 0) {
      s.kind = ServerStatement::Kind::WaitFor;
      s.milliseconds = ms;
    }
  } else if (IsWordIn(statement, t, 0, {"raiserror"}) && t.size() == 8 &&
             IsOp(statement, t, 1, "(") && t[2].kind == sql::TokenKind::String &&
             IsOp(statement, t, 3, ",") && t[4].kind == sql::TokenKind::Number &&
             IsOp(statement, t, 5, ",") && t[6].kind == sql::TokenKind::Number &&
             IsOp(statement, t, 7, ")")) {
    s.kind = ServerStatement::Kind::RaiseError;
    s.text = sql::StringValue(text(2));
    s.severity = text(4).toInt();
    s.state = text(6).toInt();
  } else {
    // [IF @@TRANCOUNT > 0] BEGIN TRAN[SACTION] | COMMIT ... | ROLLBACK ...
    std::size_t verb = 0;
    if (IsWordIn(statement, t, 0, {"if"}) && t.size() > 4 &&
        t[1].kind == sql::TokenKind::Variable &&
        text(1).compare(QLatin1StringView("@@trancount"), Qt::CaseInsensitive) == 0 &&
        IsOp(statement, t, 2, ">") && text(3) == u"0")
      verb = 4;
    const bool tranWord = IsWordIn(statement, t, verb + 1, {"tran", "transaction", "work"});
    if (IsWordIn(statement, t, verb, {"begin"}) && tranWord)
      s.kind = ServerStatement::Kind::BeginTran;
    else if (IsWordIn(statement, t, verb, {"commit"}) && (tranWord || t.size() == verb + 1))
      s.kind = ServerStatement::Kind::Commit;
    else if (IsWordIn(statement, t, verb, {"rollback"}) && (tranWord || t.size() == verb + 1))
      s.kind = ServerStatement::Kind::Rollback;
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
      {"Invalid column name", 207},
      {"could not be bound", 4104},
      {"Ambiguous column name", 209},
      {"is not a recognized built-in function name", 195},
      {"There is already an object named", 2714},
      {"Cannot drop the table", 3701},
      {"argument(s)", 174},
      {"function requires", 189},
      {"Cannot perform an aggregate function on an expression", 130},
      {"An aggregate may not appear in the WHERE clause", 147},
      {"Cannot use an aggregate or a subquery in an expression used for the group by", 144},
      {"Arithmetic overflow", 8115},
      {"Conversion failed when converting date", 241},
      {"Conversion failed when converting the", 245},
      {"Divide by zero", 8134},
      {"Operand data type", 8117},
      {"Error converting data type", 8114},
      {"Must declare the scalar variable", 137},
      {"Invalid length parameter", 537},
      {"is not a valid style number", 281},
      {"Unclosed quotation mark", 105},
      {"Missing end comment mark", 113},
      {"Incorrect syntax near", 102},
      {"is invalid in the select list because", 8120},
      {"is invalid in the HAVING clause because", 8121},
      {"is invalid in the ORDER BY clause because", 8127},
      {"ORDER BY items must appear in the select list", 145},
      {"Subquery returned more than 1 value", 512},
      {"Only one expression can be specified in the select list", 116},
      {"A TOP cannot be used in the same query", 10741},
      {"The ORDER BY clause is invalid in views", 1033},
      {"resulted in an out-of-range value", 242},
      {"may not be negative", 10742},
      {"provided for a FETCH clause must be greater", 10744},
      {"is nested too deeply", 191},
  };
  for (const auto& [words, number] : kNumbers)
    if (text.contains(QLatin1String(words), Qt::CaseInsensitive)) return number;
  return 50000;
}

}  // namespace qav::tds
