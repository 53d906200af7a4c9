// orvel-sim on its own, over real UDP on loopback: what it answers, what it keeps, what it leaves
// in its state folder, and its faults. A plain socket stands in for the tool.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "protocol/packets.h"
#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"
#include "support/tool_socket.h"

namespace orvel::test {
namespace {

namespace p = orvel::protocol;

TEST(SimLoopback, AnswersEveryRequestFromItsOwnPortAndKeepsWhatItWasGiven) {
  SimProcess sim({"--version-number", "111", "--version-kind", "3"});
  ToolSocket tool(sim.port());

  auto answers = tool.Ask(Request(ServiceCommand::Version, 0, 0));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, (Bytes{3, 111}));
  EXPECT_EQ(answers[0].fromPort, sim.port());

  // A write across the end of the program area, through the checksum word and 2 bytes beyond it,
  // then read back: the 2 bytes outside every area are kept nowhere and read as zeros.
  Bytes data(256);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3 + 1);
  const std::uint32_t address = 0x1BC000 - 250;
  answers = tool.Ask(Request(ServiceCommand::Write, 256, address, data));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, Ok(address));
  answers = tool.Ask(Request(ServiceCommand::Read, 256, address));
  ASSERT_EQ(answers.size(), 1u);
  Bytes expected(data.begin(), data.begin() + 254);
  expected.insert(expected.end(), {0, 0, 0, 0, 0, 0});
  p::PutU32(expected.data() + 256, address);
  EXPECT_EQ(answers[0].bytes, expected);

  answers = tool.Ask(Request(ServiceCommand::ProgramStart, 1, 0, {0x5A}));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, (Bytes{'O', 'K'}));

  ASSERT_EQ(sim.Stop(), 0);
  const auto program = sim.ReadState("program.bin");
  ASSERT_EQ(program.size(), 0x3C000u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 250, program.end() - 250));
  EXPECT_EQ(program[0], 0xFF);  // untouched flash
  EXPECT_EQ(sim.ReadState("checksum.bin"), Bytes(data.begin() + 250, data.begin() + 254));
  EXPECT_EQ(sim.ReadState("config.bin").size(), 44916u);
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "1 0E 00000000 0 yes");
  EXPECT_EQ(log[1], "2 01 001BBF06 256 yes stray");
  EXPECT_EQ(log[3], "4 0B 00000000 1 yes data=5A");
}

TEST(SimLoopback, ConfigurationAreaFollowsTheVersionAndTheGivenFile) {
  TempFolder folder;
  const auto file = folder.path() / "config.bin";
  Bytes image(44660);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
  WriteBytes(file, image);
  SimProcess sim({"--version-number", "7", "--config", file.string()});
  std::filesystem::remove(file);
  ToolSocket tool(sim.port());

  // The last 116 bytes of the area, and the first bytes beyond it, which are zeros.
  const std::uint32_t last = 0x147A0 + 44660 - 116;
  auto answers = tool.Ask(Request(ServiceCommand::Read, 120, last));
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_EQ(answers[0].bytes.size(), 124u);
  EXPECT_TRUE(std::equal(image.end() - 116, image.end(), answers[0].bytes.begin()));
  EXPECT_EQ(Bytes(answers[0].bytes.begin() + 116, answers[0].bytes.begin() + 120), Bytes(4, 0));
  EXPECT_EQ(p::GetU32(answers[0].bytes.data() + 120), last);
  EXPECT_EQ(sim.ReadState("config.bin"), image);  // written at start
}

