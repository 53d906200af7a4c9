// orvelctl against orvel-sim devices that misbehave as real networks and devices do: answers that
// come twice or late, a lost version answer, short reads, older packages. Each run must end either
// with the device holding what was meant or with a failure, never with exit 0 and something else.
#include <gtest/gtest.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/sha256.h"
#include "ctl.h"
#include "support/package_builder.h"
#include "support/run_command.h"
#include "support/scripted_session.h"
#include "support/sim_process.h"
#include "support/tool_socket.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::CommandResult;
using orvel::test::Ctl;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;
using orvel::test::SimProcess;
using orvel::test::TempFolder;

fs::path WritePackage(const TempFolder& folder, const PackageContents& contents) {
  const fs::path path = folder.path() / "device.update";
  orvel::test::WriteBytes(path, orvel::test::BuildPackage(contents));
  return path;
}

PackageContents ThreeParts(std::uint8_t version) {
  PackageContents contents;
  contents.version = {2, version};
  contents.program = PatternBytes(512, 0x31);
  contents.parts = {PatternBytes(1000, 1), PatternBytes(10, 2), PatternBytes(300, 3)};
  contents.tail = Bytes(20, 0);
  return contents;
}

void ExpectParts(const SimProcess& sim, const PackageContents& contents) {
  for (std::size_t k = 0; k < contents.parts.size(); ++k) {
    const std::string name = "parts/part-" + std::to_string(k + 1) + ".bin";
    ASSERT_TRUE(fs::exists(sim.stateDir() / name)) << name;
    EXPECT_EQ(sim.ReadState(name), contents.parts[k]) << name;
  }
}

