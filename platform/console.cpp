#include "platform/console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

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

void FailWritesToClosedPipes() {}
#else
extern "C" void OrvelOnStopSignal(int signal) {
  RemovePendingTemporaryFile();
  // The handler was reset to the default action when it ran: end as the signal would have.
  ::raise(signal);
}

namespace {

// The signals whose default action ends the process, SIGKILL (which cannot be caught) and SIGPIPE
// (see FailWritesToClosedPipes) aside.
std::vector<int> EndingSignals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT,
                              SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,   SIGALRM,
                              SIGTERM, SIGXCPU, SIGXFSZ, SIGSYS,  SIGVTALRM, SIGPROF};
#ifdef SIGPOLL
  signals.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
#endif
  return signals;
}

bool HasDefaultAction(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
         current.sa_handler == SIG_DFL;
}

}  // namespace

void RemovePendingTemporaryFileOnStop() {
  for (const int signal : EndingSignals()) {
    // A signal ignored by whoever started us (a background job's SIGINT) stays ignored, one that a
    // library catches (the sanitizers catch SIGSEGV) stays its.
    if (!HasDefaultAction(signal)) continue;
    struct sigaction action {};
    action.sa_handler = OrvelOnStopSignal;
    // Back to the default on entry, and not held back while the handler runs: the handler's
    // raise ends the process at once.
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

void FailWritesToClosedPipes() {
  if (HasDefaultAction(SIGPIPE)) ::signal(SIGPIPE, SIG_IGN);
}
#endif

}  // namespace orvel
