#pragma once
// The clock seam: every time-out, resend and wait of the protocol goes through it, so that tests
// can drive time in milliseconds without waiting.

#include <cstdint>

namespace orvel {

class ILink;

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of a steady clock (never CPU time).
  virtual std::int64_t NowMs() = 0;
  virtual void SleepMs(unsigned ms) = 0;
  // Waits at most ms milliseconds for the link to have a datagram waiting; returns early when one
  // is.
  virtual void WaitReadable(ILink& link, unsigned ms) = 0;
};

// The real clock: std::chrono::steady_clock, real sleeps, and the link's own readiness wait.
class SteadyClock final : public IClock {
 public:
  std::int64_t NowMs() override;
  void SleepMs(unsigned ms) override;
  void WaitReadable(ILink& link, unsigned ms) override;
};

}  // namespace orvel
