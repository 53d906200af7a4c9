// The transfer engine on virtual time: resend waits, the window, answers in any order, the order
// barrier, late copies, and the costs of lossy and slow devices.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "protocol/packets.h"
#include "support/package_builder.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::DatagramFate;
using orvel::test::Bytes;
using orvel::test::PatternBytes;
using orvel::test::ScriptedLink;
using Request = ScriptedLink::Request;

constexpr std::uint32_t kBase = 0x180000;
constexpr std::uint32_t kChecksumAddress = 0x1BC000;

// Every datagram in the order the session saw it, with the virtual time.
struct Traffic final : orvel::ITrafficObserver {
  struct Event {
    bool sent;
    std::uint32_t address;  // of a request sent; the last four bytes of a datagram received
    DatagramFate fate;      // of a datagram received
    std::int64_t timeMs;
  };
  explicit Traffic(orvel::IClock& clock) : clock(clock) {}
  void Sent(std::uint32_t, std::uint16_t, const std::uint8_t* data, std::size_t) override {
    events.push_back({true, orvel::protocol::GetU32(data + 6), DatagramFate::Taken, clock.NowMs()});
  }
  void Received(std::uint32_t, std::uint16_t, const std::uint8_t* data, std::size_t shown,
                std::size_t, DatagramFate fate) override {
    const std::uint32_t echo = shown >= 4 ? orvel::protocol::GetU32(data + shown - 4) : 0;
    events.push_back({false, echo, fate, clock.NowMs()});
  }
  std::size_t Count(DatagramFate fate) const {
    return static_cast<std::size_t>(std::count_if(
        events.begin(), events.end(), [&](const Event& e) { return !e.sent && e.fate == fate; }));
  }
  // The requests out (sent, not yet answered) after each first send among events [from, to).
  std::vector<std::size_t> OutAtFirstSends(std::size_t from = 0, std::size_t to = SIZE_MAX) const {
    std::vector<std::size_t> out;
    std::map<std::uint32_t, bool> seen;
    std::size_t first = 0, taken = 0;
    for (std::size_t i = 0; i < std::min(to, events.size()); ++i) {
      const Event& e = events[i];
      if (e.sent && !seen[e.address]) {
        seen[e.address] = true;
        if (++first && i >= from) out.push_back(first - taken);
      }
      if (!e.sent && e.fate == DatagramFate::Taken) ++taken;
    }
    return out;
  }
  // The index of the nth event that is a send to, or an answer taken from, address.
  std::size_t Find(bool sent, std::uint32_t address, int nth = 1) const {
    for (std::size_t i = 0; i < events.size(); ++i) {
      const Event& e = events[i];
      if (e.sent == sent && e.address == address && (sent || e.fate == DatagramFate::Taken) &&
          --nth == 0) {
        return i;
      }
    }
    return events.size();
  }
  orvel::IClock& clock;
  std::vector<Event> events;
};

struct Rig {
  Rig(std::optional<unsigned> resendMs, unsigned window) {
    session.session.m_transfer = {resendMs, window};
    session.session.SetTrafficObserver(&traffic);
    session.session.BeginTask();
  }
  // The device leaves unanswered the first `times` sends of every request that lost() names.
  void Lose(std::function<bool(const Request&)> lost, int times = 1) {
    device.silent = [this, lost, times](const Request& r) {
      const bool silent = lost(r) && ++m_sends[r.Address()] <= times;
      lostCount += silent ? 1 : 0;
      return silent;
    };
  }
  // Sends of the request for address, in virtual ms.
  std::vector<std::int64_t> SendTimes(std::uint32_t address) const {
    std::vector<std::int64_t> times;
    for (const Request& r : session.link->Requests()) {
      if (r.Address() == address) times.push_back(r.timeMs);
    }
    return times;
  }
  void WriteRegion(const Bytes& data) {
    const auto lease = session.session.GetLink();
    session.session.WriteRegion(kBase, data.data(), static_cast<int>(data.size()), false);
  }

  orvel::test::ScriptedSession session;
  orvel::test::ScriptedDevice device{*session.link};
  Traffic traffic{session.clock};
  unsigned lostCount = 0;

