#pragma once
// The clock seam: every time-out, resend and sleep of the protocol goes through it, so that tests
// can drive time in milliseconds without waiting. Waiting for an answer is the link's own business
// (ILink::WaitReadable): a scripted link moves its scripted clock itself.

#include <cstdint>
#include <ctime>

namespace orvel {

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of a steady clock (never CPU time).
  virtual std::int64_t NowMs() = 0;
  virtual void SleepMs(unsigned ms) = 0;
};

// The real clock: std::chrono::steady_clock and real sleeps.
class SteadyClock final : public IClock {
 public:
  std::int64_t NowMs() override;
  void SleepMs(unsigned ms) override;
};

// The steady clock's reading, for real time measured outside the seam: the socket's own readiness
// waits and the scan's round-trip times. SteadyClock::NowMs is the same reading.
std::int64_t SteadyNowMs();
std::int64_t SteadyNowUs();

// The calendar fields of a moment, in UTC and in the local time zone.
std::tm UtcCalendar(std::time_t time);
std::tm LocalCalendar(std::time_t time);

}  // namespace orvel
