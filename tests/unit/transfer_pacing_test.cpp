// The pacing arithmetic of the transfers: the wait before a resend and the number of requests out.

#include <gtest/gtest.h>

#include <vector>

#include "protocol/transfer_pacing.h"

namespace {

using orvel::exchange::FlightWindow;
using orvel::exchange::RoundTripEstimate;

TEST(RoundTripEstimate, WaitFollowsTheRoundTripWithinTheFloorAndTheCeiling) {
  struct Event {
    char kind;  // 's' a round trip measured, 'n' a needless resend revealed, 'c' a copy
    std::int64_t ms;
    int times;
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<unsigned> waits;  // TimeoutMs(0), TimeoutMs(1), ...
  };
  const Case cases[] = {
      {"nothing measured yet: the ceiling", {}, {1500, 1500}},
      // The first round trip r gives r and r / 2: r + 4 * r / 2; each resend doubles, up to 1500.
      {"first round trip", {{'s', 100, 1}}, {300, 600, 1200, 1500}},
      // 7/8 of the smoothed time and 3/4 of the variation stay: 90 + 4 * 57.5.
      {"smoothing", {{'s', 100, 1}, {'s', 20, 1}}, {320}},
      {"loopback: the floor, doubled", {{'s', 0, 50}}, {30, 60, 120, 240, 480, 960, 1500}},
      {"never past the ceiling", {{'s', 2000, 1}}, {1500, 1500}},
      // A slow answer revealed by a needless resend holds the wait at half as much again ...
      {"needless resend", {{'s', 0, 1}, {'n', 100, 1}}, {150, 300}},
      // ... fading by 1/128 with every round trip measured: 100 * (127/128)^20 * 1.5 ...
      {"hold after 20 answers", {{'s', 0, 1}, {'n', 100, 1}, {'s', 0, 20}}, {129}},
      // ... back near the floor after 200.
      {"hold after 200 answers", {{'s', 0, 1}, {'n', 100, 1}, {'s', 0, 200}}, {32}},
      // A slow answer measured holds the wait too, long after the smoothed time forgot it.
      {"slow answer measured", {{'s', 0, 1}, {'s', 100, 1}, {'s', 0, 19}}, {130}},
      // While the link copies answers a second answer proves nothing; after some 90 answers
      // without a copy it does again.
      {"copies seen", {{'s', 0, 1}, {'c', 0, 1}, {'n', 100, 1}}, {30}},
      {"copies forgotten", {{'s', 0, 1}, {'c', 0, 1}, {'s', 0, 90}, {'n', 100, 1}}, {150}},
  };
  for (const Case& c : cases) {
    RoundTripEstimate estimate;
    for (const Event& event : c.events) {
      for (int i = 0; i < event.times; ++i) {
        if (event.kind == 's') estimate.Sample(event.ms);
        if (event.kind == 'n') estimate.NeedlessResend(event.ms);
        if (event.kind == 'c') estimate.Copied();
      }
    }
    for (unsigned resends = 0; resends < c.waits.size(); ++resends) {
      EXPECT_EQ(estimate.TimeoutMs(resends), c.waits[resends]) << c.name << ", resends " << resends;
    }
  }
}

TEST(FlightWindow, StartsAtOneGrowsWithAnswersHalvesOnALossUpToItsLimit) {
  // 'a' an answer; 's' a send; a digit: the send of that number went unanswered.
  struct Case {
    const char* name;
    unsigned limit;
    const char* events;
    std::vector<unsigned> sizes;  // the window after each event
  };
  const Case cases[] = {
      {"one more per answer, up to the limit", 4, "aaaa", {2, 3, 4, 4}},
      {"the dialog's window stays one", 1, "sa0a", {1, 1, 1, 1}},
      {"a limit above the highest is the highest", 1000, "", {}},
      // Out together at 8 (sends 0..7): the first loss halves, the second of the same round not.
      {"halved once for the requests out together",
       8,
       "aaaaaaassssssss01",
       {2, 3, 4, 5, 6, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4, 4}},
      // Past the threshold one more for every full window of answers; a later send lost halves
      // again.
      {"then slower growth, halved again by a later loss",
       8,
       "aaaaaaassssssss0aaaaaaaaasa8",
       {2, 3, 4, 5, 6, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4, 4, 4, 4, 5, 5, 5, 5, 5, 6, 6, 6, 3}},
      {"never below one", 4, "s0s1", {1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    FlightWindow window(c.limit);
    EXPECT_EQ(window.Size(), 1u) << c.name;
    EXPECT_EQ(window.Limit(), std::min(c.limit, FlightWindow::kMaxLimit)) << c.name;
    std::vector<unsigned> sizes;
    for (const char* e = c.events; *e != 0; ++e) {
      if (*e == 'a') {
        window.Answered();
      } else if (*e == 's') {
        window.Sent();
      } else {
        window.Lost(static_cast<std::uint64_t>(*e - '0'));
      }
      sizes.push_back(window.Size());
    }
    EXPECT_EQ(sizes, c.sizes) << c.name;
  }
}

}  // namespace