 private:
  std::map<std::uint32_t, int> m_sends;
};

std::vector<std::int64_t> Gaps(const std::vector<std::int64_t>& times) {
  std::vector<std::int64_t> gaps;
  for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
  return gaps;
}

// The fifth block (of eight) goes unanswered `lost` times; the device answers after delayMs.
TEST(TransferEngine, ResendWaitIsFixedOrFollowsTheRoundTrip) {
  struct Case {
    const char* name;
    std::optional<unsigned> resendMs;
    unsigned delayMs;
    int lost;
    std::vector<std::int64_t> gaps;  // between the sends of the fifth block (first ones)
  };
  // Idle polls wait 2 ms, so a wait of w ends at the first poll past it.
  const Case cases[] = {
      {"the dialog: every 1.5 s", 1500, 5, 2, {1502, 1502}},
      {"fixed 200 ms: no doubling", 200, 5, 3, {202, 202, 202}},
      {"loopback: the floor, doubled", std::nullopt, 0, 3, {32, 62, 122}},
      // Four answers of 100 ms: 100 + 4 * 50 * (3/4)^3 = 184.4.
      {"100 ms round trip", std::nullopt, 100, 2, {186, 372}},
      {"never past the ceiling", std::nullopt, 1000, 1, {1502}},
      // Doubling up to the ceiling, then the 40-s limit ends it as before.
      {"silent: the no-answer limit holds",
       std::nullopt,
       0,
       1000,
       {32, 62, 122, 242, 482, 962, 1502, 1502}},
  };
  for (const Case& c : cases) {
    Rig rig(c.resendMs, 1);
    rig.device.answerDelayMs = c.delayMs;
    const std::uint32_t fifth = kBase + 4 * 256;
    rig.Lose([&](const Request& r) { return r.Address() == fifth; }, c.lost);
    const Bytes data = PatternBytes(8 * 256, 7);
    if (c.lost < 1000) {
      rig.WriteRegion(data);
      EXPECT_EQ(Gaps(rig.SendTimes(fifth)), c.gaps) << c.name;
      EXPECT_EQ(rig.device.Bytes(kBase, data.size()), data) << c.name;
      continue;
    }
    EXPECT_THROW(rig.WriteRegion(data), CMBoxExeption);
    const auto times = rig.SendTimes(fifth);
    const auto gaps = Gaps(times);
    ASSERT_GE(gaps.size(), c.gaps.size());
    EXPECT_EQ(std::vector<std::int64_t>(gaps.begin(), gaps.begin() + 8), c.gaps) << c.name;
    EXPECT_LE(times.back() - times.front(), 40000);
    EXPECT_GT(rig.session.clock.NowMs() - times.front(), 40000);
    EXPECT_LE(rig.session.clock.NowMs() - times.back(), 1502);
  }
}

// Answers after 10 ms; window limit N; one block's first send lost (or none).
TEST(TransferEngine, WindowOpensFromOneToItsLimitAndHalvesOnALoss) {
  struct Case {
    unsigned limit;
    int lostBlock;  // -1: none
    std::size_t mostOut;
    std::size_t mostOutWhileResent;  // new requests out while the lost one is resent
  };
  const Case cases[] = {{1, -1, 1, 0}, {4, -1, 4, 0}, {8, -1, 8, 0}, {1, 20, 1, 0}, {8, 20, 8, 5}};
  for (const Case& c : cases) {
    Rig rig(std::nullopt, c.limit);
    rig.device.answerDelayMs = 10;
    const std::uint32_t lost = kBase + static_cast<std::uint32_t>(c.lostBlock) * 256;
    rig.Lose([&](const Request& r) { return c.lostBlock >= 0 && r.Address() == lost; });
    const Bytes data = PatternBytes(60 * 256, 3);
    rig.WriteRegion(data);

    const auto out = rig.traffic.OutAtFirstSends();
    ASSERT_EQ(out.size(), 60u);
    EXPECT_EQ(out.front(), 1u) << c.limit;
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), c.mostOut) << c.limit;
    if (c.lostBlock >= 0) {
      // Between the resend and its answer the window is half what it was, growing again by one
      // for every window of answers.
      const auto resent = rig.traffic.OutAtFirstSends(rig.traffic.Find(true, lost, 2),
                                                      rig.traffic.Find(false, lost));
      EXPECT_EQ(resent.empty() ? 0 : *std::max_element(resent.begin(), resent.end()),
                c.mostOutWhileResent)
          << c.limit;
    }
    EXPECT_EQ(rig.session.session.m_stats.requests, 60u);
    EXPECT_EQ(rig.session.session.m_stats.resends, c.lostBlock >= 0 ? 1u : 0u);
    EXPECT_EQ(rig.device.Bytes(kBase, data.size()), data);
  }
}

