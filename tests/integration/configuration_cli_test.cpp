// orvelctl read-config and write-config against orvel-sim over loopback, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "protocol/configuration_image.h"
#include "support/run_command.h"
#include "support/scripted_session.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::CommandResult;
using orvel::test::PatternBytes;
using orvel::test::ReadBytes;
using orvel::test::SimProcess;
using orvel::test::TempFolder;
using orvel::test::WriteBytes;

CommandResult Ctl(const SimProcess& sim, const char* command, const fs::path& file,
                  const fs::path& workDir) {
  return orvel::test::RunCommand(ORVELCTL_PATH,
                                 {"-d", SimProcess::kAddress, "-p", std::to_string(sim.port()),
                                  "-i", SimProcess::kToolAddress, command, file.string()},
                                 workDir, std::chrono::seconds(120));
}

// The command field of every request the sim logged, in order ("0E", "00", "01", "0C", ...).
std::vector<std::string> Commands(const SimProcess& sim) {
  std::vector<std::string> commands;
  for (const std::string& line : sim.RequestLog()) {
    const auto first = line.find(' ');
    commands.push_back(line.substr(first + 1, 2));
  }
  return commands;
}

// How many distinct addresses the device was sent this command for: a resend after a lost answer
// is legitimate and counts once.
std::size_t DistinctBlocks(const SimProcess& sim, const std::string& command) {
  std::set<std::string> addresses;
  for (const std::string& line : sim.RequestLog()) {
    const auto first = line.find(' ');
    if (line.compare(first + 1, 2, command) == 0) addresses.insert(line.substr(first + 4, 8));
  }
  return addresses.size();
}

TEST(ConfigurationCli, ReadConfigIsTheDeviceAreaByteForByte) {
  struct Case {
    std::vector<std::string> simArgs;
    std::size_t size;
    bool warns;
  };
  const Case cases[] = {
      {{"--version-number", "5"}, 44660, false},
      {{"--version-number", "111"}, 44916, false},
      {{"--version-number", "200"}, 44916, true},
      {{"--version-number", "5", "--no-version-answer"}, 44660, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.simArgs.back());
    TempFolder folder;
    SimProcess sim(c.simArgs);
    const CommandResult result = Ctl(sim, "read-config", folder.path() / "out.bin", folder.path());
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    sim.Stop();  // the request log is saved on the way out
    const Bytes area = sim.ReadState("config.bin");
    ASSERT_EQ(area.size(), c.size);
    EXPECT_EQ(ReadBytes(folder.path() / "out.bin"), area);
    const bool warned =
        result.err.find("Нет данных о конфигурации прибора, обратитесь к разработчику.") !=
        std::string::npos;
    EXPECT_EQ(warned, c.warns) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_EQ(DistinctBlocks(sim, "00"), c.size == 44660 ? 175u : 176u);
  }
}

TEST(ConfigurationCli, ReadConfigFromAConfigurationFile) {
  TempFolder folder;
  const Bytes image = PatternBytes(44916, 17);
  WriteBytes(folder.path() / "start.bin", image);
  SimProcess sim({"--version-number", "111", "--config", (folder.path() / "start.bin").string()});
  const CommandResult result = Ctl(sim, "read-config", folder.path() / "out.bin", folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadBytes(folder.path() / "out.bin"), image);
}

TEST(ConfigurationCli, DeviceSilentHalfWayLeavesTheEarlierFile) {
  TempFolder folder;
  const Bytes earlier = PatternBytes(1234, 3);
  WriteBytes(folder.path() / "out.bin", earlier);
  // The version query and 60 blocks are answered, then nothing: the no-answer error after 40 s.
  SimProcess sim({"--version-number", "111", "--silent-after", "61"});
  const CommandResult result = Ctl(sim, "read-config", folder.path() / "out.bin", folder.path());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.err.find("Ошибка обмена данными.: Нет ответа от прибора!"), std::string::npos)
      << result.err;
  EXPECT_EQ(ReadBytes(folder.path() / "out.bin"), earlier);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bin"});
}

TEST(ConfigurationCli, WriteConfigLandsInTheAreaThenRestarts) {
  struct Case {
    const char* version;
    std::size_t fileSize;
    bool converts;
  };
  const Case cases[] = {{"111", 44660, true}, {"5", 44660, false}, {"200", 44916, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TempFolder folder;
    const Bytes file = PatternBytes(c.fileSize, 40);
    WriteBytes(folder.path() / "in.bin", file);
    SimProcess sim({"--version-number", c.version});
    const CommandResult result = Ctl(sim, "write-config", folder.path() / "in.bin", folder.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    sim.Stop();

    Bytes expected = file;
    if (c.converts) {
      orvel::test::ScriptedSession scratch;
      Bytes older = file;
      scratch.session.ConvertConfiguration(older, expected);
    }
    EXPECT_EQ(sim.ReadState("config.bin"), expected);
    const auto commands = Commands(sim);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "0E");
    EXPECT_EQ(commands.back(), "0C");
    EXPECT_EQ(DistinctBlocks(sim, "01"), expected.size() == 44660 ? 175u : 176u);
  }
}

TEST(ConfigurationCli, OversizedImageIsRefusedAndTheRestartStillFollows) {
  TempFolder folder;
  WriteBytes(folder.path() / "in.bin", PatternBytes(44917, 1));
  SimProcess sim({"--version-number", "111"});
  const Bytes before = sim.ReadState("config.bin");
  const CommandResult result = Ctl(sim, "write-config", folder.path() / "in.bin", folder.path());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Ошибка.: Размер файла конфигурации не верен."), std::string::npos)
      << result.err;
  sim.Stop();
  EXPECT_EQ(sim.ReadState("config.bin"), before);
  EXPECT_EQ(Commands(sim), (std::vector<std::string>{"0E", "0C"}));
}

}  // namespace
