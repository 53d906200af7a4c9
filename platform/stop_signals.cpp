#include "platform/stop_signals.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <time.h>
#endif

namespace orvel {

void StopSignals::Deliver() { m_onStop(++m_count); }

#ifdef _WIN32
namespace {
// The console handler is a plain function: this is the one it calls into.
std::atomic<StopSignals*> g_stopSignals{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD) {
  StopSignals* const signals = g_stopSignals.load();
  if (signals == nullptr) return FALSE;
  signals->Deliver();  // the system runs this handler on a thread of its own
  return TRUE;
}
}  // namespace

StopSignals::StopSignals(std::function<void(unsigned)> onStop) : m_onStop(std::move(onStop)) {
  g_stopSignals.store(this);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  g_stopSignals.store(nullptr);
}
#else
namespace {
// SIGINT and SIGTERM, but not one that whoever started us ignores (a background job's SIGINT).
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == SIG_IGN) {
      continue;
    }
    sigaddset(&set, signal);
  }
  return set;
}
}  // namespace

StopSignals::StopSignals(std::function<void(unsigned)> onStop) : m_onStop(std::move(onStop)) {
  const sigset_t set = StopSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this, set] {
    const timespec wait{0, 100'000'000};
    while (!m_stopping.load()) {
      if (::sigtimedwait(&set, nullptr, &wait) > 0) Deliver();
    }
  });
}

StopSignals::~StopSignals() {
  m_stopping.store(true);
  m_thread.join();
  // A signal that came after the thread's last look is taken now, as the one it is.
  const sigset_t set = StopSet();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
#endif

}  // namespace orvel
