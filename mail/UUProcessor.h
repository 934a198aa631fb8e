#pragma once

#include <QObject>
#include <functional>

class QIODevice;

namespace qav {

// Attachment encodings: base64 as in MIME, or uuencode.
enum UUMethods { uuMime, uuCode };

class TUUProcessor;
using TUUNotifyEvent = std::function<void(TUUProcessor& sender)>;

// Encodes a whole input stream into lines of text on an output stream (neither owned).
class TUUProcessor : public QObject {
  Q_OBJECT

 public:
  // Input bytes per output line: 60 characters of base64, or 61 with uuencode's length
  // character.
  static constexpr int LineBytes = 45;

  explicit TUUProcessor(QObject* owner = nullptr);

  UUMethods Method = uuMime;
  TUUNotifyEvent OnBeginEncode;
  TUUNotifyEvent OnEndEncode;
  TUUNotifyEvent OnBeginDecode;
  TUUNotifyEvent OnEndDecode;

  QIODevice* InputStream = nullptr;
  QIODevice* OutputStream = nullptr;

  // Encodes the input from its start; each line ends with CR LF. Afterwards the output
  // position is 0, which also flushes a buffered output. A read error of the input is an
  // EInOutError.
  void Encode();

 private:
  void Put(const QByteArray& text);
};

}  // namespace qav
