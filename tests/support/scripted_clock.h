#pragma once
// A virtual clock for tests: time is a number of milliseconds that moves only when the code under
// test sleeps or waits, so every time-out and resend runs in an instant.
//
//   - NowMs() returns the virtual time (starting at StartMs, 1000 by default).
//   - SleepMs(ms) advances it by ms and records the sleep.
//   - A ScriptedLink's WaitReadable moves it too (to the next arrival, or by the time waited).
//
// Runaway loops are cut short: advancing past LimitMs (1 hour of virtual time by default) or more
// than MaxNowCalls calls of NowMs throws std::runtime_error, which fails the test instead of
// hanging it.

#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace orvel::test {

class ScriptedClock final : public IClock {
 public:
  static constexpr std::int64_t kStartMs = 1000;

  std::int64_t NowMs() override;
  void SleepMs(unsigned ms) override;

  // Moves time forward (never back); throws past the limit.
  void AdvanceTo(std::int64_t ms);
  void Advance(std::int64_t ms) { AdvanceTo(m_now + ms); }

  // Milliseconds since the clock started.
  std::int64_t ElapsedMs() const { return m_now - kStartMs; }
  const std::vector<unsigned>& Sleeps() const { return m_sleeps; }
  std::int64_t TotalSleptMs() const;

  std::int64_t limitMs = kStartMs + 3'600'000;
  std::uint64_t maxNowCalls = 50'000'000;

 private:
  std::int64_t m_now = kStartMs;
  std::uint64_t m_nowCalls = 0;
  std::vector<unsigned> m_sleeps;
};

}  // namespace orvel::test
