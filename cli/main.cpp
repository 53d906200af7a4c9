// orvelctl: the command-line front end over the same core as the dialog, for one device or many.
//   orvelctl [options] <command> [file]
// Exit status: 0 every device succeeded, 1 a task failed (its boxes are on stderr), 2 bad usage.
// Every run, of one device or many, goes through the same runner and the shared socket.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/rules/settings_record.h"
#include "cli/commands.h"
#include "cli/device_runner.h"
#include "cli/scan.h"
#include "cli/status_board.h"
#include "cli/task_log.h"
#include "cli/trace.h"
#include "common/address_list.h"
#include "common/sha256.h"
#include "common/text.h"
#include "device/interfaces.h"
#include "device/shared_link.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/utf8.h"

namespace {

constexpr const char* kToolVersion = "1.0.0";
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: orvelctl [options] <command> [file]\n"
    "commands:\n"
    "  version                 print the device version: <major>.<minor> (kind <k>)\n"
    "  read-config <out.bin>   read the configuration into a file (- standard output)\n"
    "  write-config <in.bin>   write a configuration file, then ask for a restart (- standard\n"
    "                          input, as for the next two)\n"
    "  write-program <in.hex>  write a program image\n"
    "  update <in.update>      run the whole device update\n"
    "  restart                 ask the device to restart\n"
    "  scan <addresses>        find the devices of a list, range or network (-p: their port):\n"
    "                          address, version, round-trip time\n"
    "  interfaces              the local IPv4 interfaces (for -i)\n"
    "options:\n"
    "  -d, --device LIST       device addresses (default: from Settings.ini): one A.B.C.D, a\n"
    "                          list 10.0.0.5,10.0.0.9, a range 10.0.0.5-10.0.0.40 or a network\n"
    "                          10.0.0.0/27 (without its network and broadcast addresses)\n"
    "  --devices FILE          device addresses from FILE: one a.b.c.d or a.b.c.d:port a line,\n"
    "                          # starts a comment\n"
    "  -p, --port N            device service port (default: from Settings.ini)\n"
    "  -i, --interface A.B.C.D local interface to bind (default: any)\n"
    "  --jobs N                devices served at the same time (default 16)\n"
    "  --json                  print the results as one JSON document\n"
    "  --retries N             how often the update may retry a failed part without asking\n"
    "                          (several devices never ask: default 0)\n"
    "  --restart-wait S        seconds to wait for the device after its restart (default 29)\n"
    "  --verify                write-config, write-program, update: read back what was\n"
    "                          written, before any restart; a difference fails the task\n"
    "  --fresh-backup          update: read the device's configuration even when an earlier\n"
    "                          update of it stopped before the configuration was written back\n"
    "                          (by default the configuration saved before that update is used)\n"
    "  --trace                 print every datagram sent and received on stderr\n"
    "  --log FILE              append one JSON line about the task to FILE\n"
    "  -h, --help              this text\n"
    "  --version               the version of orvelctl\n"
    "  --                      ends the options (for a file whose name begins with -)\n"
    "Several devices: read-config needs {device} in its file name (cfg-{device}.bin becomes\n"
    "cfg-10.0.0.5.bin); the other commands send the same file to every device; the update keeps\n"
    "each device's backups in Temp/<address>/. A table of the results ends the run on stdout:\n"
    "device, version before, result, seconds, requests, resends, message.\n"
    "Exit status: 0 every device succeeded, 1 any failed, 2 bad usage.\n";

struct Command {
  const char* name;
  bool takesFile;
  int (*run)(orvel::cli::CliContext&);  // null: a command that serves no device of its own
};

constexpr Command kCommands[] = {
    {"version", false, orvel::cli::CmdVersion},
    {"read-config", true, orvel::cli::CmdReadConfig},
    {"write-config", true, orvel::cli::CmdWriteConfig},
    {"write-program", true, orvel::cli::CmdWriteProgram},
    {"update", true, orvel::cli::CmdUpdate},
    {"restart", false, orvel::cli::CmdRestart},
    {"scan", true, nullptr},
    {"interfaces", false, nullptr},
};

bool Is(const Command* command, std::string_view name) { return command && command->name == name; }

struct Arguments {
  std::vector<orvel::DeviceEntry> devices;  // from -d and --devices, in their order
  std::optional<std::uint16_t> port;
  unsigned jobs = 16;
  bool json = false;
  std::uint32_t interfaceAddress = 0;
  std::optional<unsigned> retries;
  unsigned restartWait = 29;
  bool freshBackup = false;
  bool verify = false;
  bool trace = false;
  std::optional<std::string> log;
  const Command* command = nullptr;
  std::optional<std::string> file;
  bool help = false;
  bool version = false;
};

std::optional<unsigned long> ParseNumber(std::string_view text, unsigned long max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// "Settings.ini" of the current directory, read as the dialog reads it: one record
// "a.b.c.d:port". The address counts only when all four fields were read, the port only when it was
// read too. False for a record that names no device (a field out of range); a file that is no plain
// file is not opened at all and counts as missing.
bool ReadSettings(std::optional<std::uint32_t>& device, std::optional<std::uint16_t>& port) {
  std::vector<std::uint8_t> bytes;
  switch (orvel::ReadWholeFile(orvel::app::kSettingsFileName, bytes, 4096)) {
    case orvel::ReadStatus::Ok:
      break;
    case orvel::ReadStatus::TooLarge:
      return false;
    default:
      return true;
  }
  const std::wstring text(bytes.begin(), bytes.end());
  const orvel::app::SettingsRecord record = orvel::app::ParseSettingsRecord(text);
  if (record.outOfRange) return false;
  if (record.fieldsRead >= 4 && !device) device = orvel::app::PackAddress(record.address);
  if (record.fieldsRead == 5 && !port && record.port != 0) port = record.port;
  return true;
}

// A devices file longer than this is no list of devices.
constexpr std::uint64_t kDevicesFileLimit = 4u << 20;

// Whatever the user typed or a file held is shown escaped: see TerminalText.
int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvelctl: %s\nTry 'orvelctl --help'.\n",
               orvel::TerminalText(message).c_str());
  return kUsageError;
}

