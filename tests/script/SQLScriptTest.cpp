#include "script/SQLScript.h"

#include "core/ExceptionHandler.h"
#include "db/Database.h"
#include "tests/support/RecordingBackend.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// Readable failure output for Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace qav;
using namespace qav::db;
using qav::test::RecordingServer;
using FailKind = RecordingServer::FailKind;

namespace {

const QString kThai = QStringLiteral("บริษัท ทดสอบ จำกัด");

// A recording server, the connection "DBTEST" on it, and a script runner on that connection
// that counts its BeforeExec and AfterExec calls.
struct Env {
  RecordingServer server;
  TDatabase db;
  TSQLScript script;
  int before = 0;
  int after = 0;

  explicit Env(const QStringList& sql = {}) {
    db.SetDatabaseName(QStringLiteral("DBTEST"));
    db.Params() =
        QStringList{QStringLiteral("SERVER NAME=record:"), QStringLiteral("DATABASE NAME=x")};
    script.SetDatabaseName(QStringLiteral("DBTEST"));
    script.SetSQL(sql);
    script.BeforeExec = [this](TSQLScript&) { ++before; };
    script.AfterExec = [this](TSQLScript&) { ++after; };
  }
};

struct Outcome {
  bool raised = false;
  QString className;
  QString message;
};

Outcome Capture(const std::function<void()>& run) {
  try {
    run();
  } catch (const qav::Exception& e) {
    return {true, QString::fromLatin1(e.ClassName()), e.Message()};
  }
  return {};
}

const QStringList kThree = {"s1", "/", "-- note", "s2", "/", "s3", "/"};

}  // namespace

