// orvelctl: the command-line front end over the same core as the dialog, for one device or many.
//   orvelctl [options] <command> [file]
// Exit status: 0 every device succeeded, 1 a task failed (its boxes are on stderr), 2 bad usage,
// 3 the run could not start (the port in use, the log not writable): nothing was sent.
// Every run, of one device or many, goes through the same runner and the shared socket.

#include <algorithm>
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
#include "platform/user_folders.h"
#include "platform/utf8.h"

namespace {

using orvel::cli::Arguments;

constexpr int kCannotStart = 3;

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
  entry.tool = std::string("orvelctl ") + orvel::cli::kToolVersion;
  entry.device = session.m_deviceAddress;
  entry.port = session.m_port;
  entry.deviceVersion = session.m_stats.deviceVersion;
  entry.task = arguments.command->name;
  entry.file = file;
  // Standard input is gone and standard output cannot be read back.
  if (file && *file != "-") entry.sha256 = FileDigest(orvel::PathFromArgument(*file));
  entry.requests = session.m_stats.requests;
  entry.resends = session.m_stats.resends;
  entry.result = status != 0               ? orvel::cli::TaskResult::Failed
                 : session.m_stats.current ? orvel::cli::TaskResult::Current
                                           : orvel::cli::TaskResult::Ok;
  entry.message = BoxesText(desktop);
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

  std::optional<std::string> file = arguments.file;
  if (file && orvel::HasDevicePattern(*file)) {
    file = orvel::ExpandDevicePattern(*file, device.address);
  }
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
  shared.board.Finish(line, status == 0 ? "ok" : "failed", status == 0);
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
  result.versionAfter = session.m_stats.versionAfter;
  result.status = status;
  result.current = session.m_stats.current;
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
  const auto holds = HoldPorts(sockets, arguments, {{0, *arguments.port}}, clock);
  if (holds.empty()) return kCannotStart;
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
    // Datagrams from no device of the run are traced here.
    std::optional<orvel::cli::TraceWriter> strangers;
    if (arguments.trace) strangers.emplace(stderr, clock, startMs);
    orvel::SharedSockets sockets(strangers ? &*strangers : nullptr);
    const auto holds = HoldPorts(sockets, arguments, devices, clock);
    if (holds.empty()) return kCannotStart;
    orvel::cli::StatusBoard board(boardOptions, clock);
    for (const orvel::Endpoint& device : devices) board.Add(orvel::cli::EndpointText(device));
    RunShared shared{sockets, board, live, clock, startMs, {}, stateFolder};
    results = orvel::cli::RunOnDevices(
        devices, arguments.jobs, clock,
        [&](const orvel::Endpoint& device, std::size_t line) {
          return RunDevice(arguments, shared, device, line);
        },
        arguments.rollout);
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
  Arguments arguments;
  if (const auto status = orvel::cli::ReadCommandLine(argc, argv, arguments)) {
    return ResultsWritten(*status);
  }
  orvel::RemovePendingTemporaryFileOnStop();
  if (!LogWritable(arguments)) return ResultsWritten(kCannotStart);
  return ResultsWritten(Run(arguments));
}
