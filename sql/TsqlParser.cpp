#include "sql/TsqlParser.h"

namespace qav::sql {

using namespace Qt::Literals::StringLiterals;

// ----------------------------------------------------------------------------------------------
// TokenText

TokenText::TokenText(QString text, int firstLine) : text_(std::move(text)) {
  Lexer lexer(text_, {}, firstLine);
  while (!lexer.AtEnd()) {
    const Token t = lexer.Next();
    if (t.IsCode()) code_.push_back(t);
  }
  end_ = lexer.State();
  match_.assign(code_.size(), code_.size());
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < code_.size(); ++i) {
    if (IsOperator(i, "("_L1)) {
      open.push_back(i);
    } else if (IsOperator(i, ")"_L1) && !open.empty()) {
      match_[open.back()] = i;
      open.pop_back();
    }
  }
}

Span TokenText::SpanOf(std::size_t first, std::size_t last) const {
  Span s;
  s.first = first;
  s.last = std::max(first, last);
  if (s.last > s.first) {
    s.start = code_[first].start;
    s.end = code_[s.last - 1].End();
  } else {
    s.start = s.end = first < code_.size() ? code_[first].start : text_.size();
  }
  return s;
}

bool TokenText::IsWord(std::size_t i, QLatin1StringView word) const {
  return i < code_.size() && sql::IsWord(text_, code_[i], word);
}

bool TokenText::IsWordIn(std::size_t i, std::initializer_list<const char*> words) const {
  if (i >= code_.size() || code_[i].kind != TokenKind::Word) return false;
  for (const char* w : words)
    if (sql::IsWord(text_, code_[i], QLatin1StringView(w))) return true;
  return false;
}

bool TokenText::IsOperator(std::size_t i, QLatin1StringView op) const {
  return i < code_.size() && sql::IsOperator(text_, code_[i], op);
}

QString NestedTooDeeplyText() {
  return QStringLiteral(
      "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
      "into smaller queries.");
}

// ----------------------------------------------------------------------------------------------
// Statements

namespace {

struct WordKind {
  const char* word;
  StatementKind kind;
};

// The words that begin a statement, and the statement each begins. BEGIN, ALTER, CREATE and the
// label are told apart further by what follows them.
constexpr WordKind kStatementWords[] = {
    {"select", StatementKind::Select},
    {"with", StatementKind::Select},
    {"insert", StatementKind::Insert},
    {"update", StatementKind::Update},
    {"delete", StatementKind::Delete},
    {"merge", StatementKind::Merge},
    {"bulk", StatementKind::BulkInsert},
    {"create", StatementKind::Create},
    {"alter", StatementKind::Alter},
    {"drop", StatementKind::Drop},
    {"truncate", StatementKind::Truncate},
    {"declare", StatementKind::Declare},
    {"set", StatementKind::Set},
    {"print", StatementKind::Print},
    {"raiserror", StatementKind::RaiseError},
    {"throw", StatementKind::Throw},
    {"exec", StatementKind::Execute},
    {"execute", StatementKind::Execute},
    {"use", StatementKind::Use},
    {"return", StatementKind::Return},
    {"break", StatementKind::Break},
    {"continue", StatementKind::Continue},
    {"goto", StatementKind::Goto},
    {"waitfor", StatementKind::WaitFor},
    {"if", StatementKind::If},
    {"while", StatementKind::While},
    {"begin", StatementKind::Block},
    {"commit", StatementKind::Commit},
    {"rollback", StatementKind::Rollback},
    {"save", StatementKind::SaveTransaction},
    {"open", StatementKind::Cursor},
    {"fetch", StatementKind::Cursor},
    {"close", StatementKind::Cursor},
    {"deallocate", StatementKind::Cursor},
    {"backup", StatementKind::Backup},
    {"restore", StatementKind::Restore},
    {"grant", StatementKind::Grant},
    {"revoke", StatementKind::Grant},
    {"deny", StatementKind::Grant},
    {"dbcc", StatementKind::Dbcc},
    {"checkpoint", StatementKind::Checkpoint},
    {"kill", StatementKind::Kill},
};

const WordKind* StatementWord(QStringView word) {
  if (word.size() < 2 || word.size() > 10) return nullptr;
  for (const WordKind& w : kStatementWords) {
    const QLatin1StringView name(w.word);
    if (name.size() == word.size() && word.compare(name, Qt::CaseInsensitive) == 0) return &w;
  }
  return nullptr;
}

class StatementReader {
 public:
  explicit StatementReader(const TokenText& t) : t_(t) {}

