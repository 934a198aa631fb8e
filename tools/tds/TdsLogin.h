#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string_view>

namespace qav::tds {

// PRELOGIN's ENCRYPTION option.
enum class Encryption : std::uint8_t { Off = 0, On = 1, NotSupported = 2, Required = 3 };

struct PreLoginRequest {
  Encryption encryption = Encryption::Off;
  bool hasEncryption = false;
  bool mars = false;
};

// Reads the client's PRELOGIN options; raises ProtocolError when the option table is broken.
PreLoginRequest ParsePreLogin(std::string_view message);

// The server's PRELOGIN answer: its version, what it does about encryption, no instance name
// check, no MARS.
QByteArray PreLoginResponse(std::uint32_t serverVersion,
                            Encryption encryption = Encryption::NotSupported);

// Protocol versions as LOGIN7 carries them.
inline constexpr std::uint32_t kTds72 = 0x72090002;
inline constexpr std::uint32_t kTds73 = 0x730A0003;  // 7.3A: date, time, datetime2 and offset
inline constexpr std::uint32_t kTds74 = 0x74000004;

// What the test server reads of a LOGIN7 record.
struct Login7 {
  std::uint32_t tdsVersion = 0;  // as the client sends it: 0x74000004 for 7.4
  std::uint32_t packetSize = 0;  // 0: the server's default
  std::uint32_t clientPid = 0;
  std::uint32_t clientLcid = 0;
  QString hostName;
  QString userName;
  QString password;
  QString appName;
  QString serverName;
  QString libraryName;
  QString language;
  QString database;
};

// Raises ProtocolError for a record whose fields lie outside it.
Login7 ParseLogin7(std::string_view message);

// Passwords travel with each byte's halves swapped and then XORed with 0xA5.
QByteArray ScramblePassword(const QByteArray& ucs2);
QByteArray UnscramblePassword(std::string_view scrambled);

}  // namespace qav::tds
