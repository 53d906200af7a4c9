// orvelctl: the command-line front end over the same core as the dialog.
//   orvelctl [options] <command> [file]
// Exit status: 0 success, 1 the task failed (its boxes are on stderr), 2 bad usage.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/rules/settings_record.h"
#include "cli/commands.h"
#include "cli/task_log.h"
#include "cli/trace.h"
#include "common/address_list.h"
#include "common/sha256.h"
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
    "options:\n"
    "  -d, --device A.B.C.D    device address (default: from Settings.ini)\n"
    "  -p, --port N            device service port (default: from Settings.ini)\n"
    "  -i, --interface A.B.C.D local interface to bind (default: any)\n"
    "  --retries N             how often the update may retry a failed part without asking\n"
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
    "  --                      ends the options (for a file whose name begins with -)\n";

struct Command {
  const char* name;
  bool takesFile;
  int (*run)(orvel::cli::CliContext&);
};

constexpr Command kCommands[] = {
    {"version", false, orvel::cli::CmdVersion},
    {"read-config", true, orvel::cli::CmdReadConfig},
    {"write-config", true, orvel::cli::CmdWriteConfig},
    {"write-program", true, orvel::cli::CmdWriteProgram},
    {"update", true, orvel::cli::CmdUpdate},
    {"restart", false, orvel::cli::CmdRestart},
};

struct Arguments {
  std::optional<std::uint32_t> device;
  std::optional<std::uint16_t> port;
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

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvelctl: %s\nTry 'orvelctl --help'.\n", message.c_str());
  return kUsageError;
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
    } else if (name == "-d" || name == "--device" || name == "-i" || name == "--interface") {
      const auto text = value();
      if (!text) return UsageError(name + " needs an address");
      const auto address = orvel::ParseIPv4(*text);
      if (!address) return UsageError("not an IPv4 address: " + *text);
      if (name == "-d" || name == "--device") {
        out.device = *address;
      } else {
        out.interfaceAddress = *address;
      }
    } else if (name == "-p" || name == "--port") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a port");
      const auto port = ParseNumber(*text, 65535);
      if (!port || *port == 0) return UsageError("not a port (1..65535): " + *text);
      out.port = static_cast<std::uint16_t>(*port);
    } else if (name == "--retries" || name == "--restart-wait") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a number");
      const auto number = ParseNumber(*text, name == "--retries" ? 1000000 : 3600);
      if (!number) return UsageError("bad value for " + name + ": " + *text);
      if (name == "--retries") {
        out.retries = static_cast<unsigned>(*number);
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
  if (positional.size() < expected)
    return UsageError(std::string(out.command->name) + " needs a file");
  if (positional.size() > expected)
    return UsageError("unexpected argument " + positional[expected]);
  if (out.command->takesFile) out.file = positional[1];

  if (!(out.device && out.port) && !ReadSettings(out.device, out.port)) {
    return UsageError("Settings.ini holds no valid record a.b.c.d:port; give -d and -p");
  }
  if (!out.device) return UsageError("no device address: give -d or put it in Settings.ini");
  if (!out.port) return UsageError("no device port: give -p or put it in Settings.ini");
  return 0;
}

// Everything written to standard output must have arrived there: a result that was lost (a full
// disk, a closed pipe) is a failure, not a success.
int ResultsWritten(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "orvelctl: the results could not be written to standard output: %s\n",
               std::strerror(errno));
  return status == 0 ? 1 : status;
}

// The SHA-256 of a file, in hexadecimal; nothing when it cannot be read.
std::optional<std::string> FileDigest(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  if (orvel::ReadWholeFile(path, bytes) != orvel::ReadStatus::Ok) return std::nullopt;
  return orvel::Sha256::Hex(orvel::Sha256::Of(bytes.data(), bytes.size()));
}

void LogTask(const Arguments& arguments, const CDeviceSession& session,
             const orvel::ConsoleDesktop& desktop, std::time_t started, int status) {
  orvel::cli::TaskLogEntry entry;
  entry.time = started;
  entry.tool = std::string("orvelctl ") + kToolVersion;
  entry.device = session.m_deviceAddress;
  entry.port = session.m_port;
  entry.deviceVersion = session.m_stats.deviceVersion;
  entry.task = arguments.command->name;
  entry.file = arguments.file;
  // Standard input is gone and standard output cannot be read back.
  if (arguments.file && *arguments.file != "-")
    entry.sha256 = FileDigest(orvel::PathFromArgument(*arguments.file));
  entry.requests = session.m_stats.requests;
  entry.resends = session.m_stats.resends;
  entry.ok = status == 0;
  for (const auto& [caption, text] : desktop.Boxes()) {
    if (!entry.message.empty()) entry.message += "; ";
    entry.message += orvel::ToUtf8(caption) + ": " + orvel::ToUtf8(text);
  }
  if (!orvel::cli::AppendTaskLog(orvel::PathFromArgument(*arguments.log),
                                 orvel::cli::TaskLogLine(entry))) {
    std::fprintf(stderr, "orvelctl: cannot append to the log %s\n", arguments.log->c_str());
  }
}

int RunCommand(const Arguments& arguments, CDeviceSession& session,
               orvel::ConsoleDesktop& desktop) {
  orvel::cli::CliContext context{session, desktop, std::nullopt};
  if (arguments.file) context.file = orvel::PathFromArgument(*arguments.file);
  try {
    return arguments.command->run(context);
  } catch (...) {
    session.ShowFailure(L"Ошибка потока:0x000A");
  }
  return 1;
}

int Run(const Arguments& arguments) {
  orvel::ConsoleDesktop::Options options;
  // The trace's lines would break a progress line drawn between them.
  options.errIsTerminal = orvel::IsTerminal(stderr) && !arguments.trace;
  options.inIsTerminal = orvel::IsTerminal(stdin);
  options.retries = arguments.retries;
  orvel::ConsoleDesktop desktop(options);
  orvel::SteadyClock clock;
  CDeviceSession session(desktop, clock);

  // What the dialog's PrepareConnection does before every task.
  session.m_timeLimit = 40;
  session.m_deviceAddress = *arguments.device;
  session.m_port = *arguments.port;
  session.m_localAddress = arguments.interfaceAddress;
  session.m_restartWaitSteps = arguments.restartWait;
  session.m_keptBackup =
      arguments.freshBackup ? KeptBackupPolicy::ReadFresh : KeptBackupPolicy::UseKept;
  session.m_verify = arguments.verify;
  std::optional<orvel::cli::TraceWriter> trace;
  if (arguments.trace) session.SetTrafficObserver(&trace.emplace(stderr, clock));
  session.BeginTask();

  const std::time_t started = std::time(nullptr);
  const int status = RunCommand(arguments, session, desktop);
  if (arguments.log) LogTask(arguments, session, desktop, started, status);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
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
