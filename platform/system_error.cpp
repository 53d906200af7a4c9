#include "platform/system_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <system_error>

#include "platform/utf8.h"
#endif

namespace orvel {

std::wstring SystemErrorText(unsigned long code) {
#ifdef _WIN32
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (buffer != nullptr) {
    text.assign(buffer, length);
    ::LocalFree(buffer);
  }
  return text;
#else
  return FromUtf8(std::system_category().message(static_cast<int>(code)));
#endif
}

}  // namespace orvel
