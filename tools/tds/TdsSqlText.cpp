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
      if (size > 1 && kindOf(1) == sql::TokenKind::Word) {
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

}  // namespace qav::tds
