#include "scripted_clock.h"

#include <numeric>
#include <stdexcept>

namespace orvel::test {

std::int64_t ScriptedClock::NowMs() {
  if (++m_nowCalls > maxNowCalls) {
    throw std::runtime_error("ScriptedClock: too many NowMs calls (a loop that never waits?)");
  }
  return m_now;
}

void ScriptedClock::SleepMs(unsigned ms) {
  m_sleeps.push_back(ms);
  Advance(ms);
}

void ScriptedClock::AdvanceTo(std::int64_t ms) {
  if (ms <= m_now) return;
  if (ms > limitMs) throw std::runtime_error("ScriptedClock: virtual time limit passed");
  m_now = ms;
}

std::int64_t ScriptedClock::TotalSleptMs() const {
  return std::accumulate(m_sleeps.begin(), m_sleeps.end(), std::int64_t{0});
}

}  // namespace orvel::test
