#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringView>
#include <memory>
#include <string_view>
#include <vector>

namespace qav {

// The output of the cell-file writers: bytes collected in a buffer and handed to the device in
// large blocks, never one system call per cell. Multi-byte numbers are little-endian, as every
// binary export format has them. Errors are EInOutError carrying the operating system's reason.
class TRecordWriter {
 public:
  // Writes to a device that the caller owns and keeps open.
  explicit TRecordWriter(QIODevice* device, QString name = QString());
  ~TRecordWriter();
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  // Creates the file (an existing one is truncated), or with append opens it at its end.
  // Raises "Cannot create file NAME" with the reason.
  static std::unique_ptr<TRecordWriter> CreateFile(const QString& fileName, bool append = false);

  const QString& Name() const { return name_; }
  QIODevice* Device() const { return device_; }

  void WriteBytes(const char* data, qsizetype size);
  void WriteBytes(QByteArrayView bytes) { WriteBytes(bytes.data(), bytes.size()); }
  void WriteByte(quint8 value) {
    if (used_ == buffer_.size()) FlushBuffer();
    buffer_[used_++] = static_cast<char>(value);
  }
  void WriteWord(quint16 value);
  void WriteSmallInt(qint16 value) { WriteWord(static_cast<quint16>(value)); }
  void WriteLongWord(quint32 value);
  // An 8-byte IEEE 754 double.
  void WriteDouble(double value);
  // The 4 bytes before every record's data: record type, then data length.
  void WriteRecordHeader(quint16 recordType, quint16 dataLength);
  // The text as code page 874 bytes; a character that code page cannot hold becomes "?" and is
  // counted.
  void WriteCp874(QStringView text);
  // The same for a text in UTF-8, as the database hands it out.
  void WriteCp874FromUtf8(std::string_view utf8);
  // Room for up to `size` bytes (at most kRoomLimit) at the end of the buffer, for a writer that
  // formats into it; Commit then takes the bytes up to `end`.
  static constexpr size_t kRoomLimit = 4096;
  char* Room(size_t size) {
    if (used_ + size > buffer_.size()) FlushBuffer();
    return buffer_.data() + used_;
  }
  void Commit(const char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
  // Characters written as "?" so far, and the texts that had any.
  qint64 UnmappedCharacters() const { return unmappedCharacters_; }
  qint64 UnmappedTexts() const { return unmappedTexts_; }

  // Hands the buffer to the device.
  void Flush();
  // Flush, then has the operating system write the file's data to the disk (fdatasync). The
  // disk write runs beside the export on a thread of its own, so that a slow disk does not hold
  // up the records; a later Sync or Close waits for it and reports its error.
  void Sync();
  // Flush and, for a file of its own, close it. Destroying the writer without Close drops what
  // is still buffered.
  void Close();

  // Bytes written so far, buffer included.
  qint64 Size() const { return written_ + static_cast<qint64>(used_); }

 private:
  TRecordWriter(std::unique_ptr<QIODevice> owned, QString name);
  void FlushBuffer();
  void WriteThrough(const char* data, qint64 size);
  [[noreturn]] void Fail() const;
  [[noreturn]] void FailSync(int error) const;
  // Encodes at most `size` bytes with encode(out, &missing), which returns the end of its output.
  template <class Encode>
  void WriteEncoded(size_t size, Encode encode);
  void CountUnmapped(qsizetype missing) {
    unmappedCharacters_ += missing;
    ++unmappedTexts_;
  }

  class FileSyncer;

  std::unique_ptr<QIODevice> owned_;
  QIODevice* device_;
  QString name_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  qint64 written_ = 0;
  qint64 unmappedCharacters_ = 0;
  qint64 unmappedTexts_ = 0;
  // Destroyed before owned_, so no disk write outlives the file.
  std::unique_ptr<FileSyncer> syncer_;
};

}  // namespace qav