TEST(SimLoopback, KeepsUpdatePartsByBlockIndexAndRefusesABadBlockSum) {
  SimProcess sim;
  ToolSocket tool(sim.port());
  Bytes descriptor(20, 0);
  p::PutU32(descriptor.data(), 2);
  p::PutU32(descriptor.data() + 4, 5);
  p::PutU32(descriptor.data() + 8, 1000);

  EXPECT_EQ(tool.Ask(Request(ServiceCommand::PartDescriptor, 20, 0, descriptor)).size(), 1u);
  auto answers = tool.Ask(Request(ServiceCommand::PartBlock, 3, 0, {1, 2, 3}));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(Bytes(answers[0].bytes.begin(), answers[0].bytes.begin() + 2), (Bytes{'O', 'K'}));
  // A resent block replaces the one of the same index.
  EXPECT_EQ(tool.Ask(Request(ServiceCommand::PartBlock, 3, 0, {1, 2, 3})).size(), 1u);
  Bytes corrupt = Request(ServiceCommand::PartBlock, 2, 1, {4, 5});
  corrupt.back() ^= 1;
  EXPECT_TRUE(tool.Ask(corrupt).empty());
  EXPECT_EQ(tool.Ask(Request(ServiceCommand::PartBlock, 2, 1, {4, 5})).size(), 1u);

  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.ReadState("parts/part-2.bin"), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(sim.ReadState("parts/part-2.desc"), descriptor);
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[3], "4 06 00000001 2 no bad-sum");
}

TEST(SimLoopback, StraysAreLoggedAndMalformedRequestsGetNoAnswer) {
  SimProcess sim;
  ToolSocket tool(sim.port());
  auto answers = tool.Ask(Request(ServiceCommand::Write, 2, 0x100, {9, 9}));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, Ok(0x100));
  Bytes shortWrite = Request(ServiceCommand::Write, 4, 0x147A0, {1, 2});  // two bytes missing
  EXPECT_TRUE(tool.Ask(shortWrite).empty());
  EXPECT_TRUE(tool.Ask({0xAA, 0x54, 0x0E, 0, 0, 0, 0, 0, 0, 0}).empty());
  ASSERT_EQ(sim.Stop(), 0);
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "1 01 00000100 2 yes stray");
  EXPECT_EQ(log[1], "2 01 000147A0 4 no malformed");
  EXPECT_EQ(log[2], "3 0E 00000000 0 no malformed");
  // Nothing reached the configuration area.
  EXPECT_EQ(sim.ReadState("config.bin")[0], 0x5A);
}

TEST(SimLoopback, RestartGoesSilentForItsTimeAndSavesTheState) {
  SimProcess sim({"--restart-silence", "0.4"});
  ToolSocket tool(sim.port());
  EXPECT_EQ(tool.Ask(Request(ServiceCommand::Write, 1, 0x180000, {0x42})).size(), 1u);
  auto answers = tool.Ask(Request(ServiceCommand::Restart, 0, 0), 50);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, (Bytes{'O', 'K'}));
  // Saved by the restart, while the sim still runs.
  EXPECT_EQ(sim.ReadState("program.bin")[0], 0x42);
  EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Version, 0, 0), 50).empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  EXPECT_EQ(tool.Ask(Request(ServiceCommand::Version, 0, 0)).size(), 1u);
  ASSERT_EQ(sim.Stop(), 0);
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "3 0E 00000000 0 no restarting");
}

TEST(SimLoopback, SilentAfterAndNoVersionAnswer) {
  SimProcess sim({"--silent-after", "1", "--no-version-answer"});
  ToolSocket tool(sim.port());
  EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Version, 0, 0)).empty());
  EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Read, 4, 0x147A0)).empty());
  ASSERT_EQ(sim.Stop(), 0);
  const auto log = sim.RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "1 0E 00000000 0 no no-version");
  EXPECT_EQ(log[1], "2 00 000147A0 4 no silent");
}