  std::vector<Statement> ReadAll() {
    std::vector<Statement> out;
    for (;;) {
      SkipSemicolons();
      if (i_ >= t_.Size()) return out;
      out.push_back(Read());
    }
  }

 private:
  [[noreturn]] void Fail(int number, const QString& text, std::size_t at) const {
    const int line = at < t_.Size() ? t_[at].line : (t_.Size() ? t_[t_.Size() - 1].line : 1);
    throw ETsqlSyntax(number, text, line);
  }

  [[noreturn]] void FailNear(std::size_t at) const {
    if (at >= t_.Size()) {
      Fail(102,
           QStringLiteral("Incorrect syntax near '%1'.")
               .arg(t_.Size() ? t_.TextOf(t_.Size() - 1).toString() : QString()),
           at);
    }
    if (t_[at].kind == TokenKind::Word && StatementWord(t_.TextOf(at)) == nullptr &&
        !t_.IsWordIn(at, {"end", "else", "try", "catch"}))
      Fail(102, QStringLiteral("Incorrect syntax near '%1'.").arg(t_.TextOf(at)), at);
    Fail(156,
         QStringLiteral("Incorrect syntax near the keyword '%1'.")
             .arg(t_.TextOf(at).toString().toUpper()),
         at);
  }

  void SkipSemicolons() {
    while (i_ < t_.Size() && t_.IsOperator(i_, ";"_L1)) ++i_;
  }

  // Ends a statement that began at `first` and whose last token is i_ - 1, taking a ";" after.
  Statement Finish(StatementKind kind, std::size_t first) {
    Statement s;
    s.kind = kind;
    s.span = t_.SpanOf(first, i_);
    s.line = t_[first].line;
    s.end = s.span.end;
    if (t_.IsOperator(i_, ";"_L1)) s.end = t_[i_++].End();
    return s;
  }

  void Enter(std::size_t at) {
    if (++depth_ > kMaxNesting) Fail(191, NestedTooDeeplyText(), at);
  }

  Statement Read() {
    Enter(i_);
    Statement s = ReadOne();
    --depth_;
    return s;
  }

  Statement ReadOne() {
    const std::size_t first = i_;
    if (t_.IsWordIn(first, {"end", "else"})) FailNear(first);
    if (t_.IsWord(first, "begin"_L1)) return ReadBegin();
    if (t_.IsWord(first, "if"_L1)) return ReadConditional(StatementKind::If);
    if (t_.IsWord(first, "while"_L1)) return ReadConditional(StatementKind::While);
    // name:
    if (t_[first].kind == TokenKind::Word && t_.IsOperator(first + 1, ":"_L1) &&
        !StatementWord(t_.TextOf(first))) {
      i_ = first + 2;
      return Finish(StatementKind::Label, first);
    }
    return ReadSimple();
  }

  Statement ReadBegin() {
    const std::size_t first = i_;
    if (t_.IsWordIn(first + 1, {"tran", "transaction", "distributed"})) return ReadSimple();
    if (t_.IsWordIn(first + 1, {"dialog", "conversation"})) return ReadSimple();
    if (t_.IsWord(first + 1, "catch"_L1)) FailNear(first + 1);
    if (t_.IsWord(first + 1, "try"_L1)) {
      Statement s;
      s.kind = StatementKind::TryCatch;
      i_ = first + 2;
      s.body.push_back(ReadBlockBody(first, "try"));
      if (!t_.IsWord(i_, "begin"_L1) || !t_.IsWord(i_ + 1, "catch"_L1)) FailNear(i_);
      const std::size_t catchFirst = i_;
      i_ += 2;
      s.body.push_back(ReadBlockBody(catchFirst, "catch"));
      s.span = t_.SpanOf(first, i_);
      s.line = t_[first].line;
      s.end = s.span.end;
      if (t_.IsOperator(i_, ";"_L1)) s.end = t_[i_++].End();
      return s;
    }
    i_ = first + 1;
    Statement s = ReadBlockBody(first, nullptr);
    if (t_.IsOperator(i_, ";"_L1)) s.end = t_[i_++].End();
    return s;
  }

