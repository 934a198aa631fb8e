#include "tools/tds/TdsSqlText.h"

#include "sql/TsqlLexer.h"

#include <QRegularExpression>

namespace qav::tds {

namespace {

// Calls `visit` for each "@name" in code with its start and length; "@@name" is no variable.
template <typename Visit>
void ForEachVariable(QStringView text, Visit visit) {
  for (const sql::Token& t : sql::CodeTokens(text))
    if (t.kind == sql::TokenKind::Variable && t.length > 1 && text[t.start + 1] != u'@')
      visit(t.start, t.length);
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

namespace {

// What the server does with a top-level statement, judged by its kind and its tokens.
ServerStatement ClassifyStatement(const sql::ParsedBatch& batch, const sql::Statement& statement) {
  using Kind = sql::StatementKind;
  ServerStatement s;
  const sql::TokenText& t = batch.Tokens();
  const std::size_t first = statement.span.first;
  const std::size_t size = statement.span.last - first;
  const auto text = [&](std::size_t i) { return t.TextOf(first + i); };
  const auto kindOf = [&](std::size_t i) { return t[first + i].kind; };
  const auto isOp = [&](std::size_t i, const char* op) {
    return i < size && t.IsOperator(first + i, QLatin1StringView(op));
  };
  const auto tranWord = [&](std::size_t i) {
    return i < size && t.IsWordIn(first + i, {"tran", "transaction", "work"});
  };

  switch (statement.kind) {
    case Kind::Use:
      if (size == 2) {
        s.kind = ServerStatement::Kind::Use;
        s.name = sql::NameValue(text(1));
      }
      break;
    case Kind::Set:
      // SET IDENTITY_INSERT belongs to the tables: the engine keeps it.
      if (size > 1 && kindOf(1) == sql::TokenKind::Word &&
          !t.IsWord(first + 1, QLatin1StringView("identity_insert"))) {
        s.kind = ServerStatement::Kind::Set;
        s.name = text(1).toString().toUpper();
        s.on = size > 2 && t.IsWord(first + 2, QLatin1StringView("on"));
      }
      break;
    case Kind::WaitFor:
      if (size == 3 && t.IsWord(first + 1, QLatin1StringView("delay")) &&
          kindOf(2) == sql::TokenKind::String) {
        const int ms = DelayMilliseconds(sql::StringValue(text(2)));
        if (ms >= 0) {
          s.kind = ServerStatement::Kind::WaitFor;
          s.milliseconds = ms;
        }
      }
      break;
    case Kind::RaiseError:
      if (size == 8 && isOp(1, "(") && kindOf(2) == sql::TokenKind::String && isOp(3, ",") &&
          kindOf(4) == sql::TokenKind::Number && isOp(5, ",") &&
          kindOf(6) == sql::TokenKind::Number && isOp(7, ")")) {
        s.kind = ServerStatement::Kind::RaiseError;
        s.text = sql::StringValue(text(2));
        s.severity = text(4).toInt();
        s.state = text(6).toInt();
      }
      break;
    case Kind::BeginTransaction:
      if (tranWord(1)) s.kind = ServerStatement::Kind::BeginTran;
      break;
    case Kind::Commit:
    case Kind::Rollback:
      if (tranWord(1) || size == 1)
        s.kind = statement.kind == Kind::Commit ? ServerStatement::Kind::Commit
                                                : ServerStatement::Kind::Rollback;
      break;
    case Kind::If: {
      // IF @@TRANCOUNT > 0 COMMIT | ROLLBACK ..., which clients send to end what they began
      const sql::Span& c = statement.condition;
      if (statement.body.size() == 1 && c.last - c.first == 3 &&
          t[c.first].kind == sql::TokenKind::Variable &&
          t.TextOf(c.first).compare(QLatin1StringView("@@trancount"), Qt::CaseInsensitive) == 0 &&
          t.IsOperator(c.first + 1, QLatin1StringView(">")) && t.TextOf(c.first + 2) == u"0") {
        const ServerStatement then = ClassifyStatement(batch, statement.body.front());
        if (then.kind == ServerStatement::Kind::Commit ||
            then.kind == ServerStatement::Kind::Rollback) {
          s.kind = then.kind;
          s.whenOpen = true;
        }
      }
      break;
    }
    default:
      break;
  }
  return s;
}

}  // namespace

std::vector<BatchStatement> SplitBatch(const QString& sql) {
  const sql::ParsedBatch batch(sql);
  if (batch.Tokens().Unterminated().open == sql::TokenKind::BlockComment) {
    // The comment hides the rest from the statements: SQL Server refuses the batch, naming the
    // line on which the comment begins. (An open string or name stays in its statement, whose
    // run reports it.)
    const std::vector<sql::Token> tokens = sql::Tokenize(sql);
    throw sql::ETsqlSyntax(113, QStringLiteral("Missing end comment mark '*/'."),
                           tokens.empty() ? 1 : tokens.back().line);
  }
  std::vector<BatchStatement> statements;
  statements.reserve(batch.Statements().size());
  for (const sql::Statement& s : batch.Statements())
    statements.push_back({batch.TextOf(s).toString(), s.line, s.kind, ClassifyStatement(batch, s)});
  return statements;
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
      {"Cannot insert explicit value for identity column", 544},
      {"can only be specified when a column list is used and IDENTITY_INSERT is ON", 8101},
      {"Cannot update identity column", 8102},
      {"does not have the identity property", 8106},
      {"IDENTITY_INSERT is already ON", 8107},
      {"because it does not exist or you do not have permissions", 1088},
      {"String or binary data would be truncated", 2628},
  };
  for (const auto& [words, number] : kNumbers)
    if (text.contains(QLatin1String(words), Qt::CaseInsensitive)) return number;
  return 50000;
}

}  // namespace qav::tds