// The restart's answer and every other answer come twice; the device is still silent when the
// wait after the restart is over. The second "OK" of the restart must not pass for the answer to
// the first descriptor, which the restarting device never saw.
TEST(StaleAnswersCli, DuplicatedAnswersAcrossTheRestartLeaveNoPartBehind) {
  TempFolder folder;
  const PackageContents contents = ThreeParts(111);
  SimProcess sim({"--version-number", "111", "--duplicate", "1", "--restart-silence", "4"});
  const CommandResult result =
      Ctl(sim, {"--restart-wait", "3", "update", WritePackage(folder, contents).string()},
          folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  sim.Stop();
  ExpectParts(sim, contents);
}

// The restart is acknowledged only after the tool stopped waiting; that late "OK" must not pass for
// the answer to the first descriptor either.
TEST(StaleAnswersCli, LateRestartAnswerIsNotTakenForTheFirstDescriptorsAnswer) {
  TempFolder folder;
  const PackageContents contents = ThreeParts(111);
  SimProcess sim({"--version-number", "111", "--delay", "1600", "--delay-only", "0C",
                  "--restart-silence", "6"});
  const CommandResult result =
      Ctl(sim, {"--restart-wait", "3", "update", WritePackage(folder, contents).string()},
          folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("Внимание!: Необходимо перезагрузить прибор"), std::string::npos)
      << result.err;
  sim.Stop();
  ExpectParts(sim, contents);
}

// Every answer comes again 3 ms later, and the device is still silent when the wait after its
// restart is over. The copies of the configuration's last Write answers, queued meanwhile, must
// all go before the first descriptor: one of them taken for its "OK" left part 1 behind.
TEST(StaleAnswersCli, CopiesQueuedDuringTheRestartWaitLeaveNoPartBehind) {
  TempFolder folder;
  PackageContents contents = ThreeParts(111);
  contents.program = PatternBytes(60000, 0x31);
  SimProcess sim({"--version-number", "111", "--copy-after", "3", "--restart-silence", "2"});
  const CommandResult result =
      Ctl(sim, {"--restart-wait", "1", "update", WritePackage(folder, contents).string()},
          folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  sim.Stop();
  ExpectParts(sim, contents);
}

// A device that does not take the restart and sends a copy of an earlier Write answer ("OK" and an
// address) instead: no acknowledgement, so the technician is told to restart it.
TEST(StaleAnswersCli, WriteAnswerToTheRestartAsksForARestart) {
  namespace asio = boost::asio;
  using asio::ip::udp;
  std::uint16_t port = 0;
  for (std::uint16_t candidate = 23000; candidate < 23200 && port == 0; ++candidate) {
    if (orvel::test::UdpPortFree(SimProcess::kAddress, candidate) &&
        orvel::test::UdpPortFree(SimProcess::kToolAddress, candidate))
      port = candidate;
  }
  ASSERT_NE(port, 0);
  asio::io_service io;
  udp::socket device(io, udp::endpoint(asio::ip::address_v4(SimProcess::kDeviceAddress), port));
  std::atomic<bool> done{false};
  std::thread answering([&] {
    const Bytes stray = orvel::test::Ok(0x147A0);
    // Bounded: the run below ends within a few seconds.
    for (int round = 0; round < 300 && !done; ++round) {
      pollfd entry{device.native_handle(), POLLIN, 0};
      if (::poll(&entry, 1, 50) != 1) continue;
      std::array<std::uint8_t, 300> request{};
      udp::endpoint tool;
      boost::system::error_code error;
      device.receive_from(asio::buffer(request), tool, 0, error);
      if (!error) device.send_to(asio::buffer(stray), tool, 0, error);
    }
  });
  TempFolder folder;
  const CommandResult result =
      orvel::test::RunCommand(ORVELCTL_PATH,
                              {"-d", SimProcess::kAddress, "-p", std::to_string(port), "-i",
                               SimProcess::kToolAddress, "restart"},
                              folder.path(), std::chrono::seconds(30));
  done = true;
  answering.join();
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(result.err.find("Внимание!: Необходимо перезагрузить прибор"), std::string::npos)
      << result.err;
}

// The first version answer is lost; a 1.11 device must still be read and updated with its own
// configuration size.
TEST(VersionCli, LostFirstVersionAnswerKeepsTheDevicesLayout) {
  {
    TempFolder folder;
    SimProcess sim({"--version-number", "111", "--drop-first-version"});
    const CommandResult result =
        Ctl(sim, {"read-config", (folder.path() / "out.bin").string()}, folder.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "out.bin"), sim.ReadState("config.bin"));
  }
  TempFolder folder;
  SimProcess sim({"--version-number", "111", "--drop-first-version"});
  const Bytes configuration = sim.ReadState("config.bin");
  const CommandResult result =
      Ctl(sim, {"--restart-wait", "0", "update", WritePackage(folder, ThreeParts(111)).string()},
          folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  sim.Stop();
  EXPECT_EQ(sim.ReadState("config.bin"), configuration);
}

// A few Read answers carry half their data; the file must still be the device's area.
TEST(ShortReadCli, ReadConfigNeverKeepsAHole) {
  TempFolder folder;
  SimProcess sim({"--version-number", "111", "--short-read", "0.03", "--seed", "3"});
  const CommandResult result =
      Ctl(sim, {"read-config", (folder.path() / "out.bin").string()}, folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  sim.Stop();
  EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "out.bin"), sim.ReadState("config.bin"));
  std::size_t shortAnswers = 0;
  for (const std::string& line : sim.RequestLog()) {
    shortAnswers += line.find("short") != std::string::npos;
  }
  EXPECT_GT(shortAnswers, 0u);
}

// Version 0.12 is the older layout's firmware: the configuration must not be converted.
TEST(MajorZeroPackageCli, ConfigurationKeepsItsLayout) {
  struct Case {
    const char* device;
    bool warns;
  };
  for (const Case c : {Case{"5", false}, Case{"111", true}}) {
    SCOPED_TRACE(c.device);
    TempFolder folder;
    SimProcess sim({"--version-number", c.device});
    const Bytes configuration = sim.ReadState("config.bin");
    const CommandResult result =
        Ctl(sim, {"--restart-wait", "0", "update", WritePackage(folder, ThreeParts(12)).string()},
            folder.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("Внимание!: ") != std::string::npos, c.warns) << result.err;
    sim.Stop();
    EXPECT_EQ(sim.ReadState("config.bin"), configuration);
    for (const std::string& line : sim.RequestLog()) {
      EXPECT_EQ(line.find("stray"), std::string::npos) << line;
    }
  }
}

// The device stores one byte wrong and still answers OK: --verify must catch it before any restart.
TEST(VerifyCli, ReadBackCatchesAWrongByteBeforeTheRestart) {
  struct Case {
    const char* command;
    const char* corrupt;  // nothing: the device stores what it is given
    std::size_t fileSize;
    const char* failure;
  };
  const Case cases[] = {
      {"write-program", nullptr, 0x3C000, nullptr},
      {"write-program", "0x1B3400", 0x3C000, "Отличающихся байт: 1, первый по адресу 0x1B3400."},
      {"write-config", "0x148CC", 44916, "Отличающихся байт: 1, первый по адресу 0x148CC."},
      {"update", "0x180010", 0, "Отличающихся байт: 1, первый по адресу 0x180010."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + (c.corrupt ? c.corrupt : "-"));
    TempFolder folder;
    fs::path file = folder.path() / "input";
    if (c.fileSize == 0) {
      file = WritePackage(folder, ThreeParts(111));
    } else {
      orvel::test::WriteBytes(file, PatternBytes(c.fileSize, 7));
    }
    std::vector<std::string> simArgs{"--version-number", "111"};
    if (c.corrupt) simArgs.insert(simArgs.end(), {"--corrupt-byte", c.corrupt});
    SimProcess sim(simArgs);
    const CommandResult result =
        Ctl(sim, {"--verify", "--restart-wait", "0", c.command, file.string()}, folder.path());
    sim.Stop();
    if (!c.failure) {
      EXPECT_EQ(result.exitCode, 0) << result.err;
      continue;
    }
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find(std::string("Ошибка проверки записи.: ")), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(c.failure), std::string::npos) << result.err;
    // What the device holds is not what it was given: it must not restart into it.
    if (std::string(c.command) != "write-program") {
      for (const std::string& line : sim.RequestLog()) {
        EXPECT_EQ(line.find(" 0C "), std::string::npos) << "restarted: " << line;
      }
    }
  }
}

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// --trace shows every datagram with what became of it; --log appends one JSON line per task.
TEST(TraceAndLogCli, EveryDatagramOnStderrAndOneLogLinePerTask) {
  TempFolder folder;
  const std::string log = (folder.path() / "tasks.log").string();
  const fs::path out = folder.path() / "out.bin";
  SimProcess sim({"--version-number", "111", "--duplicate", "1"});
  const CommandResult read =
      Ctl(sim, {"--trace", "--log", log, "read-config", out.string()}, folder.path());
  EXPECT_EQ(read.exitCode, 0) << read.err;
  const CommandResult restart = Ctl(sim, {"--log", log, "restart"}, folder.path());
  EXPECT_EQ(restart.exitCode, 0) << restart.err;
  sim.Stop();

  const std::string peer = "127.0.0.2:" + std::to_string(sim.port());
  EXPECT_EQ(CountOf(read.err, " -> " + peer + " "), 177u) << read.err.substr(0, 2000);
  EXPECT_EQ(CountOf(read.err, " -> " + peer + " Version 0x00000000 len 0, 10 bytes: AA 55 0E"), 1u);
  EXPECT_EQ(CountOf(read.err, " (taken)\n"), 177u);
  // The duplicate of every answer is dropped before the next request goes out, or arrives too late
  // for it: stale, or a Read echo of another block.
  EXPECT_GE(CountOf(read.err, " (stale)\n") + CountOf(read.err, " (wrong echo)\n"), 170u);
  EXPECT_TRUE(restart.err.empty()) << restart.err;

  const Bytes logBytes = orvel::test::ReadBytes(folder.path() / "tasks.log");
  const std::string lines(logBytes.begin(), logBytes.end());
  ASSERT_EQ(CountOf(lines, "\n"), 2u) << lines;
  const Bytes file = orvel::test::ReadBytes(out);
  const std::string digest = orvel::Sha256::Hex(orvel::Sha256::Of(file.data(), file.size()));
  const std::string first = lines.substr(0, lines.find('\n'));
  const auto logged = nlohmann::ordered_json::parse(first);
  EXPECT_EQ(logged.size(), 14u) << first;
  EXPECT_EQ(logged["tool"].get<std::string>().rfind("orvelctl ", 0), 0u) << first;
  EXPECT_EQ(logged["device"], "127.0.0.2");
  EXPECT_EQ(logged["port"], sim.port());
  EXPECT_EQ(logged["deviceVersion"], "1.11");
  EXPECT_EQ(logged["task"], "read-config");
  EXPECT_EQ(logged["file"], out.string());
  EXPECT_EQ(logged["sha256"], digest);
  EXPECT_EQ(logged["requests"], 177);
  EXPECT_EQ(logged["resends"], 0);
  EXPECT_EQ(logged["result"], "ok");
  EXPECT_EQ(logged["message"], "");
  const auto restarted = nlohmann::ordered_json::parse(lines.substr(first.size() + 1));
  EXPECT_EQ(restarted["task"], "restart");
  EXPECT_TRUE(restarted["file"].is_null());
  EXPECT_TRUE(restarted["sha256"].is_null());
  EXPECT_EQ(restarted["requests"], 1);
}

