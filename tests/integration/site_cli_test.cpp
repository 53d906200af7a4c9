// orvelctl over a site of eight devices on one port: six good ones, one that loses answers and one
// that never answers. The good and the lossy end byte for byte right, the silent one fails alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/run_command.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::CommandResult;
using orvel::test::PatternBytes;
using orvel::test::ReadBytes;
using orvel::test::SimProcess;

const std::vector<std::string> kGood = {"127.0.0.2", "127.0.0.3", "127.0.0.4",
                                        "127.0.0.5", "127.0.0.6", "127.0.0.7"};
const std::string kLossy = "127.0.0.8";
const std::string kSilent = "127.0.0.9";  // nothing listens there

CommandResult Ctl(std::uint16_t port, const std::string& devices,
                  const std::vector<std::string>& command, const fs::path& workDir) {
  std::vector<std::string> args{"-d", devices, "-p", std::to_string(port), "-i", "127.0.0.1"};
  args.insert(args.end(), command.begin(), command.end());
  return orvel::test::RunCommand(ORVELCTL_PATH, args, workDir, std::chrono::seconds(150));
}

// The objects of a JSON results document, by their "device" ("127.0.0.2:40000").
std::map<std::string, nlohmann::json> JsonDevices(const std::string& json) {
  std::map<std::string, nlohmann::json> devices;
  const nlohmann::json document = nlohmann::json::parse(json);
  for (const nlohmann::json& device : document.at("devices")) {
    devices[device.at("device")] = device;
  }
  return devices;
}

std::string Key(const std::string& address, std::uint16_t port) {
  return address + ":" + std::to_string(port);
}

// Each device's results: the silent one failed, every other ok.
void ExpectOnlyTheSilentFailed(const CommandResult& result, std::uint16_t port) {
  EXPECT_EQ(result.exitCode, 1) << result.err;
  auto devices = JsonDevices(result.out);
  EXPECT_EQ(devices.size(), kGood.size() + 2) << result.out;
  std::vector<std::string> working = kGood;
  working.push_back(kLossy);
  for (const std::string& address : working) {
    EXPECT_EQ(devices[Key(address, port)]["result"], "ok") << address << "\n"
                                                           << result.out << result.err;
  }
  nlohmann::json& silent = devices[Key(kSilent, port)];
  EXPECT_TRUE(silent["version"].is_null()) << silent;
  EXPECT_TRUE(silent["kind"].is_null()) << silent;
  EXPECT_EQ(silent["result"], "failed") << silent;
  EXPECT_NE(silent["message"].get<std::string>().find("Нет ответа от прибора!"), std::string::npos)
      << silent;
  // The boxes on stderr name their device.
  EXPECT_NE(result.err.find(kSilent + ":" + std::to_string(port) + ": Ошибка обмена данными."),
            std::string::npos)
      << result.err;
}