  // The statements up to END [TRY|CATCH], the END read too: a Block from `first`.
  Statement ReadBlockBody(std::size_t first, const char* part) {
    Statement block;
    block.kind = StatementKind::Block;
    for (;;) {
      SkipSemicolons();
      if (i_ >= t_.Size()) FailNear(i_);
      if (t_.IsWord(i_, "end"_L1)) break;
      block.body.push_back(Read());
    }
    ++i_;  // END
    if (part) {
      if (!t_.IsWord(i_, QLatin1StringView(part))) FailNear(i_);
      ++i_;
    }
    block.span = t_.SpanOf(first, i_);
    block.line = t_[first].line;
    block.end = block.span.end;
    return block;
  }

  // IF condition statement [ELSE statement], WHILE condition statement
  Statement ReadConditional(StatementKind kind) {
    const std::size_t first = i_;
    Statement s;
    s.kind = kind;
    s.condition = ReadCondition(first);
    s.body.push_back(Read());
    std::size_t k = i_;
    while (t_.IsOperator(k, ";"_L1)) ++k;
    if (kind == StatementKind::If && t_.IsWord(k, "else"_L1)) {
      i_ = k + 1;
      if (i_ >= t_.Size()) FailNear(i_);
      s.body.push_back(Read());
    }
    s.span = t_.SpanOf(first, LastCodeBefore(i_));
    s.line = t_[first].line;
    s.end = s.body.back().end;
    return s;
  }

  // The end of a span ending before i_, a ";" that ended its last statement left out.
  std::size_t LastCodeBefore(std::size_t at) const {
    while (at > 0 && t_.IsOperator(at - 1, ";"_L1)) --at;
    return at;
  }

  // The condition after IF or WHILE: up to the word that begins its statement.
  Span ReadCondition(std::size_t head) {
    std::size_t k = head + 1;
    int parens = 0;
    int cases = 0;
    for (; k < t_.Size(); ++k) {
      if (t_.IsOperator(k, "("_L1)) {
        ++parens;
      } else if (t_.IsOperator(k, ")"_L1)) {
        --parens;
      } else if (parens <= 0 && t_[k].kind == TokenKind::Word) {
        if (t_.IsWord(k, "case"_L1)) {
          ++cases;
        } else if (t_.IsWord(k, "end"_L1) && cases > 0) {
          --cases;
        } else if (cases == 0 && (StatementWord(t_.TextOf(k)) || t_.IsWord(k, "else"_L1) ||
                                  t_.IsWord(k, "end"_L1))) {
          break;
        }
      } else if (parens <= 0 && t_.IsOperator(k, ";"_L1)) {
        break;
      }
    }
    if (k == head + 1 || k >= t_.Size() || !StatementWord(t_.TextOf(k))) FailNear(k);
    i_ = k;
    return t_.SpanOf(head + 1, k);
  }

  // What the words after a statement's first make of it.
  StatementKind KindAt(std::size_t first) const {
    if (t_.IsOperator(first, "("_L1)) return StatementKind::Select;
    const WordKind* w =
        t_[first].kind == TokenKind::Word ? StatementWord(t_.TextOf(first)) : nullptr;
    if (!w) return StatementKind::Other;
    switch (w->kind) {
      case StatementKind::Block:
        return StatementKind::BeginTransaction;  // the other BEGINs are read by ReadBegin
      case StatementKind::Create:
      case StatementKind::Alter: {
        std::size_t k = first + 1;
        if (t_.IsWord(k, "or"_L1) && t_.IsWordIn(k + 1, {"alter", "replace"})) k += 2;
        if (t_.IsWordIn(k, {"proc", "procedure", "function", "trigger", "view"}))
          return StatementKind::CreateModule;
        return w->kind;
      }
      default:
        return w->kind;
    }
  }

