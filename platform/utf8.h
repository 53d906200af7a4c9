#pragma once
// UTF-8, the narrow text of terminals, of POSIX file names and of the system's messages there, to
// and from the program's wide strings.

#include <string>
#include <string_view>

namespace orvel {

// UTF-8 <-> wide (UTF-16 on Windows, UTF-32 elsewhere). Invalid input is replaced by U+FFFD.
std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

// A file system path as bytes (what a POSIX system takes and gives) and as the wide string that
// the tasks carry, without loss either way: valid UTF-8 becomes its characters, and every byte that
// is not part of valid UTF-8 is kept as the lone surrogate U+DC80 + byte, which no valid text
// holds, and turns back into that byte. Only for paths; texts shown to people use the functions
// above.
std::wstring PathFromBytes(std::string_view bytes);
std::string PathToBytes(std::wstring_view path);

}  // namespace orvel