TEST(TransferEngine, ReadFillsItsBufferByAddressWhateverTheOrderOfAnswers) {
  Rig rig(std::nullopt, 8);
  const Bytes content = PatternBytes(40 * 256 + 116, 11);
  rig.device.Store(kBase, content);
  // Later requests of a burst are answered sooner; the 14th block's first send is lost.
  rig.device.answerDelay = [](const Request& r) { return 40 - (r.Address() / 256 % 8) * 5; };
  rig.Lose([](const Request& r) { return r.Address() == kBase + 13 * 256; });
  Bytes read(content.size(), 0);
  {
    const auto lease = rig.session.session.GetLink();
    rig.session.session.ReadRegion(kBase, static_cast<int>(read.size()), read.data(), false);
  }
  EXPECT_EQ(read, content);
  // Eight were out at once, and their answers came out of order.
  const auto out = rig.traffic.OutAtFirstSends();
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 8u);
  std::vector<std::uint32_t> taken;
  for (const auto& e : rig.traffic.events) {
    if (!e.sent && e.fate == DatagramFate::Taken) taken.push_back(e.address);
  }
  EXPECT_EQ(taken.size(), 41u);
  EXPECT_FALSE(std::is_sorted(taken.begin(), taken.end()));
  const auto positions = rig.session.desktop.ProgressPositions();
  ASSERT_EQ(positions.size(), 41u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(rig.session.session.m_stats.bytes, content.size());
  EXPECT_EQ(rig.session.session.m_stats.resends, 1u);
}

TEST(TransferEngine, ChecksumWordGoesOnlyOnceEveryBlockIsAnswered) {
  for (const unsigned window : {1u, 8u}) {
    Rig rig(std::nullopt, window);
    // Answers after 1..40 ms in no order; every 97th request's first send is lost.
    rig.device.answerDelay = [](const Request& r) { return 1 + (r.index * 7919) % 40; };
    rig.Lose([](const Request& r) { return r.index % 97 == 50; });
    const Bytes image = PatternBytes(245760, 5);
    rig.session.session.TransferProgram(image, false);

    std::size_t taken = 0;
    for (const auto& e : rig.traffic.events) {
      if (!e.sent && e.fate == DatagramFate::Taken) ++taken;
      if (e.sent && e.address == kChecksumAddress) {
        EXPECT_EQ(taken, 1u + 960u) << window;  // ProgramStart and every block
      }
    }
    EXPECT_EQ(rig.device.Bytes(kBase, image.size()), image);
    const std::uint32_t sum = orvel::test::ByteSum(image);
    EXPECT_EQ(rig.device.Bytes(kChecksumAddress, 4),
              (Bytes{static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8),
                     static_cast<std::uint8_t>(sum >> 16), static_cast<std::uint8_t>(sum >> 24)}));
    const auto positions = rig.session.desktop.ProgressPositions();
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << window;
    EXPECT_EQ(positions.size(), 961u) << window;
    EXPECT_EQ(positions.back(), 100) << window;
  }
}

