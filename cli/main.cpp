// orvelctl: the command-line front end over the same core as the dialog, for one device or many.
//   orvelctl [options] <command> [file]
// Exit status (cli/exit_status.h): 0 every device ended ok or current, 1 some did not (their boxes
// are on stderr), 2 bad usage, 3 the run could not start, 130 stopped by SIGINT or SIGTERM.
// Every run, of one device or many, goes through the same runner and the shared socket.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/device_runner.h"
#include "cli/exit_status.h"
#include "cli/port_hold.h"
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
#include "platform/stop_signals.h"
#include "platform/user_folders.h"
#include "platform/utf8.h"

namespace {

using orvel::cli::Arguments;

// The sockets of the run, one held open for every interface and port of its devices before the
// first request; empty when one could not be opened (its box already on stderr).
std::vector<std::unique_ptr<orvel::cli::PortHold>> HoldPorts(
    orvel::SharedSockets& sockets, const Arguments& arguments,
    const std::vector<orvel::Endpoint>& devices, orvel::IClock& clock) {
  std::vector<std::unique_ptr<orvel::cli::PortHold>> holds;
  std::vector<std::uint16_t> ports;
  for (const orvel::Endpoint& device : devices) ports.push_back(device.port);
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  try {
    for (const std::uint16_t port : ports) {
      holds.push_back(std::make_unique<orvel::cli::PortHold>(
          sockets, arguments.interfaceAddress, port, arguments.waitPort * 1000u, clock));
    }
  } catch (const boost::system::system_error& e) {
    orvel::ConsoleDesktop desktop({});
    orvel::ShowOpenFailure(desktop, e);
    holds.clear();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvelctl: the socket cannot be opened: %s\n", e.what());
    holds.clear();
  }
  return holds;
}

// A log that cannot be written is found out before anything is sent, not after the task.
bool LogWritable(const Arguments& arguments) {
  if (!arguments.log) return true;
  const std::wstring path = orvel::PathFromArgument(*arguments.log);
  if (orvel::OpenFile(path, L"ab")) return true;
  std::fprintf(stderr, "orvelctl: cannot open the log %s: %s\n",
               orvel::TerminalText(*arguments.log).c_str(),
               orvel::OpenFailureReason(path, true).c_str());
  return false;
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

// The file of a device's task: the command's argument, its device pattern filled in.
std::optional<std::string> DeviceFile(const Arguments& arguments, std::uint32_t address) {
  std::optional<std::string> file = arguments.file;
  if (file && orvel::HasDevicePattern(*file)) file = orvel::ExpandDevicePattern(*file, address);
  return file;
}

// The commands that only read from the device: a stop request ends them at once.
bool OnlyReads(const Arguments& arguments) {
  const std::string_view command = arguments.command->name;
  return command == "version" || command == "read-config";
}

// The commands that read their file before anything is sent.
bool ReadsItsFile(const Arguments& arguments) {
  const std::string_view command = arguments.command->name;
  return command == "write-config" || command == "write-program" || command == "update";
}

// Why a task's file cannot be opened, in the system's words; nothing when it can.
std::optional<std::string> UnreadableFile(const std::string& file) {
  if (file == "-") return std::nullopt;
  const std::wstring path = orvel::PathFromArgument(file);
  std::vector<std::uint8_t> bytes;
  const orvel::ReadStatus status = orvel::ReadWholeFile(path, bytes, 0);  // measured, not read
  if (!orvel::CannotBeOpened(status)) return std::nullopt;
  const std::string reason = orvel::OpenFailureReason(path, false);
  return reason.empty() ? orvel::ReadFailureText(status, 0) : reason;
}

// One line of the task log for a device, whether it ran or not.
void LogDevice(const Arguments& arguments, std::mutex& logMutex,
               const orvel::cli::DeviceResult& result, std::time_t started) {
  orvel::cli::TaskLogEntry entry;
  entry.time = started;
  entry.tool = std::string("orvelctl ") + orvel::cli::kToolVersion;
  entry.device = result.device.address;
  entry.port = result.device.port;
  entry.deviceVersion = result.version;
  entry.task = arguments.command->name;
  entry.file = DeviceFile(arguments, result.device.address);
  // Standard input is gone and standard output cannot be read back.
  if (entry.file && *entry.file != "-") {
    entry.sha256 = FileDigest(orvel::PathFromArgument(*entry.file));
  }
  entry.requests = result.requests;
  entry.resends = result.resends;
  entry.result = result.result;
  entry.error = result.error;
  entry.message = result.message;
  entry.warnings = result.warnings;
  const std::lock_guard lock(logMutex);
  if (!orvel::cli::AppendTaskLog(orvel::PathFromArgument(*arguments.log),
                                 orvel::cli::TaskLogLine(entry))) {
    std::fprintf(stderr, "orvelctl: cannot append to the log %s\n",
                 orvel::TerminalText(*arguments.log).c_str());
  }
}

// What every device of a run shares: the sockets, the live lines, the trace's start, the log.
struct RunShared {
  orvel::SharedSockets& sockets;
  orvel::cli::StatusBoard& board;
  bool live = false;  // the board draws on a terminal
  orvel::IClock& clock;
  std::int64_t startMs = 0;
  std::mutex logMutex;
  // Set by a stop request: the first for the commands that only read, the second for all.
  const std::atomic<bool>* stopReads = nullptr;
  const std::atomic<bool>* stopAll = nullptr;
  // Where the records of unfinished updates are kept (empty: in the Temp folder, as the dialog).
  std::wstring stateFolder;
};

// A device's boxes and progress, as lines of the board. Called on the device's own thread, which
// is also the only one that touches its session.
class DeviceLines final : public orvel::IConsoleLines {
 public:
  DeviceLines(orvel::cli::StatusBoard& board, std::size_t line) : m_board(board), m_line(line) {}
  void Watch(const CDeviceSession& session) { m_session = &session; }

  void Message(const std::string& text) override { m_board.Print(text); }
  // The line follows the bytes and the resends; the bar's steps say nothing it uses.
  void Progress(std::uint16_t, std::uint16_t, const std::wstring& status) override {
    Stats(orvel::ToUtf8(status));
  }
  void Stats(const std::string& status = {}) {
    if (m_session == nullptr) return;
    const TaskStats& stats = m_session->m_stats;
    m_board.Update(m_line, status, stats.bytes, stats.queuedBytes, stats.resends);
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
  if (shared.live) session.m_onStats = [&lines] { lines.Stats(); };
  // A read stops at the first request to stop; a write, an update, a restart finish unless asked
  // twice: a half-written device is worse than a finished one.
  session.m_stopNow = OnlyReads(arguments) ? shared.stopReads : shared.stopAll;

  // What the dialog's PrepareConnection does before every task.
  session.m_timeLimit = 40;
  session.m_deviceAddress = device.address;
  session.m_port = device.port;
  session.m_localAddress = arguments.interfaceAddress;
  session.m_restartWaitSteps = arguments.restartWait;
  session.m_keptBackup =
      arguments.freshBackup ? KeptBackupPolicy::ReadFresh : KeptBackupPolicy::UseKept;
  session.m_verify = arguments.verify;
  session.m_forceConfiguration = arguments.force;
  // The update asks the version again after its parts, waits after the restart only until the
  // device is back (unless --restart-poll off), and keeps its record where a run from any folder
  // finds it.
  session.m_update.skipCurrent = arguments.skipCurrent;
  session.m_update.noDowngrade = arguments.noDowngrade;
  session.m_update.checkVersion = arguments.checkVersion;
  session.m_update.askVersionAfter = true;
  session.m_update.restartPoll = arguments.restartPoll;
  session.m_update.stateFolder = shared.stateFolder;
  session.m_transfer = {arguments.resendMs, arguments.window};
  if (several) {
    const std::string folder = orvel::FormatIPv4(device.address);
    session.m_deviceFolder.assign(folder.begin(), folder.end());
  }
  std::optional<orvel::cli::TraceWriter> trace;
  if (arguments.trace) {
    session.SetTrafficObserver(&trace.emplace(stderr, shared.clock, shared.startMs));
  }
  session.BeginTask();

  const std::optional<std::string> file = DeviceFile(arguments, device.address);
  shared.board.Start(line, arguments.command->name);
  const std::time_t started = std::time(nullptr);
  if (file) desktop.SetChosenFile(orvel::PathFromArgument(*file));
  orvel::cli::CliContext context{session, desktop, !arguments.json && !several};
  int status = 1;
  try {
    status = arguments.command->run(context);
  } catch (...) {
    session.ShowFailure(L"Ошибка потока:0x000A");
  }
  orvel::cli::DeviceResult result;
  result.device = device;
  result.version = session.m_stats.deviceVersion;
  // A silent device answers the version query with nothing: no version.
  if (result.version && result.version->kind == 0 && result.version->number == 0) {
    result.version.reset();
  }
  result.versionAfter = session.m_stats.versionAfter;
  result.status = status;
  result.current = session.m_stats.current;
  std::vector<orvel::cli::Box> boxes;
  for (const auto& [caption, text] : desktop.Boxes()) boxes.push_back({caption, text});
  orvel::cli::Outcome outcome = orvel::cli::JudgeBoxes(boxes, status == 0);
  result.error = outcome.error;
  result.message = std::move(outcome.message);
  result.warnings = std::move(outcome.warnings);
  result.requests = session.m_stats.requests;
  result.resends = session.m_stats.resends;
  orvel::cli::SettleResult(result);
  shared.board.Finish(line, std::string(orvel::cli::ResultWord(result.result)),
                      orvel::cli::Succeeded(result.result), result.error.value_or(""));
  if (arguments.log) LogDevice(arguments, shared.logMutex, result, started);
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
  const auto holds = HoldPorts(sockets, arguments, {{0, *arguments.port}}, clock);
  if (holds.empty()) return orvel::cli::kExitCannotStart;
  std::vector<orvel::cli::FoundDevice> found;
  try {
    found = orvel::cli::Scan(sockets.For(arguments.interfaceAddress, *arguments.port), addresses,
                             *arguments.port);
  } catch (const boost::system::system_error& e) {
    orvel::ConsoleDesktop desktop({});
    orvel::ShowOpenFailure(desktop, e);
    return 1;
  }
  std::string text;
  if (arguments.list) {
    for (const orvel::cli::FoundDevice& device : found) {
      text += orvel::cli::EndpointText(device.device) + "\n";
    }
  } else {
    text = arguments.json ? orvel::cli::ScanJson(found) : orvel::cli::ScanTable(found);
  }
  std::fputs(text.c_str(), stdout);
  return 0;
}

int Run(const Arguments& arguments) {
  const std::string_view command = arguments.command->name;
  if (command == "interfaces") return RunInterfaces(arguments);
  if (command == "scan") return RunScan(arguments);
  // --state-dir as a full path: the records must name the same folder from wherever the tool runs.
  std::wstring stateFolder;
  if (arguments.stateDir) {
    stateFolder = orvel::AbsolutePath(orvel::PathFromArgument(*arguments.stateDir)).value_or(L"");
  } else {
    stateFolder = orvel::UserStateFolder(L"orvelctl", L"OrvelTools").value_or(L"");
  }
  // A file that every device would fail to read stops the run before anything is sent.
  if (ReadsItsFile(arguments) && arguments.file && !orvel::HasDevicePattern(*arguments.file)) {
    if (const auto reason = UnreadableFile(*arguments.file)) {
      // The dialog's box, with the file and the system's reason as a device's task shows them.
      std::fprintf(stderr, "Внимание!: Не удается открыть файл(ы):\n%s (%s)\n",
                   orvel::TerminalText(*arguments.file).c_str(), reason->c_str());
      return orvel::cli::kExitCannotStart;
    }
  }
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
  // The first SIGINT or SIGTERM: no new device starts and the reads stop; the second: everything
  // stops at once. Taken before any thread starts, so that every thread leaves them to it.
  std::atomic<bool> stopStarts{false}, stopReads{false}, stopAll{false};
  orvel::cli::StatusBoard* boardInUse = nullptr;
  std::mutex boardMutex;  // boardInUse, between the run and the signals' thread
  const auto say = [&](const std::string& text) {
    const std::lock_guard lock(boardMutex);
    if (boardInUse != nullptr) {
      boardInUse->Print(text);
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  };
  const orvel::StopSignals signals([&](unsigned count) {
    if (count == 1) {
      stopStarts = true;
      stopReads = true;
      say(OnlyReads(arguments)
              ? "orvelctl: stopping: no new device starts, the reads in flight end now."
              : "orvelctl: stopping: no new device starts; the devices being written finish "
                "(a half-written device is worse than a finished one). Press Ctrl-C again "
                "(or send SIGTERM again) to stop them at once.");
    } else if (count == 2) {
      stopAll = true;
      say("orvelctl: stopping at once: the devices in flight end where they are; "
          "the records of unfinished updates are kept.");
    } else {
      // A third: whatever still holds the run up (a question on the terminal) is left behind.
      orvel::RemovePendingTemporaryFile();
      std::_Exit(orvel::cli::kExitInterrupted);
    }
  });
  orvel::cli::RolloutRules rules = arguments.rollout;
  rules.stop = &stopStarts;
  {
    // Datagrams from no device of the run are traced here.
    std::optional<orvel::cli::TraceWriter> strangers;
    if (arguments.trace) strangers.emplace(stderr, clock, startMs);
    orvel::SharedSockets sockets(strangers ? &*strangers : nullptr);
    const auto holds = HoldPorts(sockets, arguments, devices, clock);
    if (holds.empty()) return orvel::cli::kExitCannotStart;
    orvel::cli::StatusBoard board(boardOptions, clock);
    {
      const std::lock_guard lock(boardMutex);
      boardInUse = &board;
    }
    for (const orvel::Endpoint& device : devices) board.Add(orvel::cli::EndpointText(device));
    RunShared shared{sockets, board, live, clock, startMs, {}, &stopReads, &stopAll, stateFolder};
    results = orvel::cli::RunOnDevices(
        devices, arguments.jobs, clock,
        [&](const orvel::Endpoint& device, std::size_t line) {
          return RunDevice(arguments, shared, device, line);
        },
        rules);
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (results[i].result != orvel::cli::TaskResult::NotStarted) continue;
      board.Finish(i, "not started", false, results[i].error.value_or(""));
      if (arguments.log) LogDevice(arguments, shared.logMutex, results[i], std::time(nullptr));
    }
    const std::lock_guard lock(boardMutex);
    boardInUse = nullptr;
  }

  if (arguments.json) {
    std::fputs(orvel::cli::ResultsJson(results).c_str(), stdout);
  } else if (devices.size() > 1) {
    std::fputs(orvel::cli::ResultsTable(results).c_str(), stdout);
  }
  int status = orvel::cli::OverallStatus(results, signals.Count() > 0);
  if (arguments.retryFile) {
    const std::string text = orvel::cli::RetryDevices(results);
    if (orvel::WriteFileAtomically(orvel::PathFromArgument(*arguments.retryFile),
                                   reinterpret_cast<const std::uint8_t*>(text.data()),
                                   text.size()) != orvel::WriteStatus::Ok) {
      std::fprintf(stderr, "orvelctl: cannot write the retry file %s\n",
                   orvel::TerminalText(*arguments.retryFile).c_str());
      if (status == orvel::cli::kExitOk) status = orvel::cli::kExitFailed;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe is a failed write, counted as one (exit 1), never a silent end.
  orvel::FailWritesToClosedPipes();
  Arguments arguments;
  if (const auto status = orvel::cli::ReadCommandLine(argc, argv, arguments)) {
    return ResultsWritten(*status);
  }
  orvel::RemovePendingTemporaryFileOnStop();
  if (!LogWritable(arguments)) return ResultsWritten(orvel::cli::kExitCannotStart);
  return ResultsWritten(Run(arguments));
}
