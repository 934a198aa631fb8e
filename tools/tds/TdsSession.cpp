#include "tools/tds/TdsSession.h"

#include "db/Errors.h"
#include "db/embedded/EmbeddedConnection.h"
#include "db/embedded/EmbeddedSuite.h"
#include "db/embedded/ServerErrors.h"
#include "sql/TsqlLexer.h"
#include "tools/tds/TdsLogin.h"
#include "tools/tds/TdsResponse.h"
#include "tools/tds/TdsResultSet.h"
#include "tools/tds/TdsTls.h"

#include <QFileInfo>
#include <algorithm>

namespace qav::tds {

namespace {

// What @@VERSION says: clients read the product and its version number from it.
QString VersionText() {
  return QStringLiteral(
      "Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tQAV test server on an embedded "
      "suite\n");
}

// What the server calls itself: clients look for this name to know SQL Server's dialect.
constexpr char16_t kProductName[] = u"Microsoft SQL Server";
constexpr std::uint32_t kProductVersion = 0x0F0007D0;  // 15.0.2000
constexpr std::uint8_t kLoginFailedSeverity = 14;
constexpr int kUserDefinedError = 50000;  // what RAISERROR with a text raises
constexpr int kOverflowError = 8115;
constexpr char16_t kLanguage[] = u"us_english";

ServerMessage LoginError(std::int32_t number, std::uint8_t severity, const QString& text) {
  ServerMessage m;
  m.number = number;
  m.severity = severity;
  m.text = text;
  return m;
}

QByteArray Descriptor(std::uint64_t value) {
  Writer w;
  w.U64(value);
  return w.Data();
}

db::TFieldType FieldTypeOf(const TypeInfo& t) {
  using namespace db;
  switch (t.type) {
    case DataType::Int1:
    case DataType::Int2:
      return ftSmallint;
    case DataType::Int4:
      return ftInteger;
    case DataType::Int8:
      return ftLargeint;
    case DataType::IntN:
      return t.length == 8 ? ftLargeint : t.length <= 2 ? ftSmallint : ftInteger;
    case DataType::Bit:
    case DataType::BitN:
      return ftBoolean;
    case DataType::Flt4:
    case DataType::Flt8:
    case DataType::FltN:
      return ftFloat;
    case DataType::Money:
    case DataType::Money4:
    case DataType::MoneyN:
      return ftCurrency;
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::DecimalN:
    case DataType::NumericN:
      return ftBCD;
    case DataType::DateN:
      return ftDate;
    case DataType::TimeN:
      return ftTime;
    case DataType::DateTime:
    case DataType::DateTime4:
    case DataType::DateTimeN:
    case DataType::DateTime2N:
    case DataType::DateTimeOffsetN:
      return ftDateTime;
    case DataType::Text:
    case DataType::NText:
      return ftMemo;
    case DataType::Image:
      return ftBlob;
    case DataType::BigBinary:
    case DataType::Binary:
      return ftBytes;
    case DataType::BigVarBinary:
    case DataType::VarBinary:
      return t.IsPlp() ? ftBlob : ftVarBytes;
    case DataType::BigChar:
    case DataType::NChar:
    case DataType::Char:
      return ftFixedChar;
    default:
      return ftString;
  }
}

std::uint16_t CommandOf(sql::StatementKind kind) {
  switch (kind) {
    case sql::StatementKind::Insert:
      return kCmdInsert;
    case sql::StatementKind::Update:
      return kCmdUpdate;
    case sql::StatementKind::Delete:
      return kCmdDelete;
    default:
      return kCmdSelect;
  }
}

}  // namespace

Session::Session(int fd, const ServerOptions& options, std::uint16_t spid)
    : channel_(fd), options_(options) {
  channel_.SetSpid(spid);
}

void Session::Run() {
  // A connection the server ends (a refused login, a broken request) is closed at once; the
  // thread and the socket are reaped when the next client comes.
  struct CloseAtEnd {
    Channel& channel;
    ~CloseAtEnd() { channel.Close(); }
  } closeAtEnd{channel_};
  try {
    if (!Login()) return;
    channel_.StartReader();
    while (std::optional<Message> m = channel_.Read()) {
      switch (m->type) {
        case PacketType::SqlBatch:
          Batch(*m);
          break;
        case PacketType::Rpc:
          Rpc(*m);
          break;
        case PacketType::TransactionManager:
          TransactionManager(*m);
          break;
        case PacketType::Attention: {
          // The response was complete before the attention came: acknowledge it alone.
          Response response(channel_);
          response.Cancel();
          response.Finish();
          break;
        }
        default:
          return;  // nothing else is valid after the login
      }
    }
  } catch (const std::exception&) {
    // A broken request or a failing socket ends this connection only.
  }
  if (db_ && transaction_) {
    try {
      db_->Rollback();
    } catch (const std::exception&) {
    }
  }
}

bool Session::Login() {
  std::optional<Message> m = channel_.Read();
  if (!m) return false;
  bool loginOnly = false;  // TLS for the login alone, as a client that asks for none gets it
  bool refuseClear = false;
  if (m->type == PacketType::PreLogin) {
    const PreLoginRequest request = ParsePreLogin(
        std::string_view(m->payload.constData(), static_cast<std::size_t>(m->payload.size())));
    const bool asked =
        request.encryption == Encryption::On || request.encryption == Encryption::Required;
    Encryption answer = Encryption::NotSupported;
    if (options_.tls && request.encryption != Encryption::NotSupported) {
      answer = asked ? Encryption::On : Encryption::Off;
      loginOnly = !asked;
    }
    // A client that asked for encryption ends the connection on NOT_SUP; one that goes on
    // anyway is refused at its login.
    refuseClear = asked && answer == Encryption::NotSupported;
    const QByteArray reply = PreLoginResponse(kProductVersion, answer);
    channel_.Send(std::string_view(reply.constData(), static_cast<std::size_t>(reply.size())),
                  true);
    if (answer != Encryption::NotSupported) {
      auto link = std::make_unique<TlsLink>(channel_.Fd(), *options_.tls);
      if (!link->Handshake()) return false;
      channel_.UseTls(std::move(link));
    }
    m = channel_.Read();
    if (!m) return false;
  }
  if (loginOnly) channel_.UseTls(nullptr);
  if (m->type != PacketType::Login7) return false;
  const Login7 login = ParseLogin7(
      std::string_view(m->payload.constData(), static_cast<std::size_t>(m->payload.size())));
  tdsVersion_ = login.tdsVersion;
  if (refuseClear) {
    RefuseLogin({LoginError(
        18456, kLoginFailedSeverity,
        QStringLiteral("The client asked for an encrypted connection, and this server was "
                       "started without TLS. Login failed."))});
    return false;
  }
  const QString loginFailed = QStringLiteral("Login failed for user '%1'.").arg(login.userName);
  if (tdsVersion_ < kTds72) {
    RefuseLogin({LoginError(
        18456, kLoginFailedSeverity,
        QStringLiteral("The test server speaks TDS 7.2 and later only. ") + loginFailed)});
    return false;
  }
  if (login.userName.compare(options_.user, Qt::CaseInsensitive) != 0 ||
      login.password != options_.password) {
    RefuseLogin({LoginError(18456, kLoginFailedSeverity, loginFailed)});
    return false;
  }
  QString database = login.database.isEmpty() ? QStringLiteral("master") : login.database;
  const QString file = db::embedded::FindDatabaseFile(options_.suiteFolder, database);
  try {
    if (file.isEmpty()) throw db::EDBEngineError(QString());
    database = QFileInfo(file).completeBaseName();
    db::ConnectSettings settings;
    settings.server = QStringLiteral("embedded:") + options_.suiteFolder;
    settings.database = database;
    db_ = db::OpenEmbedded(settings);
  } catch (const db::EDatabaseError&) {
    RefuseLogin({LoginError(4060, 11,
                            QStringLiteral("Cannot open database \"%1\" requested by the login. "
                                           "The login failed.")
                                .arg(database)),
                 LoginError(18456, kLoginFailedSeverity, loginFailed)});
    return false;
  }
  loginDatabase_ = database_ = database;

  int packetSize = login.packetSize == 0 ? kDefaultPacketSize : static_cast<int>(login.packetSize);
  packetSize = std::clamp(packetSize, kMinPacketSize, kMaxPacketSize);

  Response r(channel_);
  Writer& w = r.Tokens();
  WriteEnvChange(w, EnvChangeType::Database, database_, u"master");
  WriteMessage(w, Token::Info,
               {5701, 2, 0, QStringLiteral("Changed database context to '%1'.").arg(database_),
                options_.serverName, QString(), 1});
  WriteEnvChangeBytes(w, EnvChangeType::SqlCollation, CollationBytes(kThaiCiAs), QByteArray());
  WriteEnvChange(w, EnvChangeType::Language, kLanguage, u"");
  WriteMessage(w, Token::Info,
               {5703, 1, 0, QStringLiteral("Changed language setting to us_english."),
                options_.serverName, QString(), 1});
  WriteLoginAck(w, std::min(tdsVersion_, kTds74), kProductName, kProductVersion);
  WriteEnvChange(w, EnvChangeType::PacketSize, QString::number(packetSize),
                 QString::number(kDefaultPacketSize));
  r.Done(Token::Done, kDoneFinal, 0, 0);
  r.Finish();
  channel_.SetPacketSize(packetSize);
  return !channel_.Broken();
}

void Session::RefuseLogin(const std::vector<ServerMessage>& messages) {
  // A client older than TDS 7.2 reads the older forms of the tokens.
  const bool before72 = tdsVersion_ < kTds72;
  Writer w;
  for (ServerMessage m : messages) {
    m.server = options_.serverName;
    WriteMessage(w, Token::Error, m, before72);
  }
  WriteDone(w, Token::Done, kDoneError, 0, 0, before72);
  channel_.Send(std::string_view(w.Data().constData(), static_cast<std::size_t>(w.Size())), true);
}

std::uint16_t Session::DoneStatus() const {
  return transaction_ ? kDoneInTransaction : 0;
}

std::uint16_t Session::CountStatus() const {
  return noCount_ ? 0 : kDoneCount;
}

ServerMessage Session::EngineError(const db::EDatabaseError& e, const QString& procedure,
                                   int line) const {
  if (const auto* engine = dynamic_cast<const db::EDBEngineError*>(&e);
      engine && !engine->Errors().empty() && engine->Errors().front().Severity > 0) {
    const db::TDBError& first = engine->Errors().front();
    return {first.NativeError,
            1,
            static_cast<std::uint8_t>(first.Severity),
            e.Message(),
            options_.serverName,
            procedure,
            line};
  }
  return NumberedError(kUserDefinedError, e.Message(), procedure, line);
}

ServerMessage Session::NumberedError(int number, const QString& text, const QString& procedure,
                                     int line) const {
  return {number, 1, 16, text, options_.serverName, procedure, line};
}

void Session::Error(Response& response, const ServerMessage& message, bool inProcedure) {
  WriteMessage(response.Tokens(), Token::Error, message);
  response.Done(inProcedure ? Token::DoneInProc : Token::Done, DoneStatus() | kDoneError, 0, 0);
}

void Session::ResetConnection(Response& response) {
  if (transaction_) {
    try {
      db_->Rollback();
    } catch (const std::exception&) {
    }
    transaction_ = 0;
    tranCount_ = 0;
  }
  implicitTransactions_ = false;
  noCount_ = false;
  prepared_.clear();
  if (database_.compare(loginDatabase_, Qt::CaseInsensitive) != 0) {
    db::ConnectSettings settings;
    settings.server = QStringLiteral("embedded:") + options_.suiteFolder;
    settings.database = loginDatabase_;
    db_ = db::OpenEmbedded(settings);
    database_ = loginDatabase_;
  }
  WriteEnvChangeBytes(response.Tokens(), EnvChangeType::ResetConnectionAck, {}, {});
}

void Session::Batch(const Message& message) {
  Response r(channel_);
  if (message.status & (kStatusResetConnection | kStatusResetConnectionKeepTransaction))
    ResetConnection(r);
  const QString sql =
      ParseSqlBatch(std::string_view(message.payload.constData(),
                                     static_cast<std::size_t>(message.payload.size())),
                    true);
  RunText(r, sql, {}, false);
  r.Finish();
}

bool Session::RunText(Response& response, const QString& sql, const Arguments& args,
                      bool inProcedure) {
  if (options_.onText) options_.onText(sql);
  std::vector<BatchStatement> statements;
  try {
    statements = SplitBatch(sql);
  } catch (const sql::ETsqlSyntax& e) {
    // SQL Server compiles the whole batch first: nothing of it runs.
    Error(response, {e.Number(), 1, 15, e.Message(), options_.serverName, QString(), e.Line()},
          inProcedure);
    return false;
  }
  if (statements.empty() && !inProcedure) response.Done(Token::Done, DoneStatus(), 0, 0);
  for (const BatchStatement& statement : statements) {
    if (!response.Cancelled() && channel_.AttentionArrived(0)) response.Cancel();
    if (response.Cancelled()) return true;
    if (!RunStatement(response, statement, args, inProcedure)) return false;
  }
  return true;
}

bool Session::RunStatement(Response& response, const BatchStatement& statement,
                           const Arguments& args, bool inProcedure) {
  const Token done = inProcedure ? Token::DoneInProc : Token::Done;
  const ServerStatement& s = statement.server;
  switch (s.kind) {
    case ServerStatement::Kind::Use:
      return UseDatabase(response, s.name, inProcedure);
    case ServerStatement::Kind::Set:
      if (s.name == QLatin1String("IMPLICIT_TRANSACTIONS")) implicitTransactions_ = s.on;
      if (s.name == QLatin1String("NOCOUNT")) noCount_ = s.on;
      response.Done(done, DoneStatus(), 0, 0);
      return true;
    case ServerStatement::Kind::WaitFor:
      WaitFor(response, s.milliseconds);
      if (!response.Cancelled()) response.Done(done, DoneStatus(), 0, 0);
      return true;
    case ServerStatement::Kind::BeginTran:
      BeginTransaction(response);
      ++tranCount_;
      response.Done(done, DoneStatus(), 0, 0);
      return true;
    case ServerStatement::Kind::Commit:
    case ServerStatement::Kind::Rollback: {
      // As SQL Server counts BEGIN TRAN: the outermost COMMIT commits, ROLLBACK undoes all.
      const bool commit = s.kind == ServerStatement::Kind::Commit;
      if (!transaction_ && !s.whenOpen) {
        Error(response,
              {commit ? 3902 : 3903, 1, 16,
               QStringLiteral("The %1 TRANSACTION request has no corresponding BEGIN TRANSACTION.")
                   .arg(commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")),
               options_.serverName, QString(), statement.line},
              inProcedure);
        return false;
      }
      if (!commit || --tranCount_ <= 0) EndTransaction(response, commit);
      response.Done(done, DoneStatus(), 0, 0);
      return true;
    }
    case ServerStatement::Kind::RaiseError: {
      const bool error = s.severity > 10;
      WriteMessage(
          response.Tokens(), error ? Token::Error : Token::Info,
          {50000, static_cast<std::uint8_t>(s.state), static_cast<std::uint8_t>(s.severity), s.text,
           options_.serverName, QString(), statement.line});
      // As on SQL Server, the batch goes on after RAISERROR.
      response.Done(done, DoneStatus() | (error ? kDoneError : 0), 0, 0);
      return true;
    }
    case ServerStatement::Kind::Engine:
      return RunEngine(response, statement, args, inProcedure);
  }
  return true;
}

bool Session::WriteResult(Response& response, const db::ResultSet& result, bool inProcedure,
                          const Arguments& args, const std::vector<int>& echoed) {
  ResultEncoder encoder(result, tdsVersion_);
  if (echoed.size() == result.fields.size())
    for (std::size_t col = 0; col < echoed.size(); ++col) {
      const auto k = static_cast<std::size_t>(echoed[col] - 1);
      if (echoed[col] > 0 && k < args.values.size() && k < args.types.size())
        encoder.Echo(static_cast<int>(col), args.types[k], args.values[k]);
    }
  encoder.WriteMetadata(response.Tokens());
  const qint64 rows = result.rows.Rows();
  const qsizetype packet = channel_.PacketSize();
  for (qint64 row = 0; row < rows; ++row) {
    Writer& w = response.Tokens();
    encoder.WriteRow(w, row);
    if (w.Size() >= packet && response.Flush()) return true;
  }
  response.Done(inProcedure ? Token::DoneInProc : Token::Done, DoneStatus() | CountStatus(),
                kCmdSelect, static_cast<std::uint64_t>(rows));
  return false;
}

bool Session::WriteNotes(Response& response, std::vector<db::StatementNote>& notes,
                         std::size_t held, int line, bool inProcedure) {
  for (std::size_t i = 0; i < notes.size(); ++i) {
    db::StatementNote& note = notes[i];
    if (i == held) continue;
    switch (note.kind) {
      case db::StatementNote::Kind::Message:
        // PRINT reaches the client as an informational message, as from SQL Server.
        WriteMessage(response.Tokens(), Token::Info,
                     {0, 1, 0, note.text, options_.serverName, QString(), line});
        break;
      case db::StatementNote::Kind::RowsAffected:
        response.Done(inProcedure ? Token::DoneInProc : Token::Done, DoneStatus() | CountStatus(),
                      kCmdSelect, static_cast<std::uint64_t>(std::max<qint64>(note.count, 0)));
        break;
      case db::StatementNote::Kind::Rows:
        if (note.rows && WriteResult(response, *note.rows, inProcedure)) return true;
        break;
    }
  }
  return response.Cancelled();
}

bool Session::RunEngine(Response& response, const BatchStatement& statement, const Arguments& args,
                        bool inProcedure) {
  const Token done = inProcedure ? Token::DoneInProc : Token::Done;
  const auto fail = [&](const ServerMessage& message) {
    // What ran before the error is said first, as SQL Server sends it as it goes.
    db_->TakeMessages();
    std::vector<db::StatementNote> notes = db_->TakeNotes();
    if (!WriteNotes(response, notes, notes.size(), statement.line, inProcedure))
      Error(response, message, inProcedure);
    return false;
  };
  try {
    if (implicitTransactions_ && !transaction_) BeginTransaction(response);
    std::unique_ptr<db::ResultSet> result;
    {
      const Channel::InterruptScope scope(channel_, [db = db_.get()] { db->Interrupt(); });
      result = db_->Execute(
          WithSessionValues(statement.text, {VersionText(), channel_.Spid(), database_}),
          args.values);
    }
    db_->TakeMessages();  // the notes say the same, in their place
    std::vector<db::StatementNote> notes = db_->TakeNotes();
    // A statement without rows ends with the DONE of its last count.
    std::size_t held = notes.size();
    if (!result)
      for (std::size_t i = notes.size(); i-- > 0;)
        if (notes[i].kind == db::StatementNote::Kind::RowsAffected) {
          held = i;
          break;
        }
    if (WriteNotes(response, notes, held, statement.line, inProcedure)) return true;
    if (result) {
      WriteResult(response, *result, inProcedure, args,
                  args.values.empty() ? std::vector<int>() : SelectedParameters(statement.text));
    } else {
      const qint64 count = held < notes.size() ? notes[held].count : db_->RowsAffected();
      if (count >= 0)
        response.Done(done, DoneStatus() | CountStatus(), CommandOf(statement.kind),
                      static_cast<std::uint64_t>(count));
      else
        response.Done(done, DoneStatus(), 0, 0);
    }
    return true;
  } catch (const db::EDatabaseError& e) {
    if (Cancelled(response)) return true;
    return fail(EngineError(e, QString(), db::LineOf(e, statement.line)));
  } catch (const std::range_error& e) {
    return fail(
        NumberedError(kOverflowError, QString::fromUtf8(e.what()), QString(), statement.line));
  }
}

bool Session::UseDatabase(Response& response, const QString& name, bool inProcedure) {
  const QString file = db::embedded::FindDatabaseFile(options_.suiteFolder, name);
  if (file.isEmpty()) {
    Error(response,
          {911, 1, 16,
           QStringLiteral("Database '%1' does not exist. Make sure that the name is entered "
                          "correctly.")
               .arg(name),
           options_.serverName, QString(), 1},
          inProcedure);
    return false;
  }
  const QString canonical = QFileInfo(file).completeBaseName();
  try {
    db::ConnectSettings settings;
    settings.server = QStringLiteral("embedded:") + options_.suiteFolder;
    settings.database = canonical;
    std::unique_ptr<db::BackendConnection> next = db::OpenEmbedded(settings);
    if (transaction_) EndTransaction(response, false);
    db_ = std::move(next);
  } catch (const db::EDatabaseError& e) {
    Error(response, EngineError(e), inProcedure);
    return false;
  }
  WriteEnvChange(response.Tokens(), EnvChangeType::Database, canonical, database_);
  WriteMessage(response.Tokens(), Token::Info,
               {5701, 1, 0, QStringLiteral("Changed database context to '%1'.").arg(canonical),
                options_.serverName, QString(), 1});
  database_ = canonical;
  response.Done(inProcedure ? Token::DoneInProc : Token::Done, DoneStatus(), 0, 0);
  return true;
}

void Session::BeginTransaction(Response& response) {
  if (transaction_) return;  // nested: the BEGIN TRAN statements count the levels
  tranCount_ = 0;
  db_->StartTransaction();
  transaction_ = nextTransaction_++;
  WriteEnvChangeBytes(response.Tokens(), EnvChangeType::BeginTransaction, Descriptor(transaction_),
                      QByteArray());
}

void Session::EndTransaction(Response& response, bool commit) {
  if (!transaction_) return;
  const std::uint64_t ended = transaction_;
  try {
    if (commit)
      db_->Commit();
    else
      db_->Rollback();
  } catch (const db::EDatabaseError& e) {
    WriteMessage(response.Tokens(), Token::Error, EngineError(e));
    if (commit) return;  // still open: the client may roll it back
  }
  transaction_ = 0;
  tranCount_ = 0;
  WriteEnvChangeBytes(
      response.Tokens(),
      commit ? EnvChangeType::CommitTransaction : EnvChangeType::RollbackTransaction, QByteArray(),
      Descriptor(ended));
}

void Session::WaitFor(Response& response, int milliseconds) {
  if (channel_.AttentionArrived(milliseconds)) response.Cancel();
}

bool Session::Cancelled(Response& response) {
  // An engine error that an attention caused (the interrupted statement's) is not the
  // client's to see: the acknowledgement says it all.
  if (!response.Cancelled() && channel_.AttentionArrived(0)) response.Cancel();
  return response.Cancelled();
}

void Session::TransactionManager(const Message& message) {
  Response r(channel_);
  try {
    const TransactionManagerCall call = ParseTransactionManager(std::string_view(
        message.payload.constData(), static_cast<std::size_t>(message.payload.size())));
    switch (call.type) {
      case TransactionRequest::Begin:
        BeginTransaction(r);
        break;
      case TransactionRequest::Commit:
      case TransactionRequest::Rollback:
        EndTransaction(r, call.type == TransactionRequest::Commit);
        if (call.beginAnother) BeginTransaction(r);
        break;
      default:
        break;
    }
    r.Done(Token::Done, DoneStatus(), 0, 0);
  } catch (const db::EDatabaseError& e) {
    Error(r, EngineError(e), false);
  }
  r.Finish();
}

void Session::Rpc(const Message& message) {
  Response r(channel_);
  if (message.status & (kStatusResetConnection | kStatusResetConnectionKeepTransaction))
    ResetConnection(r);
  std::vector<RpcCall> calls;
  try {
    calls = ParseRpc(std::string_view(message.payload.constData(),
                                      static_cast<std::size_t>(message.payload.size())),
                     true);
  } catch (const InvalidValue& e) {
    const ServerMessage m = NumberedError(
        8023, QStringLiteral("The incoming tabular data stream (TDS) remote procedure call (RPC) "
                             "protocol stream is incorrect: %1.")
                  .arg(QString::fromUtf8(e.what())));
    WriteMessage(r.Tokens(), Token::Error, m);
    r.Done(Token::DoneProc, DoneStatus() | kDoneError, 0, 0);
    r.Finish();
    return;
  }
  for (RpcCall& call : calls) {
    if (call.special != SpecialProc::None)
      CallSpecial(r, call);
    else
      CallProcedure(r, call);
    if (r.Cancelled()) break;
  }
  r.Finish();
}

bool Session::CallSpecial(Response& r, RpcCall& call) {
  auto& params = call.params;
  const auto text = [&](std::size_t i) {
    return i < params.size() ? params[i].value.toString() : QString();
  };
  const auto values = [&](std::size_t from) {
    Arguments a;
    for (std::size_t i = from; i < params.size(); ++i) {
      a.values.push_back(params[i].value);
      a.types.push_back(params[i].type);
    }
    return a;
  };
  const auto fail = [&](int number, const QString& message) {
    WriteMessage(r.Tokens(), Token::Error, NumberedError(number, message));
    r.Done(Token::DoneProc, DoneStatus() | kDoneError, 0, 0);
    return false;
  };
  const auto finish = [&](bool ok, int handleParam) {
    if (r.Cancelled()) return ok;
    WriteReturnStatus(r.Tokens(), ok ? 0 : -6);
    if (handleParam >= 0)
      WriteReturnValue(r.Tokens(), static_cast<std::uint16_t>(handleParam),
                       params[static_cast<std::size_t>(handleParam)].name, true,
                       params[static_cast<std::size_t>(handleParam)].type,
                       params[static_cast<std::size_t>(handleParam)].value);
    r.Done(Token::DoneProc, DoneStatus() | (ok ? 0 : kDoneError), 0, 0);
    return ok;
  };
  const auto prepare = [&](const QString& declarations, const QString& statement) {
    const int handle = nextHandle_++;
    prepared_[handle] = {NumberParameters(statement, DeclaredParameterNames(declarations))};
    params[0].value = QVariant::fromValue<qint64>(handle);
    return handle;
  };

  switch (call.special) {
    case SpecialProc::ExecuteSql: {
      if (params.empty())
        return fail(201, QStringLiteral("Procedure expects parameter '@statement'."));
      const QString sql = NumberParameters(text(0), DeclaredParameterNames(text(1)));
      return finish(RunText(r, sql, values(2), true), -1);
    }
    case SpecialProc::PrepExec: {
      if (params.size() < 3)
        return fail(201, QStringLiteral("Procedure expects parameter '@stmt'."));
      const int handle = prepare(text(1), text(2));
      return finish(RunText(r, prepared_[handle].sql, values(3), true), 0);
    }
    case SpecialProc::Prepare:
      if (params.size() < 3)
        return fail(201, QStringLiteral("Procedure expects parameter '@stmt'."));
      prepare(text(1), text(2));
      return finish(true, 0);
    case SpecialProc::Execute: {
      const int handle = params.empty() ? 0 : params[0].value.toInt();
      const auto it = prepared_.find(handle);
      if (it == prepared_.end())
        return fail(
            8179, QStringLiteral("Could not find prepared statement with handle %1.").arg(handle));
      return finish(RunText(r, it->second.sql, values(1), true), -1);
    }
    case SpecialProc::Unprepare:
      if (!params.empty()) prepared_.erase(params[0].value.toInt());
      return finish(true, -1);
    default:
      return fail(kUserDefinedError,
                  QStringLiteral("The test server does not offer system procedure %1.")
                      .arg(static_cast<int>(call.special)));
  }
}

QStringList Session::DeclaredParameters(const QString& procedure) {
  const QString bare = sql::ObjectName(procedure);
  const auto notFound = [&] {
    db::embedded::RaiseServerError(db::embedded::ServerError::ProcedureNotFound,
                                   {procedure.trimmed()});
  };
  std::unique_ptr<db::ResultSet> found;
  try {
    found = db_->Execute(QStringLiteral("SELECT body FROM %1 WHERE name = ?")
                             .arg(QLatin1String(db::embedded::kProcedureTable)),
                         {bare});
  } catch (const db::EDatabaseError&) {
    notFound();  // a database without procedures
  }
  if (!found || found->rows.Rows() == 0) notFound();
  const std::string_view raw = found->rows.BytesAt(0, 0);
  const QString body = QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));