// Slow (about 95 s): the silent device takes the exchange's 40-s limit in each of the two runs it
// is part of, while the others finish beside it.
TEST(SiteCli, EightDevicesWithASilentAndALossyOneEndRightAndTheFailureIsNamed) {
  SimProcess good({"--version-number", "111"}, SimProcess::Site{"127.0.0.2-127.0.0.7"});
  const std::uint16_t port = good.port();
  SimProcess lossy({"--version-number", "111", "--drop", "0.004", "--seed", "7"},
                   SimProcess::Site{kLossy}, port);
  const auto stateOf = [&](const std::string& address) {
    return address == kLossy ? lossy.stateDir() : good.stateDir(address);
  };
  std::vector<std::string> working = kGood;
  working.push_back(kLossy);
  std::vector<Bytes> configurations;
  for (const std::string& address : working) {
    configurations.push_back(ReadBytes(stateOf(address) / "config.bin"));
  }
  orvel::test::TempFolder folder;
  const std::string all = "127.0.0.2-" + kSilent;
  const std::string answering = "127.0.0.2-" + kLossy;

  // write-program: the same file to every device that answers; a table this time.
  const Bytes image = PatternBytes(0x3C000, 0x5C);
  orvel::test::WriteBytes(folder.path() / "site.hex", image);
  const CommandResult program =
      Ctl(port, answering, {"--jobs", "3", "write-program", "site.hex"}, folder.path());
  EXPECT_EQ(program.exitCode, 0) << program.err;
  EXPECT_EQ(program.out.rfind("device ", 0), 0u) << program.out;
  EXPECT_EQ(std::count(program.out.begin(), program.out.end(), '\n'), 8);
  for (const std::string& address : working) {
    EXPECT_NE(program.out.find(address + ":" + std::to_string(port) + " "), std::string::npos)
        << program.out;
  }
  // The lossy device did lose answers, and its resends made up for them: its row reads
  // "device version version-after result error seconds requests resends".
  std::istringstream row(program.out.substr(program.out.find(kLossy + ":")));
  std::string device, version, versionAfter, outcome, error;
  double seconds = 0;
  unsigned long requests = 0, resends = 0;
  row >> device >> version >> versionAfter >> outcome >> error >> seconds >> requests >> resends;
  EXPECT_EQ(outcome, "ok");
  EXPECT_EQ(error, "-");
  EXPECT_GT(resends, 0u) << program.out;

  // read-config: one file per device, named after it.
  const CommandResult read =
      Ctl(port, all, {"--json", "read-config", "cfg-{device}.bin"}, folder.path());
  ExpectOnlyTheSilentFailed(read, port);
  auto readDevices = JsonDevices(read.out);
  for (std::size_t i = 0; i < working.size(); ++i) {
    EXPECT_EQ(ReadBytes(folder.path() / ("cfg-" + working[i] + ".bin")), configurations[i])
        << working[i];
    EXPECT_EQ(readDevices[Key(working[i], port)]["version"], "1.11") << read.out;
  }
  EXPECT_FALSE(fs::exists(folder.path() / ("cfg-" + kSilent + ".bin")));

  // update: each device's backup in a folder of its own.
  orvel::test::PackageContents package;
  package.version = {1, 111};
  package.program = PatternBytes(3000, 0x31);
  package.parts = {PatternBytes(600, 1)};
  package.tail = Bytes(20, 0xEE);
  orvel::test::WriteBytes(folder.path() / "site.update", orvel::test::BuildPackage(package));
  const CommandResult update =
      Ctl(port, all, {"--json", "--restart-wait", "1", "update", "site.update"}, folder.path());
  ExpectOnlyTheSilentFailed(update, port);
  for (std::size_t i = 0; i < working.size(); ++i) {
    EXPECT_EQ(ReadBytes(folder.path() / "Temp" / working[i] / "ConfBackup.bin"), configurations[i])
        << working[i];
  }
  EXPECT_FALSE(fs::exists(folder.path() / "Temp" / "ConfBackup.bin"));

  // write-config: the same file to every device that answers.
  const Bytes configuration = PatternBytes(44916, 0x42);
  orvel::test::WriteBytes(folder.path() / "site.bin", configuration);
  const CommandResult config = Ctl(port, answering, {"write-config", "site.bin"}, folder.path());
  EXPECT_EQ(config.exitCode, 0) << config.err;

  good.Stop();
  lossy.Stop();
  // The program of the update over the one written before it; the update's part; the
  // configuration written last.
  Bytes expected = image;
  std::copy(package.program.begin(), package.program.end(), expected.begin());
  for (const std::string& address : working) {
    EXPECT_EQ(ReadBytes(stateOf(address) / "program.bin"), expected) << address;
    EXPECT_EQ(ReadBytes(stateOf(address) / "parts" / "part-1.bin"), package.parts[0]) << address;
    EXPECT_EQ(ReadBytes(stateOf(address) / "config.bin"), configuration) << address;
  }
}

TEST(SiteCli, DevicesFileAndTheRulesOfSeveralDevices) {
  SimProcess site({"--version-number", "111"}, SimProcess::Site{"127.0.0.2-127.0.0.4"});
  const std::string port = std::to_string(site.port());
  orvel::test::TempFolder folder;
  const std::string list = "# the site\n127.0.0.2:" + port + "\n127.0.0.3:" + port +
                           "  # second\n\n127.0.0.4:" + port + "\n";
  orvel::test::WriteBytes(folder.path() / "site.txt", Bytes(list.begin(), list.end()));
  const auto ctl = [&](const std::vector<std::string>& args) {
    return orvel::test::RunCommand(ORVELCTL_PATH, args, folder.path(), std::chrono::seconds(30));
  };

  // Every device with its own port from the file; version as JSON, nothing else on stdout.
  const CommandResult version =
      ctl({"--devices", "site.txt", "-i", "127.0.0.1", "--json", "version"});
  EXPECT_EQ(version.exitCode, 0) << version.err;
  auto versions = JsonDevices(version.out);
  EXPECT_EQ(versions.size(), 3u) << version.out;
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
    nlohmann::json& device = versions[Key(address, site.port())];
    EXPECT_EQ(device["version"], "1.11") << version.out;
    EXPECT_EQ(device["kind"], 0) << version.out;
    EXPECT_EQ(device["result"], "ok") << version.out;
  }
  EXPECT_EQ(version.out.find("(kind"), std::string::npos) << version.out;

  // Bad usage, refused before anything is sent.
  const std::vector<std::vector<std::string>> refused = {
      {"-d", "127.0.0.2-127.0.0.4", "-p", port, "read-config", "cfg.bin"},
      {"-d", "127.0.0.2,127.0.0.3", "-p", port, "write-config", "-"},
      {"-d", "127.0.0.2", "-p", port, "--json", "read-config", "-"},
      {"-d", "127.0.0.2-127.0.0.4", "-p", port, "--jobs", "0", "version"},
      {"-d", "127.0.0.4-127.0.0.2", "-p", port, "version"},
      {"--devices", "missing.txt", "-p", port, "version"},
      {"-d", "127.0.0.2,127.0.0.3", "version"},  // no port, and no Settings.ini
  };
  for (const auto& args : refused) {
    const CommandResult result = ctl(args);
    EXPECT_EQ(result.exitCode, 2) << args[args.size() - 2] << " " << args.back() << result.err;
    EXPECT_TRUE(result.out.empty());
  }
  site.Stop();
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
    const auto log = ReadBytes(site.stateDir(address) / "requests.log");
    // The version runs only: one request each.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << address;
  }
}

