// The wait after the update's restart request, on virtual time: fixed, or ended once the device
// has gone silent and answers again; and which datagrams answer the asks.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/restart_poll.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::DatagramFate;
using orvel::restart::Probe;
using Request = orvel::test::ScriptedLink::Request;

TEST(RestartPoll, WhatAnswersAnAsk) {
  struct Case {
    Probe probe;
    std::vector<std::uint8_t> answer;
    DatagramFate fate;
  };
  const std::uint32_t at = 0x147A4;
  const Case cases[] = {
      {Probe::Version, {0x00, 112}, DatagramFate::Taken},
      {Probe::Version, {'O', 'K'}, DatagramFate::Stale},  // the restart's own, copied or late
      {Probe::Version, {'O', 'K', 0xA0, 0x47, 0x01, 0x00}, DatagramFate::TooLong},
      {Probe::Version, {0x01}, DatagramFate::Short},
      {Probe::Read, {1, 2, 3, 4, 0xA4, 0x47, 0x01, 0x00}, DatagramFate::Taken},
      {Probe::Read, {1, 2, 3, 4, 0xA0, 0x47, 0x01, 0x00}, DatagramFate::WrongEcho},
      {Probe::Read, {0x00, 112}, DatagramFate::Short},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(orvel::restart::JudgeProbeAnswer(c.probe, at, c.answer.data(), c.answer.size()),
              c.fate)
        << c.answer.size() << " bytes";
  }
  EXPECT_EQ(orvel::restart::ProbeAddress(0x147A0, 1), at);
  EXPECT_EQ(orvel::restart::ProbeAddress(0x147A0, 17), at);
}

struct WaitCase {
  const char* name;
  bool poll = true;
  bool acknowledged = true;
  bool olderFirmware = false;  // no answer to the version request: asked with a Read
  std::int64_t downAfterMs = 0;
  std::int64_t silenceMs = 8000;
  // Copies of an earlier answer (the restart's "OK", or the version answer from the start of the
  // task) come while the device is silent.
  std::vector<std::uint8_t> copy = {};
  bool back;
  std::int64_t fromMs, toMs;  // how long the wait took
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class RestartWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(RestartWait, EndsWhenTheDeviceIsBackOrKeepsTheWholeWait) {
  const WaitCase& c = GetParam();
  orvel::test::ScriptedSession rig;
  orvel::test::ScriptedDevice device(*rig.link);
  device.restartSilenceMs = c.silenceMs;
  device.restartDownAfterMs = c.downAfterMs;
  device.silent = [&](const Request& request) {
    return (!c.acknowledged && request.Command() == 0x0C) ||
           (c.olderFirmware && request.Command() == 0x0E);
  };
  rig.session.m_update.restartPoll = c.poll;
  rig.session.m_progress.Reset(100);

  const bool acknowledged = rig.session.RestartDevice();
  ASSERT_EQ(acknowledged, c.acknowledged);
  if (!c.copy.empty()) {
    for (unsigned ms : {300u, 1100u, 2600u}) rig.link->Answer(c.copy, ms);
  }
  const std::size_t requestsBefore = rig.link->Requests().size();
  const std::int64_t start = rig.clock.NowMs();
  const bool back =
      rig.session.WaitAfterRestart(acknowledged, c.olderFirmware ? Probe::Read : Probe::Version);
  const std::int64_t waited = rig.clock.NowMs() - start;

  EXPECT_EQ(back, c.back);
  EXPECT_GE(waited, c.fromMs);
  EXPECT_LE(waited, c.toMs);
  // One step a second of the wait, whether it ran out or ended early.
  EXPECT_EQ(rig.session.m_progress.Pos(), 29);
  // Asked every half second from the restart's "OK" on; nothing asked in the fixed wait.
  const std::size_t asks = rig.link->Requests().size() - requestsBefore;
  if (!c.poll || !c.acknowledged) {
    EXPECT_EQ(asks, 0u);
  } else {
    // ... the last one answered at once when the device is back, a version answer then confirmed
    // at once by a Read, whose echo ties it to its ask.
    const bool confirmed = back && !c.olderFirmware;
    EXPECT_EQ(asks, static_cast<std::size_t>(waited / 500 + (back ? 1 : 0) + (confirmed ? 1 : 0)))
        << waited;
    for (std::size_t i = requestsBefore; i < rig.link->Requests().size(); ++i) {
      const bool last = i + 1 == rig.link->Requests().size();
      EXPECT_EQ(rig.link->Requests()[i].Command(),
                c.olderFirmware || (confirmed && last) ? 0x00 : 0x0E);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestartWait,
    ::testing::Values(
        WaitCase{.name = "BackAfterEightSeconds", .back = true, .fromMs = 8000, .toMs = 8500},
        WaitCase{.name = "AnswersBeforeItWentDown",
                 .downAfterMs = 1200,
                 .silenceMs = 6000,
                 .back = true,
                 .fromMs = 7200,
                 .toMs = 7700},
        WaitCase{
            .name = "NeverSilent", .silenceMs = 0, .back = false, .fromMs = 29000, .toMs = 29000},
        WaitCase{.name = "NotAcknowledged",
                 .acknowledged = false,
                 .back = false,
                 .fromMs = 29000,
                 .toMs = 29000},
        WaitCase{.name = "OlderFirmwareAskedWithARead",
                 .olderFirmware = true,
                 .back = true,
                 .fromMs = 8000,
                 .toMs = 8500},
        WaitCase{.name = "CopiesOfTheRestartOkAreNoAnswer",
                 .copy = {'O', 'K'},
                 .back = true,
                 .fromMs = 8000,
                 .toMs = 8500},
        WaitCase{.name = "CopiesOfAnEarlierVersionAnswerAreNoAnswer",
                 .copy = {0x01, 111},
                 .back = true,
                 .fromMs = 8000,
                 .toMs = 8500},
        WaitCase{.name = "SilentPastTheWait",
                 .silenceMs = 40000,
                 .back = false,
                 .fromMs = 29000,
                 .toMs = 29000},
        WaitCase{.name = "FixedWaitWithoutPolling",
                 .poll = false,
                 .back = false,
                 .fromMs = 29000,
                 .toMs = 29000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