// Answers come 20 ms after their request. Late answers are stale, never taken for another
// request. The third block's first send is lost, or its answer is 150 ms late; its resend is
// answered after 5 ms. A second answer to the resent request raises the wait when it was the
// first send's, late; not when the link copies every answer (30 ms later).
TEST(TransferEngine, LateAnswersAreStaleAndOnlyANeedlessResendRaisesTheWait) {
  struct Case {
    const char* name;
    unsigned window;
    bool copies;
  };
  const Case cases[] = {
      {"slow first answer", 1, false},
      {"slow first answer, window 4", 4, false},
      {"every answer copied", 1, true},
      {"every answer copied, window 4", 4, true},
  };
  for (const Case& c : cases) {
    Rig rig(std::nullopt, c.window);
    const Bytes data = PatternBytes(40 * 256, 9);
    std::map<std::uint32_t, int> sends;
    rig.session.link->SetResponder([&](const Request& r, ScriptedLink& link) {
      const Bytes ok = {'O', 'K', r.bytes[6], r.bytes[7], r.bytes[8], r.bytes[9]};
      const bool third = r.Address() == kBase + 2 * 256;
      const int send = ++sends[r.Address()];
      const unsigned delay = !third ? 20 : send > 1 ? 5 : 150;
      if (!(third && send == 1 && c.copies)) link.Answer(ok, delay);
      if (c.copies) link.Answer(ok, delay + 30);
    });
    rig.WriteRegion(data);

    EXPECT_EQ(rig.traffic.Count(DatagramFate::Taken), 40u) << c.name;
    EXPECT_EQ(rig.traffic.Count(DatagramFate::WrongEcho), 0u) << c.name;
    // The last answers' copies come after the transfer.
    EXPECT_GE(rig.traffic.Count(DatagramFate::Stale), c.copies ? 40u - c.window : 1u) << c.name;
    EXPECT_EQ(rig.session.session.m_stats.resends, 1u) << c.name;
    // Only answers to requests sent once were measured: all 20 ms.
    EXPECT_EQ(rig.session.session.RoundTrip().SmoothedMs(), 20.0) << c.name;
    // The next answer as late as the first send's is waited for; a copy proves nothing.
    const unsigned wait = rig.session.session.RoundTrip().TimeoutMs(0);
    EXPECT_TRUE(c.copies ? wait == 30 : wait > 150) << c.name << ": " << wait;
  }
}

// The costs the engine is built for, on virtual time over a whole program image (962 requests
// with the opening one and the checksum word).
TEST(TransferEngine, LossyAndSlowDevicesCostLittle) {
  struct Case {
    const char* name;
    unsigned window;
    std::function<unsigned(const Request&)> delay;
    std::function<bool(const Request&)> lost;
    std::int64_t mostMs;   // plus 40 ms for every request lost
    unsigned mostResends;  // plus two for every request lost
  };
  const auto none = [](const Request&) { return false; };
  const auto at = [](unsigned ms) { return [ms](const Request&) { return ms; }; };
  // About 3% of the Write requests, spread over the image.
  const auto threePercent = [](const Request& r) {
    return r.Command() == 0x01 && (r.index * 2654435761u) % 100 < 3;
  };
  const Case cases[] = {
      {"3% lost: each costs the floor", 1, at(0), threePercent, 0, 0},
      {"3% lost, window 8", 8, at(0), threePercent, 0, 0},
      // Slow answers are asked for again (at 30, 60 and 90 ms) until the first of them comes, 100
      // ms after its request; from then on they are waited for.
      {"every 20th answer 100 ms late", 1,
       [](const Request& r) { return (r.index + 1) % 20 == 0 ? 100u : 0u; }, none, 48 * 100, 4},
      {"20 ms round trip, window 8", 8, at(20), none, 2600, 0},
  };
  for (const Case& c : cases) {
    Rig rig(std::nullopt, c.window);
    rig.device.answerDelay = c.delay;
    rig.Lose(c.lost);
    const Bytes image = PatternBytes(245760, 1);
    const std::int64_t start = rig.session.clock.NowMs();
    rig.session.session.TransferProgram(image, true);
    EXPECT_LE(rig.session.clock.NowMs() - start, c.mostMs + 40 * rig.lostCount) << c.name;
    EXPECT_LE(rig.session.session.m_stats.resends, c.mostResends + 2 * rig.lostCount) << c.name;
    EXPECT_EQ(rig.device.Bytes(kBase, image.size()), image) << c.name;
  }
}

}  // namespace
