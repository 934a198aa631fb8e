#include "tools/tds/TdsPacket.h"

#include "tools/tds/TdsWire.h"

#include <algorithm>

namespace qav::tds {

PacketHeader ParseHeader(std::string_view bytes) {
  Reader r(bytes);
  PacketHeader h;
  h.type = static_cast<PacketType>(r.U8());
  h.status = r.U8();
  h.length = r.U16BE();
  h.spid = r.U16BE();
  h.packetId = r.U8();
  h.window = r.U8();
  if (h.length < kHeaderSize) throw ProtocolError("packet shorter than its header");
  return h;
}

QByteArray FrameMessage(PacketType type, std::string_view message, int packetSize,
                        std::uint16_t spid, bool lastPart, std::uint8_t* packetId) {
  const std::size_t room = static_cast<std::size_t>(packetSize - kHeaderSize);
  std::uint8_t localId = 1;
  std::uint8_t& id = packetId ? *packetId : localId;
  Writer w;
  std::size_t pos = 0;
  // An empty message still takes one packet.
  do {
    const std::size_t chunk = std::min(room, message.size() - pos);
    const bool last = lastPart && pos + chunk == message.size();
    w.U8(static_cast<std::uint8_t>(type));
    w.U8(last ? kStatusEndOfMessage : 0);
    w.U16BE(static_cast<std::uint16_t>(chunk + kHeaderSize));
    w.U16BE(spid);
    w.U8(id);
    w.U8(0);
    w.Bytes(message.substr(pos, chunk));
    id = static_cast<std::uint8_t>(id + 1);
    pos += chunk;
  } while (pos < message.size());
  return w.Data();
}

}  // namespace qav::tds
