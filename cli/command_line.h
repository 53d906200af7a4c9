#pragma once
// orvelctl's command line: a command, its own options, and the options every command shares, which
// go before or after it. After the options, what they leave open comes from Settings.ini, and the
// rules of a run over several devices are settled, all before anything is sent.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/rollout.h"
#include "common/address_list.h"

namespace orvel::cli {

constexpr const char* kToolVersion = "1.0.0";

struct Command {
  const char* name;
  const char* argument;  // its one argument as the help shows it ("<out.bin>"); null: none
  const char* description;
  int (*run)(CliContext&);  // null: a command that serves no device of its own
};

struct Arguments {
  std::vector<DeviceEntry> devices;  // from -d and --devices in their order; for scan its list
  std::optional<std::uint16_t> port;
  unsigned jobs = 16;
  unsigned waitPort = 0;  // seconds to wait for a port another program holds
  bool list = false;      // scan --list
  bool json = false;
  std::uint32_t interfaceAddress = 0;
  std::optional<unsigned> retries;
  unsigned restartWait = 29;
  bool freshBackup = false;
  bool verify = false;
  // What a rollout makes of each device's version (update), and how far it goes (see
  // cli/rollout.h).
  bool skipCurrent = false;
  bool noDowngrade = false;
  bool checkVersion = false;
  RolloutRules rollout;
  bool restartPoll = true;              // the wait after the restart ends when the device is back
  std::optional<std::string> stateDir;  // where the records of unfinished updates are kept
  bool force = false;                   // write-config: a file longer than the device's area too
  bool trace = false;
  // The pace of region reads and writes and the program transfer: a fixed resend interval in ms
  // (none: it follows the device's round trip), and the most requests out at once.
  std::optional<unsigned> resendMs;
  unsigned window = 1;
  std::optional<std::string> log;
  std::optional<std::string> retryFile;  // the devices that did not end ok or current go there
  const Command* command = nullptr;
  std::optional<std::string> file;  // the command's argument
};

// Reads the command line into arguments. Nothing when the run goes on; else the exit status, with
// the help, the version or the usage error (on stderr, escaped) already written.
std::optional<int> ReadCommandLine(int argc, const char* const* argv, Arguments& arguments);

}  // namespace orvel::cli
