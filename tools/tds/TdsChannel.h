#pragma once

#include "tools/tds/TdsPacket.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

namespace qav::tds {

class TlsLink;

// The largest client message taken; a longer one ends the connection, as SQL Server refuses an
// oversized request rather than hold it.
inline constexpr qsizetype kMaxMessageSize = 64 * 1024 * 1024;

// One whole client message: the packets of one request put together.
struct Message {
  PacketType type = PacketType::SqlBatch;
  std::uint8_t status = 0;  // of the first packet: the reset-connection flags live there
  QByteArray payload;
};

// The packets of one client connection over a connected socket, which it owns. Until
// StartReader, Read reads the socket itself (the login, with its TLS handshake); after it, a
// reader thread of its own takes every message as it comes, so that an attention is seen at
// once, while a statement runs, and not only when the session next looks.
class Channel {
 public:
  explicit Channel(int fd);
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel();

  // Blocks until a whole message has arrived; nullopt once the client has gone, or has sent a
  // broken packet or a message past kMaxMessageSize. An attention that no response took comes
  // out here as a message of its own.
  std::optional<Message> Read();
  void StartReader();
  // True once the client has sent an attention (or has gone), waiting at most `timeoutMs` for
  // one; the attention is taken, to be acknowledged by the response under way.
  bool AttentionArrived(int timeoutMs);

  // Runs `interrupt` on the reader's thread when an attention arrives (or the client goes)
  // while it lives: the statement under way then stops at once.
  class InterruptScope {
   public:
    InterruptScope(Channel& channel, std::function<void()> interrupt);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

   private:
    Channel& channel_;
  };

  // Sends a part of a response as packets of the negotiated size; the last part of the
  // response carries the end-of-message flag. False once the client has gone.
  bool Send(std::string_view bytes, bool last);

  // From now on, packets travel inside TLS records over `link`; null goes back to the bare
  // socket (after a login that only the login was to encrypt). Only before StartReader.
  void UseTls(std::unique_ptr<TlsLink> link);
  int Fd() const { return fd_; }

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
  std::optional<Message> ReadMessage();
  // Adds a packet's body to a message; false (and the connection broken) past the limit.
  bool Append(Message& message, const QByteArray& body);
  bool ReadExactly(char* data, std::size_t size, int timeoutMs);
  void ReaderLoop();
  bool TakeAttentionLocked();

  int fd_;
  int packetSize_ = kDefaultPacketSize;
  std::uint16_t spid_ = 0;
  std::uint8_t nextPacketId_ = 1;
  std::atomic<bool> broken_{false};
  std::atomic<bool> dropped_{false};
  std::unique_ptr<TlsLink> tls_;

  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Message> queue_;  // what the reader took and nobody read yet
  bool closed_ = false;        // the reader has seen the end
  std::function<void()> interrupt_;
};

}  // namespace qav::tds
