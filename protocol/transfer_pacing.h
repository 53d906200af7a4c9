#pragma once
// How a transfer paces the requests whose answers echo their address: when an unanswered one goes
// again (RoundTripEstimate) and how many may be out at once (FlightWindow). Plain arithmetic on
// milliseconds and counts: the transfer engine (session/transfer_engine.h) reads the clock and
// feeds them.

#include <cstdint>

namespace orvel::exchange {

// The round trip to one device, smoothed from the answers to requests that went out once (an
// answer to a resent request could belong to any of its sends, so it says nothing), and the wait
// it gives a request before it is sent again: the smoothed time plus four variations, never less
// than half as much again as the longest recent round trip (the hold), never less than kFloorMs,
// never more than kCeilingMs, doubled for every resend of the same request (up to kCeilingMs).
// Before the first round trip is known the wait is kCeilingMs.
//
// The hold is what keeps a device that is sometimes slow (erasing flash) from being asked twice
// for every slow answer: its slow round trips, measured or revealed by a needless resend, keep the
// wait above them for the next hundred answers or so, while the smoothed time forgets them within
// a few.
class RoundTripEstimate {
 public:
  // Below this a resend would race the scheduler rather than the device: round trips over
  // loopback are under 1 ms, but a busy machine holds a process back for several.
  static constexpr unsigned kFloorMs = 30;
  // The answer window of the dialog: no request waits longer than it does there.
  static constexpr unsigned kCeilingMs = 1500;

  // The round trip of a request that went out once.
  void Sample(std::int64_t ms);
  // A resend was needless: a second answer came for a request that was sent more than once, so
  // its first send was answered after all, at most lateMs after it went (the device was slow, not
  // the link lossy). The waits stay above that for a while, so that the next slow answer is
  // waited for instead of asked for again. Not while the link copies answers (Copied() within the
  // last hundred answers or so): the second answer may then be a copy of the resend's, and
  // taking it for the first send's would raise the wait with every resend.
  void NeedlessResend(std::int64_t lateMs);
  // A second answer came for a request sent once: the link copies datagrams.
  void Copied();
  // How long a request that has been resent `resends` times waits for its answer.
  unsigned TimeoutMs(unsigned resends) const;

  bool Measured() const { return m_measured; }
  double SmoothedMs() const { return m_smoothed; }
  double VariationMs() const { return m_variation; }
  // The longest recent round trip; it fades by 1/kHoldFade with every round trip measured.
  double HoldMs() const { return m_hold; }

  static constexpr unsigned kHoldFade = 128;

 private:
  bool m_measured = false;
  double m_smoothed = 0;
  double m_variation = 0;
  double m_hold = 0;
  double m_copies = 0;  // copies seen, fading like the hold
};

// How many requests of a transfer may be out at once: one at first; one more for every answer
// while below the threshold, past it one more for every full window of answers; halved on a loss
// (a request whose wait ran out), at most once for the requests that were out together; never
// above the limit. The threshold starts at the limit and becomes the halved window on a loss.
class FlightWindow {
 public:
  // The highest limit, whatever is asked for: orvelctl's shared socket keeps at most 64 datagrams
  // for a device, room for an answer and a late copy of each request out.
  static constexpr unsigned kMaxLimit = 32;

  // limit is taken into 1..kMaxLimit.
  explicit FlightWindow(unsigned limit);

  unsigned Size() const { return m_size; }
  unsigned Limit() const { return m_limit; }

  // A request goes out (first or again): the number of this send, for Lost().
  std::uint64_t Sent() { return m_sends++; }
  // A request was answered.
  void Answered();
  // The send numbered send went unanswered. Sends made before the window was last halved were out
  // together with the loss that halved it: they do not halve it again.
  void Lost(std::uint64_t send);

 private:
  unsigned m_limit;
  unsigned m_size = 1;
  unsigned m_threshold;
  unsigned m_answersInRound = 0;
  std::uint64_t m_sends = 0;
  std::uint64_t m_recovery = 0;  // sends numbered below this do not halve the window
};

}  // namespace orvel::exchange
