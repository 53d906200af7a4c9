#pragma once
// A request to stop, from the outside: SIGINT (Ctrl-C) and SIGTERM on POSIX systems, Ctrl+C,
// Ctrl+Break and the closing of the console on Windows. While a StopSignals lives, these no longer
// end the process: each one calls onStop with how many came so far (1, 2, ...), on a thread of
// its own, never inside a signal handler. When it goes, they end the process as before.
//
// POSIX: the signals are blocked in the thread that creates it, and so in every thread started
// after it, and taken by a thread of its own with sigtimedwait; create it before any other thread.
// A signal that whoever started the process ignores stays ignored.

#include <atomic>
#include <functional>
#include <thread>

namespace orvel {

class StopSignals {
 public:
  explicit StopSignals(std::function<void(unsigned count)> onStop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // How many came so far.
  unsigned Count() const { return m_count.load(); }

  // Calls onStop as a signal would (tests, and the Windows console handler).
  void Deliver();

 private:
  std::function<void(unsigned)> m_onStop;
  std::atomic<unsigned> m_count{0};
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};

}  // namespace orvel
