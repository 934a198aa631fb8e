#pragma once

#include "tools/tds/TdsTypes.h"
#include "tools/tds/TdsWire.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace qav::tds {

enum class Token : std::uint8_t {
  ReturnStatus = 0x79,
  ColMetadata = 0x81,
  Order = 0xA9,
  Error = 0xAA,
  Info = 0xAB,
  ReturnValue = 0xAC,
  LoginAck = 0xAD,
  Row = 0xD1,
  EnvChange = 0xE3,
  Done = 0xFD,
  DoneProc = 0xFE,
  DoneInProc = 0xFF,
};

// DONE's status bits.
inline constexpr std::uint16_t kDoneFinal = 0x0000;
inline constexpr std::uint16_t kDoneMore = 0x0001;
inline constexpr std::uint16_t kDoneError = 0x0002;
inline constexpr std::uint16_t kDoneInTransaction = 0x0004;
inline constexpr std::uint16_t kDoneCount = 0x0010;
inline constexpr std::uint16_t kDoneAttention = 0x0020;
inline constexpr std::uint16_t kDoneServerError = 0x0100;

// DONE's current command: what the statement was, as SQL Server numbers them.
inline constexpr std::uint16_t kCmdSelect = 0xC1;
inline constexpr std::uint16_t kCmdInsert = 0xC3;
inline constexpr std::uint16_t kCmdDelete = 0xC4;
inline constexpr std::uint16_t kCmdUpdate = 0xC5;
inline constexpr std::uint16_t kCmdExecute = 0xE0;

enum class EnvChangeType : std::uint8_t {
  Database = 1,
  Language = 2,
  CharSet = 3,
  PacketSize = 4,
  SqlCollation = 7,
  BeginTransaction = 8,
  CommitTransaction = 9,
  RollbackTransaction = 10,
  ResetConnectionAck = 18,
};

// An ERROR or INFO message as SQL Server sends it.
struct ServerMessage {
  std::int32_t number = 0;
  std::uint8_t state = 1;
  std::uint8_t severity = 16;  // 10 and below: information
  QString text;
  QString server;
  QString procedure;
  std::int32_t line = 1;
};

// COLMETADATA's column flags.
inline constexpr std::uint16_t kColumnNullable = 0x0001;
inline constexpr std::uint16_t kColumnUpdatableUnknown = 0x0008;

struct ColumnInfo {
  QString name;
  TypeInfo type;
  std::uint16_t flags = kColumnNullable | kColumnUpdatableUnknown;
};

// Clients before TDS 7.2 read a DONE's count in four bytes and a message's line in two:
// `before72` writes those forms.
void WriteDone(Writer& w, Token kind, std::uint16_t status, std::uint16_t command,
               std::uint64_t rows, bool before72 = false);
void WriteMessage(Writer& w, Token kind, const ServerMessage& message, bool before72 = false);
void WriteEnvChange(Writer& w, EnvChangeType type, QStringView newValue, QStringView oldValue);
// The collation and transaction changes carry bytes rather than texts.
void WriteEnvChangeBytes(Writer& w, EnvChangeType type, const QByteArray& newValue,
                         const QByteArray& oldValue);
// `tdsVersion` is sent most significant byte first: 0x74000004 for 7.4.
void WriteLoginAck(Writer& w, std::uint32_t tdsVersion, QStringView programName,
                   std::uint32_t programVersion);
void WriteReturnStatus(Writer& w, std::int32_t status);
void WriteReturnValue(Writer& w, std::uint16_t ordinal, QStringView name, bool output,
                      const TypeInfo& type, const QVariant& value);
void WriteColMetadata(Writer& w, const std::vector<ColumnInfo>& columns);

QByteArray CollationBytes(const Collation& collation);

}  // namespace qav::tds
