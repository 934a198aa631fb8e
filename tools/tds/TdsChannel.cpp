#include "tools/tds/TdsChannel.h"

#include "tools/tds/TdsWire.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace qav::tds {

namespace {

// A client that stops sending in the middle of a packet is given this long.
constexpr int kPacketTimeoutMs = 30000;

}  // namespace

Channel::~Channel() {
  if (fd_ >= 0) ::close(fd_);
}

void Channel::Drop() {
  dropped_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

bool Channel::ReadExactly(char* data, std::size_t size, int timeoutMs) {
  while (size > 0) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd_, data, size, 0);
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

std::optional<Message> Channel::Read() {
  if (pending_) {
    std::optional<Message> m = std::move(pending_);
    pending_.reset();
    return m;
  }
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

bool Channel::AttentionArrived(int timeoutMs) {
  if (pending_) return pending_->type == PacketType::Attention;
  PacketHeader header;
  QByteArray body;
  const ReadResult result = ReadPacket(header, body, timeoutMs);
  if (result == ReadResult::Closed) return true;  // nobody is left to read the rest
  if (result == ReadResult::Timeout) return false;
  if (header.type == PacketType::Attention) return true;
  Message m{header.type, header.status, body};
  while (!(header.status & kStatusEndOfMessage)) {
    if (ReadPacket(header, body, kPacketTimeoutMs) != ReadResult::Packet) return true;
    if (!Append(m, body)) return true;
  }
  pending_ = std::move(m);
  return false;
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
  std::size_t left = static_cast<std::size_t>(packets.size());
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
