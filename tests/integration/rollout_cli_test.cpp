// orvelctl updates as a rollout runs them, against orvel-sim over loopback: each device's version
// decides what the update does to it, a failed canary or the failure limit keeps the rest of a
// site from starting, the wait after the restart ends when the device is back, and the record of
// an unfinished update is found from any folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ctl.h"
#include "support/package_builder.h"
#include "support/results_document.h"
#include "support/run_command.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::ByAddress;
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
  const fs::path path = folder.path() / ("site-" + std::to_string(version) + ".update");
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

CommandResult SiteCtl(std::uint16_t port, const std::string& devices,
                      const std::vector<std::string>& command, const fs::path& workDir) {
  std::vector<std::string> args{"-d", devices, "-p", std::to_string(port), "-i", "127.0.0.1"};
  args.insert(args.end(), command.begin(), command.end());
  return orvel::test::RunCommand(ORVELCTL_PATH, args, workDir, std::chrono::seconds(150));
}

// The commands (hex) of a device's requests, in order.
std::vector<std::string> Commands(const SimProcess& sim, const std::string& address) {
  std::vector<std::string> commands;
  // A sim of one address keeps its state in its own folder, one of several in the address's.
  const bool own = fs::exists(sim.stateDir(address) / "requests.log");
  const std::string log = sim.ReadStateText(own ? address + "/requests.log" : "requests.log");
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = std::min(log.find('\n', at), log.size());
    const std::string line = log.substr(at, end - at);
    if (!line.empty()) commands.push_back(line.substr(line.find(' ') + 1, 2));
    at = end + 1;
  }
  return commands;
}

const std::vector<std::string> kVersionOnly{"0E"};

// A site of three: one takes the new firmware, one restarts into its old one, one has it already.
// Only the version is asked of the current one; the one that kept 1.11 fails --check-version; a
// package older than the firmware is refused naming both versions, nothing written.
TEST(RolloutCli, EachDevicesVersionDecidesWhatTheUpdateDoes) {
  TempFolder folder;
  SimProcess takes({"--version-number", "111", "--version-after-update", "112"},
                   SimProcess::Site{"127.0.0.2"});
  SimProcess keeps({"--version-number", "111"}, SimProcess::Site{"127.0.0.3"}, takes.port());
  SimProcess current({"--version-number", "112"}, SimProcess::Site{"127.0.0.4"}, takes.port());
  const CommandResult update =
      SiteCtl(takes.port(), "127.0.0.2-127.0.0.4",
              {"--skip-current", "--no-downgrade", "--check-version", "--restart-wait", "0",
               "--json", "update", WritePackage(folder, 112).string()},
              folder.path());
  EXPECT_EQ(update.exitCode, 1) << update.err;
  auto devices = ByAddress(update);
  EXPECT_EQ(devices["127.0.0.2"]["result"], "ok") << update.out;
  EXPECT_EQ(devices["127.0.0.2"]["version_after"], "1.12");
  EXPECT_EQ(devices["127.0.0.3"]["result"], "failed");
  EXPECT_EQ(devices["127.0.0.3"]["version_after"], "1.11");
  EXPECT_NE(devices["127.0.0.3"]["message"].get<std::string>().find(
                "Прибор сообщает версию 1.11 после обновления до 1.12."),
            std::string::npos)
      << devices["127.0.0.3"];
  EXPECT_EQ(devices["127.0.0.4"]["result"], "current");
  EXPECT_EQ(devices["127.0.0.4"]["version"], "1.12");
  EXPECT_EQ(devices["127.0.0.4"]["requests"], 1);
  current.Stop();
  EXPECT_EQ(Commands(current, "127.0.0.4"), kVersionOnly);

  SimProcess again({"--version-number", "112"}, SimProcess::Site{"127.0.0.4"}, takes.port());
  const CommandResult downgrade =
      SiteCtl(takes.port(), "127.0.0.4",
              {"--no-downgrade", "update", WritePackage(folder, 5).string()}, folder.path());
  EXPECT_EQ(downgrade.exitCode, 1);
  EXPECT_NE(downgrade.err.find("Версия обновления 0.05 старше версии прибора 1.12"),
            std::string::npos)
      << downgrade.err;
  again.Stop();
  EXPECT_EQ(Commands(again, "127.0.0.4"), kVersionOnly);
}

