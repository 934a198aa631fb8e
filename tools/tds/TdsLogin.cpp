#include "tools/tds/TdsLogin.h"

#include "tools/tds/TdsWire.h"

namespace qav::tds {

namespace {

enum PreLoginOption : std::uint8_t {
  kVersion = 0,
  kEncryption = 1,
  kInstOpt = 2,
  kThreadId = 3,
  kMars = 4,
  kTerminator = 0xFF,
};

// The fixed part up to the database's offset and length, which every TDS 7 record has.
constexpr std::size_t kLoginFieldsEnd = 72;

}  // namespace

PreLoginRequest ParsePreLogin(std::string_view message) {
  Reader r(message);
  PreLoginRequest request;
  for (;;) {
    const std::uint8_t token = r.U8();
    if (token == kTerminator) break;
    const std::uint16_t offset = r.U16BE();
    const std::uint16_t length = r.U16BE();
    if (static_cast<std::size_t>(offset) + length > message.size())
      throw ProtocolError("PRELOGIN option outside the message");
    if (length == 0) continue;
    const std::string_view value = message.substr(offset, length);
    if (token == kEncryption) {
      request.encryption = static_cast<Encryption>(value[0]);
      request.hasEncryption = true;
    } else if (token == kMars) {
      request.mars = value[0] != 0;
    }
  }
  return request;
}

QByteArray PreLoginResponse(std::uint32_t serverVersion, Encryption encryption) {
  struct Option {
    std::uint8_t token;
    QByteArray value;
  };
  Writer version;
  version.U32BE(serverVersion);
  version.U16(0);  // sub-build
  const Option options[] = {
      {kVersion, version.Data()},      {kEncryption, QByteArray(1, static_cast<char>(encryption))},
      {kInstOpt, QByteArray(1, '\0')}, {kThreadId, QByteArray()},
      {kMars, QByteArray(1, '\0')},
  };
  const std::size_t tableSize = std::size(options) * 5 + 1;
  Writer w;
  std::size_t offset = tableSize;
  for (const Option& o : options) {
    w.U8(o.token);
    w.U16BE(static_cast<std::uint16_t>(offset));
    w.U16BE(static_cast<std::uint16_t>(o.value.size()));
    offset += static_cast<std::size_t>(o.value.size());
  }
  w.U8(kTerminator);
  for (const Option& o : options) w.Bytes(o.value);
  return w.Data();
}

Login7 ParseLogin7(std::string_view message) {
  Reader r(message);
  const std::uint32_t length = r.U32();
  if (length > message.size() || length < kLoginFieldsEnd)
    throw ProtocolError("LOGIN7 length does not match the message");
  Login7 login;
  login.tdsVersion = r.U32();
  login.packetSize = r.U32();
  r.Skip(4);  // client program version
  login.clientPid = r.U32();
  r.Skip(4 + 4);  // connection id, four flag bytes
  r.Skip(4);      // time zone
  login.clientLcid = r.U32();
  const auto field = [&](bool password = false) {
    const std::uint16_t offset = r.U16();
    const std::uint16_t chars = r.U16();
    if (static_cast<std::size_t>(offset) + chars * 2u > length)
      throw ProtocolError("LOGIN7 field outside the record");
    const std::string_view bytes = message.substr(offset, chars * 2u);
    if (!password) return FromUcs2(bytes);
    const QByteArray plain = UnscramblePassword(bytes);
    return FromUcs2(std::string_view(plain.constData(), static_cast<std::size_t>(plain.size())));
  };
  login.hostName = field();
  login.userName = field();
  login.password = field(true);
  login.appName = field();
  login.serverName = field();
  r.Skip(4);  // extension (feature requests are not acknowledged, so the client uses none)
  login.libraryName = field();
  login.language = field();
  login.database = field();
  return login;
}

QByteArray ScramblePassword(const QByteArray& ucs2) {
  QByteArray out = ucs2;
  for (char& b : out) {
    const auto v = static_cast<std::uint8_t>(b);
    b = static_cast<char>(static_cast<std::uint8_t>((v << 4) | (v >> 4)) ^ 0xA5);
  }
  return out;
}

QByteArray UnscramblePassword(std::string_view scrambled) {
  QByteArray out(scrambled.data(), static_cast<qsizetype>(scrambled.size()));
  for (char& b : out) {
    const auto v = static_cast<std::uint8_t>(static_cast<std::uint8_t>(b) ^ 0xA5);
    b = static_cast<char>((v << 4) | (v >> 4));
  }
  return out;
}

}  // namespace qav::tds