  // The inputs are the variables the body uses; the outputs are the columns of its last row,
  // which the suite's procedures end with a SELECT to give.
  QStringList declared = BodyVariables(body);
  std::vector<BatchStatement> statements;
  try {
    statements = SplitBatch(body);
  } catch (const sql::ETsqlSyntax&) {
    // The call itself reports what is wrong with the body.
  }
  if (!statements.empty() && statements.back().kind == sql::StatementKind::Select) {
    const std::unique_ptr<db::ResultSet> shape = db_->Execute(
        QStringLiteral("SELECT * FROM (") + NumberParameters(statements.back().text, declared) +
            QStringLiteral("\n) WHERE 0"),
        std::vector<QVariant>(static_cast<std::size_t>(declared.size())));
    if (shape)
      for (const db::FieldDef& f : shape->fields) {
        const QString name = u'@' + f.name;
        if (!declared.contains(name, Qt::CaseInsensitive)) declared << name;
      }
  }
  return declared;
}

std::vector<db::ProcArg> Session::ProcedureArgs(const RpcCall& call) {
  std::vector<db::ProcArg> args;
  args.push_back({QStringLiteral("Result"), db::ftInteger, db::ptResult, {}});
  const bool positional = std::any_of(call.params.begin(), call.params.end(),
                                      [](const RpcParam& p) { return p.name.isEmpty(); });
  const QStringList declared = positional ? DeclaredParameters(call.name) : QStringList();
  for (std::size_t k = 0; k < call.params.size(); ++k) {
    const RpcParam& p = call.params[k];
    QString name = p.name;
    if (name.isEmpty()) {
      if (k >= static_cast<std::size_t>(declared.size()))
        db::embedded::RaiseServerError(db::embedded::ServerError::TooManyArguments, {call.name});
      name = declared[static_cast<qsizetype>(k)];
    }
    // SQL Server's OUTPUT parameters also take the value the caller sent.
    args.push_back(
        {name, FieldTypeOf(p.type), p.output ? db::ptInputOutput : db::ptInput, p.value});
  }
  return args;
}