TEST(SQLScript, SplitsStatementsAndReportsTheirLines) {
  struct Piece {
    QString text;
    int lineNo;
  };
  struct Case {
    const char* name;
    QStringList sql;
    bool semicolonTerm;
    QChar term;
    std::vector<Piece> expected;
  };
  const Case cases[] = {
      {"terminator lines; lines trimmed and joined",
       {"  select a,", "\t b from t ", "/", "select 2", "/"},
       true,
       u'/',
       {{"select a,\r\nb from t", 2}, {"select 2", 4}}},
      {"semicolon in the middle of a script",
       {"select 0", "select 1; select 2", "from t", "/", "select 3"},
       true,
       u'/',
       {{"select 0\r\nselect 1", 1}, {"select 2\r\nfrom t", 3}, {"select 3", 4}}},
      {"semicolon on the last line; the text before it is not trimmed again",
       {"select 0", "/", "select 1 ; select 2"},
       true,
       u'/',
       {{"select 0", 1}, {"select 1 ", 2}, {"select 2", 2}}},
      {"only the first semicolon splits", {"a; b; c"}, true, u'/', {{"a", 0}, {"b; c", 0}}},
      {"semicolons in literals, bracketed names and comments end nothing",
       {"insert into t values ('x;y', \"a;b\", [c;d]) -- old value ; delete from Customer", "/",
        "select 1 /* block ; comment */ from t; select 'it''s;'", "/"},
       true,
       u'/',
       {{"insert into t values ('x;y', \"a;b\", [c;d])", 1},
        {"select 1   from t", 2},
        {"select 'it''s;'", 3}}},
      {"comments are left out, also over several lines",
       {"-- heading", "select a, -- first", "  b /* one", "/", "; two */ from t", "/*", "*/ /"},
       true,
       u'/',
       {{"select a,\r\nb\r\nfrom t", 6}}},
      {"literals running over lines keep their blanks and blank lines",
       {"insert into t values ('one  ", "", "  two;", "/", "three')", "/"},
       true,
       u'/',
       {{"insert into t values ('one  \r\n\r\n  two;\r\n/\r\nthree')", 5}}},
      {"after the first semicolon a literal still counts",
       {"select 1; select ';", "'", "/"},
       true,
       u'/',
       {{"select 1", 0}, {"select ';\r\n'", 2}}},
      {"comment marks inside literals are text",
       {"select '--x', '/*', [a--b] from t", "/"},
       true,
       u'/',
       {{"select '--x', '/*', [a--b] from t", 1}}},
      {"semicolons ending and opening lines",
       {"select 1;", "select 2;", "; select 3"},
       true,
       u'/',
       {{"select 1", 0}, {"select 2", 1}, {"select 3", 2}}},
      {"comments nest: the text of an inner comment never runs",
       {"/* outer /* inner */ delete from Customer; */ select 1", "/"},
       true,
       u'/',
       {{"select 1", 1}}},
      {"a byte-order mark is a blank, also on a terminator line",
       {"select 1", QStringLiteral("\uFEFF/"), "select 2", "/"},
       true,
       u'/',
       {{"select 1", 1}, {"select 2", 3}}},
      {"semicolons off", {"select 1; select 2", "/"}, false, u'/', {{"select 1; select 2", 1}}},
      {"terminator among blanks and tabs",
       {"select 1", " \t/\t ", "select 2"},
       true,
       u'/',
       {{"select 1", 1}, {"select 2", 2}}},
      {"lookalike terminators are statement text",
       {"select 1", "//", "/ x", "/"},
       true,
       u'/',
       {{"select 1\r\n//\r\n/ x", 3}}},
      {"blank lines and runs of terminators make no statements",
       {"", "/", "/", "select 1", "", "  ", "/", "/", "select 2", "/", "", " "},
       true,
       u'/',
       {{"select 1", 6}, {"select 2", 9}}},
      {"another terminator, case-sensitive",
       {"select 1", "g", "G", "select 2", "/", "\tG"},
       true,
       u'G',
       {{"select 1\r\ng", 2}, {"select 2\r\n/", 5}}},
      {"Thai text",
       {"update company set namethai = '" + kThai + "'", "/"},
       true,
       u'/',
       {{"update company set namethai = '" + kThai + "'", 1}}},
      {"the configuration schema update",
       {"If (Not Exists(Select Name From SysColumns",
        "               Where Id = (Select Id From SysObjects Where "
        "Ltrim(Rtrim(Upper(Name))) = 'MENU') And",
        "                     Ltrim(Rtrim(Upper(Name)))='VERSION'))", "  Begin",
        "    Alter Table Menu Add Version Integer", "  End", "/",
        "Update Menu Set Version = 3 Where Version Is Null And Command Is Not Null", "/",
        "If Not Exists(select Id From SysColumns Where Name = 'UserSeeImport' And Id = (Select "
        "Id From SysObjects Where Name = 'UserName'))",
        "   Alter Table UserName Add UserSeeImport Char(1)", "/",
        "If Not Exists(select Id From SysColumns Where Name = 'UserSeeCost' And Id = (Select Id "
        "From SysObjects Where Name = 'UserName'))",
        "   Alter Table UserName Add UserSeeCost Char(1)", "/", " ", " ", " "},
       true,
       u'/',
       {{"If (Not Exists(Select Name From SysColumns\r\nWhere Id = (Select Id From SysObjects "
         "Where Ltrim(Rtrim(Upper(Name))) = 'MENU') And\r\nLtrim(Rtrim(Upper(Name)))='VERSION'))"
         "\r\nBegin\r\nAlter Table Menu Add Version Integer\r\nEnd",
         6},
        {"Update Menu Set Version = 3 Where Version Is Null And Command Is Not Null", 8},
        {"If Not Exists(select Id From SysColumns Where Name = 'UserSeeImport' And Id = (Select "
         "Id From SysObjects Where Name = 'UserName'))\r\nAlter Table UserName Add UserSeeImport "
         "Char(1)",
         11},
        {"If Not Exists(select Id From SysColumns Where Name = 'UserSeeCost' And Id = (Select Id "
         "From SysObjects Where Name = 'UserName'))\r\nAlter Table UserName Add UserSeeCost "
         "Char(1)",
         14}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env(c.sql);
    env.script.SetSemicolonTerm(c.semicolonTerm);
    env.script.SetTerm(c.term);
    // Every statement fails and is ignored, so the handler sees each one with its numbers.
    env.server.Fail({.match = QString()});
    std::vector<Piece> seen;
    std::vector<int> numbers;
    env.script.OnScriptError = [&](TSQLScript&, EDatabaseError&, int lineNo, int statementNo,
                                   TScriptAction& action) {
      seen.push_back({env.server.Attempts().back().sql, lineNo});
      numbers.push_back(statementNo);
      action = scaIgnore;
    };
    env.script.Run();
    ASSERT_EQ(seen.size(), c.expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].text, c.expected[i].text) << i;
      EXPECT_EQ(seen[i].lineNo, c.expected[i].lineNo) << i;
      EXPECT_EQ(numbers[i], static_cast<int>(i));
    }
  }
}

