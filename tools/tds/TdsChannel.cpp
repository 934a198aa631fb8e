#include "tools/tds/TdsChannel.h"

#include "tools/tds/TdsTls.h"
#include "tools/tds/TdsWire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace qav::tds {

namespace {

// A client that stops sending in the middle of a packet is given this long.
constexpr int kPacketTimeoutMs = 30000;
// Requests the reader holds before it waits for the session: clients send one at a time (and
// an attention), so this only bounds a client that sends without reading.
constexpr std::size_t kMaxQueued = 8;

}  // namespace

Channel::Channel(int fd) : fd_(fd) {}

Channel::~Channel() {
  Drop();
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void Channel::Drop() {
  dropped_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

void Channel::UseTls(std::unique_ptr<TlsLink> link) {
  tls_ = std::move(link);
}

bool Channel::ReadExactly(char* data, std::size_t size, int timeoutMs) {
  while (size > 0) {
    if (!tls_ || !tls_->Pending()) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
    }
    const ssize_t n = tls_ ? tls_->Receive(data, size) : ::recv(fd_, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      broken_ = true;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    timeoutMs = kPacketTimeoutMs;
  }
  return true;
}

Channel::ReadResult Channel::ReadPacket(PacketHeader& header, QByteArray& body, int timeoutMs) {
  if (broken_ || dropped_) return ReadResult::Closed;
  char raw[kHeaderSize];
  if (!ReadExactly(raw, kHeaderSize, timeoutMs))
    return broken_ || timeoutMs < 0 ? ReadResult::Closed : ReadResult::Timeout;
  header = ParseHeader(std::string_view(raw, kHeaderSize));
  body.resize(header.length - kHeaderSize);
  if (!ReadExactly(body.data(), static_cast<std::size_t>(body.size()), kPacketTimeoutMs)) {
    broken_ = true;
    return ReadResult::Closed;
  }
  return ReadResult::Packet;
}

std::optional<Message> Channel::ReadMessage() {
  Message message;
  bool first = true;
  for (;;) {
    PacketHeader header;
    QByteArray body;
    if (ReadPacket(header, body, -1) != ReadResult::Packet) return std::nullopt;
    if (first) {
      message.type = header.type;
      message.status = header.status;
      first = false;
    }
    if (!Append(message, body)) return std::nullopt;
    if (header.status & kStatusEndOfMessage) return message;
  }
}

std::optional<Message> Channel::Read() {
  if (!reader_.joinable()) return ReadMessage();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !queue_.empty() || closed_; });
  if (queue_.empty()) return std::nullopt;
  Message m = std::move(queue_.front());
  queue_.pop_front();
  changed_.notify_all();
  return m;
}

void Channel::StartReader() {
  reader_ = std::thread([this] { ReaderLoop(); });
}

void Channel::ReaderLoop() {
  for (;;) {
    std::optional<Message> m;
    try {
      m = ReadMessage();
    } catch (const std::exception&) {
      broken_ = true;  // a broken header
    }
    std::unique_lock lock(mutex_);
    if (!m) {
      closed_ = true;
      // Nobody is left to read the rows: whatever runs for the client stops.
      if (interrupt_) interrupt_();
      changed_.notify_all();
      return;
    }
    if (m->type == PacketType::Attention) {
      if (interrupt_) interrupt_();
    } else {
      changed_.wait(lock, [&] { return queue_.size() < kMaxQueued || closed_; });
      if (closed_) return;
    }
    queue_.push_back(std::move(*m));
    changed_.notify_all();
  }
}

bool Channel::TakeAttentionLocked() {
  if (closed_) return true;
  const auto it = std::find_if(queue_.begin(), queue_.end(),
                               [](const Message& m) { return m.type == PacketType::Attention; });
  if (it == queue_.end()) return false;
  queue_.erase(it);
  changed_.notify_all();
  return true;
}

bool Channel::AttentionArrived(int timeoutMs) {
  if (!reader_.joinable()) return broken_ || dropped_;
  std::unique_lock lock(mutex_);
  if (timeoutMs > 0)
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      return closed_ || std::any_of(queue_.begin(), queue_.end(), [](const Message& m) {
               return m.type == PacketType::Attention;
             });
    });
  return TakeAttentionLocked();
}

Channel::InterruptScope::InterruptScope(Channel& channel, std::function<void()> interrupt)
    : channel_(channel) {
  std::lock_guard lock(channel_.mutex_);
  channel_.interrupt_ = std::move(interrupt);
}

Channel::InterruptScope::~InterruptScope() {
  std::lock_guard lock(channel_.mutex_);
  channel_.interrupt_ = nullptr;
}

bool Channel::Append(Message& message, const QByteArray& body) {
  if (message.payload.size() + body.size() > kMaxMessageSize) {
    broken_ = true;
    message.payload.clear();
    return false;
  }
  message.payload += body;
  return true;
}

bool Channel::Send(std::string_view bytes, bool last) {
  if (broken_ || dropped_) return false;
  const QByteArray packets =
      FrameMessage(PacketType::TabularResult, bytes, packetSize_, spid_, last, &nextPacketId_);
  if (last) nextPacketId_ = 1;
  const char* data = packets.constData();
  const std::size_t size = static_cast<std::size_t>(packets.size());
  if (tls_) {
    if (tls_->SendAll(data, size)) return true;
    broken_ = true;
    return false;
  }
  std::size_t left = size;
  while (left > 0) {
    const ssize_t n = ::send(fd_, data, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      broken_ = true;
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace qav::tds