// The entries of a devices file; nothing after a usage error (already reported).
std::optional<std::vector<orvel::DeviceEntry>> ReadDevicesFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  const orvel::ReadStatus status =
      orvel::ReadWholeFile(orvel::PathFromArgument(path), bytes, kDevicesFileLimit);
  if (status != orvel::ReadStatus::Ok) {
    UsageError("the devices file " + path + ": " +
               orvel::ReadFailureText(status, kDevicesFileLimit));
    return std::nullopt;
  }
  std::string error;
  auto entries = orvel::ParseDeviceFile(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
  if (!entries) UsageError(path + ": " + error);
  return entries;
}

std::string AddressesText(const std::vector<std::uint32_t>& addresses) {
  std::string text;
  for (const std::uint32_t address : addresses) {
    if (!text.empty()) text += ", ";
    text += orvel::FormatIPv4(address);
  }
  return text;
}

// A request sent to an address of this computer comes back to the tool's own socket, where it
// would be taken for the device's answer. Such addresses are left out of the list, with one line
// on stderr; a list of nothing else is bad usage. Returns 0 or the usage error's status.
int LeaveOutThisComputer(std::vector<orvel::DeviceEntry>& devices, std::uint32_t boundAddress) {
  const std::vector<std::uint32_t> local =
      orvel::LeaveOut(devices, orvel::AddressesOfThisComputer(boundAddress));
  if (local.empty()) return 0;
  const std::string what = local.size() == 1 ? "an address of this computer, not a device"
                                             : "addresses of this computer, not devices";
  if (devices.empty()) return UsageError(AddressesText(local) + ": " + what);
  std::fprintf(stderr, "orvelctl: %s left out: %s\n", AddressesText(local).c_str(), what.c_str());
  return 0;
}

