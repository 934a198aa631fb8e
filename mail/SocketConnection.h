#pragma once

#include "mail/SocketErrors.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QIODevice;
class QSocketNotifier;

namespace qav {

class TSocketConnection;
class TThreadTimer;

using TSocketNotifyEvent = std::function<void(TSocketConnection& sender)>;
using THandledEvent = std::function<void(bool& handled)>;
using TSocketStatusEvent = std::function<void(TSocketConnection& sender, const QString& status)>;
using TSocketErrorEvent =
    std::function<void(TSocketConnection& sender, int number, const QString& text)>;

// A line-oriented TCP client connection. Everything runs on the GUI thread: the socket is
// non-blocking, its events arrive as queued notifications, and every wait keeps processing
// pending events, so that a Cancel button or the time-out timer can end it.
//
// Texts go out as code page 874 bytes and lines come back decoded from it.
class TSocketConnection : public QObject {
  Q_OBJECT

 public:
  // Outgoing texts, line peeks and stream chunks all pass through one buffer of this size.
  static constexpr int IOBufferSize = 65536;

  explicit TSocketConnection(QObject* owner = nullptr);
  ~TSocketConnection() override;

  // Host name or dotted IPv4 address of the server.
  QString Host;
  int Port = 0;
  // Milliseconds allowed for a host lookup, a connect, one ReadLn and one SendData; 0 means
  // no limit.
  int TimeOut = 0;
  // A status text is reported when its level is at most this value.
  int ReportLevel = 0;

  TSocketNotifyEvent OnDisconnect;
  // The connect notification arrived without error.
  TSocketNotifyEvent OnConnect;
  // Host gave no address; the handler may change Host and set Handled to try once more.
  THandledEvent OnInvalidHost;
  TSocketNotifyEvent OnHostResolved;
  TSocketStatusEvent OnStatus;
  TSocketNotifyEvent OnConnectionFailed;
  // After each send of SendStream.
  TSocketNotifyEvent OnPacketSent;
  // CheckConnection found no connection; the handler is expected to connect.
  THandledEvent OnConnectionRequired;
  // Hooks nothing in the program assigns.
  TSocketNotifyEvent OnDataAvailable;
  TSocketNotifyEvent OnAccept;
  TSocketErrorEvent OnSocketError;

  // Resolves Host, connects and waits for the connection.
  virtual void Connect();
  // Closes the socket and prepares a fresh one, so that the instance can connect again.
  virtual void Disconnect();
  // Writes Command and CR LF and returns the reply (ReadReply); sets ReplyCode from its
  // leading digits.
  virtual QString Transaction(const QString& command);
  // The same with the command's bytes as they are (UTF-8, where the server takes it), not as
  // code page 874.
  QString TransactionBytes(const QByteArray& command);
  virtual void Abort();
  // Waits for an incoming connection on a listening socket and returns its handle.
  virtual platform::SocketHandle Accept();
  // Asks the running wait to end; the operation then fails with its abort or cancel error.
  void Cancel();

  // Raises "Not Connected" unless connected, after giving OnConnectionRequired one chance.
  void CheckConnection();
  // Sends Length bytes of Block; Length 0 sends up to the first zero byte, at most 65,535.
  void SendData(const char* block, int length);
  // The text, as code page 874, through the I/O buffer: it ends at its first zero character
  // and a longer text is cut at 65,535 bytes.
  void Write(const QString& text);
  void Writeln(const QString& text);
  // The next line including its line feed; empty when the peer closed the connection first.
  QString ReadLn();
  // Sends the whole stream from its start; TimeOut limits each wait for the peer to take more.
  void SendStream(QIODevice& stream);
  bool DataAvailable();

  bool IsConnected() const { return isConnected_; }
  int ReplyCode() const { return replyCode_; }
  const QString& LastReply() const { return lastReply_; }
  const QString& StatusText() const { return statusText_; }
  int LastSocketError() const { return lastSocketError_; }
  bool CancelRequested() const { return cancelRequested_; }
  bool TimedOut() const { return timedOut_; }
  bool EventOk() const { return eventOk_; }
  bool LookupDone() const { return lookupDone_; }
  qint64 SentCount() const { return sentCount_; }
  qint64 StreamSize() const { return streamSize_; }
  // This end's address of the connection, dotted; empty without one.
  QString LocalAddress() const;
  // The platform socket, platform::kNoSocket when there is none.
  platform::SocketHandle Handle() const { return socket_; }

  // The leading decimal digits of a reply (at most 10) as a number, 0 without any; a number
  // above 32767 is an ERangeError.
  static int ParseReplyCode(const QString& reply);
  QString SocketErrorText(int number);

 protected:
  // The reply to a command: one line here; a protocol whose replies run over several lines
  // reads them all.
  virtual QString ReadReply() { return ReadLn(); }
  void ReportStatus(int level, const QString& text);
  // Raises the ESockError of a failed socket call unless the error is the one to ignore.
  void CheckSocketError(int error, int ignore = sockerr::WouldBlock);
  void ResolveHost();
  void ReleaseSocket();
  void StartTimer();
  void StopTimer();
  void TimerFired();
  void ClearCancel() { cancelRequested_ = false; }
  // Reads the reply to the command just sent and keeps it as LastReply and ReplyCode.
  QString TakeReply();

 private:
  struct LookupChannel;

  void CreateSocket(bool lingerOff);
  void SocketReadable(quint64 generation);
  void SocketWritable(quint64 generation);
  void LookupFinished(quint64 generation, int error, quint32 address);
  void EnableRead(bool enable);
  // Sleeps 2 ms and processes pending events until done() holds.
  void WaitUntil(const std::function<bool()>& done);
  // Waits up to 2 ms for the socket to become readable (or writable) and processes events.
  void PauseFor(bool forWriting);
  // Sends the bytes until all are out, Cancel is asked or the peer closes (false); onSent hears
  // of each part the system took.
  bool SendBlock(const char* data, qint64 length, const std::function<void(qint64)>& onSent);

  std::unique_ptr<char[]> buffer_;
  platform::SocketHandle socket_ = platform::kNoSocket;
  quint64 socketGeneration_ = 0;
  std::unique_ptr<QSocketNotifier> readNotifier_;
  std::unique_ptr<QSocketNotifier> writeNotifier_;
  // The peer's IPv4 address in network byte order.
  quint32 remoteAddress_ = 0;
  bool haveAddress_ = false;
  std::shared_ptr<LookupChannel> lookupChannel_;
  quint64 lookupGeneration_ = 0;
  // The first address of the last completed lookup, in network byte order.
  quint32 lookupAddress_ = 0;
  TThreadTimer* timer_;

  bool isConnected_ = false;
  bool cancelRequested_ = false;
  bool timedOut_ = false;
  bool eventOk_ = false;
  bool lookupDone_ = false;
  bool connectPending_ = false;
  bool acceptPending_ = false;
  bool destroying_ = false;
  int lastSocketError_ = 0;
  qint64 sentCount_ = 0;
  qint64 streamSize_ = 0;
  QString lastReply_;
  int replyCode_ = 0;
  QString statusText_;
};

}  // namespace qav
