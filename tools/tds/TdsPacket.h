#pragma once

#include <QByteArray>
#include <cstdint>
#include <string_view>

namespace qav::tds {

enum class PacketType : std::uint8_t {
  SqlBatch = 1,
  Rpc = 3,
  TabularResult = 4,
  Attention = 6,
  BulkLoad = 7,
  TransactionManager = 14,
  Login7 = 16,
  Sspi = 17,
  PreLogin = 18,
};

inline constexpr int kHeaderSize = 8;
inline constexpr std::uint8_t kStatusEndOfMessage = 0x01;
inline constexpr std::uint8_t kStatusResetConnection = 0x08;
inline constexpr std::uint8_t kStatusResetConnectionKeepTransaction = 0x10;

// The protocol's limits for the negotiated packet size.
inline constexpr int kMinPacketSize = 512;
inline constexpr int kMaxPacketSize = 32767;
inline constexpr int kDefaultPacketSize = 4096;

struct PacketHeader {
  PacketType type = PacketType::TabularResult;
  std::uint8_t status = 0;
  std::uint16_t length = 0;  // header included; big-endian on the wire
  std::uint16_t spid = 0;    // big-endian on the wire
  std::uint8_t packetId = 0;
  std::uint8_t window = 0;
};

// Reads the eight header bytes; raises ProtocolError for a length below the header's own.
PacketHeader ParseHeader(std::string_view bytes);

// Splits a message into packets of at most `packetSize` bytes, the last one marked as the end
// of the message. Packet numbers start at 1 and wrap at 255, as the protocol counts them.
QByteArray FrameMessage(PacketType type, std::string_view message, int packetSize,
                        std::uint16_t spid, bool lastPart = true, std::uint8_t* packetId = nullptr);

}  // namespace qav::tds
