#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "app/rules/settings_record.h"
#include "common/text.h"
#include "device/interfaces.h"
#include "platform/console.h"
#include "platform/file_io.h"

namespace orvel::cli {
namespace {

constexpr int kUsageError = 2;

constexpr Command kCommands[] = {
    {"version", nullptr, "print the device version: <major>.<minor> (kind <k>)", CmdVersion},
    {"read-config", "<out.bin>", "read the configuration into a file (- standard output)",
     CmdReadConfig},
    {"write-config", "<in.bin>",
     "write a configuration file, then ask for a restart (from standard input: -, as for the next "
     "two)",
     CmdWriteConfig},
    {"write-program", "<in.hex>", "write a program image", CmdWriteProgram},
    {"update", "<in.update>", "run the whole device update", CmdUpdate},
    {"restart", nullptr, "ask the device to restart", CmdRestart},
    {"scan", "<addresses>",
     "find the devices of a list, range or network (-p: their port): address, version, "
     "round-trip time",
     nullptr},
    {"interfaces", nullptr, "the local IPv4 interfaces (for -i)", nullptr},
};

constexpr const char* kFooter[] = {
    "Options go before or after the command; orvelctl <command> --help lists those that serve it.",
    "Several devices: read-config needs {device} in its file name (cfg-{device}.bin becomes "
    "cfg-10.0.0.5.bin); the other commands send the same file to every device; the update keeps "
    "each device's backups in Temp/<address>/. A table of the results ends the run on stdout: "
    "device, version before, version after (update), result (ok, current, failed, interrupted, "
    "not started), error code, seconds, requests, resends, message (docs/json.md lists the codes).",
    "Ctrl-C or SIGTERM: no new device starts, writes and updates in flight finish; a second one "
    "stops at once.",
    "Exit status: 0 every device ended ok or current, 1 some device did not, 2 bad usage, 3 the "
    "run "
    "could not start (the port in use, the log not writable, an input file missing): nothing was "
    "sent to any device; 130 stopped by SIGINT or SIGTERM.",
};

const Command& CommandNamed(std::string_view name) {
  return *std::find_if(std::begin(kCommands), std::end(kCommands),
                       [&](const Command& command) { return command.name == name; });
}

// One entry of the help: the name, then the text from column indent on, in lines of at most 80
// columns.
std::string Wrapped(std::string line, std::string_view text, std::size_t indent = 26) {
  line.resize(std::max(line.size(), indent), ' ');
  std::string lines;
  std::istringstream words{std::string(text)};
  for (std::string word; words >> word;) {
    if (line.size() > indent && line.size() + 1 + word.size() > 80) {
      lines += line + "\n";
      line.assign(indent, ' ');
    }
    line += (line.size() > indent ? " " : "") + word;
  }
  return lines + line + "\n";
}

std::string Entry(const Command& c) {
  return c.name + (c.argument ? " " + std::string(c.argument) : "");
}

// The group of an option that every command accepts names the commands it serves, whose help
// lists it; "tasks" stands for every command that runs a task on devices.
bool Serves(const CLI::Option& option, const std::string& command) {
  std::istringstream words(option.get_group());
  for (std::string word; words >> word;) {
    if (word == command || (word == "tasks" && CommandNamed(command).run)) return true;
  }
  return false;
}

// The help of orvelctl, or of one command with the options that serve it and its own.
std::string Help(const CLI::App* app, std::string, CLI::AppFormatMode) {
  const CLI::App* command = app->get_parent() ? app : nullptr;
  std::vector<const CLI::Option*> options = (command ? app->get_parent() : app)->get_options();
  std::string help = "usage: orvelctl [options] ";
  if (command) {
    const Command& c = CommandNamed(command->get_name());
    help += Entry(c) + "\n" + Wrapped("", c.description, 0);
    std::erase_if(options, [&](const CLI::Option* o) { return !Serves(*o, c.name); });
    for (const CLI::Option* own : command->get_options()) {
      if (own != command->get_help_ptr() && !own->get_positional()) options.push_back(own);
    }
  } else {
    help += "<command> [file]\ncommands:\n";
    for (const Command& c : kCommands) help += Wrapped("  " + Entry(c), c.description);
    std::erase(options, app->get_help_ptr());
  }
  options.push_back(app->get_help_ptr());
  help += "options:\n";
  for (const CLI::Option* option : options) {
    std::string name = option->get_name(false, true);  // "-d,--device"
    if (const auto comma = name.find(','); comma != std::string::npos) name.insert(comma + 1, " ");
    if (option->get_type_size() != 0) name += " " + option->get_type_name();
    help += Wrapped("  " + name, option->get_description());
  }
  if (command) return help;
  help += Wrapped("  --", "ends the options (for a file whose name begins with -)");
  for (const char* paragraph : kFooter) help += Wrapped("", paragraph, 0);
  return help;
}

// Whatever the user typed or a file held is shown escaped: see TerminalText.
int UsageError(const std::string& message, const std::string& command = "") {
  std::fprintf(stderr, "orvelctl: %s\nTry 'orvelctl %s%s--help'.\n", TerminalText(message).c_str(),
               command.c_str(), command.empty() ? "" : " ");
  return kUsageError;
}

// Numbers are decimal only, whatever the library would take: "040000" is forty thousand, not an
// octal number; no sign, blank or hexadecimal.
template <typename T>
CLI::Option* Number(CLI::App& app, const char* names, T& to, unsigned long min, unsigned long max,
                    const char* description) {
  const auto decimal = [](std::string& text) -> std::string {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
      return "not a decimal number: " + text;
    }
    text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
    return {};
  };
  return app.add_option(names, to, description)
      ->transform(CLI::Validator(decimal, ""))
      ->check(CLI::Range(min, max).description(""))
      ->type_name("N");
}

std::vector<DeviceEntry> AddressList(const std::string& text) {
  std::string error;
  const auto entries = ParseAddressList(text, error);
  if (!entries) throw CLI::ValidationError("--device", error);
  return *entries;
}

constexpr std::uint64_t kDevicesFileLimit = 4u << 20;

std::vector<DeviceEntry> DevicesFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  // A pipe too: the list may come from another program (--devices <(orvelctl scan --list ...)).
  const ReadStatus status = ReadWholeFileOrStream(PathFromArgument(path), bytes, kDevicesFileLimit);
  std::string error = ReadFailureText(status, kDevicesFileLimit);
  std::optional<std::vector<DeviceEntry>> entries;
  if (status == ReadStatus::Ok) {
    entries = ParseDeviceFile(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
  }
  if (!entries) throw CLI::ValidationError("--devices", path + ": " + error);
  return *entries;
}

void DeclareOptions(CLI::App& tool, Arguments& out) {
  const CLI::Validator notEmpty([](std::string& text) { return text.empty() ? "empty" : ""; }, "");
  // -d and --devices add to one list, in the order given.
  const auto devices = [&](const char* names, auto entries, const char* description) {
    const auto add = [&out, entries](const std::string& text) {
      const std::vector<DeviceEntry> more = entries(text);
      out.devices.insert(out.devices.end(), more.begin(), more.end());
    };
    return tool.add_option_function<std::string>(names, add, description)
        ->check(notEmpty)
        ->trigger_on_parse()
        ->group("tasks");
  };
  devices("-d,--device", AddressList,
          "device addresses (default: from Settings.ini): one A.B.C.D, a list 10.0.0.5,10.0.0.9, a "
          "range 10.0.0.5-10.0.0.40 or a network 10.0.0.0/27 (without its network and broadcast "
          "addresses)")
      ->type_name("LIST");
  devices("--devices", DevicesFile,
          "device addresses from FILE or a pipe: one a.b.c.d or a.b.c.d:port a line, # starts "
          "a comment")
      ->type_name("FILE");
  Number(tool, "-p,--port", out.port, 1, 65535, "device service port (default: from Settings.ini)")
      ->group("tasks scan");
  const auto interface = [&out](const std::string& text) {
    const auto address = ParseIPv4(text);
    if (!address) throw CLI::ValidationError("--interface", "not an IPv4 address: " + text);
    out.interfaceAddress = *address;
  };
  tool.add_option_function<std::string>("-i,--interface", interface,
                                        "local interface to bind (default: any)")
      ->type_name("A.B.C.D")
      ->group("tasks scan");
  Number(tool, "--jobs", out.jobs, 1, 256, "devices served at the same time (default 16)")
      ->group("tasks");
  Number(tool, "--wait-port", out.waitPort, 0, 3600,
         "seconds to wait for the interface and port when another program holds them, as another "
         "orvelctl does (default 0: fail at once, exit status 3)")
      ->type_name("S")
      ->group("tasks scan");
  tool.add_flag("--json", out.json, "print the results as one JSON document")
      ->group("tasks scan interfaces");
  Number(tool, "--retries", out.retries, 0, 1000000,
         "how often the update may retry a failed part without asking (several devices never "
         "ask: default 0)")
      ->group("update");
  Number(tool, "--restart-wait", out.restartWait, 0, 3600,
         "seconds to wait for the device after its restart (default 29)")
      ->type_name("S")
      ->group("update");
  tool.add_flag("--verify", out.verify,
                "write-config, write-program, update: read back what was written, before any "
                "restart; a difference fails the task")
      ->group("write-config write-program update");
  tool.add_flag("--fresh-backup", out.freshBackup,
                "update: read the device's configuration even when an earlier update of it "
                "stopped before the configuration was written back (by default the configuration "
                "saved before that update is used)")
      ->group("update");
  tool.add_flag("--skip-current", out.skipCurrent,
                "update: leave a device that already has the package's version as it is (result "
                "current); one whose last update from here did not end well is updated")
      ->group("update");
  tool.add_flag("--no-downgrade", out.noDowngrade,
                "update: refuse a package older than the device's firmware (result failed, "
                "nothing written)")
      ->group("update");
  tool.add_flag("--check-version", out.checkVersion,
                "update: a device that reports another version than the package's after the "
                "update has failed")
      ->group("update");
  Number(tool, "--canary", out.rollout.canary, 1, 1000000,
         "the first N devices of the list go first, alone; the others start only when all N "
         "ended ok or current, else they end not started")
      ->group("write-config write-program update");
  const auto maxFailed = [&out](const std::string& text) {
    const bool percent = !text.empty() && text.back() == '%';
    const std::string digits = percent ? text.substr(0, text.size() - 1) : text;
    const unsigned long most = percent ? 100 : 1000000;
    unsigned long value = 0;
    const bool decimal = !digits.empty() && digits.size() <= 7 &&
                         digits.find_first_not_of("0123456789") == std::string::npos;
    if (decimal) value = std::stoul(digits);
    if (!decimal || value < 1 || value > most) {
      throw CLI::ValidationError("--max-failed",
                                 "not a number of devices (1 or more) or a share "
                                 "(1% to 100%): " +
                                     text);
    }
    out.rollout.maxFailed = FailureLimit{static_cast<unsigned>(value), percent};
  };
  tool.add_option_function<std::string>(
          "--max-failed", maxFailed,
          "once N devices (or P% of the list, rounded up) failed, no new device starts; the rest "
          "end not started")
      ->type_name("N|P%")
      ->group("write-config write-program update");
  const auto restartPoll = [&out](const std::string& text) {
    if (text != "on" && text != "off") {
      throw CLI::ValidationError("--restart-poll", "on or off, not " + text);
    }
    out.restartPoll = text == "on";
  };
  tool.add_option_function<std::string>(
          "--restart-poll", restartPoll,
          "update: on (default) ends the wait after the restart when the device answers again, "
          "asking it every 0.5 s; off waits the whole --restart-wait")
      ->type_name("on|off")
      ->group("update");
  tool.add_option("--state-dir", out.stateDir,
                  "update: where the record of an unfinished update of each device is kept "
                  "(default: $XDG_STATE_HOME/orvelctl, else ~/.local/state/orvelctl; on Windows "
                  "%LOCALAPPDATA%\\OrvelTools)")
      ->check(notEmpty)
      ->type_name("DIR")
      ->group("update");
  tool.add_flag("--force", out.force,
                "write-config: write a file longer than the device's configuration area anyway")
      ->group("write-config");
  Number(tool, "--resend-ms", out.resendMs, 30, 1500,
         "a fixed wait in ms before an unanswered request goes again (default: it follows the "
         "device's round trip, 30 to 1500; 1500: the desktop tool's)")
      ->group("read-config write-config write-program update");
  Number(tool, "--window", out.window, 1, 32,
         "the most requests out at once in a transfer (1..32, default 1: one after the other); "
         "raise it for a distant device that takes them")
      ->group("read-config write-config write-program update");
  tool.add_flag("--trace", out.trace, "print every datagram sent and received on stderr")
      ->group("tasks scan");
  tool.add_option("--log", out.log,
                  "append one JSON line about the task to FILE (one that cannot be opened: exit "
                  "status 3 before anything is sent)")
      ->check(notEmpty)
      ->type_name("FILE")
      ->group("tasks");
  tool.add_option("--retry-file", out.retryFile,
                  "write the devices that did not end ok or current to FILE, one a line, for "
                  "--devices FILE next time")
      ->check(notEmpty)
      ->type_name("FILE")
      ->group("tasks");
  tool.set_version_flag("--version", std::string("orvelctl ") + kToolVersion,
                        "the version of orvelctl");
}

// "Settings.ini" of the current directory, read as the dialog reads it: one record
// "a.b.c.d:port". The address counts only when all four fields were read, the port only when it was
// read too. False for a record that names no device (a field out of range); a file that is no plain
// file is not opened at all and counts as missing.
bool ReadSettings(std::optional<std::uint32_t>& device, std::optional<std::uint16_t>& port) {
  std::vector<std::uint8_t> bytes;
  const ReadStatus status = ReadWholeFile(app::kSettingsFileName, bytes, 4096);
  if (status != ReadStatus::Ok) return status != ReadStatus::TooLarge;
  const std::wstring text(bytes.begin(), bytes.end());
  const app::SettingsRecord record = app::ParseSettingsRecord(text);
  if (record.outOfRange) return false;
  if (record.fieldsRead >= 4 && !device) device = app::PackAddress(record.address);
  if (record.fieldsRead == 5 && !port && record.port != 0) port = record.port;
  return true;
}

// A request sent to an address of this computer comes back to the tool's own socket, where it
// would be taken for the device's answer. Such addresses are left out of the list, with one line
// on stderr; a list of nothing else is bad usage. Returns 0 or the usage error's status.
int LeaveOutThisComputer(std::vector<DeviceEntry>& devices, std::uint32_t boundAddress) {
  const std::vector<std::uint32_t> local = LeaveOut(devices, AddressesOfThisComputer(boundAddress));
  if (local.empty()) return 0;
  std::string addresses;
  for (const std::uint32_t address : local) {
    addresses += (addresses.empty() ? "" : ", ") + FormatIPv4(address);
  }
  const std::string what = local.size() == 1 ? "an address of this computer, not a device"
                                             : "addresses of this computer, not devices";
  if (devices.empty()) return UsageError(addresses + ": " + what);
  std::fprintf(stderr, "orvelctl: %s left out: %s\n", addresses.c_str(), what.c_str());
  return 0;
}

// The devices of the run, each once and with its port: those of the scan's list, or of -d and
// --devices; Settings.ini is read only for what the command line leaves open.
int SettleDevices(Arguments& out, bool scan) {
  std::string error;
  if (scan) {
    const auto entries = ParseAddressList(*out.file, error);
    if (!entries) return UsageError(error);
    out.devices = *entries;
  }
  const auto portless = [&out] {
    return !out.port && std::any_of(out.devices.begin(), out.devices.end(),
                                    [](const DeviceEntry& entry) { return !entry.port; });
  };
  if (out.devices.empty() || portless()) {
    std::optional<std::uint32_t> device;
    if (!ReadSettings(device, out.port)) {
      return UsageError(std::string("Settings.ini holds no valid record a.b.c.d:port; give ") +
                        (scan ? "-p" : "-d and -p"));
    }
    if (out.devices.empty() && device) out.devices.push_back({*device, std::nullopt});
  }
  if (out.devices.empty())
    return UsageError("no device address: give -d or put it in Settings.ini");
  if (portless()) return UsageError("no device port: give -p or put it in Settings.ini");
  if (!scan) {
    auto devices = WithPorts(out.devices, out.port, error);
    if (!devices) return UsageError(error);
    out.devices = std::move(*devices);
  }
  return LeaveOutThisComputer(out.devices, out.interfaceAddress);
}

// The rules of a run over several devices and of standard output.
int CheckSeveralDevices(const Arguments& out) {
  const bool several = out.devices.size() > 1;
  const bool readConfig = std::string_view(out.command->name) == "read-config";
  if (several && out.file && *out.file == "-") {
    return UsageError("- (standard input or output) serves one device only");
  }
  if (several && readConfig && !HasDevicePattern(*out.file)) {
    return UsageError("read-config with several devices needs {device} in the file name (" +
                      *out.file + "), e.g. cfg-{device}.bin");
  }
  if (out.json && readConfig && *out.file == "-") {
    return UsageError("--json and read-config - cannot share standard output");
  }
  return 0;
}

}  // namespace

