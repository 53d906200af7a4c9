// orvelctl updates as a rollout runs them, against orvel-sim over loopback: the wait after the
// restart ends when the device is back, and the record of an unfinished update is found from any
// folder.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ctl.h"
#include "support/package_builder.h"
#include "support/run_command.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::CommandResult;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;
using orvel::test::SimProcess;
using orvel::test::TempFolder;

constexpr std::uint32_t kConfigAddress = 0x147A0;

fs::path WritePackage(const TempFolder& folder, std::uint8_t version) {
  PackageContents contents;
  contents.version = {0, version};
  contents.program = PatternBytes(512, 0x31);
  contents.parts = {PatternBytes(300, 1)};
  const fs::path path = folder.path() / "site.update";
  orvel::test::WriteBytes(path, orvel::test::BuildPackage(contents));
  return path;
}

CommandResult CtlWith(const SimProcess& sim, const std::vector<std::string>& command,
                      const fs::path& workDir, const std::vector<std::string>& environment) {
  std::vector<std::string> args{"-d", SimProcess::kAddress,    "-p", std::to_string(sim.port()),
                                "-i", SimProcess::kToolAddress};
  args.insert(args.end(), command.begin(), command.end());
  return orvel::test::RunCommand(ORVELCTL_PATH, args, workDir, std::chrono::seconds(60),
                                 environment);
}

// The device is silent for 2 s after its restart: the update goes on once it answers again, not
// after the whole 10-s wait, and the trace says so.
TEST(RolloutCli, WaitAfterTheRestartEndsWhenTheDeviceIsBack) {
  TempFolder folder;
  SimProcess sim({"--version-number", "111", "--restart-silence", "2"});
  const CommandResult result = orvel::test::Ctl(
      sim, {"--trace", "--restart-wait", "10", "update", WritePackage(folder, 111).string()},
      folder.path(), std::chrono::seconds(60));
  EXPECT_EQ(result.exitCode, 0) << result.err.substr(result.err.size() - 2000);
  EXPECT_LT(result.elapsed, std::chrono::milliseconds(6000));
  EXPECT_NE(result.err.find("restart wait: the device answered again after 2."), std::string::npos);
  sim.Stop();
  EXPECT_EQ(sim.ReadState("parts/part-1.bin"), PatternBytes(300, 1));
}

// An update stops after the configuration went back wrong (--verify finds a byte the device
// stored wrongly); the technician runs it again from another folder, once the device is repaired:
// the configuration saved by the first run goes back, not the damaged one. Later, back in the
// first folder, an update of the device (updated well in between, and given a new configuration)
// reads it afresh instead of writing the first run's old backup over it.
TEST(RolloutCli, UnfinishedUpdateIsResumedFromAnotherFolderAndThenForgotten) {
  TempFolder first, second, state;
  const std::vector<std::string> environment{"XDG_STATE_HOME=" + state.path().string()};
  const fs::path package = WritePackage(first, 111);
  Bytes original;
  std::uint16_t port = 0;
  {
    SimProcess sim(
        {"--version-number", "111", "--corrupt-byte", std::to_string(kConfigAddress + 100)});
    original = sim.ReadState("config.bin");
    port = sim.port();
    const CommandResult failed =
        CtlWith(sim, {"--verify", "--restart-wait", "0", "update", package.string()}, first.path(),
                environment);
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    sim.Stop();
    orvel::test::WriteBytes(first.path() / "left.bin", sim.ReadState("config.bin"));
  }
  EXPECT_NE(orvel::test::ReadBytes(first.path() / "left.bin"), original);
  EXPECT_TRUE(
      fs::exists(state.path() / "orvelctl" / ("127.0.0.2-" + std::to_string(port) + ".pending")));

  SimProcess sim({"--version-number", "111", "--config", (first.path() / "left.bin").string()},
                 port);
  const CommandResult resumed =
      CtlWith(sim, {"--restart-wait", "0", "update", package.string()}, second.path(), environment);
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("Предыдущее обновление прибора не завершено. Будет записана "
                             "конфигурация, сохранённая перед ним: " +
                             (first.path() / "Temp" / "ConfBackup.bin").string()),
            std::string::npos)
      << resumed.err;
  EXPECT_TRUE(fs::is_empty(state.path() / "orvelctl"));
  EXPECT_EQ(sim.ReadState("config.bin"), original);  // saved by the sim at the restart

  const Bytes changed = PatternBytes(44916, 0x42);
  orvel::test::WriteBytes(second.path() / "changed.bin", changed);
  const CommandResult written =
      CtlWith(sim, {"write-config", "changed.bin"}, second.path(), environment);
  EXPECT_EQ(written.exitCode, 0) << written.err;
  const CommandResult again =
      CtlWith(sim, {"--restart-wait", "0", "update", package.string()}, first.path(), environment);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.err.find("Предыдущее обновление"), std::string::npos) << again.err;
  sim.Stop();
  EXPECT_EQ(sim.ReadState("config.bin"), changed);
}

}  // namespace
