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

QString FormatRaiserror(QStringView format, const std::vector<QVariant>& args) {
  QString out;
  std::size_t next = 0;
  const auto arg = [&]() -> QVariant { return next < args.size() ? args[next++] : QVariant(); };
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      out += format[i];
      continue;
    }
    qsizetype j = i + 1;
    if (j < format.size() && format[j] == u'%') {
      out += u'%';
      i = j;
      continue;
    }
    QString flags;
    while (j < format.size() && QStringView(u"-+ 0#").contains(format[j])) flags += format[j++];
    const auto number = [&]() {
      if (j < format.size() && format[j] == u'*') {
        ++j;
        return static_cast<int>(arg().toLongLong());
      }
      int n = -1;
      while (j < format.size() && format[j].isDigit())
        n = std::max(n, 0) * 10 + format[j++].digitValue();
      return n;
    };
    const int width = number();
    int precision = -1;
    if (j < format.size() && format[j] == u'.') {
      ++j;
      precision = std::max(number(), 0);
    }
    if (j < format.size() && (format[j] == u'h' || format[j] == u'l')) ++j;
    if (j >= format.size()) {
      out += format.mid(i);  // an unfinished conversion stays as it is
      break;
    }
    const QChar type = format[j];
    if (!QStringView(u"diosuxX").contains(type)) {
      out += format.mid(i, j - i + 1);
      i = j;
      continue;
    }
    const QVariant v = arg();
    QString text;
    if (v.isNull()) {
      text = QStringLiteral("(null)");
    } else if (type == u's') {
      text = v.toString();
      if (precision >= 0) text = text.left(precision);
    } else {
      const qint64 n = v.toLongLong();
      const quint32 u = static_cast<quint32>(n);
      if (type == u'd' || type == u'i')
        text = QString::number(static_cast<qint32>(n));
      else if (type == u'u')
        text = QString::number(u);
      else if (type == u'o')
        text =
            (flags.contains(u'#') && u ? QStringLiteral("0") : QString()) + QString::number(u, 8);
      else
        text = (flags.contains(u'#') && u ? QStringLiteral("0x") : QString()) +
               (type == u'X' ? QString::number(u, 16).toUpper() : QString::number(u, 16));
      if ((type == u'd' || type == u'i') && static_cast<qint32>(n) >= 0) {
        if (flags.contains(u'+'))
          text.prepend(u'+');
        else if (flags.contains(u' '))
          text.prepend(u' ');
      }
    }
    if (width > text.size()) {
      if (flags.contains(u'-'))
        text = text.leftJustified(width);
      else if (flags.contains(u'0') && type != u's' && !text.isEmpty() &&
               QStringView(u"+- ").contains(text[0]))
        text = text[0] + text.mid(1).rightJustified(width - 1, u'0');
      else if (flags.contains(u'0') && type != u's')
        text = text.rightJustified(width, u'0');
      else
        text = text.rightJustified(width);
    }
    out += text;
    i = j;
  }
  return out;
}

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
    case Kind::RaiseError: {
      // RAISERROR('text', severity, state [, argument]...) [WITH option, ...], its arguments
      // literals: anything else goes to the engine.
      if (size < 8 || !isOp(1, "(") || kindOf(2) != sql::TokenKind::String || !isOp(3, ",") ||
          kindOf(4) != sql::TokenKind::Number || !isOp(5, ",") ||
          kindOf(6) != sql::TokenKind::Number)
        break;
      std::vector<QVariant> args;
      std::size_t i = 7;
      while (isOp(i, ",")) {
        const bool negative = isOp(i + 1, "-");
        const std::size_t at = i + 1 + (negative ? 1 : 0);
        if (at >= size) return s;
        if (kindOf(at) == sql::TokenKind::String && !negative) {
          args.emplace_back(sql::StringValue(text(at)));
        } else if (kindOf(at) == sql::TokenKind::Number) {
          bool ok = false;
          const qint64 v = text(at).toLongLong(&ok);
          if (!ok) return s;
          args.emplace_back(negative ? -v : v);
        } else if (t.IsWord(first + at, QLatin1StringView("null")) && !negative) {
          args.emplace_back();
        } else {
          return s;
        }
        i = at + 1;
      }
      if (!isOp(i, ")")) break;
      if (++i < size) {
        if (!t.IsWord(first + i, QLatin1StringView("with"))) break;
        for (++i; i < size; ++i)
          if (!isOp(i, ",") && !t.IsWordIn(first + i, {"log", "nowait", "seterror"})) return s;
      }
      s.kind = ServerStatement::Kind::RaiseError;
      s.text = FormatRaiserror(sql::StringValue(text(2)), args);
      s.severity = text(4).toInt();
      s.state = text(6).toInt();
      break;
    }
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

