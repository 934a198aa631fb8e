#include "mail/UUProcessor.h"

#include "core/Exception.h"

#include <QIODevice>

namespace qav {

namespace {

constexpr char kMimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// uuencode: the grave accent stands for 0, "!" through "_" for 1 to 63.
char UUChar(int value) {
  return value == 0 ? '`' : static_cast<char>(' ' + value);
}

// Reads up to max bytes, across short reads; fewer only at the end of the input.
qint64 ReadBlock(QIODevice& input, char* data, qint64 max) {
  qint64 total = 0;
  while (total < max) {
    const qint64 got = input.read(data + total, max - total);
    if (got < 0) throw EInOutError(input.errorString());
    if (got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace

TUUProcessor::TUUProcessor(QObject* owner) : QObject(owner) {}

void TUUProcessor::Encode() {
  InputStream->seek(0);
  if (OnBeginEncode) OnBeginEncode(*this);
  const bool mime = Method == uuMime;
  auto encodeChar = [mime](int value) { return mime ? kMimeAlphabet[value] : UUChar(value); };

  try {
    char in[LineBytes];
    QByteArray line;
    line.reserve(LineBytes / 3 * 4 + 3);
    for (;;) {
      const qint64 count = ReadBlock(*InputStream, in, LineBytes);
      if (count == 0) break;
      line.clear();
      if (!mime) line.append(UUChar(static_cast<int>(count)));
      for (qint64 i = 0; i < count; i += 3) {
        const qint64 left = count - i;
        const auto b0 = static_cast<unsigned char>(in[i]);
        const auto b1 = left > 1 ? static_cast<unsigned char>(in[i + 1]) : 0;
        const auto b2 = left > 2 ? static_cast<unsigned char>(in[i + 2]) : 0;
        line.append(encodeChar(b0 >> 2));
        line.append(encodeChar((b0 & 0x03) << 4 | b1 >> 4));
        if (left == 1) {
          if (mime) line.append("==");
          break;
        }
        line.append(encodeChar((b1 & 0x0F) << 2 | b2 >> 6));
        if (left == 2) {
          if (mime) line.append('=');
          break;
        }
        line.append(encodeChar(b2 & 0x3F));
      }
      line.append("\r\n");
      Put(line);
      if (count < LineBytes) break;
    }
    if (!mime) Put("`\r\n");
  } catch (...) {
    OutputStream->seek(0);
    if (OnEndEncode) OnEndEncode(*this);
    throw;
  }
  const bool flushed = OutputStream->seek(0);
  if (OnEndEncode) OnEndEncode(*this);
  if (!flushed) throw EInOutError(OutputStream->errorString());
}

void TUUProcessor::Put(const QByteArray& text) {
  if (OutputStream->write(text) != text.size()) throw EInOutError(OutputStream->errorString());
}

}  // namespace qav