// Fills arguments; returns 0, or the exit status of a usage error (already reported).
int ParseArguments(const std::vector<std::string>& args, Arguments& out) {
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (optionsEnded) {
      positional.push_back(name);
      continue;
    }
    if (name == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (name.starts_with("--") && name.find('=') != std::string::npos) {
      inlineValue = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };

    if (name == "-h" || name == "--help") {
      out.help = true;
    } else if (name == "--version") {
      out.version = true;
    } else if (name == "--fresh-backup") {
      out.freshBackup = true;
    } else if (name == "--verify") {
      out.verify = true;
    } else if (name == "--trace") {
      out.trace = true;
    } else if (name == "--log") {
      const auto path = value();
      if (!path || path->empty()) return UsageError("--log needs a file");
      out.log = *path;
    } else if (name == "--json") {
      out.json = true;
    } else if (name == "-d" || name == "--device") {
      const auto text = value();
      if (!text) return UsageError(name + " needs an address");
      std::string error;
      const auto entries = orvel::ParseAddressList(*text, error);
      if (!entries) return UsageError(error);
      out.devices.insert(out.devices.end(), entries->begin(), entries->end());
    } else if (name == "--devices") {
      const auto path = value();
      if (!path || path->empty()) return UsageError("--devices needs a file");
      const auto entries = ReadDevicesFile(*path);
      if (!entries) return kUsageError;
      out.devices.insert(out.devices.end(), entries->begin(), entries->end());
    } else if (name == "-i" || name == "--interface") {
      const auto text = value();
      if (!text) return UsageError(name + " needs an address");
      const auto address = orvel::ParseIPv4(*text);
      if (!address) return UsageError("not an IPv4 address: " + *text);
      out.interfaceAddress = *address;
    } else if (name == "-p" || name == "--port") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a port");
      const auto port = ParseNumber(*text, 65535);
      if (!port || *port == 0) return UsageError("not a port (1..65535): " + *text);
      out.port = static_cast<std::uint16_t>(*port);
    } else if (name == "--retries" || name == "--restart-wait" || name == "--jobs") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a number");
      const unsigned long max = name == "--retries" ? 1000000 : name == "--jobs" ? 256 : 3600;
      const auto number = ParseNumber(*text, max);
      if (!number || (name == "--jobs" && *number == 0)) {
        return UsageError("bad value for " + name + ": " + *text);
      }
      if (name == "--retries") {
        out.retries = static_cast<unsigned>(*number);
      } else if (name == "--jobs") {
        out.jobs = static_cast<unsigned>(*number);
      } else {
        out.restartWait = static_cast<unsigned>(*number);
      }
    } else if (name.size() > 1 && name[0] == '-') {
      return UsageError("unknown option " + name);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (out.help || out.version) return 0;

  if (positional.empty()) return UsageError("no command given");
  for (const Command& command : kCommands) {
    if (positional[0] == command.name) out.command = &command;
  }
  if (!out.command) return UsageError("unknown command " + positional[0]);
  const std::size_t expected = out.command->takesFile ? 2 : 1;
  if (positional.size() < expected) {
    return UsageError(std::string(out.command->name) +
                      (Is(out.command, "scan") ? " needs addresses" : " needs a file"));
  }
  if (positional.size() > expected)
    return UsageError("unexpected argument " + positional[expected]);
  if (out.command->takesFile) out.file = positional[1];
  if (Is(out.command, "interfaces")) return 0;
  if (Is(out.command, "scan")) {
    std::string error;
    const auto entries = orvel::ParseAddressList(*out.file, error);
    if (!entries) return UsageError(error);
    out.devices = *entries;
    if (!out.port) {
      std::optional<std::uint32_t> ignored;
      if (!ReadSettings(ignored, out.port)) {
        return UsageError("Settings.ini holds no valid record a.b.c.d:port; give -p");
      }
      if (!out.port) return UsageError("no device port: give -p or put it in Settings.ini");
    }
    return LeaveOutThisComputer(out.devices, out.interfaceAddress);
  }

  // Settings.ini is read only for what the command line leaves open.
  const bool portMissing =
      !out.port && std::any_of(out.devices.begin(), out.devices.end(),
                               [](const orvel::DeviceEntry& entry) { return !entry.port; });
  if (out.devices.empty() || portMissing) {
    std::optional<std::uint32_t> device;
    if (!ReadSettings(device, out.port)) {
      return UsageError("Settings.ini holds no valid record a.b.c.d:port; give -d and -p");
    }
    if (out.devices.empty() && device) out.devices.push_back({*device, std::nullopt});
  }
  if (out.devices.empty()) {
    return UsageError("no device address: give -d or put it in Settings.ini");
  }
  for (const orvel::DeviceEntry& entry : out.devices) {
    if (!entry.port && !out.port) {
      return UsageError("no device port: give -p or put it in Settings.ini");
    }
  }
  std::string error;
  auto devices = orvel::WithPorts(out.devices, out.port, error);
  if (!devices) return UsageError(error);
  out.devices = std::move(*devices);
  if (const int status = LeaveOutThisComputer(out.devices, out.interfaceAddress)) return status;

  // Rules of a run over several devices, settled before anything is sent.
  const bool several = out.devices.size() > 1;
  const bool readConfig = std::string_view(out.command->name) == "read-config";
  if (several && out.file && *out.file == "-") {
    return UsageError("- (standard input or output) serves one device only");
  }
  if (several && readConfig && !orvel::HasDevicePattern(*out.file)) {
    return UsageError("read-config with several devices needs {device} in the file name (" +
                      *out.file + "), e.g. cfg-{device}.bin");
  }
  if (out.json && readConfig && *out.file == "-") {
    return UsageError("--json and read-config - cannot share standard output");
  }
  return 0;
}

