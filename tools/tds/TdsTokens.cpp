#include "tools/tds/TdsTokens.h"

namespace qav::tds {

namespace {

// Tokens whose length follows the token byte as a USHORT: the length is patched in once the
// body has been written.
class LengthScope {
 public:
  LengthScope(Writer& w, Token token) : w_(w) {
    w.U8(static_cast<std::uint8_t>(token));
    at_ = w.Size();
    w.U16(0);
  }
  ~LengthScope() { w_.PatchU16(at_, static_cast<std::uint16_t>(w_.Size() - at_ - 2)); }

 private:
  Writer& w_;
  qsizetype at_ = 0;
};

}  // namespace

void WriteDone(Writer& w, Token kind, std::uint16_t status, std::uint16_t command,
               std::uint64_t rows, bool before72) {
  w.U8(static_cast<std::uint8_t>(kind));
  w.U16(status);
  w.U16(command);
  if (before72)
    w.U32(static_cast<std::uint32_t>(rows));
  else
    w.U64(rows);
}

void WriteMessage(Writer& w, Token kind, const ServerMessage& m, bool before72) {
  LengthScope scope(w, kind);
  w.U32(static_cast<std::uint32_t>(m.number));
  w.U8(m.state);
  w.U8(m.severity);
  w.UsVarchar(m.text);
  w.BVarchar(m.server);
  w.BVarchar(m.procedure);
  if (before72)
    w.U16(static_cast<std::uint16_t>(m.line));
  else
    w.U32(static_cast<std::uint32_t>(m.line));
}

void WriteEnvChange(Writer& w, EnvChangeType type, QStringView newValue, QStringView oldValue) {
  LengthScope scope(w, Token::EnvChange);
  w.U8(static_cast<std::uint8_t>(type));
  w.BVarchar(newValue);
  w.BVarchar(oldValue);
}

void WriteEnvChangeBytes(Writer& w, EnvChangeType type, const QByteArray& newValue,
                         const QByteArray& oldValue) {
  LengthScope scope(w, Token::EnvChange);
  w.U8(static_cast<std::uint8_t>(type));
  w.BVarbyte(newValue);
  w.BVarbyte(oldValue);
}

void WriteLoginAck(Writer& w, std::uint32_t tdsVersion, QStringView programName,
                   std::uint32_t programVersion) {
  LengthScope scope(w, Token::LoginAck);
  w.U8(1);  // T-SQL
  w.U32BE(tdsVersion);
  w.BVarchar(programName);
  w.U32BE(programVersion);
}

void WriteReturnStatus(Writer& w, std::int32_t status) {
  w.U8(static_cast<std::uint8_t>(Token::ReturnStatus));
  w.U32(static_cast<std::uint32_t>(status));
}

void WriteReturnValue(Writer& w, std::uint16_t ordinal, QStringView name, bool output,
                      const TypeInfo& type, const QVariant& value) {
  w.U8(static_cast<std::uint8_t>(Token::ReturnValue));
  w.U16(ordinal);
  w.BVarchar(name);
  w.U8(output ? 0x01 : 0x02);
  w.U32(0);  // user type
  w.U16(kColumnNullable);
  WriteTypeInfo(w, type);
  WriteValue(w, type, value);
}

void WriteColMetadata(Writer& w, const std::vector<ColumnInfo>& columns) {
  w.U8(static_cast<std::uint8_t>(Token::ColMetadata));
  w.U16(static_cast<std::uint16_t>(columns.size()));
  for (const ColumnInfo& c : columns) {
    w.U32(0);  // user type
    w.U16(c.flags);
    WriteTypeInfo(w, c.type, true);
    w.BVarchar(c.name);
  }
}

QByteArray CollationBytes(const Collation& collation) {
  Writer w;
  w.U32(collation.info);
  w.U8(collation.sortId);
  return w.Data();
}

}  // namespace qav::tds
