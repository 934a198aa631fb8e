#pragma once

#include "db/Backend.h"
#include "db/Errors.h"
#include "tools/tds/TdsChannel.h"
#include "tools/tds/TdsRequests.h"
#include "tools/tds/TdsSqlText.h"
#include "tools/tds/TdsTokens.h"

#include <functional>
#include <map>
#include <memory>

namespace qav::tds {

class Response;
class TlsCredentials;

struct ServerOptions {
  QString suiteFolder;  // absolute path of the embedded suite served
  QString user = QStringLiteral("qav");
  QString password = QStringLiteral("tarnwick");
  QString serverName = QStringLiteral("QAVTEST");  // as ERROR tokens name the server
  // Called with the text of every batch and procedure call as it arrived, before it runs, from
  // the connection's own thread: the server's log of what clients sent.
  std::function<void(const QString&)> onText;
  // The certificate offered to clients that encrypt; none: the server answers that it does
  // not encrypt, and refuses the login of a client that asked for it.
  std::shared_ptr<const TlsCredentials> tls;
};

// The values of a parameterised request, in order, with the types the client sent them in.
struct Arguments {
  std::vector<QVariant> values;
  std::vector<TypeInfo> types;
};

// One client connection: the login, then requests until the client leaves. Each session has
// an embedded connection of its own to its current database.
class Session {
 public:
  Session(int fd, const ServerOptions& options, std::uint16_t spid);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Run();
  // Cuts the connection from another thread; Run returns soon after.
  void Drop() { channel_.Drop(); }

 private:
  struct Prepared {
    QString sql;  // with numbered placeholders
  };

  bool Login();
  void RefuseLogin(const std::vector<ServerMessage>& messages);
  void Batch(const Message& message);
  void Rpc(const Message& message);
  void TransactionManager(const Message& message);
  void ResetConnection(Response& response);

  // Runs the statements of a text one after another, stopping at the first error; false after
  // an error. A text the parser refuses runs nothing and answers with its error.
  bool RunText(Response& response, const QString& sql, const Arguments& args, bool inProcedure);
  bool RunStatement(Response& response, const BatchStatement& statement, const Arguments& args,
                    bool inProcedure);
  bool RunEngine(Response& response, const BatchStatement& statement, const Arguments& args,
                 bool inProcedure);
  // Sends what the engine said besides its last result: earlier results, counts and PRINT
  // texts, in order. Leaves out the note at `held`, whose count goes with the statement's own
  // DONE. True once the client has cancelled.
  bool WriteNotes(Response& response, std::vector<db::StatementNote>& notes, std::size_t held,
                  int line, bool inProcedure);
  // `echoed`: for each column, the parameter (from 1) it selects back alone, 0 for none.
  bool WriteResult(Response& response, const db::ResultSet& result, bool inProcedure,
                   const Arguments& args = {}, const std::vector<int>& echoed = {});
  bool UseDatabase(Response& response, const QString& name, bool inProcedure);
  void BeginTransaction(Response& response);
  void EndTransaction(Response& response, bool commit);
  void WaitFor(Response& response, int milliseconds);
  // True once the client has cancelled what runs, taking its attention.
  bool Cancelled(Response& response);

  bool CallProcedure(Response& response, RpcCall& call);
  bool CallSpecial(Response& response, RpcCall& call);
  std::vector<db::ProcArg> ProcedureArgs(const RpcCall& call);
  QStringList DeclaredParameters(const QString& procedure);

  void Error(Response& response, const ServerMessage& message, bool inProcedure);
  // The message of a failure of the database layer: SQL Server's number and class where the
  // failure carries them, else those of a user-defined error (50000, 16).
  ServerMessage EngineError(const db::EDatabaseError& e, const QString& procedure = {},
                            int line = 1) const;
  ServerMessage NumberedError(int number, const QString& text, const QString& procedure = {},
                              int line = 1) const;
  std::uint16_t DoneStatus() const;
  // The DONE_COUNT bit, unless SET NOCOUNT ON holds.
  std::uint16_t CountStatus() const;

  Channel channel_;
  ServerOptions options_;
  std::uint32_t tdsVersion_ = 0;
  QString loginDatabase_;
  QString database_;
  std::unique_ptr<db::BackendConnection> db_;
  bool implicitTransactions_ = false;
  bool noCount_ = false;           // SET NOCOUNT ON
  std::uint64_t transaction_ = 0;  // descriptor of the open transaction, 0 when none
  int tranCount_ = 0;              // the BEGIN TRAN statements the open transaction counts
  std::uint64_t nextTransaction_ = 1;
  std::map<int, Prepared> prepared_;
  int nextHandle_ = 1;
};

}  // namespace qav::tds