// The canary refuses the package: the rest of the site never hears from the tool.
TEST(RolloutCli, AFailedCanaryKeepsTheRestFromStarting) {
  TempFolder folder;
  SimProcess canary({"--version-number", "112"}, SimProcess::Site{"127.0.0.2"});
  SimProcess site({"--version-number", "111"}, SimProcess::Site{"127.0.0.3-127.0.0.5"},
                  canary.port());
  const CommandResult result =
      SiteCtl(canary.port(), "127.0.0.2-127.0.0.5",
              {"--canary", "1", "--no-downgrade", "update", WritePackage(folder, 111).string()},
              folder.path());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  // The table: the canary failed, every other device "not started" with the reason.
  std::size_t notStarted = 0;
  for (std::size_t at = result.out.find("not started"); at != std::string::npos;
       at = result.out.find("not started", at + 1)) {
    ++notStarted;
  }
  EXPECT_EQ(notStarted, 3u) << result.out;
  EXPECT_NE(result.out.find("a canary device did not end ok"), std::string::npos) << result.out;
  site.Stop();
  for (const char* address : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    EXPECT_TRUE(Commands(site, address).empty()) << address;
  }
}

// Three silent devices (write-config fails each within about 6 s)
// start together; the first failure reaches the limit (10% of ten devices), the two in flight end,
// and the seven working devices are never written to.
TEST(RolloutCli, FailureLimitStopsASiteWithThreeSilentDevices) {
  TempFolder folder;
  SimProcess site({"--version-number", "111"}, SimProcess::Site{"127.0.0.5-127.0.0.11"});
  orvel::test::WriteBytes(folder.path() / "cfg.bin", PatternBytes(44916, 0x42));
  const CommandResult result = SiteCtl(
      site.port(), "127.0.0.2-127.0.0.11",
      {"--jobs", "3", "--max-failed", "10%", "--json", "write-config", "cfg.bin"}, folder.path());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  auto devices = ByAddress(result);
  ASSERT_EQ(devices.size(), 10u) << result.out;
  for (int last = 2; last <= 11; ++last) {
    const std::string address = "127.0.0." + std::to_string(last);
    EXPECT_EQ(devices[address]["result"], last <= 4 ? "failed" : "not started") << address;
  }
  EXPECT_EQ(devices["127.0.0.11"]["message"], "the failure limit (--max-failed) was reached");
  site.Stop();
  for (int last = 5; last <= 11; ++last) {
    EXPECT_TRUE(Commands(site, "127.0.0." + std::to_string(last)).empty()) << last;
  }
}

// A file of the newer layout into a 0.05 device would run 256 bytes past its configuration area:
// refused before anything is written, naming both sizes; --force writes it, and the sim counts the
// writes past the area.
TEST(RolloutCli, WriteConfigOfALongerFileThanTheAreaNeedsForce) {
  TempFolder folder;
  orvel::test::WriteBytes(folder.path() / "cfg.bin", PatternBytes(44916, 0x42));
  SimProcess device({"--version-number", "5"});
  const CommandResult refused =
      orvel::test::Ctl(device, {"write-config", "cfg.bin"}, folder.path());
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("44916 байт больше области конфигурации прибора версии 0.05 (44660 "
                             "байт)"),
            std::string::npos)
      << refused.err;
  device.Stop();  // the request log is written when the sim stops
  const std::vector<std::string> sent = Commands(device, SimProcess::kAddress);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "01"), 0) << "a Write was sent";

  SimProcess sim({"--version-number", "5"});
  const CommandResult forced =
      orvel::test::Ctl(sim, {"--force", "write-config", "cfg.bin"}, folder.path());
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  sim.Stop();
  std::size_t stray = 0;
  for (const std::string& line : sim.RequestLog()) stray += line.find("stray") != std::string::npos;
  EXPECT_GT(stray, 0u);
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
// stored wrongly); the technician runs it again from another folder (naming the state folder with
// --state-dir), once the device is repaired:
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
  // Named with --state-dir this time: the same folder as the default of the first run.
  const CommandResult resumed =
      CtlWith(sim,
              {"--restart-wait", "0", "--state-dir", (state.path() / "orvelctl").string(), "update",
               package.string()},
              second.path(), {});
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
