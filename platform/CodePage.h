#pragma once

#include <array>

namespace qav::platform {

// The characters of the bytes 0x80 to 0xFF of a Windows code page as the operating system
// defines them, U+FFFD where the code page leaves a byte undefined. False when the system does
// not know the code page (the table is then all U+FFFD).
bool CodePageUpperHalf(int codePage, std::array<char16_t, 128>& table);

}  // namespace qav::platform
