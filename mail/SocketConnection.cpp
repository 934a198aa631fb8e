#include "mail/SocketConnection.h"

#include "app/Cp874.h"
#include "mail/ThreadTimer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QIODevice>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>
#include <cerrno>
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
  const int fd =
      ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, lingerOff ? IPPROTO_TCP : 0);
  if (fd < 0) CheckSocketError(SocketErrorFromErrno(errno));
  if (lingerOff) {
    // Closing the first socket resets the connection at once instead of lingering.
    const linger noLinger{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger) != 0) {
      const int error = errno;
      ::close(fd);
      CheckSocketError(SocketErrorFromErrno(error));
    }
  }
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
  if (generation != socketGeneration_ || socket_ < 0) return;
  try {
    int listening = 0;
    socklen_t size = sizeof listening;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening) {
      eventOk_ = true;
      isConnected_ = true;
      acceptPending_ = true;
      if (OnAccept) OnAccept(*this);
      return;
    }
    char probe;
    const ssize_t n = ::recv(socket_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    const int error = n < 0 ? errno : 0;
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)) {
      EnableRead(true);
      return;
    }
    eventOk_ = n >= 0;
    if (n > 0) {
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
    if (error != 0) lastSocketError_ = SocketErrorFromErrno(error);
    if (!DataAvailable()) ReleaseSocket();
  } catch (...) {
  }
}

void TSocketConnection::SocketWritable(quint64 generation) {
  if (generation != socketGeneration_ || socket_ < 0 || !connectPending_) return;
  connectPending_ = false;
  try {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    eventOk_ = error == 0;
    if (!eventOk_) {
      lastSocketError_ = SocketErrorFromErrno(error);
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
  if (socket_ >= 0) {
    pollfd pfd{socket_, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    ::poll(&pfd, 1, 2);
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
  in_addr dotted{};
  const QByteArray hostBytes = Host.toLatin1();
  if (!Host.isEmpty() && ::inet_aton(hostBytes.constData(), &dotted) != 0) {
    remote_.sin_addr = dotted;
    haveAddress_ = true;
    return;
  }

  remote_.sin_addr.s_addr = 0;
  haveAddress_ = false;
  StartTimer();
  lookupDone_ = false;
  const quint64 generation = ++lookupGeneration_;
  QByteArray name = QUrl::toAce(Host);
  if (name.isEmpty()) name = Host.toUtf8();
  try {
    std::thread([channel = lookupChannel_, generation, name] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* found = nullptr;
      const int result = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
      int error = SocketErrorFromLookup(result);
      quint32 address = 0;
      if (result == 0) {
        error = 11004;
        for (addrinfo* entry = found; entry; entry = entry->ai_next) {
          if (entry->ai_family != AF_INET) continue;
          address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
          error = 0;
          break;
        }
        ::freeaddrinfo(found);
      }
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
    LookupFinished(generation, 11002, 0);
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
  remote_.sin_addr.s_addr = lookupAddress_;
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

  remote_.sin_family = AF_INET;
  remote_.sin_port = htons(static_cast<quint16>(Port));
  eventOk_ = true;
  lookupDone_ = false;
  connectPending_ = true;
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&remote_), sizeof remote_) != 0) {
    // A connect in progress is this platform's "would block"; a refusal reported at once is
    // the same outcome as one that arrives as a notification.
    const int error = errno;
    if (error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH ||
        error == ETIMEDOUT) {
      lastSocketError_ = SocketErrorFromErrno(error);
      eventOk_ = false;
    } else if (error != EINPROGRESS && error != EINTR) {
      connectPending_ = false;
      CheckSocketError(SocketErrorFromErrno(error));
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
  if (socket_ < 0) return;
  connectPending_ = false;
  acceptPending_ = false;
  // The notifiers must be gone before their descriptor is.
  readNotifier_.reset();
  writeNotifier_.reset();
  const int fd = socket_;
  socket_ = -1;
  if (::close(fd) != 0 && errno != EINTR) CheckSocketError(SocketErrorFromErrno(errno));
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
    const ssize_t n =
        ::send(socket_, data + offset, static_cast<size_t>(length - offset), MSG_NOSIGNAL);
    if (n > 0) {
      offset += n;
      if (onSent) onSent(n);
    } else if (n == 0) {
      return false;
    } else {
      const int error = errno;
      if (error == EINTR) continue;
      CheckSocketError(SocketErrorFromErrno(error));
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
      const ssize_t n = ::recv(socket_, free, static_cast<size_t>(IOBufferSize - consumed),
                               MSG_PEEK | MSG_DONTWAIT);
      if (n == 0) {
        // The peer closed the connection: whatever part of a line came is no line.
        line.clear();
        break;
      }
      if (n < 0) {
        const int error = errno;
        if (error != EINTR) {
          lastSocketError_ = SocketErrorFromErrno(error);
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
          const ssize_t got =
              ::recv(socket_, free + removed, static_cast<size_t>(take - removed), MSG_DONTWAIT);
          if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            CheckSocketError(got < 0 ? SocketErrorFromErrno(errno) : sockerr::NotConnected);
            break;
          }
          removed += static_cast<int>(got);
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
  if (socket_ < 0) return false;
  int waiting = 0;
  return ::ioctl(socket_, FIONREAD, &waiting) == 0 && waiting > 0;
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
  lastReply_ = ReadLn();
  if (!lastReply_.isEmpty()) {
    ReportStatus(1, lastReply_);
    replyCode_ = ParseReplyCode(lastReply_);
  }
  return lastReply_;
}

void TSocketConnection::SendStream(QIODevice& stream) {
  ReportStatus(8, QStringLiteral("SendStream"));
  stream.seek(0);
  if (!cancelRequested_) {
    sentCount_ = 0;
    streamSize_ = stream.size();
    do {
      const qint64 got = stream.read(buffer_.get(), IOBufferSize);
      if (got < 0) throw EInOutError(stream.errorString());
      if (got == 0) break;
      const bool open = SendBlock(buffer_.get(), got, [this](qint64 sent) {
        sentCount_ += sent;
        if (OnPacketSent) OnPacketSent(*this);
        QCoreApplication::processEvents();
      });
      if (!open) return;
    } while (stream.pos() < stream.size() && !cancelRequested_);
  }
  if (cancelRequested_) {
    cancelRequested_ = false;
    throw EAbortError(QStringLiteral("Socket send aborted"));
  }
}

int TSocketConnection::Accept() {
  ReportStatus(4, QStringLiteral("Accepting"));
  // A read notification of a listening socket announces an incoming connection.
  EnableRead(true);
  WaitUntil([this] { return acceptPending_ || cancelRequested_; });
  EnableRead(false);
  if (cancelRequested_) throw ESockError(QStringLiteral("Accepting Canceled"));
  if (!eventOk_) throw ESockError(QStringLiteral("Error creating Data Connection"));
  acceptPending_ = false;
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  const int fd =
      ::accept4(socket_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    CheckSocketError(SocketErrorFromErrno(errno));
    return -1;
  }
  remote_ = peer;
  return fd;
}

}  // namespace qav
