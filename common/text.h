#pragma once
// Text conversions between the program's wide strings and the narrow texts of libraries,
// terminals and file systems.

#include <string>
#include <string_view>

namespace orvel {

// Widens an 8-bit text byte by byte through code page 1251 (how library descriptions are shown).
std::wstring Widen1251(std::string_view narrow);

// UTF-8 <-> wide (UTF-16 on Windows, UTF-32 elsewhere). Invalid input is replaced by U+FFFD.
std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

}  // namespace orvel
