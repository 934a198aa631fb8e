#include "export/RecordWriter.h"

#include "core/Cp874.h"
#include "core/Exception.h"
#include "core/FileError.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace qav {

namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

// Writes a file's data to the disk on request, one fdatasync at a time; requests that come
// while one runs are served by the next, which covers everything written before it.
class TRecordWriter::FileSyncer {
 public:
  explicit FileSyncer(int handle) : handle_(handle), thread_([this] { Run(); }) {}

  ~FileSyncer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Returns at once; the error of an earlier failed sync, else 0.
  int Request() {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
    changed_.notify_all();
    return std::exchange(error_, 0);
  }

  // Waits until no sync is asked for or running; the error of a failed one, else 0.
  int Finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !requested_ && !busy_; });
    return std::exchange(error_, 0);
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return requested_ || stop_; });
      if (!requested_) return;
      requested_ = false;
      busy_ = true;
      lock.unlock();
      const int error = platform::SyncFileData(handle_);
      lock.lock();
      busy_ = false;
      if (error && !error_) error_ = error;
      changed_.notify_all();
    }
  }

  const int handle_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
  bool busy_ = false;
  bool stop_ = false;
  int error_ = 0;
  std::thread thread_;  // last: starts once the state above exists
};

TRecordWriter::TRecordWriter(QIODevice* device, QString name)
    : device_(device), name_(std::move(name)), buffer_(kBufferSize) {}

TRecordWriter::TRecordWriter(std::unique_ptr<QIODevice> owned, QString name)
    : owned_(std::move(owned)),
      device_(owned_.get()),
      name_(std::move(name)),
      buffer_(kBufferSize) {}

TRecordWriter::~TRecordWriter() = default;

std::unique_ptr<TRecordWriter> TRecordWriter::CreateFile(const QString& fileName, bool append) {
  auto file = std::make_unique<QFile>(fileName);
  // Unbuffered: this writer collects the bytes itself.
  const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                   (append ? QIODevice::Append : QIODevice::Truncate);
  if (!file->open(mode)) throw FileError(FileAction::Create, fileName, file->errorString());
  return std::unique_ptr<TRecordWriter>(new TRecordWriter(std::move(file), fileName));
}

void TRecordWriter::WriteBytes(const char* data, qsizetype size) {
  auto n = static_cast<size_t>(size);
  if (used_ + n > buffer_.size()) {
    FlushBuffer();
    if (n >= buffer_.size()) {
      WriteThrough(data, size);
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, data, n);
  used_ += n;
}

void TRecordWriter::WriteWord(quint16 value) {
  const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  WriteBytes(bytes, 2);
}

void TRecordWriter::WriteLongWord(quint32 value) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  WriteBytes(bytes, 4);
}

void TRecordWriter::WriteDouble(double value) {
  quint64 bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  WriteBytes(bytes, 8);
}

void TRecordWriter::WriteRecordHeader(quint16 recordType, quint16 dataLength) {
  WriteWord(recordType);
  WriteWord(dataLength);
}

template <class Encode>
void TRecordWriter::WriteEncoded(size_t n, Encode encode) {
  qsizetype missing = 0;
  if (n > buffer_.size()) {
    // Rare: a text larger than the whole buffer goes out on its own.
    QByteArray bytes(static_cast<qsizetype>(n), Qt::Uninitialized);
    bytes.truncate(encode(bytes.data(), &missing) - bytes.data());
    WriteBytes(bytes);
  } else {
    if (used_ + n > buffer_.size()) FlushBuffer();
    char* const start = buffer_.data() + used_;
    used_ += static_cast<size_t>(encode(start, &missing) - start);
  }
  if (missing) CountUnmapped(missing);
}

void TRecordWriter::WriteCp874(QStringView text) {
  WriteEncoded(static_cast<size_t>(text.size()),
               [text](char* out, qsizetype* missing) { return EncodeCp874(text, out, missing); });
}

void TRecordWriter::WriteCp874FromUtf8(std::string_view utf8) {
  WriteEncoded(utf8.size(), [utf8](char* out, qsizetype* missing) {
    return EncodeCp874FromUtf8(utf8, out, missing);
  });
}

void TRecordWriter::FlushBuffer() {
  if (!used_) return;
  WriteThrough(buffer_.data(), static_cast<qint64>(used_));
  used_ = 0;
}

void TRecordWriter::WriteThrough(const char* data, qint64 size) {
  // A file on a nearly full disk takes part of a block without an error; the write of the rest
  // is the one that fails, and only it carries the system's reason.
  while (size > 0) {
    const qint64 done = device_->write(data, size);
    if (done <= 0) Fail();
    written_ += done;
    data += done;
    size -= done;
  }
}

void TRecordWriter::Flush() {
  FlushBuffer();
}

void TRecordWriter::Sync() {
  FlushBuffer();
  auto* file = qobject_cast<QFileDevice*>(device_);
  if (!file) return;
  if (!file->flush()) Fail();
  const int handle = file->handle();
  if (handle < 0) return;
  if (!syncer_) syncer_ = std::make_unique<FileSyncer>(handle);
  if (const int error = syncer_->Request()) FailSync(error);
}

void TRecordWriter::FailSync(int error) const {
  throw EInOutError(QStringLiteral("Cannot flush file %1. %2")
                        .arg(QDir::toNativeSeparators(name_), platform::SystemErrorText(error)));
}

void TRecordWriter::Close() {
  FlushBuffer();
  if (syncer_) {
    const int error = syncer_->Finish();
    syncer_.reset();
    if (error) FailSync(error);
  }
  if (owned_) {
    auto* file = qobject_cast<QFileDevice*>(owned_.get());
    if (file && !file->flush()) Fail();
    owned_->close();
  }
}

void TRecordWriter::Fail() const {
  const QString reason = device_->errorString();
  throw FileError(FileAction::Write, name_.isEmpty() ? QStringLiteral("(stream)") : name_, reason);
}

}  // namespace qav
