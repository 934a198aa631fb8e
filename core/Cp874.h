#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <string_view>

namespace qav {

// The suite keeps all 8-bit text in the Thai Windows code page (874): mail on the wire and the
// export files carry these bytes, never UTF-8.

// Characters that code page 874 cannot hold become "?", one per character.
QByteArray ToCp874(const QString& text, qsizetype* unmapped = nullptr);
// The same into a buffer of at least text.size() bytes; returns the end of what it wrote. With
// unmapped, adds to it the characters that became "?".
char* EncodeCp874(QStringView text, char* out, qsizetype* unmapped = nullptr);
// The same from UTF-8 bytes, into a buffer of at least utf8.size() bytes: a text the database
// hands out as UTF-8 is encoded once, without a UTF-16 copy between. A malformed sequence
// becomes one "?" per byte, and is counted as unmapped.
char* EncodeCp874FromUtf8(std::string_view utf8, char* out, qsizetype* unmapped = nullptr);
// Bytes that code page 874 leaves undefined become U+FFFD.
QString FromCp874(const QByteArray& bytes);

}  // namespace qav