// Each fault at probability 1, so that its effect is certain.
TEST(SimLoopback, FaultsDoWhatTheySay) {
  const Bytes read = Request(ServiceCommand::Read, 4, 0x147A0);
  Bytes right = {0x5A, 0x5D, 0x54, 0x4F, 0xA0, 0x47, 0x01, 0x00};  // the pattern and the echo
  {
    SimProcess sim({"--wrong-port", "1"});
    ToolSocket tool(sim.port());
    auto answers = tool.Ask(read);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_NE(answers[0].fromPort, sim.port());
    EXPECT_EQ(answers[0].bytes, right);
  }
  {
    SimProcess sim({"--stranger", "1", "--duplicate", "1"});
    ToolSocket tool(sim.port());
    auto answers = tool.Ask(read);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_NE(answers[0].fromPort, sim.port());
    EXPECT_NE(answers[0].bytes, right);
    EXPECT_EQ(p::GetU32(answers[0].bytes.data() + 4), 0x147A0u);  // would pass on its echo alone
    EXPECT_EQ(answers[1].fromPort, sim.port());
    EXPECT_EQ(answers[1].bytes, right);
    EXPECT_EQ(answers[2].bytes, right);
  }
  {
    SimProcess sim({"--late", "1", "--wrong-echo", "1"});
    ToolSocket tool(sim.port());
    auto first = tool.Ask(Request(ServiceCommand::Version, 0, 0));
    ASSERT_EQ(first.size(), 1u);  // no earlier answer to send late
    auto answers = tool.Ask(read);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].bytes, (Bytes{0, 111}));  // the answer to the version request, again
    EXPECT_NE(p::GetU32(answers[1].bytes.data() + 4), 0x147A0u);
  }
  {
    SimProcess sim({"--drop", "1", "--delay", "0"});
    ToolSocket tool(sim.port());
    EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Write, 1, 0x147A0, {7})).empty());
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.ReadState("config.bin")[0], 7);  // the request was carried out all the same
    EXPECT_EQ(sim.RequestLog().at(0), "1 01 000147A0 1 no dropped");
  }
  {
    SimProcess sim({"--delay", "300"});
    ToolSocket tool(sim.port());
    tool.Send(read);
    EXPECT_FALSE(tool.Receive(150).has_value());
    auto late = tool.Receive(1000);
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->bytes, right);
  }
  {
    // Only the restart's answer waits; the duplicate goes with it.
    SimProcess sim({"--delay", "300", "--delay-only", "0C", "--duplicate", "1"});
    ToolSocket tool(sim.port());
    EXPECT_EQ(tool.Ask(read, 100).size(), 2u);
    tool.Send(Request(ServiceCommand::Restart, 0, 0));
    EXPECT_FALSE(tool.Receive(150).has_value());
    auto first = tool.Receive(1000), second = tool.Receive(100);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->bytes, (Bytes{'O', 'K'}));
    EXPECT_EQ(second->bytes, (Bytes{'O', 'K'}));
  }
  {
    SimProcess sim({"--short-read", "1", "--drop-first-version"});
    ToolSocket tool(sim.port());
    auto answers = tool.Ask(read);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].bytes, (Bytes{0x5A, 0x5D, 0xA0, 0x47, 0x01, 0x00}));  // 2 of 4, the echo
    EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Version, 0, 0)).empty());
    EXPECT_EQ(tool.Ask(Request(ServiceCommand::Version, 0, 0)).size(), 1u);
  }
}

// The faults of networks that copy, hold back or lose datagrams, each where its effect is certain.
TEST(SimLoopback, CopiedJitteredSlowAndLostTraffic) {
  const Bytes read = Request(ServiceCommand::Read, 4, 0x147A0);
  const Bytes right = {0x5A, 0x5D, 0x54, 0x4F, 0xA0, 0x47, 0x01, 0x00};
  {
    SimProcess sim({"--copy-after", "200"});
    ToolSocket tool(sim.port());
    const auto answers = tool.Ask(read, 100);
    ASSERT_EQ(answers.size(), 1u);
    const auto copy = tool.Receive(1000);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->bytes, right);
    EXPECT_EQ(copy->fromPort, sim.port());
  }
  {
    // The request never reaches the device: no answer, nothing stored, noted as lost.
    SimProcess sim({"--lose", "1"});
    ToolSocket tool(sim.port());
    EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Write, 1, 0x147A0, {7})).empty());
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_NE(sim.ReadState("config.bin")[0], 7);
    EXPECT_EQ(sim.RequestLog().at(0), "1 01 000147A0 1 no lost");
  }
  {
    // Every second answer waits 300 ms.
    SimProcess sim({"--slow-every", "2", "--slow-ms", "300"});
    ToolSocket tool(sim.port());
    EXPECT_EQ(tool.Ask(read, 100).size(), 1u);
    tool.Send(read);
    EXPECT_FALSE(tool.Receive(150).has_value());
    EXPECT_TRUE(tool.Receive(1000).has_value());
  }
  {
    // Eight reads sent at once come back, each after its own random wait, out of their order.
    SimProcess sim({"--jitter", "300", "--seed", "5"});
    ToolSocket tool(sim.port());
    for (std::uint32_t i = 0; i < 8; ++i) tool.Send(Request(ServiceCommand::Read, 4, 0x147A0 + i));
    std::vector<std::uint32_t> echoes;
    while (echoes.size() < 8) {
      const auto answer = tool.Receive(1000);
      if (!answer) break;
      echoes.push_back(p::GetU32(answer->bytes.data() + 4) - 0x147A0);
    }
    ASSERT_EQ(echoes.size(), 8u);
    EXPECT_FALSE(std::is_sorted(echoes.begin(), echoes.end()));
  }
}

