#include "core/Cp874.h"
#include "mail/BufferStream.h"
#include "mail/UUProcessor.h"

#include <gtest/gtest.h>
#include <QBuffer>

namespace qav {
namespace {

QByteArray Encode(const QByteArray& input, UUMethods method) {
  QByteArray in = input;
  QBuffer source(&in);
  source.open(QIODevice::ReadOnly);
  source.seek(in.size());  // Encode starts from the beginning whatever the position.
  QByteArray out;
  QBuffer target(&out);
  target.open(QIODevice::WriteOnly);
  TUUProcessor encoder;
  encoder.Method = method;
  encoder.InputStream = &source;
  encoder.OutputStream = &target;
  encoder.Encode();
  return out;
}

QByteArray Pattern(int size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  return bytes;
}

TEST(UUProcessorTest, Base64LinesOf45Bytes) {
  for (int size : {0, 1, 2, 3, 44, 45, 46, 90, 91, 1000}) {
    SCOPED_TRACE(size);
    const QByteArray input = Pattern(size);
    const QByteArray base64 = input.toBase64();
    QByteArray expected;
    for (int at = 0; at < base64.size(); at += 60) expected += base64.mid(at, 60) + "\r\n";
    EXPECT_EQ(Encode(input, uuMime), expected);
  }
}

TEST(UUProcessorTest, UuencodeWithLengthCharacterAndEndLine) {
  EXPECT_EQ(Encode("Cat", uuCode), "#0V%T\r\n`\r\n");
  EXPECT_EQ(Encode("", uuCode), "`\r\n");
  EXPECT_EQ(Encode(QByteArray(3, '\0'), uuCode), "#````\r\n`\r\n") << "zero is the grave accent";
  const QByteArray lines = Encode(Pattern(46), uuCode);
  const QList<QByteArray> split = lines.split('\n');
  ASSERT_EQ(split.size(), 4);
  EXPECT_EQ(split[0].size(), 62) << "length character, 60 characters, CR";
  EXPECT_EQ(split[0][0], 'M') << "45 bytes";
  EXPECT_EQ(split[1], "!C`\r") << "one byte: length, two characters";
}

TEST(UUProcessorTest, EventsSurroundTheEncoding) {
  QByteArray in = "abc";
  QBuffer source(&in);
  source.open(QIODevice::ReadOnly);
  QByteArray out;
  QBuffer target(&out);
  target.open(QIODevice::WriteOnly);
  TUUProcessor encoder;
  QStringList events;
  encoder.OnBeginEncode = [&](TUUProcessor&) { events << "begin"; };
  encoder.OnEndEncode = [&](TUUProcessor&) { events << "end " + QString::number(target.pos()); };
  encoder.InputStream = &source;
  encoder.OutputStream = &target;
  encoder.Encode();
  EXPECT_EQ(events, (QStringList{"begin", "end 0"}));
}

TEST(BufferStreamTest, WritesReachTheStreamWhenFullSeekingOrDestroyed) {
  QByteArray data;
  QBuffer target(&data);
  target.open(QIODevice::ReadWrite);
  {
    TBufferStream stream(&target);
    stream.write(Pattern(100));
    EXPECT_EQ(data.size(), 0) << "collected in the buffer";
    EXPECT_EQ(stream.size(), 100);
    stream.write(Pattern(TBufferStream::BufferSize));
    EXPECT_EQ(data.size(), TBufferStream::BufferSize) << "a full buffer is written";
    EXPECT_EQ(stream.Seek(10, soFromBeginning), 10);
    EXPECT_EQ(data.size(), TBufferStream::BufferSize + 100) << "a seek flushes";
    stream.write("XY");
  }
  EXPECT_EQ(data.mid(8, 4), Pattern(100).mid(8, 2) + "XY") << "destruction flushes";
}

TEST(BufferStreamTest, ReadsRefillAndSeekFromEveryOrigin) {
  QByteArray data = Pattern(3 * TBufferStream::BufferSize + 17);
  QBuffer source(&data);
  source.open(QIODevice::ReadOnly);
  TBufferStream stream(&source);
  EXPECT_EQ(stream.read(data.size() + 5), data);
  EXPECT_EQ(stream.Seek(-17, soFromEnd), data.size() - 17);
  EXPECT_EQ(stream.read(17), data.right(17));
  EXPECT_EQ(stream.Seek(-20, soFromCurrent), data.size() - 20);
  char c = 0;
  ASSERT_TRUE(stream.getChar(&c));
  stream.PutBack('!');
  EXPECT_EQ(stream.pos(), data.size() - 20);
  EXPECT_EQ(stream.read(2), "!" + data.mid(data.size() - 19, 1));
}

TEST(BufferStreamTest, MisuseRaisesStreamErrors) {
  // Reads work, writes are refused.
  struct RefusingBuffer : QBuffer {
    using QBuffer::QBuffer;
    qint64 writeData(const char*, qint64) override { return -1; }
  };
  QByteArray data = "abc";
  RefusingBuffer source(&data);
  source.open(QIODevice::ReadWrite);
  TBufferStream stream(&source);
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { stream.Seek(0, 3); }, "Invalid seek origin = 3"},
      {[&] { stream.PutBack('x'); }, "PutBack overflow"},
      {[&] {
         // The collected byte cannot be flushed.
         stream.write("z");
         stream.Seek(0, soFromBeginning);
       },
       "Seek error"},
  };
  for (const auto& [action, text] : cases) {
    try {
      action();
      ADD_FAILURE() << "no error for " << text;
    } catch (const EStreamError& e) {
      EXPECT_EQ(e.Message(), text);
    }
  }
}

TEST(Cp874Test, ThaiAndWindowsCharactersRoundTrip) {
  const QString thai = QStringLiteral("บริษัท ทดสอบ จำกัด ๑๒๓ ฿");
  const QByteArray bytes = ToCp874(thai);
  EXPECT_EQ(bytes.size(), thai.size());
  EXPECT_EQ(bytes.left(6), "\xba\xc3\xd4\xc9\xd1\xb7");
  EXPECT_EQ(FromCp874(bytes), thai);

  EXPECT_EQ(ToCp874(QStringLiteral("€“”…")), "\x80\x93\x94\x85");
  EXPECT_EQ(ToCp874(QStringLiteral("a😀ü\u0000b")), QByteArray("a??\0b", 5))
      << "one question mark per character code page 874 lacks";
  EXPECT_EQ(FromCp874("\xdb\x81"), QStringLiteral("\ufffd\ufffd"));
}

}  // namespace
}  // namespace qav
