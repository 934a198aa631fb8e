#pragma once

#include <QString>

namespace qav {

// The runtime's trimming: characters with codes 0 to 32 go, other white space stays.
QString Trim(const QString& text);
QString TrimLeft(const QString& text);
QString TrimRight(const QString& text);
// Upper-cases ASCII letters only; Thai and every other letter stay as they are.
QString UpperAscii(const QString& text);

}  // namespace qav
