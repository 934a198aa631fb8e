#include "mail/MimeEncoding.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <optional>

namespace qav {

namespace {

const QString kFold = QStringLiteral("\r\n ");
// RFC 5322 asks for lines of at most 78 characters; RFC 5321 allows 998.
constexpr qsizetype kLineRoom = 78;
constexpr qsizetype kMaxTextLine = 998;
// UTF-8 bytes per encoded word: 56 base64 characters, a word of 68 with its marks.
constexpr qsizetype kWordBytes = 42;
constexpr qsizetype kQuotedPrintableRoom = 76;

bool IsPlainAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
  return true;
}

// Plain ASCII that a reader could take for an encoded word must be encoded itself.
bool CanGoAsItIs(const QString& text) {
  return IsPlainAscii(text) && !text.contains(QLatin1StringView("=?"));
}

// UTF-8 encoded words on folded lines. A reader decodes each word on its own and may show the
// blank of the fold between two of them, so a word ends only between whole user-perceived
// characters (grapheme clusters): a Thai consonant keeps its vowel and tone marks. Only a
// cluster too long for any word is cut, between its code points.
QString EncodedWords(const QString& text) {
  QStringList words;
  QByteArray chunk;
  auto flush = [&] {
    if (chunk.isEmpty()) return;
    words << QStringLiteral("=?utf-8?B?") + QString::fromLatin1(chunk.toBase64()) +
                 QStringLiteral("?=");
    chunk.clear();
  };
  auto add = [&](QStringView piece) {
    const QByteArray bytes = piece.toUtf8();
    if (chunk.size() + bytes.size() > kWordBytes) flush();
    chunk += bytes;
  };
  QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
  qsizetype start = 0;
  for (qsizetype end = clusters.toNextBoundary(); end > start; end = clusters.toNextBoundary()) {
    const QStringView cluster = QStringView(text).mid(start, end - start);
    if (cluster.toUtf8().size() <= kWordBytes) {
      add(cluster);
    } else {
      for (qsizetype i = 0; i < cluster.size();) {
        const qsizetype length = cluster[i].isHighSurrogate() && i + 1 < cluster.size() ? 2 : 1;
        add(cluster.mid(i, length));
        i += length;
      }
    }
    start = end;
  }
  flush();
  return words.join(kFold);
}

// Folds before single blanks between words so that no line passes 78 characters; nothing when
// a word is too long for that.
std::optional<QString> FoldAtBlanks(const QString& value, qsizetype firstLineUsed) {
  if (firstLineUsed + value.size() <= kLineRoom) return value;
  QString out;
  qsizetype lineStart = 0;
  qsizetype room = kLineRoom - firstLineUsed;
  qsizetype fold = -1;
  for (qsizetype k = 0; k < value.size(); ++k) {
    if (value[k] == u' ' && k > lineStart && value[k - 1] != u' ' && k + 1 < value.size() &&
        value[k + 1] != u' ')
      fold = k;
    if (k - lineStart + 1 > room) {
      if (fold <= lineStart) return std::nullopt;
      out += QStringView(value).mid(lineStart, fold - lineStart);
      out += QStringLiteral("\r\n");
      lineStart = fold;
      room = kLineRoom;
      fold = -1;
    }
  }
  out += QStringView(value).mid(lineStart);
  return out;
}

bool IsSpecial(QChar c) {
  return QStringView(u"()<>[]:;@\\,.\"").contains(c);
}

QString QuotedString(const QString& text) {
  QString out = QStringLiteral("\"");
  for (QChar c : text) {
    if (c == u'"' || c == u'\\') out += u'\\';
    out += c;
  }
  return out + u'"';
}

bool IsAttributeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         QByteArrayView("!#$&+-.^_`|~").contains(c);
}

// Quoted-printable lines of one text line: soft breaks keep each within 76 characters.
void AppendQuotedPrintable(const QByteArray& bytes, QByteArrayList& lines) {
  static const char kHex[] = "0123456789ABCDEF";
  QByteArray line;
  for (qsizetype k = 0; k < bytes.size(); ++k) {
    const auto b = static_cast<unsigned char>(bytes[k]);
    const bool last = k + 1 == bytes.size();
    QByteArray piece;
    // A blank at the end of a line would be lost on the way: it is encoded there.
    if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last)) {
      piece = QByteArray(1, static_cast<char>(b));
    } else {
      piece = "=";
      piece += kHex[b >> 4];
      piece += kHex[b & 15];
    }
    if (line.size() + piece.size() > kQuotedPrintableRoom - 1) {
      lines << line + '=';
      line.clear();
    }
    line += piece;
  }
  lines << line;
}

}  // namespace

