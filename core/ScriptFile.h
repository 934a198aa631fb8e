#pragma once

#include <QString>

namespace qav {

// The most a script file may hold; a larger one is refused rather than read into memory.
inline constexpr qint64 kMaxScriptFileBytes = 64 * 1024 * 1024;

// The text of an SQL script file as a person or a program writes it: UTF-8 when its bytes are
// valid UTF-8 (a byte-order mark is dropped), else code page 874. Thai text in code page 874 is
// never valid UTF-8, so the two cannot be mistaken for one another. Only a regular file is read
// (a pipe or a device would never end), and at most kMaxScriptFileBytes of it. Raises
// EInOutError with the reason when the file cannot be read.
enum class TScriptEncoding { Utf8, Cp874 };
QString ReadScriptFile(const QString& fileName, TScriptEncoding* encoding = nullptr);

// Writes a script the way it came in: UTF-8, or code page 874 when it was read as that and every
// character has a place there (else UTF-8, so that no character is lost). The file takes its name
// only when complete. Returns the encoding written; raises EInOutError with the reason.
TScriptEncoding WriteScriptFile(const QString& fileName, const QString& text,
                                TScriptEncoding encoding);

}  // namespace qav