std::vector<int> SelectedParameters(QStringView sql) {
  const std::vector<sql::Token> t = sql::CodeTokens(sql);
  const auto word = [&](std::size_t i, const char* w) {
    return i < t.size() && sql::IsWord(sql, t[i], QLatin1StringView(w));
  };
  const auto op = [&](std::size_t i, const char* o) {
    return i < t.size() && sql::IsOperator(sql, t[i], QLatin1StringView(o));
  };
  if (!word(0, "select")) return {};
  std::size_t i = 1;
  if (word(i, "distinct") || word(i, "all")) ++i;
  if (word(i, "top")) return {};  // rare beside parameters; its forms are many
  std::vector<int> columns;
  std::size_t from = i;
  int depth = 0;
  const auto item = [&](std::size_t end) {
    int number = 0;
    const std::size_t length = end - from;
    const bool alias = length == 1 ||
                       (length == 2 && t[from + 1].kind != sql::TokenKind::Operator) ||
                       (length == 3 && word(from + 1, "as"));
    if (alias && t[from].kind == sql::TokenKind::Param && sql[t[from].start] == u'?')
      number = sql.mid(t[from].start + 1, t[from].length - 1).toInt();
    columns.push_back(number);
  };
  for (; i < t.size(); ++i) {
    if (op(i, "(")) ++depth;
    if (op(i, ")")) --depth;
    if (depth > 0) continue;
    if (op(i, ",")) {
      item(i);
      from = i + 1;
    } else if (op(i, ";") ||
               (t[i].kind == sql::TokenKind::Word &&
                (word(i, "from") || word(i, "where") || word(i, "group") || word(i, "having") ||
                 word(i, "order") || word(i, "union") || word(i, "except") ||
                 word(i, "intersect") || word(i, "into") || word(i, "option") || word(i, "for")))) {
      break;
    }
  }
  if (from >= i) return {};
  item(i);
  return columns;
}

QString WithSessionValues(QStringView sql, const SessionValues& values) {
  const std::vector<sql::Token> tokens = sql::CodeTokens(sql);
  QString out;
  qsizetype copied = 0;
  const auto put = [&](const sql::Token& from, const sql::Token& to, const QString& literal) {
    out += sql.mid(copied, from.start - copied);
    out += literal;
    copied = to.start + to.length;
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const sql::Token& t = tokens[i];
    if (t.kind == sql::TokenKind::Variable) {
      const QStringView name = sql.mid(t.start, t.length);
      if (name.compare(u"@@version", Qt::CaseInsensitive) == 0)
        put(t, t, u'N' + sql::QuoteString(values.version));
      else if (name.compare(u"@@spid", Qt::CaseInsensitive) == 0)
        put(t, t, QString::number(values.spid));
    } else if (sql::IsWord(sql, t, QLatin1StringView("db_name")) && i + 2 < tokens.size() &&
               sql::IsOperator(sql, tokens[i + 1], QLatin1StringView("(")) &&
               sql::IsOperator(sql, tokens[i + 2], QLatin1StringView(")"))) {
      put(t, tokens[i + 2], u'N' + sql::QuoteString(values.database));
      i += 2;
    }
  }
  if (copied == 0) return sql.toString();
  out += sql.mid(copied);
  return out;
}

}  // namespace qav::tds