  // A statement that holds no other statement: up to its ";", or to the word that begins the
  // next statement where that word cannot continue this one.
  Statement ReadSimple() {
    const std::size_t first = i_;
    StatementKind kind = KindAt(first);
    if (kind == StatementKind::CreateModule) {
      // Its body runs to the end of the batch, as SQL Server reads it.
      i_ = t_.Size();
      return Finish(kind, first);
    }
    const std::size_t alterTarget = kind == StatementKind::Alter ? AlterTarget(first) : 0;
    bool withBody = !t_.IsWord(first, "with"_L1);  // WITH: the body is to come
    bool insertSource = false;                     // INSERT: SELECT, EXEC, VALUES
    bool updateSet = false;                        // UPDATE: its SET
    bool grantOn = false;                          // GRANT ...: ON
    int parens = 0;
    int cases = 0;
    // A query in parentheses counts its first "(".
    std::size_t k = t_[first].kind == TokenKind::Operator ? first : first + 1;
    if (kind == StatementKind::BulkInsert && t_.IsWord(k, "insert"_L1)) ++k;
    if (kind == StatementKind::Update && t_.IsWord(k, "statistics"_L1)) kind = StatementKind::Other;
    for (; k < t_.Size(); ++k) {
      const Token& tok = t_[k];
      if (tok.kind == TokenKind::Operator) {
        if (t_.IsOperator(k, "("_L1)) {
          ++parens;
        } else if (t_.IsOperator(k, ")"_L1)) {
          if (parens > 0) --parens;
        } else if (parens == 0 && t_.IsOperator(k, ";"_L1)) {
          break;
        }
        continue;
      }
      if (tok.kind != TokenKind::Word || parens > 0) {
        continue;
      }
      if (t_.IsWord(k, "case"_L1)) {
        ++cases;
        continue;
      }
      if (t_.IsWord(k, "end"_L1)) {
        if (cases == 0) break;  // the END of the block around
        --cases;
        continue;
      }
      if (cases > 0) continue;
      if (t_.IsWord(k, "else"_L1)) break;
      if (kind == StatementKind::Insert && t_.IsWordIn(k, {"values", "default"}))
        insertSource = true;
      if (kind == StatementKind::Grant && t_.IsWord(k, "on"_L1)) grantOn = true;
      const WordKind* w = StatementWord(t_.TextOf(k));
      if (!w || Continues(k, w->kind)) continue;
      if (t_.IsWord(k, "with"_L1)) continue;  // hints, options, WITH TIES
      // The words that go on with the statement they stand in.
      if (!withBody) {
        withBody = true;
        kind = KindAt(k);
        continue;
      }
      if (kind == StatementKind::Insert && !insertSource &&
          (w->kind == StatementKind::Select || w->kind == StatementKind::Execute)) {
        insertSource = true;
        continue;
      }
      if (kind == StatementKind::Update && !updateSet && w->kind == StatementKind::Set) {
        updateSet = true;
        continue;
      }
      if (kind == StatementKind::Grant && !grantOn) continue;
      if (kind == StatementKind::Alter && k == alterTarget) continue;
      break;
    }
    i_ = k;
    return Finish(kind, first);
  }

  // Whether the statement word at k goes on with what stands before it, whatever the statement.
  bool Continues(std::size_t k, StatementKind word) const {
    if (k == 0) return false;
    const std::size_t p = k - 1;
    if (t_.IsOperator(p, "."_L1)) return true;  // a name: t.open
    switch (word) {
      case StatementKind::Select:
        // UNION [ALL] SELECT, CURSOR FOR SELECT, VIEW ... AS SELECT
        return t_.IsWordIn(p, {"union", "all", "except", "intersect", "for", "as"});
      case StatementKind::Insert:
      case StatementKind::Update:
      case StatementKind::Delete:
        // ON DELETE CASCADE, but SET NOCOUNT ON before an UPDATE on the next line
        if (t_.IsWord(p, "on"_L1))
          return word != StatementKind::Insert && t_.IsWordIn(k + 1, {"cascade", "set", "no"});
        // FOR UPDATE, MERGE's WHEN ... THEN UPDATE
        return t_.IsWordIn(p, {"for", "then"});
      case StatementKind::Set:
        // ON DELETE SET NULL, MERGE's THEN UPDATE SET
        return t_.IsWordIn(p, {"delete", "update"}) &&
               (t_.IsWord(p - 1, "on"_L1) || t_.IsWord(p - 1, "then"_L1));
      case StatementKind::Cursor:
        // OFFSET ... ROWS FETCH NEXT
        return t_.IsWordIn(p, {"rows", "row"});
      case StatementKind::Execute:
        return t_.IsWordIn(p, {"with", "as"});  // WITH EXECUTE AS
      case StatementKind::If:
        // DROP TABLE IF EXISTS
        return t_.IsWordIn(
            p, {"table", "view", "procedure", "proc", "function", "trigger", "index", "database",
                "schema", "type", "sequence", "synonym", "user", "role", "column", "constraint"});
      case StatementKind::SaveTransaction:
        return !t_.IsWordIn(k + 1, {"tran", "transaction"});
      default:
        return false;
    }
  }

