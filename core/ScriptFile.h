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
QString ReadScriptFile(const QString& fileName);

}  // namespace qav