TEST(SQLScript, AnUnterminatedLiteralOrCommentStopsTheRunBeforeItsFirstStatement) {
  struct Case {
    QStringList sql;
    QString error;
  };
  const Case cases[] = {
      {{"select 1", "/", "select 'abc;", "/"}, "Unterminated string on line 2"},
      {{"select 1 /* never", "closed */ -- or", "is it /* no"}, "Unterminated comment on line 2"},
      {{"select [a", "/"}, "Unterminated bracketed name on line 0"},
      {{"select 1; select \"a"}, "Unterminated quoted name on line 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql.join('|').toStdString());
    Env env(c.sql);
    const Outcome out = Capture([&] { env.script.Run(); });
    EXPECT_EQ(out.className, "EDatabaseError");
    EXPECT_EQ(out.message, c.error);
    EXPECT_TRUE(env.server.AttemptedTexts().isEmpty());
    EXPECT_EQ(env.after, 0);
  }
}

TEST(SQLScript, SelectsOneStatementOrFailsBeforeRunning) {
  const QStringList script = {"s0", "/", "", "/", "s1; s2", "/"};
  struct Case {
    QStringList sql;
    int statementNo;
    QStringList attempted;
    QString error;  // empty: the run succeeds
    int before;
  };
  const Case cases[] = {
      {script, 0, {"s0"}, "", 1},
      {script, 1, {"s1"}, "", 1},
      {script, 2, {"s2"}, "", 1},
      {script, 3, {}, "List index out of bounds (3)", 1},
      {script, -1, {"s0", "s1", "s2"}, "", 1},
      {{" ", "/", "", "\t/"}, -1, {}, "List index out of bounds (-1)", 1},
      {{}, -1, {}, "No SQL statement available", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql.join('|').toStdString() + " #" + std::to_string(c.statementNo));
    Env env(c.sql);
    const Outcome out = Capture([&] { env.script.RunStatement(c.statementNo); });
    EXPECT_EQ(env.server.AttemptedTexts(), c.attempted);
    EXPECT_EQ(out.message, c.error);
    if (out.raised) {
      EXPECT_EQ(out.className, "EDatabaseError");
    }
    EXPECT_EQ(env.before, c.before);
    EXPECT_EQ(env.after, out.raised ? 0 : 1);
    EXPECT_EQ(env.db.UseCount(), 0);
  }
  Env empty;
  EXPECT_TRUE(Capture([&] { empty.script.Run(); }).raised);
  EXPECT_EQ(empty.server.Opens(), 0) << "an empty script must not even connect";
}

TEST(SQLScript, ConnectionProblemsStopTheRunBeforeAnyEvent) {
  struct Case {
    const char* name;
    std::function<void(Env&)> setup;
    const char* className;
    QString message;
  };
  const Case cases[] = {
      {"unknown connection name", [](Env& e) { e.script.SetDatabaseName(QStringLiteral("NOPE")); },
       "EDatabaseError", "Unknown database: NOPE"},
      {"login refused", [](Env& e) { e.server.FailOpen(true); }, "EDBEngineError", "Login failed"},
      {"connection closed again while registering",
       [](Env& e) { e.db.AfterConnect = [](TDatabase& d) { d.Close(); }; }, "EDatabaseError",
       "Cannot perform this operation on a closed database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env({"select 1"});
    c.setup(env);
    const Outcome out = Capture([&] { env.script.Run(); });
    EXPECT_EQ(out.className, c.className);
    EXPECT_EQ(out.message, c.message);
    EXPECT_EQ(env.before, 0);
    EXPECT_TRUE(env.server.Attempts().empty());
    EXPECT_EQ(env.db.UseCount(), 0);
  }
}

TEST(SQLScript, FailingStatementCarriesItsLineAndStopsTheRun) {
  struct Case {
    FailKind kind;
    QString message;
    const char* className;
    QString expectedMessage;
    bool handlerCalled;
  };
  const Case cases[] = {
      {FailKind::Engine, "ไม่พบตาราง Menu", "EDBEngineError", "ไม่พบตาราง Menu", true},
      {FailKind::Database, "Field 'A' not found", "EDatabaseError",
       "Field 'A' not found. Error on line 4", true},
      {FailKind::Database, "", "EDatabaseError", "Error on line 4", true},
      {FailKind::Other, "Disk full", "EInOutError", "Disk full", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className);
    Env env(kThree);
    env.server.Fail({.match = "s2", .kind = c.kind, .message = c.message});
    const void* handled = nullptr;
    int lineNo = -1, statementNo = -1;
    env.script.OnScriptError = [&](TSQLScript&, EDatabaseError& e, int line, int no,
                                   TScriptAction&) {
      handled = &e;
      lineNo = line;
      statementNo = no;
    };
    try {
      env.script.Run();
      ADD_FAILURE() << "the run succeeded";
    } catch (const qav::Exception& e) {
      EXPECT_EQ(QString::fromLatin1(e.ClassName()), c.className);
      EXPECT_EQ(e.Message(), c.expectedMessage);
      if (c.handlerCalled) {
        EXPECT_EQ(handled, &e) << "the handler's error is the one raised";
      }
      if (auto* engine = dynamic_cast<const EDBEngineError*>(&e)) {
        ASSERT_EQ(engine->ErrorCount(), 2);
        EXPECT_EQ(engine->Errors()[0].Message, c.message);
        EXPECT_EQ(engine->Errors()[1].ErrorCode, 0);
        EXPECT_EQ(engine->Errors()[1].NativeError, 4);
        EXPECT_EQ(engine->Errors()[1].Message, "Error on line 4");
      }
    }
    EXPECT_EQ(handled != nullptr, c.handlerCalled);
    if (c.handlerCalled) {
      EXPECT_EQ(lineNo, 4);
      EXPECT_EQ(statementNo, 1);
    }
    EXPECT_EQ(env.server.AttemptedTexts(), QStringList({"s1", "s2"}));
    EXPECT_EQ(env.server.Durable(), QStringList({"s1"}));
    EXPECT_EQ(env.after, 0);
    EXPECT_EQ(env.db.UseCount(), 0);
  }
}

TEST(SQLScript, ErrorHandlerActionDecidesHowTheRunGoesOn) {
  struct Case {
    TScriptAction action;
    int failures;  // -1: the statement always fails
    QStringList attempted;
    const char* error;  // class of the error the run raises, empty for none
    int handlerCalls;
    int reported;
  };
  const Case cases[] = {
      {scaRetry, 2, {"s1", "s2", "s2", "s2", "s3"}, "", 2, 0},
      {scaIgnore, -1, {"s1", "s2", "s3"}, "", 1, 0},
      {scaReport, -1, {"s1", "s2", "s3"}, "", 1, 1},
      {scaAbort, -1, {"s1", "s2"}, "EAbort", 1, 0},
      {scaFail, -1, {"s1", "s2"}, "EDBEngineError", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.action));
    Env env({"s1", "/", "s2", "/", "s3"});
    env.server.Fail({.match = "s2", .message = kThai, .times = c.failures});
    int calls = 0;
    env.script.OnScriptError = [&](TSQLScript& sender, EDatabaseError&, int, int,
                                   TScriptAction& action) {
      EXPECT_EQ(&sender, &env.script);
      EXPECT_EQ(action, scaFail);
      ++calls;
      action = c.action;
    };
    std::vector<QString> reported;
    SetApplicationExceptionHandler([&](const qav::Exception& e) {
      reported.push_back(QString::fromLatin1(e.ClassName()) + ": " + e.Message());
    });
    const Outcome out = Capture([&] { env.script.Run(); });
    SetApplicationExceptionHandler({});
    EXPECT_EQ(out.className, c.error);
    EXPECT_EQ(env.server.AttemptedTexts(), c.attempted);
    EXPECT_EQ(calls, c.handlerCalls);
    ASSERT_EQ(static_cast<int>(reported.size()), c.reported);
    if (c.reported) {
      EXPECT_EQ(reported[0], "EDBEngineError: " + kThai);
    }
    EXPECT_EQ(env.after, out.raised ? 0 : 1);
    EXPECT_EQ(env.db.UseCount(), 0);
  }
}

TEST(SQLScript, TransactionWrapsTheWholeScriptOnly) {
  struct Case {
    const char* name;
    bool transaction;
    int statementNo;
    std::function<void(Env&)> setup;
    QStringList log;
    QStringList durable;
    bool raises;
  };
  const auto none = [](Env&) {};
  const QStringList all = {"s1", "s2", "s3"};
  const Case cases[] = {
      {"commit after the last statement", true, -1, none, {"start", "commit"}, all, false},
      {"rollback on a database error",
       true,
       -1,
       [](Env& e) { e.server.Fail({.match = "s2"}); },
       {"start", "rollback"},
       {},
       true},
      {"rollback on any other error",
       true,
       -1,
       [](Env& e) { e.server.Fail({.match = "s3", .kind = FailKind::Other}); },
       {"start", "rollback"},
       {},
       true},
      {"refused transaction: runs without one",
       true,
       -1,
       [](Env& e) { e.server.FailStartTransaction(true); },
       {},
       all,
       false},
      {"no transaction asked", false, -1, none, {}, all, false},
      {"single statement runs without one", true, 1, none, {}, {"s2"}, false},
      {"an active transaction is left to its owner",
       true,
       -1,
       [](Env& e) {
         e.db.Open();
         e.db.StartTransaction();
       },
       {"start"},
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env({"s1", "/", "s2", "/", "s3"});
    env.script.SetTransaction(c.transaction);
    const bool ownTransaction = std::string(c.name).starts_with("an active");
    c.setup(env);
    const Outcome out = Capture([&] { env.script.RunStatement(c.statementNo); });
    EXPECT_EQ(out.raised, c.raises) << out.message.toStdString();
    EXPECT_EQ(env.server.TransactionLog(), c.log);
    EXPECT_EQ(env.server.Durable(), c.durable);
    EXPECT_EQ(env.db.InTransaction(), ownTransaction);
  }
}

TEST(SQLScript, BindsScriptParametersPerStatement) {
  struct Case {
    const char* name;
    QStringList sql;
    QStringList names;  // what the script finds
    std::function<void(TParams&)> set;
    QStringList attempted;
    std::vector<QVariant> args;  // of the last statement
    QString error;
  };
  const auto none = [](TParams&) {};
  const Case cases[] = {
      {"named parameters bound in order",
       {"select * from company", "where namethai = :p and id = :id", "/", "update t set id = :id"},
       {"p", "id"},
       [](TParams& p) {
         p.ParamByName("p").SetAsString(kThai);
         p.ParamByName("ID").SetAsInteger(7);
       },
       {"select * from company\r\nwhere namethai = ? and id = ?", "update t set id = ?"},
       {QVariant::fromValue(qint64(7))},
       ""},
      {"quoted name is text",
       {"select * from t where a = ':p'"},
       {},
       none,
       {"select * from t where a = ':p'"},
       {},
       ""},
      {"double colon is text", {"select a::b from t"}, {}, none, {"select a::b from t"}, {}, ""},
      {"macros expand before parameters are found",
       {"select * from t where %c and a = :p"},
       {"p"},
       [](TParams& p) { p.ParamByName("p").SetAsInteger(1); },
       {"select * from t where 0=0 and a = ?"},
       {QVariant::fromValue(qint64(1))},
       ""},
      {"parameter without a value",
       {"select :p"},
       {"p"},
       none,
       {},
       {},
       "No value for parameter 'p'. Error on line 0"},
      {"markers in comments and bracketed names are text",
       {"select :p -- :q", "/* :r */ from t where [a%b] = 1"},
       {"p"},
       [](TParams& p) { p.ParamByName("p").SetAsInteger(2); },
       {"select ?\r\nfrom t where [a%b] = 1"},
       {QVariant::fromValue(qint64(2))},
       ""},
      // The database layer reads the statement as the script does: a colon inside a bracketed
      // name is text there too.
      {"a colon in a bracketed name is text to the database layer as well",
       {"select 1", "/", "select [a:q] from t"},
       {},
       none,
       {"select 1", "select [a:q] from t"},
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env(c.sql);
    QStringList names;
    for (const TParam& p : env.script.Params()) {
      names.append(p.Name());
      EXPECT_EQ(p.DataType(), ftUnknown);
      EXPECT_EQ(p.ParamType(), ptUnknown);
    }
    EXPECT_EQ(names, c.names);
    c.set(env.script.Params());
    const Outcome out = Capture([&] { env.script.Run(); });
    EXPECT_EQ(out.message, c.error);
    EXPECT_EQ(env.server.AttemptedTexts(), c.attempted);
    if (!c.error.isEmpty()) continue;
    EXPECT_EQ(env.server.Attempts().back().args, c.args);
  }
  Env bound({"update t set name = :p where id = :id"});
  bound.script.Params().ParamByName("p").SetAsString(kThai);
  bound.script.Params().ParamByName("id").SetAsInteger(3);
  bound.script.Run();
  EXPECT_EQ(bound.server.Attempts().at(0).args,
            (std::vector<QVariant>{kThai, QVariant::fromValue(qint64(3))}));
}

TEST(SQLScript, IgnoreParamsSendsTheExpandedTextDirectly) {
  Env env({"select * from t where a = :p", "/", "select 10 % 3"});
  env.script.SetIgnoreParams(true);
  env.script.Run();
  EXPECT_EQ(env.server.AttemptedTexts(),
            QStringList({"select * from t where a = :p", "select 10 0=0 3"}));
  for (const auto& s : env.server.Attempts()) EXPECT_TRUE(s.args.empty());
}

TEST(ScriptQuery, ExpandsMacrosOutsideQuotes) {
  struct Case {
    QStringList sql;
    QStringList macros;
    QString expanded;
  };
  const Case cases[] = {
      {{"select 10 % 3"}, {""}, "select 10 0=0 3"},
      {{"select * from t where x like '%a%'"}, {}, "select * from t where x like '%a%'"},
      {{"select 100 %% 7"}, {}, "select 100 %% 7"},
      {{"select * from t where %cond"}, {"cond"}, "select * from t where 0=0"},
      {{"select %t.a from x", "where %t.b = 1"}, {"t"}, "select 0=0.a from x\r\nwhere 0=0.b = 1"},
      {{"where %a and %a"}, {"a"}, "where 0=0 and 0=0"},
      {{"select %m, '%m'"}, {"m"}, "select 0=0, '%m'"},
      {{"where name like '" + kThai + "%' and %c"},
       {"c"},
       "where name like '" + kThai + "%' and 0=0"},
      // One quote kind inside the other, brackets and comments do not end the literal.
      {{"select 'a\"b%c', [x%y], \"p'%q\" /* %z */ , %m"},
       {"m"},
       "select 'a\"b%c', [x%y], \"p'%q\" /* %z */ , 0=0"},
      {{"where '%a' = %a"}, {"a"}, "where '%a' = 0=0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql.join('|').toStdString());
    TScriptQuery q;
    q.SetSQL(c.sql);
    QStringList names;
    for (const TParam& m : q.Macros()) {
      names.append(m.Name());
      EXPECT_EQ(m.DataType(), ftString);
      EXPECT_EQ(m.ParamType(), ptInput);
      EXPECT_EQ(m.AsString(), "0=0");
    }
    EXPECT_EQ(names, c.macros);
    EXPECT_EQ(q.ExpandedText(), c.expanded);
    EXPECT_TRUE(q.Params().IsEmpty());
  }
}

TEST(ScriptQuery, KnownMacrosKeepTheirValues) {
  TScriptQuery q;
  q.SetSQL(QStringList{"where %cond"});
  q.Macros().ParamByName("cond").SetAsString("x > 1");
  q.SetSQL(QStringList{"select 1", "where %cond and %other"});
  EXPECT_EQ(q.ExpandedText(), "select 1\r\nwhere x > 1 and 0=0");
  // A value that refers to its own macro is inserted once, not expanded forever.
  q.Macros().ParamByName("cond").SetAsString("(%cond)");
  EXPECT_EQ(q.ExpandedText(), "select 1\r\nwhere (%cond) and 0=0");
}

TEST(SQLScript, ScriptChangesKeepParameterValues) {
  TSQLScript script;
  script.SetSQL(QStringList{"select :a, :b"});
  script.Params().ParamByName("a").SetAsInteger(5);
  script.SetSQL(QStringList{"select :b, :c", "where x = :A"});
  ASSERT_EQ(script.Params().Count(), 3);
  EXPECT_EQ(script.Params()[2].DataType(), ftInteger);
  EXPECT_EQ(script.Params()[2].AsInteger(), 5);
  EXPECT_FALSE(script.Params()[0].Bound());

  TParams incoming;
  incoming.CreateParam(ftString, "c", ptInput).SetAsString(kThai);
  incoming.CreateParam(ftString, "z", ptInput).SetAsString("no such name");
  script.SetParams(incoming);
  EXPECT_EQ(script.Params().ParamByName("c").AsString(), kThai);
  EXPECT_EQ(script.Params().FindParam("z"), nullptr);

  script.SetSQL(QStringLiteral("select :c\r\nfrom t\r\n"));
  EXPECT_EQ(script.SQL(), QStringList({"select :c", "from t"}));
  ASSERT_EQ(script.Params().Count(), 1);
  EXPECT_EQ(script.Params()[0].AsString(), kThai);
}

TEST(SQLScript, StoredSettingsRoundTrip) {
  TSQLScript script;
  script.SetDatabaseName("DBTEST");
  script.SetSessionName("Backup");
  script.SetTransaction(true);
  script.SetIgnoreParams(true);
  script.SetSemicolonTerm(false);
  script.SetTerm(u'G');
  script.SetSQL(QStringList{"insert into t values (:name, :big, :price, :flag,",
                            ":stamp, :raw, :gone, :unset)", "G"});
  TParams& p = script.Params();
  p.ParamByName("name").SetAsString(kThai);
  p.ParamByName("big").SetAsInteger(9007199254740993LL);
  p.ParamByName("price").SetAsFloat(1234.5678);
  p.ParamByName("flag").SetAsBoolean(true);
  p.ParamByName("stamp").SetAsDateTime(QDateTime(QDate(2024, 1, 31), QTime(13, 45, 6, 789)));
  p.ParamByName("raw").SetValue(QByteArray("\x00\xff\x41", 3));
  p.ParamByName("raw").SetDataType(ftBytes);
  p.ParamByName("gone").SetDataType(ftString);
  p.ParamByName("gone").SetNull();
  p.ParamByName("name").SetParamType(ptInputOutput);

  TSQLScript loaded;
  loaded.SetSQL(script.SQL());
  for (TParam& q : loaded.Params()) q.SetAsString("stale");  // must not survive the load
  loaded.LoadSettings(script.SaveSettings());

  EXPECT_EQ(loaded.DatabaseName(), "DBTEST");
  EXPECT_EQ(loaded.SessionName(), "Backup");
  EXPECT_TRUE(loaded.Transaction());
  EXPECT_TRUE(loaded.IgnoreParams());
  EXPECT_FALSE(loaded.SemicolonTerm());
  EXPECT_EQ(loaded.Term(), u'G');
  EXPECT_EQ(loaded.SQL(), script.SQL());
  EXPECT_FALSE(loaded.Loading());
  ASSERT_EQ(loaded.Params().Count(), p.Count());
  for (int i = 0; i < p.Count(); ++i) {
    const TParam& a = p[i];
    const TParam& b = loaded.Params()[i];
    SCOPED_TRACE(a.Name().toStdString());
    EXPECT_EQ(b.Name(), a.Name());
    EXPECT_EQ(b.DataType(), a.DataType());
    EXPECT_EQ(b.ParamType(), a.ParamType());
    EXPECT_EQ(b.Bound(), a.Bound());
    EXPECT_EQ(b.Value().typeId(), a.Value().typeId());
    EXPECT_EQ(b.Value(), a.Value());
  }

  // Defaults are left out, except the transaction flag and the (empty) parameter data.
  const QJsonObject defaults = QJsonDocument::fromJson(TSQLScript().SaveSettings()).object();
  EXPECT_TRUE(defaults.contains("ParamData"));
  EXPECT_TRUE(defaults["ParamData"].toArray().isEmpty());
  EXPECT_TRUE(defaults.contains("Transaction"));
  EXPECT_FALSE(defaults.contains("IgnoreParams"));
  EXPECT_FALSE(defaults.contains("SemicolonTerm"));
  EXPECT_FALSE(defaults.contains("Term"));

  TSQLScript fresh;
  fresh.LoadSettings(TSQLScript().SaveSettings());
  EXPECT_TRUE(fresh.SemicolonTerm());
  EXPECT_EQ(fresh.Term(), u'/');
  EXPECT_FALSE(fresh.Transaction());
  EXPECT_FALSE(fresh.IgnoreParams());
  EXPECT_TRUE(Capture([&] { fresh.LoadSettings("not json"); }).raised);
}

TEST(SQLScript, RunHoldsTheConnectionOnlyWhileItRuns) {
  struct Case {
    bool keepConnection;
    bool otherUser;
    bool failing;
  };
  const Case cases[] = {
      {true, false, false}, {false, false, false}, {false, false, true}, {false, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.keepConnection << c.otherUser << c.failing);
    Env env({"s1", "/", "s2"});
    env.db.SetKeepConnection(c.keepConnection);
    if (c.otherUser) env.db.AcquireUse();
    const int before = env.db.UseCount();
    if (c.failing) env.server.Fail({.match = "s2"});
    std::vector<int> seen;  // use count and statements reached, at each event
    env.script.BeforeExec = [&](TSQLScript&) {
      seen = {env.db.UseCount(), static_cast<int>(env.server.Attempts().size())};
    };
    env.script.AfterExec = [&](TSQLScript&) {
      seen.push_back(static_cast<int>(env.server.Attempts().size()));
    };
    EXPECT_EQ(Capture([&] { env.script.Run(); }).raised, c.failing);
    EXPECT_EQ(env.db.UseCount(), before);
    EXPECT_EQ(env.db.Connected(), c.keepConnection || c.otherUser);
    const std::vector<int> expected =
        c.failing ? std::vector<int>{before + 1, 0} : std::vector<int>{before + 1, 0, 2};
    EXPECT_EQ(seen, expected);
  }
}