TEST(SimLoopback, SameSeedSameFaults) {
  auto run = [](const std::string& seed, std::vector<std::string> more) {
    more.insert(more.end(), {"--drop", "0.5", "--seed", seed});
    SimProcess sim(more);
    ToolSocket tool(sim.port());
    std::string pattern;
    for (int i = 0; i < 24; ++i)
      pattern += tool.Ask(Request(ServiceCommand::Version, 0, 0), 60).empty() ? '-' : 'x';
    return pattern;
  };
  const auto first = run("7", {});
  EXPECT_EQ(first, run("7", {}));
  // Faults added later draw from dice of their own: the old faults of a seed stay as they were.
  EXPECT_EQ(first, run("7", {"--jitter", "1", "--lose", "0", "--short-read", "0.5"}));
  EXPECT_NE(first.find('-'), std::string::npos);
  EXPECT_NE(first.find('x'), std::string::npos);
}

TEST(SimLoopback, RefusesBadUsageAndATakenPort) {
  auto bad = RunCommand(
      ORVEL_SIM_PATH, {"--address", "127.0.0.2", "--port", "1", "--state", "/tmp", "--drop", "1.5"},
      {}, std::chrono::seconds(10));
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("--drop"), std::string::npos);

  SimProcess first;
  const auto folder = first.stateDir().parent_path() / "second";
  auto taken = RunCommand(ORVEL_SIM_PATH,
                          {"--address", "127.0.0.2", "--port", std::to_string(first.port()),
                           "--state", folder.string()},
                          {}, std::chrono::seconds(10));
  EXPECT_EQ(taken.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(folder / "ready"));
}

// What --config names is measured and checked before it is read: only a plain file of at most the
// larger configuration area will do. A state file that cannot be replaced leaves no temporary.
TEST(SimLoopback, RefusesConfigFilesThatAreNoneAndLeavesNoTemporaryBehind) {
  TempFolder folder;
  const auto dir = folder.path();
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
  std::ofstream(dir / "huge").close();
  std::filesystem::resize_file(dir / "huge", 44917);
  struct Case {
    std::string file;
    std::string why;
  };
  for (const Case& c :
       {Case{(dir / "missing.bin").string(), "no such file"},
        Case{(dir / "folder").string(), "not a plain file"},
        Case{(dir / "pipe").string(), "not a plain file"}, Case{"/dev/zero", "not a plain file"},
        Case{(dir / "huge").string(), "larger than 44916 bytes"}}) {
    SCOPED_TRACE(c.file);
    const auto result = RunCommand(ORVEL_SIM_PATH,
                                   {"--address", "127.0.0.2", "--port", "0", "--state",
                                    (dir / "state").string(), "--config", c.file},
                                   {}, std::chrono::seconds(10));
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find("--config " + c.file + ": " + c.why), std::string::npos)
        << result.err;
    EXPECT_LT(result.elapsed, std::chrono::seconds(5));
  }

  SimProcess sim;
  std::filesystem::remove(sim.stateDir() / "config.bin");
  std::filesystem::create_directories(sim.stateDir() / "config.bin" / "in-the-way");
  EXPECT_EQ(sim.Stop(), 0);  // saves on the way out
  EXPECT_FALSE(std::filesystem::exists(sim.stateDir() / "config.bin.tmp"));
  EXPECT_TRUE(std::filesystem::exists(sim.stateDir() / "program.bin"));
}

}  // namespace
}  // namespace orvel::test
