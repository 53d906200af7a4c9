// orvel-sim serving several devices in one process, over real UDP on loopback: each address is a
// device of its own, and the answers one device holds back never hold up another's.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"
#include "support/tool_socket.h"

namespace orvel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const SimProcess::Site kFourDevices{"127.0.0.2-127.0.0.5"};
const char* const kDevices[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
constexpr std::uint32_t kProgramBase = 0x180000;

Bytes WithEcho(Bytes data, std::uint32_t address) {
  data.resize(data.size() + 4);
  protocol::PutU32(data.data() + data.size() - 4, address);
  return data;
}

TEST(SimDevices, EachAddressIsADeviceOfItsOwnWithItsOwnStateFolder) {
  // Every device goes silent after its own third request.
  SimProcess sim({"--silent-after", "3"}, kFourDevices);
  ToolSocket tool(sim.port());

  for (const char* device : kDevices) {
    const auto answers = tool.Ask(Request(ServiceCommand::Version, 0, 0), 50, device);
    ASSERT_EQ(answers.size(), 1u) << device;
    EXPECT_EQ(answers[0].bytes, (Bytes{0, 111}));
    EXPECT_EQ(answers[0].fromAddress, device);
    EXPECT_EQ(answers[0].fromPort, sim.port());
  }

  // A block written to one device is kept by that device alone.
  const Bytes block = PatternBytes(256, 7);
  auto answers =
      tool.Ask(Request(ServiceCommand::Write, 256, kProgramBase, block), 50, kDevices[1]);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, Ok(kProgramBase));
  answers = tool.Ask(Request(ServiceCommand::Read, 256, kProgramBase), 50, kDevices[1]);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, WithEcho(block, kProgramBase));
  answers = tool.Ask(Request(ServiceCommand::Read, 256, kProgramBase), 50, kDevices[0]);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, WithEcho(Bytes(256, 0xFF), kProgramBase));

  // 127.0.0.3 has had its three requests, 127.0.0.2 only two.
  EXPECT_TRUE(tool.Ask(Request(ServiceCommand::Version, 0, 0), 150, kDevices[1]).empty());
  EXPECT_EQ(tool.Ask(Request(ServiceCommand::Version, 0, 0), 50, kDevices[0]).size(), 1u);

  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.ReadStateText("ready"), std::to_string(sim.port()));
  EXPECT_FALSE(std::filesystem::exists(sim.stateDir() / "program.bin"));
  const std::size_t expectedRequests[] = {3, 4, 1, 1};
  for (std::size_t i = 0; i < std::size(kDevices); ++i) {
    const auto folder = sim.stateDir(kDevices[i]);
    const Bytes program = ReadBytes(folder / "program.bin");
    ASSERT_EQ(program.size(), 0x3C000u) << kDevices[i];
    const Bytes start(program.begin(), program.begin() + 256);
    EXPECT_EQ(start, i == 1 ? block : Bytes(256, 0xFF)) << kDevices[i];
    const Bytes log = ReadBytes(folder / "requests.log");
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')),
              expectedRequests[i])
        << kDevices[i];
  }
  const Bytes log = ReadBytes(sim.stateDir(kDevices[1]) / "requests.log");
  EXPECT_EQ(std::string(log.begin(), log.end()),
            "1 0E 00000000 0 yes\n2 01 00180000 256 yes\n3 00 00180000 256 yes\n"
            "4 0E 00000000 0 no silent\n");
}

TEST(SimDevices, OneDevicesHeldAnswersNeverHoldUpAnother) {
  // Only the Version answers are held back.
  SimProcess sim({"--delay", "300", "--delay-only", "0E"}, kFourDevices);
  ToolSocket tool(sim.port());

  const auto start = Clock::now();
  for (const char* device : kDevices) tool.Send(Request(ServiceCommand::Version, 0, 0), device);
  tool.Send(Request(ServiceCommand::Read, 4, 0x147A0), kDevices[3]);
  struct Arrival {
    Datagram datagram;
    Clock::duration after;
  };
  std::vector<Arrival> arrivals;
  while (arrivals.size() < 5) {
    auto datagram = tool.Receive(2000);
    if (!datagram) break;
    arrivals.push_back({std::move(*datagram), Clock::now() - start});
  }
  ASSERT_EQ(arrivals.size(), 5u);

  // The Read answer goes out at once, whatever the devices hold back.
  EXPECT_EQ(arrivals[0].datagram.bytes.size(), 8u);
  EXPECT_EQ(arrivals[0].datagram.fromAddress, kDevices[3]);
  EXPECT_LT(arrivals[0].after, 150ms);
  // Then one Version answer from every device, all after about one delay (one after the other
  // they would take four).
  std::set<std::string> answered;
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    EXPECT_EQ(arrivals[i].datagram.bytes, (Bytes{0, 111}));
    EXPECT_GE(arrivals[i].after, 300ms);
    EXPECT_LT(arrivals[i].after, 550ms);
    answered.insert(arrivals[i].datagram.fromAddress);
  }
  EXPECT_EQ(answered.size(), 4u);
}

TEST(SimDevices, RefusesTooManyDevicesAndFailsWhenOneCannotBind) {
  struct Case {
    std::string addresses, port, error;
  };
  for (const Case& c : {
           Case{"127.0.0.0/23", "40000", "--address: more than 256 addresses: 127.0.0.0/23"},
           Case{"127.0.0.2-127.0.0.3", "0", "--port 0 (a free port) needs a single address"},
           Case{"127.0.0.3-127.0.0.2", "40000", "--address: the range runs backwards"},
       }) {
    const auto run =
        RunCommand(ORVEL_SIM_PATH, {"--address", c.addresses, "--port", c.port, "--state", "/tmp"},
                   {}, std::chrono::seconds(10));
    EXPECT_EQ(run.exitCode, 2) << c.addresses;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }

  // The port is taken on the middle address of the range.
  SimProcess other({}, SimProcess::Site{"127.0.0.4"});
  const auto folder = other.stateDir().parent_path() / "site";
  const auto run = RunCommand(ORVEL_SIM_PATH,
                              {"--address", "127.0.0.3-127.0.0.5", "--port",
                               std::to_string(other.port()), "--state", folder.string()},
                              {}, std::chrono::seconds(10));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("127.0.0.4:" + std::to_string(other.port())), std::string::npos)
      << run.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "ready"));
}

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
