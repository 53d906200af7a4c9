// What orvelctl tells while a site update runs: on a terminal 80 columns wide, live lines in
// English whose percent moves within the program's write and whose every figure fits; piped, a line
// for each device as it ends.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/interactive_run.h"
#include "support/package_builder.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::SimProcess;

// The lines a terminal shows, in the order they were written: the cursor moves and the clearing
// dropped, "\r\n" as "\n".
std::vector<std::string> TerminalLines(const std::string& raw) {
  const std::string plain =
      std::regex_replace(raw, std::regex("\x1b\\[[0-9;]*[A-Za-z]|\r"), std::string());
  std::vector<std::string> lines;
  std::istringstream in(plain);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t Characters(const std::string& text) {
  std::size_t n = 0;
  for (const unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

fs::path Package(const fs::path& folder, std::size_t programSize) {
  orvel::test::PackageContents contents;
  contents.version = {1, 111};
  contents.program = orvel::test::PatternBytes(programSize, 0x31);
  contents.parts.push_back(orvel::test::PatternBytes(600, 1));
  const fs::path package = folder / "device.update";
  orvel::test::WriteBytes(package, orvel::test::BuildPackage(contents));
  return package;
}

std::vector<std::string> SiteArgs(const SimProcess& sim, const fs::path& package) {
  return {"-d",
          "127.0.0.2-127.0.0.4",
          "-p",
          std::to_string(sim.port()),
          "-i",
          SimProcess::kToolAddress,
          "--restart-wait",
          "1",
          "update",
          package.string()};
}

// Slow answers and a few lost ones: the program's write takes seconds and resends some blocks.
TEST(LiveLinesCli, OnATerminalOf80ColumnsTheLinesFitAndThePercentMovesWithTheBytes) {
  orvel::test::TempFolder folder;
  const fs::path package = Package(folder.path(), 48 * 1024);
  SimProcess sim({"--version-number", "111", "--slow-every", "1", "--slow-ms", "6", "--drop",
                  "0.01", "--seed", "5"},
                 SimProcess::Site{"127.0.0.2-127.0.0.4"});
  orvel::test::InteractiveRun run;
  run.columns = 80;
  const auto result =
      orvel::test::RunInteractive(ORVELCTL_PATH, SiteArgs(sim, package), folder.path(), run);
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;

  const std::regex live(
      R"(^(127\.0\.0\.\d:\d+) +([a-z -]+?) +(?:(\d+)%)? .* (ETA \d+:\d\d|ETA -:--|wait \d+:\d\d)$)");
  std::map<std::string, std::set<int>> writePercents;  // by device
  std::set<std::string> steps;
  bool resending = false;
  std::size_t liveLines = 0;
  for (const std::string& line : TerminalLines(result.err)) {
    EXPECT_LE(Characters(line), 79u) << line;
    std::smatch match;
    if (!std::regex_match(line, match, live)) continue;
    ++liveLines;
    steps.insert(match[2]);
    resending = resending || line.find("resending") != std::string::npos;
    if (match[2] == "write program" && match[3].matched) {
      writePercents[match[1]].insert(std::stoi(match[3]));
    }
  }
  EXPECT_GT(liveLines, 10u) << result.err;
  for (const std::string& step : steps) {
    EXPECT_TRUE((std::set<std::string>{"update", "read config", "write program", "write config",
                                       "restart", "update parts"})
                    .contains(step))
        << step;
  }
  // Each device's percent moved within the write, not only at its ends.
  ASSERT_FALSE(writePercents.empty()) << result.err;
  for (const auto& [device, percents] : writePercents) {
    std::size_t within = 0;
    for (const int p : percents) within += p > 0 && p < 100;
    EXPECT_GE(within, 2u) << device << "\n" << result.err;
  }
  EXPECT_TRUE(resending) << result.err;
  // Each device ends with a line that stays above the live lines.
  for (const char* device : {"127.0.0.2:", "127.0.0.3:", "127.0.0.4:"}) {
    EXPECT_TRUE(std::regex_search(result.err, std::regex(std::string(device) + R"(\d+ +ok +\d)")))
        << device << "\n"
        << result.err;
  }
}

TEST(LiveLinesCli, PipedEachDeviceGetsALineAsItEnds) {
  orvel::test::TempFolder folder;
  const fs::path package = Package(folder.path(), 3000);
  SimProcess sim({"--version-number", "111"}, SimProcess::Site{"127.0.0.2-127.0.0.4"});
  std::vector<std::string> args = SiteArgs(sim, package);
  args.insert(args.begin(), "--json");
  const auto result = orvel::test::RunInteractive(ORVELCTL_PATH, args, folder.path(),
                                                  orvel::test::InteractiveRun{});
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
  const auto lines = TerminalLines(result.err);
  ASSERT_EQ(lines.size(), 3u) << result.err;
  for (const std::string& line : lines) {
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(127\.0\.0\.[234]:\d+ +ok +\d+\.\d s  resent 0)")))
        << line;
  }
}

}  // namespace