// Everything written to standard output must have arrived there: a result that was lost (a full
// disk, a closed pipe) is a failure, not a success.
// Messages on stderr count as well: a trace or a box cut off by a closed pipe is lost output.
int ResultsWritten(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orvelctl: the results could not be written to standard output: %s\n",
                 std::strerror(errno));
    return status == 0 ? 1 : status;
  }
  if (std::ferror(stderr)) return status == 0 ? 1 : status;
  return status;
}

// The SHA-256 of a file, in hexadecimal; nothing when it cannot be read.
std::optional<std::string> FileDigest(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  if (orvel::ReadWholeFile(path, bytes) != orvel::ReadStatus::Ok) return std::nullopt;
  return orvel::Sha256::Hex(orvel::Sha256::Of(bytes.data(), bytes.size()));
}

// Boxes as one text: "caption: text; caption: text".
std::string BoxesText(const orvel::ConsoleDesktop& desktop) {
  std::string message;
  for (const auto& [caption, text] : desktop.Boxes()) {
    if (!message.empty()) message += "; ";
    message += orvel::ToUtf8(caption) + ": " + orvel::ToUtf8(text);
  }
  return message;
}

void LogTask(const Arguments& arguments, const std::optional<std::string>& file,
             const CDeviceSession& session, const orvel::ConsoleDesktop& desktop,
             std::time_t started, int status) {
  orvel::cli::TaskLogEntry entry;
  entry.time = started;
  entry.tool = std::string("orvelctl ") + kToolVersion;
  entry.device = session.m_deviceAddress;
  entry.port = session.m_port;
  entry.deviceVersion = session.m_stats.deviceVersion;
  entry.task = arguments.command->name;
  entry.file = file;
  // Standard input is gone and standard output cannot be read back.
  if (file && *file != "-") entry.sha256 = FileDigest(orvel::PathFromArgument(*file));
  entry.requests = session.m_stats.requests;
  entry.resends = session.m_stats.resends;
  entry.ok = status == 0;
  entry.message = BoxesText(desktop);
  if (!orvel::cli::AppendTaskLog(orvel::PathFromArgument(*arguments.log),
                                 orvel::cli::TaskLogLine(entry))) {
    std::fprintf(stderr, "orvelctl: cannot append to the log %s\n",
                 orvel::TerminalText(*arguments.log).c_str());
  }
}

int RunCommand(const Arguments& arguments, const std::optional<std::string>& file,
               CDeviceSession& session, orvel::ConsoleDesktop& desktop) {
  orvel::cli::CliContext context{session, desktop, std::nullopt};
  if (file) context.file = orvel::PathFromArgument(*file);
  context.printResult = !arguments.json && arguments.devices.size() == 1;
  try {
    return arguments.command->run(context);
  } catch (...) {
    session.ShowFailure(L"Ошибка потока:0x000A");
  }
  return 1;
}

