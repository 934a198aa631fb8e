#pragma once

#include "core/Exception.h"

#include <QIODevice>
#include <memory>

namespace qav {

// Misuse of a stream: a seek origin that does not exist, a seek whose pending writes could
// not be flushed, a byte pushed back where there is none.
QAV_EXCEPTION_CLASS(EStreamError, Exception);

// Origins of Seek.
enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// A buffered stream over another stream (not owned). Writes collect in the buffer and reach
// the underlying stream when the buffer is full, when the position changes and when the
// buffered stream is destroyed; reads refill the buffer from the underlying stream.
class TBufferStream : public QIODevice {
  Q_OBJECT

 public:
  static constexpr int BufferSize = 32768;

  explicit TBufferStream(QIODevice* stream, QObject* parent = nullptr);
  ~TBufferStream() override;

  // Moves the position by offset from the origin and returns the new position. Raises
  // "Invalid seek origin = N" for another origin and "Seek error" when pending writes cannot
  // be flushed.
  qint64 Seek(qint64 offset, int origin);
  // Steps back over the byte just read and makes it c; raises "PutBack overflow" when
  // nothing precedes the position within the buffer.
  void PutBack(char c);
  // Writes the collected bytes to the underlying stream; false when it refuses them.
  bool Flush();

  bool isSequential() const override { return false; }
  bool seek(qint64 pos) override;
  qint64 size() const override;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* data, qint64 size) override;

 private:
  QIODevice* stream_;
  std::unique_ptr<char[]> buffer_;
  // Position of the buffer's first byte in the underlying stream.
  qint64 bufferStart_ = 0;
  // Valid bytes in the buffer, and the current position within it.
  int bufferLength_ = 0;
  int bufferPos_ = 0;
  // The buffer holds written bytes the underlying stream has not yet received.
  bool dirty_ = false;
};

}  // namespace qav
