// The core over real UDP on loopback against orvel-sim: a CDeviceSession with its CUDPAsio link and
// the steady clock moves regions byte for byte while the device misbehaves.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "session/device_session.h"
#include "support/scripted_desktop.h"
#include "support/sim_process.h"

namespace orvel::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kConfigAddress = 0x147A0;
constexpr int kConfigSize = 44916;  // firmware 1.11
constexpr int kBlocks = (kConfigSize + 255) / 256;

struct Rig {
  explicit Rig(const SimProcess& sim) : session(desktop, clock) {
    session.m_deviceAddress = SimProcess::kDeviceAddress;
    session.m_port = sim.port();
    session.m_localAddress = SimProcess::kToolAddressValue;
    session.m_timeLimit = 40;
  }
  ScriptedDesktop desktop;
  SteadyClock clock;
  CDeviceSession session;
};

Bytes Image(int size, unsigned seed) {
  Bytes image(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
  return image;
}

std::size_t CountWithNote(const std::vector<std::string>& log, const std::string& note) {
  return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
    return l.find(note) != std::string::npos;
  }));
}

// Writes the whole configuration area and reads it back over one lease; returns what was read.
Bytes WriteAndReadBack(Rig& rig, const Bytes& image) {
  const auto lease = rig.session.GetLink();
  rig.session.WriteRegion(kConfigAddress, image.data(), kConfigSize, false);
  Bytes back(image.size(), 0);
  rig.session.ReadRegion(kConfigAddress, kConfigSize, back.data(), false);
  return back;
}

// Duplicates, late answers and strangers never cost a resend: each is told apart at once.
TEST(SessionOverUdp, MovesTheConfigurationThroughDuplicatesLateAnswersAndStrangers) {
  SimProcess sim({"--duplicate", "0.3", "--late", "0.3", "--stranger", "0.3", "--seed", "11"});
  Rig rig(sim);
  const Bytes image = Image(kConfigSize, 5);
  const auto start = std::chrono::steady_clock::now();
  const Bytes back = WriteAndReadBack(rig, image);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(back, image);
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  EXPECT_LT(elapsed, std::chrono::milliseconds(1400));  // less than one answer window
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.ReadState("config.bin"), image);
  const auto log = sim.RequestLog();
  EXPECT_EQ(log.size(), 2u * kBlocks);  // not one request sent twice
  EXPECT_GT(CountWithNote(log, "duplicate"), 10u);
  EXPECT_GT(CountWithNote(log, "late"), 10u);
  EXPECT_GT(CountWithNote(log, "stranger"), 10u);
}

// Lost answers, answers with a wrong echo and answers from a wrong port cost one window each; the
// request is sent again and the region still arrives whole. The seed fixes which requests are hit.
TEST(SessionOverUdp, MovesTheConfigurationThroughLostAndMisdirectedAnswers) {
  SimProcess sim({"--drop", "0.004", "--wrong-echo", "0.003", "--wrong-port", "0.003",
                  "--duplicate", "0.1", "--stranger", "0.1", "--seed", "24"});
  Rig rig(sim);
  const Bytes image = Image(kConfigSize, 9);
  const Bytes back = WriteAndReadBack(rig, image);

  EXPECT_EQ(back, image);
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.ReadState("config.bin"), image);
  const auto log = sim.RequestLog();
  const std::size_t unanswered = CountWithNote(log, " no ");
  // With this seed each of the three faults strikes once: 3 resends, 4.5 s.
  EXPECT_GE(CountWithNote(log, "dropped"), 1u);
  EXPECT_GE(CountWithNote(log, "wrong-echo"), 1u);
  EXPECT_GE(CountWithNote(log, "wrong-port"), 1u);
  // Every request that got no usable answer was sent once more, and nothing else was.
  EXPECT_EQ(log.size(), 2u * kBlocks + unanswered);
  EXPECT_EQ(CountWithNote(log, "dropped") + CountWithNote(log, "wrong-echo") +
                CountWithNote(log, "wrong-port"),
            unanswered);
}

// The update's road after a restart: the device is silent for a while and the next request is
// repeated every answer window until it answers.
TEST(SessionOverUdp, ReachesTheDeviceAgainAfterItsRestartSilence) {
  SimProcess sim({"--restart-silence", "1.0"});
  Rig rig(sim);
  const auto lease = rig.session.GetLink();
  ASSERT_TRUE(rig.session.RestartDevice());
  const Bytes block = Image(256, 1);
  const auto start = std::chrono::steady_clock::now();
  rig.session.WriteRegion(0x180000, block.data(), 256, true);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2900));
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), sim.ReadState("program.bin").begin()));
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "2 01 00180000 256 no restarting");
  EXPECT_EQ(log[2], "3 01 00180000 256 yes");
}

}  // namespace
}  // namespace orvel::test
