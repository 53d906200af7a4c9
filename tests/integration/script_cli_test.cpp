// orvelctl as a script sees it: every device's result, error code and warnings in a document that
// docs/json.md describes, exit statuses that tell a run that could not start from failed devices,
// and a run stopped by SIGINT or SIGTERM that still accounts for every device.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/interactive_run.h"
#include "support/package_builder.h"
#include "support/results_document.h"
#include "support/run_command.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::ByAddress;
using orvel::test::CommandResult;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;
using orvel::test::SimProcess;
using orvel::test::TempFolder;

std::vector<std::string> SiteArgs(std::uint16_t port, const std::string& devices,
                                  const std::vector<std::string>& command) {
  std::vector<std::string> args{"-d", devices, "-p", std::to_string(port), "-i", "127.0.0.1"};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

void WritePackage(const fs::path& path, std::uint8_t version, std::size_t programSize = 512) {
  PackageContents contents;
  contents.version = {0, version};
  contents.program = PatternBytes(programSize, 0x31);
  contents.parts = {PatternBytes(300, 1)};
  orvel::test::WriteBytes(path, orvel::test::BuildPackage(contents));
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

// The first column (`name`) of the table under a heading of docs/json.md.
std::set<std::string> Documented(const std::string& heading) {
  const std::string doc = ReadText(fs::path(ORVEL_SOURCE_DIR) / "docs" / "json.md");
  std::set<std::string> names;
  std::size_t at = doc.find("\n" + heading + "\n");
  if (at == std::string::npos) {
    ADD_FAILURE() << "docs/json.md has no heading " << heading;
    return names;
  }
  at = doc.find("\n|", at);
  const std::regex row(R"(^\| `([^`]+)` \|)");
  std::istringstream in(doc.substr(at + 1));
  for (std::string line; std::getline(in, line) && line.starts_with("|");) {
    std::smatch match;
    if (std::regex_search(line, match, row)) names.insert(match[1]);
  }
  return names;
}

// Every key, result and code of the document is one that docs/json.md describes.
void ExpectDocumented(const CommandResult& result) {
  const auto keys = Documented(
      "## The results document (version, read-config, write-config, "
      "write-program, update, restart)");
  const auto results = Documented("### Results");
  const auto errors = Documented("### Error codes");
  auto warnings = Documented("### Warning codes");
  warnings.insert(errors.begin(), errors.end());
  for (auto& [address, device] : ByAddress(result)) {
    for (const auto& [key, value] : device.items()) EXPECT_TRUE(keys.contains(key)) << key;
    for (const std::string& key : keys) EXPECT_TRUE(device.contains(key)) << key << device;
    EXPECT_TRUE(results.contains(device["result"])) << device;
    if (!device["error"].is_null()) {
      EXPECT_TRUE(errors.contains(device["error"])) << device;
    }
    for (auto& warning : device["warnings"]) {
      EXPECT_TRUE(warnings.contains(warning["code"])) << device;
    }
  }
}

// A site of every kind: two current devices, a 1.10 device that takes the update, one whose
// firmware is newer than the package, one whose package file is missing, and one the failure limit
// keeps from starting. The 1.10 device's "no configuration data" box is a warning, not its result.
TEST(ScriptCli, EveryDeviceSaysWhyInCodesThatTheDocumentDescribes) {
  TempFolder folder;
  SimProcess current({"--version-number", "111"}, SimProcess::Site{"127.0.0.2-127.0.0.3"});
  const std::uint16_t port = current.port();
  SimProcess older({"--version-number", "110"}, SimProcess::Site{"127.0.0.4"}, port);
  SimProcess newer({"--version-number", "112"}, SimProcess::Site{"127.0.0.5"}, port);
  SimProcess missing({"--version-number", "111"}, SimProcess::Site{"127.0.0.6"}, port);
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.7"}) {
    WritePackage(folder.path() / (std::string("pkg-") + address + ".update"), 111);
  }
  const CommandResult result = orvel::test::RunCommand(
      ORVELCTL_PATH,
      SiteArgs(port, "127.0.0.2-127.0.0.7",
               {"--jobs", "1", "--skip-current", "--no-downgrade", "--max-failed", "2",
                "--restart-wait", "0", "--json", "--log", "log.jsonl", "--retry-file", "retry.txt",
                "update", "pkg-{device}.update"}),
      folder.path(), std::chrono::seconds(120));
  EXPECT_EQ(result.exitCode, 1) << result.err;
  auto devices = ByAddress(result);
  ASSERT_EQ(devices.size(), 6u) << result.out;
  struct Expected {
    const char* address;
    const char* result;
    nlohmann::json error;
    std::vector<std::string> warnings;
  };
  const Expected expected[] = {
      {"127.0.0.2", "current", nullptr, {}},
      {"127.0.0.3", "current", nullptr, {}},
      {"127.0.0.4", "ok", nullptr, {"config-unknown"}},
      {"127.0.0.5", "failed", "downgrade", {}},
      {"127.0.0.6", "failed", "file-open", {}},
      {"127.0.0.7", "not started", "max-failed", {}},
  };
  for (const Expected& e : expected) {
    const nlohmann::json& device = devices[e.address];
    EXPECT_EQ(device["result"], e.result) << device;
    EXPECT_EQ(device["error"], e.error) << device;
    std::vector<std::string> warnings;
    for (const auto& warning : device["warnings"]) warnings.push_back(warning["code"]);
    EXPECT_EQ(warnings, e.warnings) << device;
    EXPECT_EQ(device["message"].get<std::string>().empty(), e.error.is_null()) << device;
  }
  // The dialog's box names no file: orvelctl adds it and the reason.
  const std::string fileOpen = devices["127.0.0.6"]["message"];
  EXPECT_NE(fileOpen.find("pkg-127.0.0.6.update (No such file or directory)"), std::string::npos)
      << fileOpen;
  ExpectDocumented(result);

  // Every device its log line, the one never started too, with the same result.
  std::size_t logged = 0;
  for (const std::string& line : Lines(ReadText(folder.path() / "log.jsonl"))) {
    const nlohmann::json entry = nlohmann::json::parse(line);
    EXPECT_EQ(entry["result"], devices[entry["device"].get<std::string>()]["result"]) << line;
    ++logged;
  }
  EXPECT_EQ(logged, 6u);
  const std::string p = ":" + std::to_string(port);
  EXPECT_EQ(Lines(ReadText(folder.path() / "retry.txt")),
            (std::set<std::string>{"127.0.0.5" + p, "127.0.0.6" + p, "127.0.0.7" + p}));
}

// An older firmware that answers no version request is not a device that is gone.
TEST(ScriptCli, VersionTellsASilentOlderFirmwareFromNoDevice) {
  TempFolder folder;
  SimProcess older({"--no-version-answer"}, SimProcess::Site{"127.0.0.2"});
  const CommandResult result = orvel::test::RunCommand(
      ORVELCTL_PATH, SiteArgs(older.port(), "127.0.0.2,127.0.0.9", {"--json", "version"}),
      folder.path(), std::chrono::seconds(60));
  EXPECT_EQ(result.exitCode, 1) << result.err;
  auto devices = ByAddress(result);
  EXPECT_EQ(devices["127.0.0.2"]["error"], "version-silent") << result.out;
  EXPECT_EQ(devices["127.0.0.9"]["error"], "no-answer") << result.out;
  ExpectDocumented(result);
}

// A package that is not there: named with the system's reason, nothing sent, exit 3.
TEST(ScriptCli, AMissingInputFileIsNamedAndTheRunDoesNotStart) {
  TempFolder folder;
  SimProcess sim({"--version-number", "111"});
  const CommandResult result = orvel::test::RunCommand(
      ORVELCTL_PATH, SiteArgs(sim.port(), SimProcess::kAddress, {"update", "nope.update"}),
      folder.path());
  EXPECT_EQ(result.exitCode, 3) << result.err;
  EXPECT_NE(result.err.find("Не удается открыть файл(ы):\nnope.update (No such file or directory)"),
            std::string::npos)
      << result.err;
  sim.Stop();
  EXPECT_EQ(sim.ReadStateText("requests.log"), "");
}

// Eight devices, two at a time, each taking a second or two; a stop request once the first has
// ended.
struct Interrupted {
  TempFolder folder;
  SimProcess sim{{"--version-number", "111", "--slow-every", "1", "--slow-ms", "3"},
                 SimProcess::Site{"127.0.0.2-127.0.0.9"}};
  CommandResult result;
  std::map<std::string, nlohmann::json> devices;

  explicit Interrupted(const std::vector<orvel::test::SignalWhen>& signals, unsigned columns = 0) {
    WritePackage(folder.path() / "site.update", 111, 8192);
    orvel::test::InteractiveRun run;
    run.columns = columns;
    run.signals = signals;
    run.timeLimit = std::chrono::seconds(120);
    result = orvel::test::RunInteractive(
        ORVELCTL_PATH,
        SiteArgs(sim.port(), "127.0.0.2-127.0.0.9",
                 {"--jobs", "2", "--restart-wait", "0", "--json", "--log", "log.jsonl",
                  "--retry-file", "retry.txt", "update", "site.update"}),
        folder.path(), run);
    devices = ByAddress(result);
  }

  std::set<std::string> With(const std::set<std::string>& results) {
    std::set<std::string> addresses;
    for (const auto& [address, device] : devices) {
      if (results.contains(device["result"])) {
        addresses.insert(address + ":" + std::to_string(sim.port()));
      }
    }
    return addresses;
  }

  // The document is whole, every device has its log line, the retry file lists the rest.
  void ExpectAccounted(const std::set<std::string>& rest) {
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_EQ(devices.size(), 8u) << result.out;
    ExpectDocumented(result);
    EXPECT_EQ(Lines(ReadText(folder.path() / "log.jsonl")).size(), 8u);
    EXPECT_EQ(Lines(ReadText(folder.path() / "retry.txt")), rest);
  }
};

class InterruptCli : public ::testing::TestWithParam<int> {};

// The first signal: the devices in flight finish their update, no other starts.
TEST_P(InterruptCli, DevicesInFlightFinishAndTheRestDoNotStart) {
  // A device's final line on stderr ("... ok  1.6 s  resent 0"): one has ended.
  Interrupted run({{"resent", GetParam()}});
  const std::set<std::string> notStarted = run.With({"not started"});
  run.ExpectAccounted(notStarted);
  EXPECT_GE(run.With({"ok"}).size(), 2u) << run.result.out;
  EXPECT_GE(notStarted.size(), 3u) << run.result.out;
  EXPECT_EQ(run.With({"ok", "not started"}).size(), 8u) << run.result.out;
  EXPECT_NE(run.result.err.find("Press Ctrl-C again"), std::string::npos) << run.result.err;
  run.sim.Stop();
  for (const auto& [address, device] : run.devices) {
    const fs::path requests = run.sim.stateDir(address) / "requests.log";
    if (device["result"] == "not started") {
      EXPECT_EQ(ReadText(requests), "") << address;
    } else {
      EXPECT_EQ(run.sim.ReadState(address + "/parts/part-1.bin"), PatternBytes(300, 1)) << address;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptCli, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                           return info.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

// The second signal: the updates in flight end where they are, their records kept for the next run.
TEST(InterruptCli, ASecondSignalStopsTheDevicesInFlightAtOnce) {
  // On a terminal the live lines show the first step while both devices are early in their
  // update: the two that start together also end together, so a device's last line comes too late.
  Interrupted run({{"read config", SIGINT}, {"Press Ctrl-C again", SIGINT}}, 80);
  const std::set<std::string> interrupted = run.With({"interrupted"});
  run.ExpectAccounted(run.With({"interrupted", "not started"}));
  EXPECT_GE(interrupted.size(), 1u) << run.result.out;
  for (const std::string& device : interrupted) {
    const std::string address = device.substr(0, device.find(':'));
    EXPECT_EQ(run.devices[address]["error"], "interrupted");
    // Once the configuration was saved, the record of the unfinished update stays.
    const fs::path record = run.folder.path() / ".orvel-state" / "orvelctl" /
                            (address + "-" + std::to_string(run.sim.port()) + ".pending");
    if (fs::exists(run.folder.path() / "Temp" / address / "ConfBackup.bin")) {
      EXPECT_TRUE(fs::exists(record)) << record;
    }
  }
}

}  // namespace
