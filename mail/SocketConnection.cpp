#include "mail/SocketConnection.h"

#include "core/Cp874.h"
#include "mail/ThreadTimer.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>
#include <cstring>
#include <mutex>
#include <thread>

namespace qav {

// The lookup runs on a helper thread; its result comes back through this channel, which the
// connection cuts when it is destroyed, so a late result reaches nobody.
struct TSocketConnection::LookupChannel {
  std::mutex mutex;
  TSocketConnection* receiver = nullptr;
};

TSocketConnection::TSocketConnection(QObject* owner)
    : QObject(owner),
      buffer_(new char[IOBufferSize]),
      lookupChannel_(std::make_shared<LookupChannel>()),
      timer_(new TThreadTimer(this)) {
  lookupChannel_->receiver = this;
  timer_->SetEnabled(false);
  timer_->SetOnTimer([this](TThreadTimer&) { TimerFired(); });
  ReportStatus(8, QStringLiteral("Create"));
  ReportStatus(8, QStringLiteral("Initializing Winsock"));
  try {
    CreateSocket(true);
  } catch (const Exception&) {
    throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
  }
}

TSocketConnection::~TSocketConnection() {
  ReportStatus(8, QStringLiteral("Destroy"));
  TSocketConnection::Abort();
  Cancel();
  {
    std::lock_guard lock(lookupChannel_->mutex);
    lookupChannel_->receiver = nullptr;
  }
  delete timer_;
  timer_ = nullptr;
  destroying_ = true;
  try {
    ReleaseSocket();
  } catch (...) {
  }
}

void TSocketConnection::CreateSocket(bool lingerOff) {
  // Closing the first socket resets the connection at once instead of lingering.
  int error = 0;
  const platform::SocketHandle fd = platform::OpenTcpSocket(lingerOff, error);
  if (fd == platform::kNoSocket) CheckSocketError(error);
  socket_ = fd;
  const quint64 generation = ++socketGeneration_;

  // Notifications are queued, as window messages were: the handlers may close and replace
  // the socket, which must not happen while its notifier is still delivering. Each notifier
  // stays off after firing until the socket is worth watching again, so that unread data
  // does not keep it firing.
  readNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  readNotifier_->setEnabled(false);
  QSocketNotifier* readNotifier = readNotifier_.get();
  connect(readNotifier, &QSocketNotifier::activated, this, [this, readNotifier, generation] {
    readNotifier->setEnabled(false);
    QMetaObject::invokeMethod(
        this, [this, generation] { SocketReadable(generation); }, Qt::QueuedConnection);
  });
  writeNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  writeNotifier_->setEnabled(false);
  QSocketNotifier* writeNotifier = writeNotifier_.get();
  connect(writeNotifier, &QSocketNotifier::activated, this, [this, writeNotifier, generation] {
    writeNotifier->setEnabled(false);
    QMetaObject::invokeMethod(
        this, [this, generation] { SocketWritable(generation); }, Qt::QueuedConnection);
  });
}

void TSocketConnection::EnableRead(bool enable) {
  if (readNotifier_) readNotifier_->setEnabled(enable);
}

void TSocketConnection::SocketReadable(quint64 generation) {
  if (generation != socketGeneration_ || socket_ == platform::kNoSocket) return;
  try {
    if (platform::IsListening(socket_)) {
      eventOk_ = true;
      isConnected_ = true;
      acceptPending_ = true;
      if (OnAccept) OnAccept(*this);
      return;
    }
    char probe;
    const platform::SocketIo probed = platform::ReceiveSocket(socket_, &probe, 1, true);
    const int error = probed.error;
    if (error == sockerr::WouldBlock || error == sockerr::Interrupted) {
      EnableRead(true);
      return;
    }
    eventOk_ = error == 0;
    if (probed.count > 0) {
      if (OnDataAvailable) {
        try {
          OnDataAvailable(*this);
        } catch (...) {
        }
      }
      return;
    }
    // The peer closed or reset the connection. Received data still waiting would be drained
    // by reads first; then this notification comes again.
    if (error != 0) lastSocketError_ = error;
    if (!DataAvailable()) ReleaseSocket();
  } catch (...) {
  }
}

void TSocketConnection::SocketWritable(quint64 generation) {
  if (generation != socketGeneration_ || socket_ == platform::kNoSocket || !connectPending_) return;
  connectPending_ = false;
  try {
    const int error = platform::PendingSocketError(socket_);
    eventOk_ = error == 0;
    if (!eventOk_) {
      lastSocketError_ = error;
      return;
    }
    isConnected_ = true;
    EnableRead(true);
    if (OnConnect) OnConnect(*this);
  } catch (...) {
  }
}

void TSocketConnection::LookupFinished(quint64 generation, int error, quint32 address) {
  if (generation != lookupGeneration_) return;
  eventOk_ = error == 0;
  if (eventOk_)
    lookupAddress_ = address;
  else
    lastSocketError_ = error;
  lookupDone_ = true;
}

void TSocketConnection::WaitUntil(const std::function<bool()>& done) {
  while (!done()) {
    QThread::msleep(2);
    QCoreApplication::processEvents();
  }
}

void TSocketConnection::PauseFor(bool forWriting) {
  if (socket_ != platform::kNoSocket) {
    platform::WaitForSocket(socket_, forWriting, 2);
  } else {
    QThread::msleep(2);
  }
  QCoreApplication::processEvents();
}

void TSocketConnection::ReportStatus(int level, const QString& text) {
  if (ReportLevel < level) return;
  statusText_ = text;
  if (destroying_ || !OnStatus) return;
  try {
    OnStatus(*this, text);
  } catch (...) {
  }
}

QString TSocketConnection::SocketErrorText(int number) {
  ReportStatus(8, QStringLiteral("Looking Up Error Message"));
  return SocketErrorMessage(number);
}

void TSocketConnection::CheckSocketError(int error, int ignore) {
  lastSocketError_ = error;
  if (error == ignore || error <= 10000) return;
  const QString text = SocketErrorText(error);
  if (OnSocketError) OnSocketError(*this, error, text);
  throw ESockError(text);
}

void TSocketConnection::ResolveHost() {
  ReportStatus(8, QStringLiteral("Resolve Host"));
  if (platform::ParseIPv4(Host.toLatin1(), remoteAddress_)) {
    haveAddress_ = true;
    return;
  }

  remoteAddress_ = 0;
  haveAddress_ = false;
  StartTimer();
  lookupDone_ = false;
  const quint64 generation = ++lookupGeneration_;
  QByteArray name = QUrl::toAce(Host);
  if (name.isEmpty()) name = Host.toUtf8();
  try {
    std::thread([channel = lookupChannel_, generation, name] {
      quint32 address = 0;
      const int error = platform::LookupIPv4(name, address);
      std::lock_guard lock(channel->mutex);
      if (TSocketConnection* receiver = channel->receiver) {
        QMetaObject::invokeMethod(
            receiver,
            [receiver, generation, error, address] {
              receiver->LookupFinished(generation, error, address);
            },
            Qt::QueuedConnection);
      }
    }).detach();
  } catch (const std::system_error&) {
    LookupFinished(generation, sockerr::TryAgain, 0);
  }

  try {
    WaitUntil([this] { return lookupDone_ || timedOut_ || cancelRequested_; });
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();

  if (timedOut_) throw ESockError(QStringLiteral("Host Lookup Timed Out"));
  if (cancelRequested_) throw ESockError(QStringLiteral("Host Lookup Canceled"));
  if (!eventOk_) throw ESockError(QStringLiteral("Host Lookup Failed"));
  remoteAddress_ = lookupAddress_;
  haveAddress_ = true;
  if (OnHostResolved) OnHostResolved(*this);
}

void TSocketConnection::Connect() {
  ReportStatus(8, QStringLiteral("Connecting"));
  cancelRequested_ = false;
  if (isConnected_) throw ESockError(QStringLiteral("Already connected"));

  int attempts = 0;
  for (;;) {
    try {
      ResolveHost();
    } catch (const ESockError& e) {
      if (e.Message() == u"Host Lookup Timed Out" || e.Message() == u"Host Lookup Canceled") throw;
    }
    if (haveAddress_) break;
    bool handled = false;
    if (attempts == 0 && OnInvalidHost) OnInvalidHost(handled);
    if (!handled) throw ESockError(QStringLiteral("Null Remote Address"));
    ++attempts;
  }

  eventOk_ = true;
  lookupDone_ = false;
  connectPending_ = true;
  if (const int error =
          platform::StartConnect(socket_, remoteAddress_, static_cast<quint16>(Port))) {
    // A refusal reported at once is the same outcome as one that arrives as a notification.
    if (error == sockerr::ConnectionRefused || error == sockerr::NetworkUnreachable ||
        error == sockerr::HostUnreachable || error == sockerr::TimedOut) {
      lastSocketError_ = error;
      eventOk_ = false;
    } else {
      connectPending_ = false;
      CheckSocketError(error);
    }
  }
  if (eventOk_ && writeNotifier_) writeNotifier_->setEnabled(true);

  StartTimer();
  try {
    WaitUntil([this] { return isConnected_ || timedOut_ || cancelRequested_ || !eventOk_; });
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();
  if (!timedOut_ && !cancelRequested_ && eventOk_) return;

  connectPending_ = false;
  if (writeNotifier_) writeNotifier_->setEnabled(false);
  if (OnConnectionFailed) OnConnectionFailed(*this);
  if (timedOut_) throw ESockError(QStringLiteral("Connection Timed out"));
  if (cancelRequested_) throw ESockError(QStringLiteral("Connection Canceled"));
  throw ESockError(QStringLiteral("Connection Failed"));
}

void TSocketConnection::Disconnect() {
  ReportStatus(8, QStringLiteral("Disconnecting"));
  ReleaseSocket();
}

void TSocketConnection::ReleaseSocket() {
  ReportStatus(4, QStringLiteral("Request Close Socket"));
  isConnected_ = false;
  if (socket_ == platform::kNoSocket) return;
  connectPending_ = false;
  acceptPending_ = false;
  // The notifiers must be gone before their descriptor is.
  readNotifier_.reset();
  writeNotifier_.reset();
  const platform::SocketHandle fd = socket_;
  socket_ = platform::kNoSocket;
  if (const int error = platform::CloseSocket(fd)) CheckSocketError(error);
  if (destroying_) return;
  if (OnDisconnect) OnDisconnect(*this);
  CreateSocket(false);
}

void TSocketConnection::Abort() {
  ReportStatus(8, QStringLiteral("Abort"));
  Cancel();
}

void TSocketConnection::Cancel() {
  ReportStatus(8, QStringLiteral("Canceling"));
  cancelRequested_ = true;
}

void TSocketConnection::StartTimer() {
  ReportStatus(8, QStringLiteral("Timer On"));
  timedOut_ = false;
  if (TimeOut < 0) throw ERangeError(QStringLiteral("Range check error"));
  timer_->SetInterval(static_cast<unsigned>(TimeOut));
  timer_->SetEnabled(true);
}

void TSocketConnection::StopTimer() {
  ReportStatus(8, QStringLiteral("Timer Off"));
  if (timer_) timer_->SetEnabled(false);
}

void TSocketConnection::TimerFired() {
  ReportStatus(8, QStringLiteral("Timer Triggered"));
  StopTimer();
  timedOut_ = true;
  lookupDone_ = true;
  Abort();
}

void TSocketConnection::CheckConnection() {
  ReportStatus(8, QStringLiteral("Checking Connection"));
  int attempts = 0;
  while (!isConnected_) {
    bool handled = false;
    if (attempts == 0 && OnConnectionRequired) OnConnectionRequired(handled);
    if (!handled) throw Exception(QStringLiteral("Not Connected"));
    ++attempts;
  }
}

bool TSocketConnection::SendBlock(const char* data, qint64 length,
                                  const std::function<void(qint64)>& onSent) {
  qint64 offset = 0;
  while (offset < length && !cancelRequested_) {
    const platform::SocketIo sent = platform::SendSocket(socket_, data + offset, length - offset);
    if (sent.count > 0) {
      offset += sent.count;
      if (onSent) onSent(sent.count);
    } else if (sent.error == 0) {
      return false;
    } else {
      if (sent.error == sockerr::Interrupted) continue;
      CheckSocketError(sent.error);
      // A full send buffer: let events run, so that the time limit and Cancel can end the
      // wait for a peer that does not read.
      PauseFor(true);
    }
  }
  return true;
}

void TSocketConnection::SendData(const char* block, int length) {
  ReportStatus(4, QStringLiteral("Sending Buffer"));
  StartTimer();
  try {
    if (!cancelRequested_) {
      if (length == 0) length = static_cast<int>(::strnlen(block, IOBufferSize - 1));
      SendBlock(block, length, {});
    }
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();
  if (cancelRequested_) {
    cancelRequested_ = false;
    throw EAbortError(QStringLiteral("Socket send aborted"));
  }
}

void TSocketConnection::Write(const QString& text) {
  ReportStatus(8, QStringLiteral("Write"));
  const QByteArray bytes = ToCp874(text);
  const qsizetype length = std::min<qsizetype>(bytes.size(), IOBufferSize);
  std::memcpy(buffer_.get(), bytes.constData(), static_cast<size_t>(length));
  if (length < IOBufferSize) buffer_[length] = '\0';
  SendData(buffer_.get(), 0);
}

void TSocketConnection::Writeln(const QString& text) {
  ReportStatus(8, QStringLiteral("Writeln"));
  Write(text + QStringLiteral("\r\n"));
}

QString TSocketConnection::ReadLn() {
  ReportStatus(8, QStringLiteral("ReadLn"));
  StartTimer();
  QByteArray line;
  try {
    int consumed = 0;
    for (;;) {
      if (consumed == IOBufferSize) throw ERangeError(QStringLiteral("Range check error"));
      char* free = buffer_.get() + consumed;
      const platform::SocketIo peeked =
          platform::ReceiveSocket(socket_, free, IOBufferSize - consumed, true);
      const qint64 n = peeked.count;
      if (n == 0 && peeked.error == 0) {
        // The peer closed the connection: whatever part of a line came is no line.
        line.clear();
        break;
      }
      if (peeked.error) {
        if (peeked.error != sockerr::Interrupted) {
          lastSocketError_ = peeked.error;
          if (lastSocketError_ == sockerr::NotConnected) {
            line.clear();
            break;
          }
          CheckSocketError(lastSocketError_);
          PauseFor(false);
        }
      } else {
        // Only the bytes of this line leave the socket; the rest stays for the next read.
        const char* lf = static_cast<const char*>(std::memchr(free, '\n', static_cast<size_t>(n)));
        const int take = lf ? static_cast<int>(lf - free) + 1 : static_cast<int>(n);
        int removed = 0;
        while (removed < take) {
          const platform::SocketIo got =
              platform::ReceiveSocket(socket_, free + removed, take - removed, false);
          if (got.count <= 0) {
            if (got.error == sockerr::Interrupted) continue;
            CheckSocketError(got.error ? got.error : sockerr::NotConnected);
            break;
          }
          removed += static_cast<int>(got.count);
        }
        line.append(free, removed);
        consumed += removed;
        if (isConnected_) EnableRead(true);
        if (lf) break;
        QCoreApplication::processEvents();
      }
      if (cancelRequested_) break;
    }
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();
  if (cancelRequested_) {
    cancelRequested_ = false;
    throw EAbortError(QStringLiteral("Socket readln aborted"));
  }
  return FromCp874(line);
}

bool TSocketConnection::DataAvailable() {
  ReportStatus(8, QStringLiteral("Data Available"));
  return socket_ != platform::kNoSocket && platform::BytesWaiting(socket_) > 0;
}

int TSocketConnection::ParseReplyCode(const QString& reply) {
  qint64 value = 0;
  for (qsizetype i = 0; i < reply.size() && i < 10; ++i) {
    const char16_t c = reply[i].unicode();
    if (c < u'0' || c > u'9') break;
    value = value * 10 + (c - u'0');
  }
  if (value > 32767) throw ERangeError(QStringLiteral("Range check error"));
  return static_cast<int>(value);
}

QString TSocketConnection::Transaction(const QString& command) {
  ReportStatus(8, QStringLiteral("Transaction"));
  replyCode_ = 0;
  Writeln(command);
  return TakeReply();
}

QString TSocketConnection::TransactionBytes(const QByteArray& command) {
  ReportStatus(8, QStringLiteral("Transaction"));
  replyCode_ = 0;
  const QByteArray line = command + "\r\n";
  SendData(line.constData(), static_cast<int>(line.size()));
  return TakeReply();
}

QString TSocketConnection::LocalAddress() const {
  return socket_ == platform::kNoSocket
             ? QString()
             : QString::fromLatin1(platform::LocalSocketAddress(socket_));
}

QString TSocketConnection::TakeReply() {
  lastReply_ = ReadReply();
  if (!lastReply_.isEmpty()) {
    ReportStatus(1, lastReply_);
    replyCode_ = ParseReplyCode(lastReply_);
  }
  return lastReply_;
}

void TSocketConnection::SendStream(QIODevice& stream) {
  ReportStatus(8, QStringLiteral("SendStream"));
  stream.seek(0);
  // A peer that stops taking data must not hold the sender for ever: the time limit runs
  // afresh after every part the system took.
  StartTimer();
  try {
    if (!cancelRequested_) {
      sentCount_ = 0;
      streamSize_ = stream.size();
      do {
        const qint64 got = stream.read(buffer_.get(), IOBufferSize);
        if (got < 0) throw EInOutError(stream.errorString());
        if (got == 0) break;
        const bool open = SendBlock(buffer_.get(), got, [this](qint64 sent) {
          sentCount_ += sent;
          StartTimer();
          if (OnPacketSent) OnPacketSent(*this);
          QCoreApplication::processEvents();
        });
        if (!open) {
          StopTimer();
          return;
        }
      } while (stream.pos() < stream.size() && !cancelRequested_);
    }
  } catch (...) {
    StopTimer();
    throw;
  }
  StopTimer();
  if (cancelRequested_) {
    cancelRequested_ = false;
    throw EAbortError(QStringLiteral("Socket send aborted"));
  }
}

platform::SocketHandle TSocketConnection::Accept() {
  ReportStatus(4, QStringLiteral("Accepting"));
  // A read notification of a listening socket announces an incoming connection.
  EnableRead(true);
  WaitUntil([this] { return acceptPending_ || cancelRequested_; });
  EnableRead(false);
  if (cancelRequested_) throw ESockError(QStringLiteral("Accepting Canceled"));
  if (!eventOk_) throw ESockError(QStringLiteral("Error creating Data Connection"));
  acceptPending_ = false;
  int error = 0;
  quint32 peer = 0;
  const platform::SocketHandle fd = platform::AcceptConnection(socket_, peer, error);
  if (fd == platform::kNoSocket) {
    CheckSocketError(error);
    return platform::kNoSocket;
  }
  remoteAddress_ = peer;
  return fd;
}

}  // namespace qav
