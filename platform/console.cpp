#include "platform/console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/utf8.h"
#endif

#include "platform/file_io.h"

namespace orvel {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

TerminalSize SizeOfTerminal(std::FILE* stream) {
  TerminalSize size;
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (::GetConsoleScreenBufferInfo(handle, &info)) {
    size.columns = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    size.rows = static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
  }
#else
  winsize window{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &window) == 0 && window.ws_col > 0 &&
      window.ws_row > 0) {
    size.columns = window.ws_col;
    size.rows = window.ws_row;
  }
#endif
  return size;
}

bool EnableCursorControl([[maybe_unused]] std::FILE* stream) {
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) return false;
  // ENABLE_VIRTUAL_TERMINAL_PROCESSING, spelled out for older headers.
  constexpr DWORD kVirtualTerminal = 0x0004;
  return (mode & kVirtualTerminal) != 0 || ::SetConsoleMode(handle, mode | kVirtualTerminal);
#else
  return true;
#endif
}

std::wstring PathFromArgument(const std::string& argument) {
#ifdef _WIN32
  const int size = ::MultiByteToWideChar(CP_ACP, 0, argument.data(),
                                         static_cast<int>(argument.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, argument.data(), static_cast<int>(argument.size()), wide.data(),
                        size);
  return wide;
#else
  return PathFromBytes(argument);
#endif
}

#ifdef _WIN32
namespace {
BOOL WINAPI OnConsoleStop(DWORD) {
  RemovePendingTemporaryFile();
  return FALSE;  // the default handler ends the process
}
}  // namespace

void RemovePendingTemporaryFileOnStop() { ::SetConsoleCtrlHandler(OnConsoleStop, TRUE); }
#else
extern "C" void OrvelOnStopSignal(int signal) {
  RemovePendingTemporaryFile();
  // The handler was reset to the default action when it ran: end as the signal would have.
  ::raise(signal);
}

void RemovePendingTemporaryFileOnStop() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = OrvelOnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(signal, &action, &previous);
    // A signal ignored by whoever started us (a background job's SIGINT) stays ignored.
    if (previous.sa_handler == SIG_IGN) ::sigaction(signal, &previous, nullptr);
  }
}
#endif

}  // namespace orvel
