#include "mail/BufferStream.h"

#include <algorithm>
#include <cstring>

namespace qav {

TBufferStream::TBufferStream(QIODevice* stream, QObject* parent)
    : QIODevice(parent), stream_(stream), buffer_(new char[BufferSize]) {
  bufferStart_ = stream_->pos();
  // Unbuffered: this device is the buffer; QIODevice's own would only double it.
  QIODevice::open(stream_->openMode() | QIODevice::Unbuffered);
  QIODevice::seek(bufferStart_);
}

TBufferStream::~TBufferStream() {
  Flush();
}

bool TBufferStream::Flush() {
  if (!dirty_) return true;
  if (!stream_->isSequential() && stream_->pos() != bufferStart_ && !stream_->seek(bufferStart_))
    return false;
  if (stream_->write(buffer_.get(), bufferLength_) != bufferLength_) return false;
  dirty_ = false;
  bufferStart_ += bufferPos_;
  bufferLength_ = 0;
  bufferPos_ = 0;
  return true;
}

bool TBufferStream::seek(qint64 pos) {
  if (pos < 0 || !Flush()) return false;
  bufferStart_ = pos;
  bufferLength_ = 0;
  bufferPos_ = 0;
  return QIODevice::seek(pos);
}

qint64 TBufferStream::Seek(qint64 offset, int origin) {
  qint64 target = 0;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      target = pos() + offset;
      break;
    case soFromEnd:
      target = size() + offset;
      break;
    default:
      throw EStreamError(QStringLiteral("Invalid seek origin = %1").arg(origin));
  }
  if (!seek(target)) throw EStreamError(QStringLiteral("Seek error"));
  return pos();
}

qint64 TBufferStream::size() const {
  return std::max(stream_->size(), dirty_ ? bufferStart_ + bufferLength_ : 0);
}

void TBufferStream::PutBack(char c) {
  if (bufferPos_ == 0) throw EStreamError(QStringLiteral("PutBack overflow"));
  --bufferPos_;
  buffer_[bufferPos_] = c;
  QIODevice::seek(bufferStart_ + bufferPos_);
}

qint64 TBufferStream::readData(char* data, qint64 maxSize) {
  // What was written must be readable where it was written.
  if (dirty_ && !Flush()) return -1;
  qint64 total = 0;
  while (total < maxSize) {
    if (bufferPos_ == bufferLength_) {
      bufferStart_ += bufferLength_;
      bufferLength_ = 0;
      bufferPos_ = 0;
      if (stream_->pos() != bufferStart_ && !stream_->seek(bufferStart_)) break;
      const qint64 got = stream_->read(buffer_.get(), BufferSize);
      if (got <= 0) {
        if (got < 0 && total == 0) return -1;
        break;
      }
      bufferLength_ = static_cast<int>(got);
    }
    const int take =
        static_cast<int>(std::min<qint64>(maxSize - total, bufferLength_ - bufferPos_));
    std::memcpy(data + total, buffer_.get() + bufferPos_, static_cast<size_t>(take));
    bufferPos_ += take;
    total += take;
  }
  return total;
}

qint64 TBufferStream::writeData(const char* data, qint64 size) {
  if (!dirty_ && bufferLength_ > 0) {
    // The buffer held read bytes: writing starts a new buffer at the current position.
    bufferStart_ += bufferPos_;
    bufferLength_ = 0;
    bufferPos_ = 0;
  }
  qint64 total = 0;
  while (total < size) {
    const int take = static_cast<int>(std::min<qint64>(size - total, BufferSize - bufferPos_));
    std::memcpy(buffer_.get() + bufferPos_, data + total, static_cast<size_t>(take));
    bufferPos_ += take;
    bufferLength_ = std::max(bufferLength_, bufferPos_);
    dirty_ = true;
    total += take;
    if (bufferPos_ == BufferSize && !Flush()) return -1;
  }
  return total;
}

}  // namespace qav
