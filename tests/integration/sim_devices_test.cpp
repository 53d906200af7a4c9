// orvel-sim's timing over real UDP on loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "support/sim_process.h"
#include "support/test_files.h"
#include "support/tool_socket.h"

namespace orvel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SimDevices, AnswersHeldAFewMillisecondsComeInAboutThatTime) {
  // A program transfer against devices that answer after 2 ms is bound by that delay; a device
  // that rounded it up to a scheduler tick would take several times as long.
  SimProcess sim({"--delay", "2"});
  ToolSocket tool(sim.port());
  std::vector<Clock::duration> roundTrips;
  for (int i = 0; i < 40; ++i) {
    const auto sent = Clock::now();
    tool.Send(Request(ServiceCommand::Read, 4, 0x147A0));
    ASSERT_TRUE(tool.Receive(1000)) << i;
    roundTrips.push_back(Clock::now() - sent);
  }
  std::nth_element(roundTrips.begin(), roundTrips.begin() + 20, roundTrips.end());
  const auto median = roundTrips[20];
  EXPECT_GE(median, 2ms);
  EXPECT_LT(median, 4ms);
}

}  // namespace
}  // namespace orvel::test
