#include "tools/tds/TdsRequests.h"

namespace qav::tds {

namespace {

constexpr std::uint16_t kTransactionDescriptorHeader = 2;
constexpr std::uint8_t kParamByRef = 0x01;
constexpr std::uint8_t kBatchSeparator = 0x80;
constexpr std::uint8_t kNoExecSeparator = 0xFF;

SpecialProc SpecialByName(const QString& name) {
  QString bare = name.toLower();
  if (bare.startsWith(QLatin1String("sys."))) bare.remove(0, 4);
  if (bare.startsWith(QLatin1String("dbo."))) bare.remove(0, 4);
  static const std::pair<const char*, SpecialProc> kNames[] = {
      {"sp_executesql", SpecialProc::ExecuteSql}, {"sp_prepare", SpecialProc::Prepare},
      {"sp_execute", SpecialProc::Execute},       {"sp_prepexec", SpecialProc::PrepExec},
      {"sp_unprepare", SpecialProc::Unprepare},
  };
  for (const auto& [n, p] : kNames)
    if (bare == QLatin1String(n)) return p;
  return SpecialProc::None;
}

}  // namespace

std::uint64_t SkipAllHeaders(Reader& r) {
  const std::size_t start = r.Position();
  const std::uint32_t total = r.U32();
  if (total < 4 || total > r.Remaining() + 4) throw ProtocolError("ALL_HEADERS length");
  std::uint64_t descriptor = 0;
  while (r.Position() < start + total) {
    const std::size_t headerStart = r.Position();
    const std::uint32_t length = r.U32();
    const std::uint16_t type = r.U16();
    if (length < 6 || headerStart + length > start + total) throw ProtocolError("header length");
    if (type == kTransactionDescriptorHeader && length >= 18) descriptor = r.U64();
    r.Seek(headerStart + length);
  }
  return descriptor;
}

QString ParseSqlBatch(std::string_view message, bool allHeaders) {
  Reader r(message);
  if (allHeaders) SkipAllHeaders(r);
  return FromUcs2(r.Bytes(r.Remaining() & ~std::size_t{1}));
}

std::vector<RpcCall> ParseRpc(std::string_view message, bool allHeaders) {
  Reader r(message);
  std::vector<RpcCall> calls;
  for (;;) {
    if (allHeaders) SkipAllHeaders(r);
    RpcCall call;
    const std::uint16_t nameLength = r.U16();
    if (nameLength == 0xFFFF) {
      call.special = static_cast<SpecialProc>(r.U16());
    } else {
      call.name = r.Ucs2(nameLength);
      call.special = SpecialByName(call.name);
    }
    r.U16();  // option flags: recompile, no metadata
    while (!r.AtEnd()) {
      const std::uint8_t next = static_cast<std::uint8_t>(r.Whole()[r.Position()]);
      if (next == kBatchSeparator || next == kNoExecSeparator) break;
      RpcParam p;
      p.name = r.BVarchar();
      p.output = (r.U8() & kParamByRef) != 0;
      p.type = ReadTypeInfo(r);
      p.value = ReadValue(r, p.type);
      call.params.push_back(std::move(p));
    }
    calls.push_back(std::move(call));
    if (r.AtEnd()) break;
    r.U8();
    if (r.AtEnd()) break;
    // Only the first call of a request carries ALL_HEADERS.
    allHeaders = false;
  }
  return calls;
}

TransactionManagerCall ParseTransactionManager(std::string_view message) {
  Reader r(message);
  SkipAllHeaders(r);
  TransactionManagerCall call;
  call.type = static_cast<TransactionRequest>(r.U16());
  switch (call.type) {
    case TransactionRequest::Begin:
      r.U8();  // isolation level
      call.name = r.BVarchar();
      break;
    case TransactionRequest::Commit:
    case TransactionRequest::Rollback:
      call.name = r.BVarchar();
      if (!r.AtEnd()) call.beginAnother = (r.U8() & 0x01) != 0;
      break;
    case TransactionRequest::Save:
      call.name = r.BVarchar();
      break;
    default:
      break;
  }
  return call;
}

}  // namespace qav::tds
