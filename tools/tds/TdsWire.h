#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace qav::tds {

// A request that does not follow the protocol; the session answers it by closing the
// connection, as SQL Server does.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends TDS's data types to a byte buffer. Everything is little-endian unless the name
// says otherwise; texts are UTF-16LE (the protocol's UCS-2).
class Writer {
 public:
  void U8(std::uint8_t v) { data_.append(static_cast<char>(v)); }
  void U16(std::uint16_t v);
  void U16BE(std::uint16_t v);
  void U32(std::uint32_t v);
  void U32BE(std::uint32_t v);
  void U64(std::uint64_t v);
  void Bytes(std::string_view bytes) {
    data_.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  void Bytes(const QByteArray& bytes) { data_.append(bytes); }
  void Zeros(int count) { data_.append(count, '\0'); }
  // The characters alone, without a length.
  void Ucs2(QStringView text);
  // B_VARCHAR and US_VARCHAR: a character count in one or two bytes, then the characters.
  void BVarchar(QStringView text);
  void UsVarchar(QStringView text);
  void BVarbyte(const QByteArray& bytes);

  qsizetype Size() const { return data_.size(); }
  // Writes a length found only after its content has been appended.
  void PatchU16(qsizetype at, std::uint16_t v);
  void PatchU32(qsizetype at, std::uint32_t v);

  QByteArray& Data() { return data_; }
  const QByteArray& Data() const { return data_; }
  void Clear() { data_.clear(); }

 private:
  QByteArray data_;
};

// Reads TDS's data types from a message; running past its end raises ProtocolError.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  explicit Reader(const QByteArray& data)
      : data_(data.constData(), static_cast<std::size_t>(data.size())) {}

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint16_t U16BE();
  std::uint32_t U32();
  std::uint64_t U64();
  std::string_view Bytes(std::size_t count);
  void Skip(std::size_t count) { Bytes(count); }
  QString Ucs2(std::size_t chars);
  QString BVarchar() { return Ucs2(U8()); }
  QString UsVarchar() { return Ucs2(U16()); }

  std::size_t Position() const { return pos_; }
  void Seek(std::size_t pos);
  std::size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ >= data_.size(); }
  std::string_view Whole() const { return data_; }

 private:
  void Need(std::size_t count) const;

  std::string_view data_;
  std::size_t pos_ = 0;
};

// UTF-16LE bytes of a text, and back.
QByteArray ToUcs2(QStringView text);
QString FromUcs2(std::string_view bytes);

}  // namespace qav::tds