std::optional<int> ReadCommandLine(int argc, const char* const* argv, Arguments& out) {
  CLI::App tool("", "orvelctl");
  tool.formatter_fn(Help);
  tool.set_help_flag("-h,--help", "this text");
  tool.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  tool.require_subcommand(0, 1);
  tool.fallthrough();  // the shared options after the command too
  DeclareOptions(tool, out);
  std::string argument;
  for (const Command& command : kCommands) {
    CLI::App& sub = *tool.add_subcommand(command.name, command.description);
    if (command.argument) sub.add_option(command.run ? "file" : "addresses", argument)->required();
    if (command.name == std::string_view("scan")) {
      sub.add_flag("--list", out.list,
                   "print only the devices found, one a.b.c.d:port a line: a devices file");
    }
  }

  try {
    tool.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(tool.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    const auto commands = tool.get_subcommands();
    return UsageError(e.what(), commands.empty() ? "" : commands.front()->get_name());
  }
  if (tool.get_subcommands().empty()) return UsageError("no command given");
  out.command = &CommandNamed(tool.get_subcommands().front()->get_name());
  if (out.command->argument) out.file = argument;
  const std::string_view name = out.command->name;
  if (name == "interfaces") return std::nullopt;
  if (out.list && out.json) return UsageError("--list and --json: choose one", "scan");
  if (SettleDevices(out, name == "scan") != 0 || CheckSeveralDevices(out) != 0) return kUsageError;
  return std::nullopt;
}

}  // namespace orvel::cli
