// orvelctl write-program and update against orvel-sim over loopback: what the device holds
// afterwards, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
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
using orvel::test::Ctl;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;
using orvel::test::SimProcess;

constexpr std::size_t kProgramArea = 0x3C000;

// Command and address of every request in the sim's log, as "01 00180000".
std::vector<std::string> Requests(const SimProcess& sim) {
  std::vector<std::string> requests;
  for (const std::string& line : sim.RequestLog()) {
    const auto first = line.find(' ');
    const auto third = line.find(' ', line.find(' ', first + 1) + 1);
    requests.push_back(line.substr(first + 1, third - first - 1));
  }
  return requests;
}

std::size_t CountCommand(const std::vector<std::string>& requests, const std::string& command) {
  return std::count_if(requests.begin(), requests.end(),
                       [&](const std::string& r) { return r.compare(0, 2, command) == 0; });
}

// The distinct requests of a command within [from, to) of the given requests. A lost answer makes
// the tool send the same request again, which the device then sees twice; that is no error.
std::set<std::string> Distinct(std::vector<std::string>::const_iterator from,
                               std::vector<std::string>::const_iterator to,
                               const std::string& command) {
  std::set<std::string> distinct;
  std::copy_if(from, to, std::inserter(distinct, distinct.end()),
               [&](const std::string& r) { return r.compare(0, 2, command) == 0; });
  return distinct;
}

Bytes Word(std::uint32_t value) {
  Bytes word(4);
  orvel::protocol::PutU32(word.data(), value);
  return word;
}

TEST(FirmwareCli, WriteProgramFillsTheAreaAndTheChecksumWord) {
  orvel::test::TempFolder folder;
  const Bytes image = PatternBytes(kProgramArea, 0x5C);
  orvel::test::WriteBytes(folder.path() / "program.hex", image);
  SimProcess sim;
  const CommandResult result =
      Ctl(sim, {"write-program", (folder.path() / "program.hex").string()}, folder.path());
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.out.empty());
  sim.Stop();
  EXPECT_EQ(sim.ReadState("program.bin"), image);
  EXPECT_EQ(sim.ReadState("checksum.bin"), Word(orvel::test::ByteSum(image)));
  const auto requests = Requests(sim);
  EXPECT_EQ(Distinct(requests.begin(), requests.end(), "0B").size(), 1u);
  EXPECT_EQ(Distinct(requests.begin(), requests.end(), "01").size(), 961u);
}

TEST(FirmwareCli, WriteProgramRefusesAFileOfTheWrongSize) {
  orvel::test::TempFolder folder;
  orvel::test::WriteBytes(folder.path() / "long.hex", PatternBytes(kProgramArea + 1, 1));
  SimProcess sim;
  const CommandResult result =
      Ctl(sim, {"write-program", (folder.path() / "long.hex").string()}, folder.path());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Размер файла программы не верен."), std::string::npos) << result.err;
  sim.Stop();
  EXPECT_TRUE(sim.RequestLog().empty());
}

struct UpdateCase {
  bool scrambled;
  std::size_t parts;
};

void PrintTo(const UpdateCase& c, std::ostream* out) {
  *out << (c.scrambled ? "scrambled, " : "plain, ") << c.parts << " parts";
}

class UpdateCli : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateCli, DeviceEndsWithTheNewProgramItsConfigurationAndEveryPart) {
  const UpdateCase param = GetParam();
  PackageContents contents;
  contents.version = {1, 111};
  contents.scrambled = param.scrambled;
  contents.program = PatternBytes(3000 + 7 * param.parts, 0x31);
  const std::size_t sizes[] = {600, 254, 0, 1};
  for (std::size_t k = 0; k < param.parts; ++k) {
    contents.parts.push_back(PatternBytes(sizes[k], static_cast<std::uint8_t>(k + 1)));
  }
  contents.tail = Bytes(20, 0xEE);  // keeps an empty last part clear of the ignored tail
  orvel::test::TempFolder folder;
  const fs::path package = folder.path() / "device.update";
  orvel::test::WriteBytes(package, orvel::test::BuildPackage(contents));

