#pragma once
// The system's own description of an OS error code: FormatMessageW on Windows, strerror's text
// elsewhere.

#include <string>

namespace orvel {

// Empty when the system has no text for the code.
std::wstring SystemErrorText(unsigned long code);

}  // namespace orvel