// Devices of both generations on one port: the newer answer the version request, the older only
// the Read. A whole /24 is scanned within 4 s, and nobody else is listed.
TEST(SiteCli, ScanFindsBothGenerationsOfAWholeNetwork) {
  SimProcess newer({"--version-number", "111", "--version-kind", "2"},
                   SimProcess::Site{"127.0.0.2-127.0.0.4"});
  // The first version answer lost: only the second request finds it.
  SimProcess shy({"--version-number", "111", "--drop-first-version"}, SimProcess::Site{"127.0.0.9"},
                 newer.port());
  SimProcess older({"--version-number", "5", "--no-version-answer"},
                   SimProcess::Site{"127.0.0.30,127.0.0.31"}, newer.port());
  orvel::test::TempFolder folder;
  const std::string port = std::to_string(newer.port());
  const auto start = std::chrono::steady_clock::now();
  const CommandResult table = orvel::test::RunCommand(
      ORVELCTL_PATH, {"-p", port, "-i", "127.0.0.1", "scan", "127.0.0.0/24"}, folder.path(),
      std::chrono::seconds(30));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(table.exitCode, 0) << table.err;
  EXPECT_LT(took, std::chrono::seconds(4));
  std::istringstream lines(table.out);
  std::vector<std::string> found;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string device, version, kind;
    fields >> device >> version >> kind;
    found.push_back(device + " " + version + " " + kind);
  }
  EXPECT_EQ(found, (std::vector<std::string>{
                       "device version rtt", "127.0.0.2:" + port + " 1.11 (kind",
                       "127.0.0.3:" + port + " 1.11 (kind", "127.0.0.4:" + port + " 1.11 (kind",
                       "127.0.0.9:" + port + " 1.11 (kind", "127.0.0.30:" + port + " 0.xx (no",
                       "127.0.0.31:" + port + " 0.xx (no"}))
      << table.out;
  EXPECT_NE(table.out.find("1.11 (kind 2)"), std::string::npos);

  const CommandResult json = orvel::test::RunCommand(
      ORVELCTL_PATH, {"-p", port, "-i", "127.0.0.1", "--json", "scan", "127.0.0.3-127.0.0.30"},
      folder.path(), std::chrono::seconds(30));
  EXPECT_EQ(json.exitCode, 0) << json.err;
  auto scanned = JsonDevices(json.out);
  EXPECT_EQ(scanned[Key("127.0.0.3", newer.port())]["version"], "1.11") << json.out;
  EXPECT_EQ(scanned[Key("127.0.0.3", newer.port())]["kind"], 2) << json.out;
  nlohmann::json& old = scanned[Key("127.0.0.30", older.port())];
  EXPECT_TRUE(old["version"].is_null()) << json.out;
  EXPECT_TRUE(old["kind"].is_null()) << json.out;
  EXPECT_EQ(old["result"], "ok") << json.out;
  EXPECT_EQ(old["message"], "no version answer") << json.out;
  EXPECT_TRUE(old["rtt_ms"].is_number()) << json.out;
  EXPECT_EQ(scanned.count(Key("127.0.0.2", newer.port())), 0u) << json.out;
  EXPECT_EQ(scanned.count(Key("127.0.0.31", newer.port())), 0u) << json.out;
}

}  // namespace
