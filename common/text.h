#pragma once
// The 8-bit texts of libraries (exception descriptions), as they are shown to people.

#include <string>
#include <string_view>

namespace orvel {

// Widens an 8-bit text byte by byte through code page 1251 (how library descriptions are shown).
std::wstring Widen1251(std::string_view narrow);

}  // namespace orvel
