// The integration harness itself: its time limits, working directory and failures must hold, or
// every test built on it can hang or pass for the wrong reason.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/run_command.h"
#include "support/sim_process.h"

namespace orvel::test {
namespace {

using namespace std::chrono_literals;

bool ProcessIsZombie(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, name, state;
  status >> pidField >> name >> state;
  return state == "Z";
}

TEST(Harness, RunCommandCapturesBothStreamsTheStatusAndTheFolder) {
  const auto result = RunCommand("/bin/sh", {"-c", "pwd; echo oops >&2; exit 3"}, "/tmp", 10s);
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, "/tmp\n");
  EXPECT_EQ(result.err, "oops\n");
}

TEST(Harness, RunCommandKillsAProgramThatOutlivesItsTimeLimit) {
  const auto started = std::chrono::steady_clock::now();
  // The background child keeps the pipes open: the limit must hold all the same, and the child
  // goes with its parent.
  const auto result = RunCommand("/bin/sh", {"-c", "sleep 7 & echo $!; sleep 7"}, {}, 300ms);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.signal, 9);
  EXPECT_EQ(result.exitCode, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  const pid_t background = std::atoi(result.out.c_str());
  ASSERT_GT(background, 0) << result.out;
  // Killed with the group; it may linger a moment as a zombie of init.
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = ::kill(background, 0) != 0 || ProcessIsZombie(background);
    if (!gone) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(gone);
}

TEST(Harness, RunCommandReportsAProgramThatCannotRun) {
  const auto result = RunCommand("/nonexistent/orvelctl", {}, {}, 10s);
  EXPECT_FALSE(result.started);
  EXPECT_NE(result.exitCode, 0);
}

TEST(Harness, SimProcessRefusesBadArgumentsAndAMissingProgram) {
  EXPECT_THROW(SimProcess({"--drop", "2"}), std::runtime_error);
  EXPECT_THROW(SimProcess({}, "/nonexistent/orvel-sim"), std::runtime_error);
}

TEST(Harness, SimProcessCleansUpAfterItself) {
  std::filesystem::path folder;
  {
    SimProcess sim;
    folder = sim.stateDir();
    EXPECT_TRUE(std::filesystem::exists(folder / "ready"));
    EXPECT_EQ(sim.ReadStateText("ready"), std::to_string(sim.port()));
    EXPECT_FALSE(UdpPortFree(SimProcess::kAddress, sim.port()));
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stop(), 0);  // a second Stop changes nothing
    EXPECT_THROW(sim.ReadState("nothing.bin"), std::runtime_error);
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace orvel::test