bool Session::CallProcedure(Response& r, RpcCall& call) {
  try {
    if (implicitTransactions_ && !transaction_) BeginTransaction(r);
    std::vector<db::ProcArg> args = ProcedureArgs(call);
    {
      const Channel::InterruptScope scope(channel_, [db = db_.get()] { db->Interrupt(); });
      db_->ExecProc(call.name, args);
    }
    WriteReturnStatus(r.Tokens(), args[0].value.isNull() ? 0 : args[0].value.toInt());
    for (std::size_t k = 0; k < call.params.size(); ++k) {
      const RpcParam& p = call.params[k];
      if (p.output)
        WriteReturnValue(r.Tokens(), static_cast<std::uint16_t>(k), args[k + 1].name, true, p.type,
                         args[k + 1].value);
    }
    r.Done(Token::DoneProc, DoneStatus(), 0, 0);
    return true;
  } catch (const db::EDatabaseError& e) {
    if (Cancelled(r)) return false;
    WriteMessage(r.Tokens(), Token::Error, EngineError(e, sql::ObjectName(call.name)));
    r.Done(Token::DoneProc, DoneStatus() | kDoneError, 0, 0);
  } catch (const std::range_error& e) {
    WriteMessage(r.Tokens(), Token::Error,
                 NumberedError(kOverflowError, QString::fromUtf8(e.what())));
    r.Done(Token::DoneProc, DoneStatus() | kDoneError, 0, 0);
  }
  return false;
}

}  // namespace qav::tds
