// orvelctl in scripts: the scan's list as the input of the next run, a run that cannot start
// (exit status 3, nothing sent), and a file that cannot be opened named with the system's reason.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "integration/ctl.h"
#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"
#include "support/tool_socket.h"

namespace orvel::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliStart, ScanListFeedsDevicesThroughProcessSubstitution) {
  SimProcess site({"--version-number", "111"}, SimProcess::Site{"127.0.0.2-127.0.0.4"});
  TempFolder folder;
  const std::string port = std::to_string(site.port());
  const std::string ctl = std::string(ORVELCTL_PATH) + " -p " + port + " -i 127.0.0.1 ";
  const auto list = RunCommand(
      ORVELCTL_PATH, {"-p", port, "-i", "127.0.0.1", "scan", "--list", "127.0.0.2-127.0.0.6"},
      folder.path(), std::chrono::seconds(30));
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, "127.0.0.2:" + port + "\n127.0.0.3:" + port + "\n127.0.0.4:" + port + "\n");

  // The list straight from the scan, through a pipe the tool opens as /dev/fd/N.
  const auto run = RunCommand(
      "/bin/bash", {"-c", ctl + "--devices <(" + ctl + "scan --list 127.0.0.2-127.0.0.6) version"},
      folder.path(), std::chrono::seconds(60));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  for (const char* device : {"127.0.0.2:", "127.0.0.3:", "127.0.0.4:"}) {
    const std::size_t line = run.out.find(device + port + " ");
    ASSERT_NE(line, std::string::npos) << run.out;
    const std::string row = run.out.substr(line, run.out.find('\n', line) - line);
    EXPECT_NE(row.find(" 1.11 "), std::string::npos) << run.out;
    EXPECT_NE(row.find(" ok "), std::string::npos) << run.out;
  }
  const auto both = RunCommand(ORVELCTL_PATH, {"-p", port, "scan", "--list", "--json", "127.0.0.2"},
                               folder.path(), std::chrono::seconds(30));
  EXPECT_EQ(both.exitCode, 2) << both.err;
}

TEST(CliStart, RunThatCannotStartIsStatus3AndSendsNothing) {
  SimProcess sim({"--version-number", "111"});
  TempFolder folder;
  {
    const auto result = Ctl(sim, {"--log", "/nonexistent/a.log", "version"}, folder.path());
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_TRUE(Has(result.err, "/nonexistent/a.log: No such file or directory")) << result.err;
  }
  {
    // Another program on the tool's interface and port, as a second orvelctl would be.
    const ToolSocket other(sim.port());
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"version"}, {"scan", "127.0.0.2"}}) {
      const auto result = Ctl(sim, command, folder.path());
      EXPECT_EQ(result.exitCode, 3) << command[0] << ": " << result.err;
      EXPECT_TRUE(Has(result.err, "Ошибка инициализации")) << result.err;
      EXPECT_EQ(result.out, "");
    }
  }
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.RequestLog().empty());
}

TEST(CliStart, WaitPortWaitsForTheOtherProgramToLetGo) {
  SimProcess sim({"--version-number", "111"});
  TempFolder folder;
  std::optional<ToolSocket> other(std::in_place, sim.port());
  auto run = std::async(std::launch::async, [&] {
    return Ctl(sim, {"--wait-port", "20", "version"}, folder.path(), std::chrono::seconds(30));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  other.reset();
  const auto result = run.get();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "1.11 (kind 0)\n");
  EXPECT_GE(result.elapsed, std::chrono::milliseconds(500));
}

TEST(CliStart, FileThatCannotBeOpenedIsNamedWithTheReason) {
  SimProcess sim({"--version-number", "111"});
  TempFolder folder;
  const auto update = Ctl(sim, {"update", "nope.update"}, folder.path());
  EXPECT_EQ(update.exitCode, 3);  // the run could not start
  EXPECT_TRUE(
      Has(update.err,
          "Внимание!: Не удается открыть файл(ы):\nnope.update (No such file or directory)"))
      << update.err;
  const auto read = Ctl(sim, {"read-config", "no/such/folder/cfg.bin"}, folder.path());
  EXPECT_EQ(read.exitCode, 1);
  EXPECT_TRUE(Has(read.err, "no/such/folder/cfg.bin (No such file or directory)")) << read.err;
}

}  // namespace
}  // namespace orvel::test
