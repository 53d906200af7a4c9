#include "app/rules/port_text.h"

#include <cwchar>

namespace orvel::app {

namespace {
// Only ASCII digits: the wide classification of some runtimes also counts other scripts' digits,
// which the conversion below would not read.
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

long ToLong(std::wstring_view text) {
  const std::wstring copy(text);
  return std::wcstol(copy.c_str(), nullptr, 10);
}
}  // namespace

PortRepair RepairPortText(std::wstring_view text) {
  PortRepair result;
  result.text.assign(text);
  for (wchar_t c : text) {
    if (!IsDigit(c)) result.rewrite = true;
  }
  const long value = ToLong(text);
  if (value <= 0) result.text = L"0";
  if (value >= 65535) {
    result.text = L"65535";
    result.rewrite = true;
  }
  if (!result.rewrite) {
    result.text.assign(text);
    return result;
  }
  std::wstring digits;
  for (wchar_t c : result.text) {
    if (IsDigit(c)) digits.push_back(c);
  }
  // Dropping the non-digits can join digits into a larger number ("8a0000" reads as 8 above but
  // leaves 80000): the text the edit keeps must still be a valid port.
  if (ToLong(digits) > 65535) digits = L"65535";
  result.text = std::move(digits);
  return result;
}

int CaretAfterRepair(int selectionStart) { return selectionStart > 0 ? selectionStart - 1 : 0; }

std::uint16_t PortFromText(std::wstring_view text) {
  return static_cast<std::uint16_t>(ToLong(text));
}

}  // namespace orvel::app