// What every device of a run shares: the sockets, the live lines, the trace's start, the log.
struct RunShared {
  orvel::SharedSockets& sockets;
  orvel::cli::StatusBoard& board;
  bool live = false;  // the board draws on a terminal
  orvel::IClock& clock;
  std::int64_t startMs = 0;
  std::mutex logMutex;
};

// A device's boxes and progress, as lines of the board. Called on the device's own thread, which
// is also the only one that touches its session.
class DeviceLines final : public orvel::IConsoleLines {
 public:
  DeviceLines(orvel::cli::StatusBoard& board, std::size_t line) : m_board(board), m_line(line) {}
  void Watch(const CDeviceSession& session) { m_session = &session; }

  void Message(const std::string& text) override { m_board.Print(text); }
  void Progress(std::uint16_t pos, std::uint16_t max, const std::wstring& status) override {
    const unsigned percent = max == 0 ? 0 : unsigned{pos} * 100u / max;
    m_board.Update(m_line, percent, orvel::ToUtf8(status), m_session ? m_session->m_stats.bytes : 0,
                   m_session ? m_session->m_stats.resends : 0);
  }
  void Hold(bool held) override { m_board.Hold(held); }

 private:
  orvel::cli::StatusBoard& m_board;
  std::size_t m_line;
  const CDeviceSession* m_session = nullptr;
};

orvel::cli::DeviceResult RunDevice(const Arguments& arguments, RunShared& shared,
                                   const orvel::Endpoint& device, std::size_t line) {
  const bool several = arguments.devices.size() > 1;
  DeviceLines lines(shared.board, line);
  orvel::ConsoleDesktop::Options options;
  options.inIsTerminal = !several && orvel::IsTerminal(stdin);
  // Several devices never ask: a question waiting for one would hold up the terminal for all.
  options.retries = several ? arguments.retries.value_or(0) : arguments.retries;
  if (several) options.prefix = orvel::cli::EndpointText(device) + ": ";
  if (shared.live) options.lines = &lines;
  orvel::ConsoleDesktop desktop(options);
  CDeviceSession session(desktop, shared.clock,
                         std::make_unique<orvel::SharedLink>(shared.sockets, desktop));
  lines.Watch(session);

  // What the dialog's PrepareConnection does before every task.
  session.m_timeLimit = 40;
  session.m_deviceAddress = device.address;
  session.m_port = device.port;
  session.m_localAddress = arguments.interfaceAddress;
  session.m_restartWaitSteps = arguments.restartWait;
  session.m_keptBackup =
      arguments.freshBackup ? KeptBackupPolicy::ReadFresh : KeptBackupPolicy::UseKept;
  session.m_verify = arguments.verify;
  if (several) {
    const std::string folder = orvel::FormatIPv4(device.address);
    session.m_deviceFolder.assign(folder.begin(), folder.end());
  }
  std::optional<orvel::cli::TraceWriter> trace;
  if (arguments.trace) {
    session.SetTrafficObserver(&trace.emplace(stderr, shared.clock, shared.startMs));
  }
  session.BeginTask();

  std::optional<std::string> file = arguments.file;
  if (file && orvel::HasDevicePattern(*file)) {
    file = orvel::ExpandDevicePattern(*file, device.address);
  }
  shared.board.Start(line, arguments.command->name);
  const std::time_t started = std::time(nullptr);
  const int status = RunCommand(arguments, file, session, desktop);
  shared.board.Finish(line, status == 0);
  if (arguments.log) {
    const std::lock_guard lock(shared.logMutex);
    LogTask(arguments, file, session, desktop, started, status);
  }

  orvel::cli::DeviceResult result;
  result.version = session.m_stats.deviceVersion;
  // A silent device answers the version query with nothing: no version.
  if (result.version && result.version->kind == 0 && result.version->number == 0) {
    result.version.reset();
  }
  result.status = status;
  result.message = BoxesText(desktop);
  result.requests = session.m_stats.requests;
  result.resends = session.m_stats.resends;
  return result;
}