  // The device stays silent a little longer than the tool waits, so the first request after the
  // restart has to be repeated until it answers.
  SimProcess sim({"--version-number", "111", "--restart-silence", "2"});
  const Bytes configuration = sim.ReadState("config.bin");
  const CommandResult result =
      Ctl(sim, {"--restart-wait", "1", "update", package.string()}, folder.path());
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.err.empty()) << result.err;
  sim.Stop();

  const Bytes program = sim.ReadState("program.bin");
  ASSERT_GE(program.size(), contents.program.size());
  EXPECT_TRUE(std::equal(contents.program.begin(), contents.program.end(), program.begin()));
  EXPECT_EQ(sim.ReadState("checksum.bin"), Word(orvel::test::ByteSum(contents.program)));
  // The backup in Temp under the current directory, and the same bytes written back.
  EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "Temp" / "ConfBackup.bin"), configuration);
  EXPECT_EQ(sim.ReadState("config.bin"), configuration);

  const auto requests = Requests(sim);
  EXPECT_EQ(Distinct(requests.begin(), requests.end(), "00").size(), 176u);
  // The configuration goes back, all 176 blocks, before the restart request.
  const auto restart = std::find(requests.begin(), requests.end(), "0C 00000000");
  ASSERT_NE(restart, requests.end());
  const auto configWrites = Distinct(requests.begin(), restart, "01");
  const auto inArea = std::count_if(configWrites.begin(), configWrites.end(), [](const auto& r) {
    const auto address = std::stoul(r.substr(3), nullptr, 16);
    return address >= 0x147A0 && address < 0x147A0 + 44916;
  });
  EXPECT_EQ(inArea, 176);

  std::uint32_t offset = 0;
  for (std::size_t k = 0; k < param.parts; ++k) {
    const std::string name = "parts/part-" + std::to_string(k + 1);
    EXPECT_EQ(sim.ReadState(name + ".bin"), contents.parts[k]) << name;
    Bytes descriptor(20, 0);
    orvel::protocol::PutU32(&descriptor[0], static_cast<std::uint32_t>(k + 1));
    orvel::protocol::PutU32(&descriptor[4], static_cast<std::uint32_t>(contents.parts[k].size()));
    orvel::protocol::PutU32(&descriptor[8], offset);
    EXPECT_EQ(sim.ReadState(name + ".desc"), descriptor) << name;
    offset += static_cast<std::uint32_t>(contents.parts[k].size());
  }
  EXPECT_FALSE(
      fs::exists(sim.stateDir() / "parts" / ("part-" + std::to_string(param.parts + 1) + ".desc")));
}

INSTANTIATE_TEST_SUITE_P(PlainAndScrambled, UpdateCli,
                         ::testing::Values(UpdateCase{false, 0}, UpdateCase{false, 1},
                                           UpdateCase{false, 3}, UpdateCase{true, 0},
                                           UpdateCase{true, 1}, UpdateCase{true, 3}),
                         [](const auto& info) {
                           return std::string(info.param.scrambled ? "Scrambled" : "Plain") +
                                  std::to_string(info.param.parts) + "Parts";
                         });

// Slow (about 45 s): the device stays silent after its restart for longer than the exchange's 40-s
// limit, so the first part fails once; --retries 1 answers the question Yes and the part goes
// again.
TEST(FirmwareCli, UpdateRetriesAFailedPartWhenAllowed) {
  orvel::test::TempFolder folder;
  PackageContents contents;
  contents.scrambled = true;
  contents.program = PatternBytes(512, 3);
  contents.parts = {PatternBytes(300, 4), PatternBytes(20, 5)};
  contents.tail = Bytes(20, 0);
  const fs::path package = folder.path() / "device.update";
  orvel::test::WriteBytes(package, orvel::test::BuildPackage(contents));
  SimProcess sim({"--version-number", "111", "--restart-silence", "44"});
  const CommandResult result = Ctl(
      sim, {"--restart-wait", "1", "--retries", "1", "update", package.string()}, folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("Нет ответа от прибора!"), std::string::npos) << result.err;
  sim.Stop();
  EXPECT_EQ(sim.ReadState("parts/part-1.bin"), contents.parts[0]);
  EXPECT_EQ(sim.ReadState("parts/part-2.bin"), contents.parts[1]);
  const auto requests = Requests(sim);
  EXPECT_GT(CountCommand(requests, "05"), 20u);  // resent through both attempts
}

TEST(FirmwareCli, BadPackageIsRefusedBeforeTheDeviceIsAsked) {
  orvel::test::TempFolder folder;
  PackageContents contents;
  contents.program = PatternBytes(100, 1);
  contents.tail = Bytes(40, 0);
  contents.tail[0] = 200;  // a part longer than the rest of the file
  orvel::test::WriteBytes(folder.path() / "bad.update", orvel::test::BuildPackage(contents));
  SimProcess sim;
  const CommandResult result =
      Ctl(sim, {"update", (folder.path() / "bad.update").string()}, folder.path());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Размер файла обновления не верен."), std::string::npos) << result.err;
  sim.Stop();
  EXPECT_TRUE(sim.RequestLog().empty());
}

}  // namespace
