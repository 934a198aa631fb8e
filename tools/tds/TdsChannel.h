#pragma once

#include "tools/tds/TdsPacket.h"

#include <QByteArray>
#include <atomic>
#include <optional>
#include <string_view>

namespace qav::tds {

// The largest client message taken; a longer one ends the connection, as SQL Server refuses an
// oversized request rather than hold it.
inline constexpr qsizetype kMaxMessageSize = 64 * 1024 * 1024;

// One whole client message: the packets of one request put together.
struct Message {
  PacketType type = PacketType::SqlBatch;
  std::uint8_t status = 0;  // of the first packet: the reset-connection flags live there
  QByteArray payload;
};

// The packets of one client connection over a connected socket, which it owns.
class Channel {
 public:
  explicit Channel(int fd) : fd_(fd) {}
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel();

  // Blocks until a whole message has arrived; nullopt once the client has gone, or has sent a
  // broken packet or a message past kMaxMessageSize.
  std::optional<Message> Read();
  // True once the client has sent an attention, waiting at most `timeoutMs` for one. Another
  // request arriving meanwhile is kept for Read.
  bool AttentionArrived(int timeoutMs);

  // Sends a part of a response as packets of the negotiated size; the last part of the
  // response carries the end-of-message flag. False once the client has gone.
  bool Send(std::string_view bytes, bool last);

  int PacketSize() const { return packetSize_; }
  void SetPacketSize(int size) { packetSize_ = size; }
  std::uint16_t Spid() const { return spid_; }
  void SetSpid(std::uint16_t spid) { spid_ = spid; }
  bool Broken() const { return broken_; }

  // Cuts the connection from another thread, as a server that goes away does.
  void Drop();
  // Ends the connection: the client sees it closed at once, not when the socket is reaped.
  void Close() { Drop(); }

 private:
  // Reads one packet into `out`; waits at most `timeoutMs` (-1: for ever) for its first byte.
  enum class ReadResult { Packet, Timeout, Closed };
  ReadResult ReadPacket(PacketHeader& header, QByteArray& body, int timeoutMs);
  // Adds a packet's body to a message; false (and the connection broken) past the limit.
  bool Append(Message& message, const QByteArray& body);
  bool ReadExactly(char* data, std::size_t size, int timeoutMs);

  int fd_;
  int packetSize_ = kDefaultPacketSize;
  std::uint16_t spid_ = 0;
  std::uint8_t nextPacketId_ = 1;
  bool broken_ = false;
  std::atomic<bool> dropped_{false};
  std::optional<Message> pending_;  // a request that arrived while a response was going out
};

}  // namespace qav::tds
