// orvelctl with several requests out (--window 8) against a device that loses requests or answers
// late: the device ends with the program, the file read is the device's configuration, and the
// counters orvelctl reports are what the device saw.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "ctl.h"
#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace {

using orvel::test::Bytes;
using orvel::test::Ctl;
using orvel::test::SimProcess;

constexpr std::size_t kProgramArea = 0x3C000;

struct Traffic {
  std::size_t datagrams = 0;  // every request that reached the device's socket
  std::size_t distinct = 0;   // distinct command and address
  std::size_t lost = 0;       // lost on the way in
};

Traffic TrafficOf(const SimProcess& sim) {
  Traffic traffic;
  std::set<std::string> distinct;
  for (const std::string& line : sim.RequestLog()) {
    const auto first = line.find(' ');
    distinct.insert(line.substr(first + 1, 11));  // "01 00180000"
    ++traffic.datagrams;
    if (line.find(" lost") != std::string::npos) ++traffic.lost;
  }
  traffic.distinct = distinct.size();
  return traffic;
}

struct Link {
  const char* name;
  std::vector<std::string> simArgs;
  // Every answer this late: one request at a time, write-program takes at least its 962 times.
  int answerDelayMs = 0;
};

void PrintTo(const Link& link, std::ostream* os) { *os << link.name; }

class LinkPaceCli : public ::testing::TestWithParam<Link> {};

TEST_P(LinkPaceCli, WindowOfEightEndsWithTheRightContentAndTrueCounters) {
  orvel::test::TempFolder folder;
  const Bytes image = orvel::test::PatternBytes(kProgramArea, 0x3A);
  orvel::test::WriteBytes(folder.path() / "program.hex", image);
  const std::string out = (folder.path() / "read.bin").string();
  for (const std::string command : {"write-program", "read-config"}) {
    SCOPED_TRACE(command);
    SimProcess sim(GetParam().simArgs);
    const std::string file =
        command == "write-program" ? (folder.path() / "program.hex").string() : out;
    const auto start = std::chrono::steady_clock::now();
    const auto result = Ctl(sim, {"--window", "8", "--json", command, file}, folder.path());
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    if (command == "write-program" && GetParam().answerDelayMs > 0) {
      // Several requests were out at once: well under what one at a time must take.
      EXPECT_LT(seconds.count(), 962 * GetParam().answerDelayMs / 1000.0 / 2 + 2);
    }
    ASSERT_EQ(sim.Stop(), 0);
    if (command == "write-program") {
      EXPECT_EQ(sim.ReadState("program.bin"), image);
    } else {
      EXPECT_EQ(orvel::test::ReadBytes(out), sim.ReadState("config.bin"));
    }
    const nlohmann::json device = nlohmann::json::parse(result.out).at("devices").at(0);
    const Traffic traffic = TrafficOf(sim);
    // Each request counted once, each further send of it a resend, none lost unnoticed.
    EXPECT_EQ(device.at("requests").get<std::size_t>(), traffic.distinct);
    EXPECT_EQ(device.at("requests").get<std::size_t>() + device.at("resends").get<std::size_t>(),
              traffic.datagrams);
    EXPECT_GE(device.at("resends").get<std::size_t>(), traffic.lost);
  }
}

INSTANTIATE_TEST_SUITE_P(
    LossyAndLate, LinkPaceCli,
    ::testing::Values(Link{"Lossy", {"--lose", "0.03", "--seed", "5"}},
                      Link{"Late", {"--delay", "20", "--slow-every", "40", "--slow-ms", "60"}, 20}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
