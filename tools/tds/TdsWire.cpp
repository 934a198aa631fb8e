#include "tools/tds/TdsWire.h"

#include <cstring>

namespace qav::tds {

void Writer::U16(std::uint16_t v) {
  const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
  data_.append(b, 2);
}

void Writer::U16BE(std::uint16_t v) {
  const char b[2] = {static_cast<char>(v >> 8), static_cast<char>(v)};
  data_.append(b, 2);
}

void Writer::U32(std::uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  data_.append(b, 4);
}

void Writer::U32BE(std::uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 8), static_cast<char>(v)};
  data_.append(b, 4);
}

void Writer::U64(std::uint64_t v) {
  U32(static_cast<std::uint32_t>(v));
  U32(static_cast<std::uint32_t>(v >> 32));
}

void Writer::Ucs2(QStringView text) {
  for (const QChar c : text) U16(c.unicode());
}

void Writer::BVarchar(QStringView text) {
  const QStringView cut = text.left(255);
  U8(static_cast<std::uint8_t>(cut.size()));
  Ucs2(cut);
}

void Writer::UsVarchar(QStringView text) {
  const QStringView cut = text.left(65535);
  U16(static_cast<std::uint16_t>(cut.size()));
  Ucs2(cut);
}

void Writer::BVarbyte(const QByteArray& bytes) {
  U8(static_cast<std::uint8_t>(bytes.size()));
  data_.append(bytes.left(255));
}

void Writer::PatchU16(qsizetype at, std::uint16_t v) {
  data_[at] = static_cast<char>(v);
  data_[at + 1] = static_cast<char>(v >> 8);
}

void Writer::PatchU32(qsizetype at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) data_[at + i] = static_cast<char>(v >> (8 * i));
}

void Reader::Need(std::size_t count) const {
  if (count > data_.size() - pos_) throw ProtocolError("message ends too early");
}

std::uint8_t Reader::U8() {
  Need(1);
  return static_cast<std::uint8_t>(data_[pos_++]);
}

std::uint16_t Reader::U16() {
  const std::string_view b = Bytes(2);
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) |
                                    static_cast<std::uint8_t>(b[1]) << 8);
}

std::uint16_t Reader::U16BE() {
  const std::string_view b = Bytes(2);
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) << 8 |
                                    static_cast<std::uint8_t>(b[1]));
}

std::uint32_t Reader::U32() {
  const std::string_view b = Bytes(4);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<std::uint8_t>(b[static_cast<std::size_t>(i)]);
  return v;
}

std::uint64_t Reader::U64() {
  const std::uint64_t low = U32();
  return low | static_cast<std::uint64_t>(U32()) << 32;
}

std::string_view Reader::Bytes(std::size_t count) {
  Need(count);
  const std::string_view out = data_.substr(pos_, count);
  pos_ += count;
  return out;
}

QString Reader::Ucs2(std::size_t chars) {
  return FromUcs2(Bytes(chars * 2));
}

void Reader::Seek(std::size_t pos) {
  if (pos > data_.size()) throw ProtocolError("offset beyond the message");
  pos_ = pos;
}

QByteArray ToUcs2(QStringView text) {
  Writer w;
  w.Ucs2(text);
  return w.Data();
}

QString FromUcs2(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size() / 2), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out[i / 2] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                       static_cast<std::uint8_t>(bytes[i + 1]) << 8);
  return text;
}

}  // namespace qav::tds