int RunInterfaces(const Arguments& arguments) {
  std::vector<std::uint32_t> interfaces;
  try {
    interfaces = orvel::LocalIPv4Interfaces();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvelctl: the local interfaces cannot be told: %s\n", e.what());
    return 1;
  }
  std::string text;
  for (const std::uint32_t address : interfaces) text += orvel::FormatIPv4(address) + "\n";
  if (arguments.json) text = orvel::cli::InterfacesJson(interfaces);
  std::fputs(text.c_str(), stdout);
  return 0;
}

int RunScan(const Arguments& arguments) {
  std::vector<std::uint32_t> addresses;
  for (const orvel::DeviceEntry& entry : arguments.devices) addresses.push_back(entry.address);
  orvel::SteadyClock clock;
  std::optional<orvel::cli::TraceWriter> strangers;
  if (arguments.trace) strangers.emplace(stderr, clock);
  orvel::SharedSockets sockets(strangers ? &*strangers : nullptr);
  std::vector<orvel::cli::FoundDevice> found;
  try {
    found = orvel::cli::Scan(sockets.For(arguments.interfaceAddress, *arguments.port), addresses,
                             *arguments.port);
  } catch (const boost::system::system_error& e) {
    orvel::ConsoleDesktop desktop({});
    orvel::ShowOpenFailure(desktop, e);
    return 1;
  }
  const std::string text =
      arguments.json ? orvel::cli::ScanJson(found) : orvel::cli::ScanTable(found);
  std::fputs(text.c_str(), stdout);
  return 0;
}

int Run(const Arguments& arguments) {
  if (Is(arguments.command, "interfaces")) return RunInterfaces(arguments);
  if (Is(arguments.command, "scan")) return RunScan(arguments);
  orvel::SteadyClock clock;
  const std::int64_t startMs = clock.NowMs();
  std::vector<orvel::Endpoint> devices;
  for (const orvel::DeviceEntry& entry : arguments.devices) {
    devices.push_back({entry.address, entry.port ? *entry.port : *arguments.port});
  }

  // The trace's lines would break live lines drawn between them.
  const bool live =
      orvel::IsTerminal(stderr) && !arguments.trace && orvel::EnableCursorControl(stderr);
  const orvel::TerminalSize terminal = orvel::SizeOfTerminal(stderr);
  orvel::cli::StatusBoard::Options boardOptions;
  boardOptions.live = live;
  boardOptions.width = terminal.columns > 1 ? terminal.columns - 1 : terminal.columns;
  boardOptions.maxLines = std::clamp<std::size_t>(terminal.rows / 2, 2, 24);
  std::vector<orvel::cli::DeviceResult> results;
  {
    orvel::cli::StatusBoard board(boardOptions, clock);
    for (const orvel::Endpoint& device : devices) board.Add(orvel::cli::EndpointText(device));
    // Datagrams from no device of the run are traced here.
    std::optional<orvel::cli::TraceWriter> strangers;
    if (arguments.trace) strangers.emplace(stderr, clock, startMs);
    orvel::SharedSockets sockets(strangers ? &*strangers : nullptr);
    RunShared shared{sockets, board, live, clock, startMs, {}};
    results = orvel::cli::RunOnDevices(devices, arguments.jobs, clock,
                                       [&](const orvel::Endpoint& device, std::size_t line) {
                                         return RunDevice(arguments, shared, device, line);
                                       });
  }

  if (arguments.json) {
    std::fputs(orvel::cli::ResultsJson(results).c_str(), stdout);
  } else if (devices.size() > 1) {
    std::fputs(orvel::cli::ResultsTable(results).c_str(), stdout);
  }
  return orvel::cli::OverallStatus(results);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe is a failed write, counted as one (exit 1), never a silent end.
  orvel::FailWritesToClosedPipes();
  const std::vector<std::string> args(argv + 1, argv + argc);
  Arguments arguments;
  if (const int status = ParseArguments(args, arguments); status != 0) return status;
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return ResultsWritten(0);
  }
  if (arguments.version) {
    std::printf("orvelctl %s\n", kToolVersion);
    return ResultsWritten(0);
  }
  orvel::RemovePendingTemporaryFileOnStop();
  return ResultsWritten(Run(arguments));
}