QString CleanHeaderText(const QString& text) {
  QString out = text;
  for (QChar& c : out)
    if (c.category() == QChar::Other_Control) c = u' ';
  return out;
}

QString EncodeUnstructured(const QString& name, const QString& value) {
  const QString clean = CleanHeaderText(value);
  if (CanGoAsItIs(clean)) {
    if (const auto folded = FoldAtBlanks(clean, name.size() + 2)) return *folded;
  }
  return EncodedWords(clean);
}

// The longest run of characters without a blank.
qsizetype LongestWord(const QString& text) {
  qsizetype longest = 0;
  qsizetype run = 0;
  for (QChar c : text) {
    run = c == u' ' ? 0 : run + 1;
    longest = std::max(longest, run);
  }
  return longest;
}

QString EncodePhrase(const QString& phrase) {
  const QString clean = CleanHeaderText(phrase);
  if (clean.isEmpty()) return clean;
  // A word that no fold can shorten goes in encoded words, which fold.
  if (CanGoAsItIs(clean) && LongestWord(clean) <= kLineRoom - 12) {
    for (QChar c : clean)
      if (IsSpecial(c)) return QuotedString(clean);
    return clean;
  }
  return EncodedWords(clean.trimmed()) + u' ';
}

QString EncodeRecipientEntry(const QString& entry) {
  const QString clean = CleanHeaderText(entry);
  const qsizetype open = clean.indexOf(u'<');
  if (open <= 0) return clean;
  const QString name = clean.left(open).trimmed();
  // A comma in a bare name would split the entry into two addresses: names with specials
  // are quoted, unless the caller quoted them already.
  if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"') && CanGoAsItIs(name))
    return clean;
  const QString phrase = EncodePhrase(name);
  return phrase + (phrase.endsWith(u' ') ? QString() : QStringLiteral(" ")) + clean.mid(open);
}

QString FoldHeaderLine(const QString& line) {
  QStringList out;
  const QStringList physical = line.split(QStringLiteral("\r\n"));
  for (qsizetype p = 0; p < physical.size(); ++p) {
    QString rest = physical[p];
    // The first line folds only after "Name: ".
    qsizetype from = p == 0 ? std::max<qsizetype>(rest.indexOf(QStringLiteral(": ")) + 2, 1) : 1;
    while (rest.size() > kLineRoom) {
      // The last blank that leaves at most 78 characters before it, else the first after.
      qsizetype fold = -1;
      for (qsizetype k = from; k < rest.size() && (k <= kLineRoom || fold < 0); ++k)
        if (rest[k] == u' ' && rest[k - 1] != u' ') fold = k;
      if (fold < 0) break;
      out << rest.left(fold);
      rest = rest.mid(fold);
      from = 1;
    }
    out << rest;
  }
  return out.join(QStringLiteral("\r\n"));
}

QString MimeParameter(const QString& name, const QString& value) {
  const QString clean = CleanHeaderText(value);
  if (IsPlainAscii(clean)) return name + u'=' + QuotedString(clean);
  // RFC 2231: percent-encoded UTF-8, cut into pieces between whole escapes.
  QStringList pieces{QString()};
  for (char c : clean.toUtf8()) {
    const QString part = IsAttributeChar(c)
                             ? QString(QChar::fromLatin1(c))
                             : u'%' + QString::number(static_cast<unsigned char>(c), 16)
                                          .toUpper()
                                          .rightJustified(2, u'0');
    if (pieces.last().size() + part.size() > 60) pieces << QString();
    pieces.last() += part;
  }
  if (pieces.size() == 1) return name + QStringLiteral("*=utf-8''") + pieces[0];
  QStringList parts;
  for (qsizetype i = 0; i < pieces.size(); ++i)
    parts << name + u'*' + QString::number(i) + QStringLiteral("*=") +
                 (i == 0 ? QStringLiteral("utf-8''") : QString()) + pieces[i];
  return parts.join(u';' + kFold);
}

TEncodedText EncodeText(const QStringList& lines, const QString& asciiCharset) {
  bool ascii = true;
  bool plain = true;
  for (const QString& line : lines) {
    if (line.size() > kMaxTextLine) plain = false;
    for (QChar c : line) {
      if (c.unicode() > 0x7f) ascii = false;
      if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f) plain = false;
    }
  }
  TEncodedText text;
  text.charset = ascii ? asciiCharset : QStringLiteral("utf-8");
  text.quotedPrintable = !ascii || !plain;
  for (const QString& line : lines) {
    const QByteArray bytes = ascii ? line.toLatin1() : line.toUtf8();
    if (text.quotedPrintable)
      AppendQuotedPrintable(bytes, text.lines);
    else
      text.lines << bytes;
  }
  return text;
}

}  // namespace qav
