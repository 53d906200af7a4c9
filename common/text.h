#pragma once
// The 8-bit texts of libraries (exception descriptions), as they are shown to people, and text from
// outside on its way to a terminal.

#include <string>
#include <string_view>

namespace orvel {

// Widens an 8-bit text byte by byte through code page 1251 (how library descriptions are shown).
std::wstring Widen1251(std::string_view narrow);

// UTF-8 text as it may be shown on a terminal: every control character (C0, DEL, and the C1
// controls U+0080..U+009F, which some terminals obey as well) and every byte that is not part of
// valid UTF-8 is written as an escape instead: \t, \r, \n, \xHH for a byte, \u00HH for a C1
// control. Whatever an argument, a file name or a file's contents hold, it can then neither move
// the cursor nor clear the screen nor pass for a line of its own. Line breaks may be kept, for a
// message whose own text is laid out in lines.
std::string TerminalText(std::string_view text, bool keepLineBreaks = false);

}  // namespace orvel