  // ALTER TABLE|DATABASE name [WITH CHECK|NOCHECK] ...: the token after the name, which goes
  // on with the statement even when it is ADD, DROP, ALTER or SET.
  std::size_t AlterTarget(std::size_t first) const {
    std::size_t k = first + 2;
    while (k < t_.Size()) {
      if (t_[k].kind != TokenKind::Word && t_[k].kind != TokenKind::QuotedName) break;
      ++k;
      if (!t_.IsOperator(k, "."_L1)) break;
      ++k;
    }
    if (t_.IsWord(k, "with"_L1) && t_.IsWordIn(k + 1, {"check", "nocheck"})) k += 2;
    return k;
  }

  const TokenText& t_;
  std::size_t i_ = 0;
  int depth_ = 0;
};

}  // namespace

const char* StatementKindName(StatementKind kind) {
  switch (kind) {
    case StatementKind::Select:
      return "SELECT";
    case StatementKind::Insert:
      return "INSERT";
    case StatementKind::Update:
      return "UPDATE";
    case StatementKind::Delete:
      return "DELETE";
    case StatementKind::Merge:
      return "MERGE";
    case StatementKind::BulkInsert:
      return "BULK INSERT";
    case StatementKind::Create:
      return "CREATE";
    case StatementKind::CreateModule:
      return "CREATE MODULE";
    case StatementKind::Alter:
      return "ALTER";
    case StatementKind::Drop:
      return "DROP";
    case StatementKind::Truncate:
      return "TRUNCATE";
    case StatementKind::Declare:
      return "DECLARE";
    case StatementKind::Set:
      return "SET";
    case StatementKind::Print:
      return "PRINT";
    case StatementKind::RaiseError:
      return "RAISERROR";
    case StatementKind::Throw:
      return "THROW";
    case StatementKind::Execute:
      return "EXECUTE";
    case StatementKind::Use:
      return "USE";
    case StatementKind::Return:
      return "RETURN";
    case StatementKind::Break:
      return "BREAK";
    case StatementKind::Continue:
      return "CONTINUE";
    case StatementKind::Goto:
      return "GOTO";
    case StatementKind::Label:
      return "LABEL";
    case StatementKind::WaitFor:
      return "WAITFOR";
    case StatementKind::If:
      return "IF";
    case StatementKind::While:
      return "WHILE";
    case StatementKind::Block:
      return "BEGIN";
    case StatementKind::TryCatch:
      return "TRY";
    case StatementKind::BeginTransaction:
      return "BEGIN TRANSACTION";
    case StatementKind::Commit:
      return "COMMIT";
    case StatementKind::Rollback:
      return "ROLLBACK";
    case StatementKind::SaveTransaction:
      return "SAVE TRANSACTION";
    case StatementKind::Cursor:
      return "CURSOR";
    case StatementKind::Backup:
      return "BACKUP";
    case StatementKind::Restore:
      return "RESTORE";
    case StatementKind::Grant:
      return "GRANT";
    case StatementKind::Dbcc:
      return "DBCC";
    case StatementKind::Checkpoint:
      return "CHECKPOINT";
    case StatementKind::Kill:
      return "KILL";
    case StatementKind::Other:
      return "OTHER";
  }
  return "OTHER";
}

bool IsStatementWord(QStringView word) {
  return StatementWord(word) != nullptr;
}

ParsedBatch::ParsedBatch(QString text, int firstLine) : tokens_(std::move(text), firstLine) {
  statements_ = StatementReader(tokens_).ReadAll();
}

}  // namespace qav::sql