// The update stops during the configuration write-back; the technician runs it again once the
// device is back. The second run must write the configuration saved by the first, not back up the
// half-written one over it. Slow: the first run waits out the exchange's 40-s limit.
TEST(UpdateRetryCli, SecondRunWritesTheConfigurationSavedByTheFirst) {
  TempFolder folder;
  const fs::path package = WritePackage(folder, ThreeParts(111));
  Bytes original;
  std::uint16_t port = 0;
  {
    // An older device: the version, 175 reads, ProgramStart, 2 program blocks and the word make
    // 180 requests; it goes silent 60 blocks into the converted configuration.
    SimProcess sim({"--version-number", "5", "--silent-after", "240"});
    original = sim.ReadState("config.bin");
    port = sim.port();
    const CommandResult first = Ctl(sim, {"update", package.string()}, folder.path());
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_NE(first.err.find("Нет ответа от прибора!"), std::string::npos) << first.err;
    sim.Stop();
    orvel::test::WriteBytes(folder.path() / "left.bin", sim.ReadState("config.bin"));
  }
  // The same device after a power cycle: the new firmware, the half-written configuration.
  SimProcess sim({"--version-number", "111", "--config", (folder.path() / "left.bin").string()},
                 port);
  const CommandResult second =
      Ctl(sim, {"--restart-wait", "0", "update", package.string()}, folder.path());
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_NE(second.err.find("Предыдущее обновление прибора не завершено"), std::string::npos)
      << second.err;
  sim.Stop();
  Bytes older = original, converted;  // the conversion works on its input in place
  orvel::test::ScriptedSession scratch;
  scratch.session.ConvertConfiguration(older, converted);
  EXPECT_EQ(sim.ReadState("config.bin"), converted);
  EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "Temp" / "ConfBackup.bin"), original);
}

}  // namespace
