#pragma once
// The port edit's rules, kept free of the window system so that they can be tested on their own.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvel::app {

struct PortRepair {
  bool rewrite = false;  // the edit must show `text` instead of what was typed
  std::wstring text;
};

// Keeps the port text a run of decimal digits not above 65535: a text holding anything but digits,
// or a value of 65535 and more, is rewritten (non-digits dropped, the value capped, a value of 0
// or less shown as 0). A clean text, the empty one included, is left as it is.
PortRepair RepairPortText(std::wstring_view text);

// Where the caret goes after a rewrite: one place before the selection start (the rejected
// character), never before the text.
int CaretAfterRepair(int selectionStart);

// The port a task is given: the text converted in base 10 and cut to 16 bits; an empty or
// non-numeric text gives 0.
std::uint16_t PortFromText(std::wstring_view text);

}  // namespace orvel::app
