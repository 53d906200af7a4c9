#pragma once
// Reads at most maxChars characters of a window's text.

#include <windows.h>

#include <string>

inline std::wstring WindowText(HWND hWnd, int maxChars) {
  std::wstring buffer(static_cast<std::size_t>(maxChars) + 1, L'\0');
  const int length = ::GetWindowTextW(hWnd, buffer.data(), maxChars + 1);
  buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return buffer;
}
