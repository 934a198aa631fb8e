#pragma once

#include <QString>

namespace qav {

// The most a script file may hold; a larger one is refused rather than read into memory.
inline constexpr qint64 kMaxScriptFileBytes = 64 * 1024 * 1024;

// How a script file's bytes stand for its text, so that a save writes it back as it came.
enum class TScriptEncoding { Utf8, Cp874, Utf8Bom, Utf16Le, Utf16Be };
struct TScriptForm {
  TScriptEncoding encoding = TScriptEncoding::Utf8;
  bool crlf = false;  // lines end in CR LF (as the first line end of the file did)
};

// The text of an SQL script file as a person or a program writes it, its line ends as they are
// (`form` tells whether they are CR LF): by its byte-order mark when it has one (UTF-8, or UTF-16
// as Windows tools write "Unicode"), else UTF-8 when its bytes are valid UTF-8, else code page 874.
// Thai text in code page 874 is never valid UTF-8, so the two cannot be mistaken for one
// another. A NUL character is refused with its line: the statements would end there unseen.
// Only a regular file is read (a pipe or a device would never end), and at most
// kMaxScriptFileBytes of it. Raises EInOutError with the reason when the file cannot be read.
QString ReadScriptFile(const QString& fileName, TScriptForm* form = nullptr);

// The line (one-based) of the first NUL character of a text, 0 when it holds none.
int NulCharacterLine(const QString& text);

// Writes a script the way it came in: its encoding, byte-order mark and line ends (each LF of the
// text becomes CR LF when the file had those); code page 874
// only when every character has a place there (else UTF-8, so that no character is lost). The
// file takes its name only when complete. Returns the form written; raises EInOutError with the
// reason.
TScriptForm WriteScriptFile(const QString& fileName, const QString& text, TScriptForm form);

}  // namespace qav
