#include "cli/device_runner.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>

#include "cli/exit_status.h"
#include "common/address_list.h"
#include "common/text.h"

namespace orvel::cli {
namespace {

DeviceResult RunOne(const Endpoint& device, std::size_t index, IClock& clock,
                    const std::function<DeviceResult(const Endpoint&, std::size_t)>& task) {
  const std::int64_t start = clock.NowMs();
  DeviceResult result;
  try {
    result = task(device, index);
  } catch (const std::exception& e) {
    result = DeviceResult{};
    result.error = "internal";
    result.message = e.what();
  } catch (...) {
    result = DeviceResult{};
    result.error = "internal";
    result.message = "unexpected failure";
  }
  result.device = device;
  result.seconds = static_cast<double>(clock.NowMs() - start) / 1000.0;
  SettleResult(result);
  return result;
}

// The message on one line of the table: the boxes' own line breaks become blanks, and whatever
// else could move the cursor (from a file name the box quotes) is shown escaped.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return TerminalText(text);
}

}  // namespace

void SettleResult(DeviceResult& result) {
  if (result.status == 0) {
    result.error.reset();
    result.result = result.current ? TaskResult::Current : TaskResult::Ok;
  } else {
    if (!result.error) result.error = "internal";
    result.result = *result.error == "interrupted" ? TaskResult::Interrupted : TaskResult::Failed;
  }
}

std::vector<DeviceResult> RunOnDevices(
    const std::vector<Endpoint>& devices, unsigned jobs, IClock& clock,
    const std::function<DeviceResult(const Endpoint&, std::size_t)>& task,
    const RolloutRules& rules) {
  std::vector<DeviceResult> results(devices.size());
  const std::vector<bool> started = RunInOrder(devices.size(), jobs, rules, [&](std::size_t i) {
    results[i] = RunOne(devices[i], i, clock, task);
    return results[i].result;
  });
  // Why the others never started: a stop request, a canary that did not end well, else the
  // failure limit.
  const std::size_t canaries = std::min(rules.canary, devices.size());
  const bool canaryFailed = std::any_of(results.begin(), results.begin() + canaries,
                                        [](const DeviceResult& r) { return !Succeeded(r.result); });
  const bool stopped = rules.stop != nullptr && rules.stop->load();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (started[i]) continue;
    results[i].device = devices[i];
    results[i].result = TaskResult::NotStarted;
    results[i].error = stopped ? "interrupted" : canaryFailed ? "canary" : "max-failed";
    results[i].message = stopped        ? "the run was told to stop before the device started"
                         : canaryFailed ? "a canary device did not end ok"
                                        : "the failure limit (--max-failed) was reached";
  }
  return results;
}

int OverallStatus(const std::vector<DeviceResult>& results, bool stopped) {
  if (stopped) return kExitInterrupted;
  int status = kExitOk;
  for (const DeviceResult& result : results) {
    if (!Succeeded(result.result)) status = std::max({status, result.status, int{kExitFailed}});
  }
  return status;
}

std::string RetryDevices(const std::vector<DeviceResult>& results) {
  std::string text;
  for (const DeviceResult& result : results) {
    if (!Succeeded(result.result)) text += EndpointText(result.device) + "\n";
  }
  return text;
}

std::string EndpointText(const Endpoint& device) {
  return FormatIPv4(device.address) + ":" + std::to_string(device.port);
}

std::string VersionText(const DeviceVersion& version) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", version.Major(), version.Minor());
  return text;
}

std::string ResultsTable(const std::vector<DeviceResult>& results) {
  std::string table;
  char line[160];
  std::snprintf(line, sizeof line, "%-21s  %-7s  %-13s  %-11s  %-17s  %7s  %8s  %7s  %s\n",
                "device", "version", "version after", "result", "error", "seconds", "requests",
                "resends", "message");
  table += line;
  for (const DeviceResult& r : results) {
    std::snprintf(line, sizeof line, "%-21s  %-7s  %-13s  %-11s  %-17s  %7.1f  %8lu  %7lu  ",
                  EndpointText(r.device).c_str(), r.version ? VersionText(*r.version).c_str() : "-",
                  r.versionAfter ? VersionText(*r.versionAfter).c_str() : "-",
                  std::string(ResultWord(r.result)).c_str(), r.error ? r.error->c_str() : "-",
                  r.seconds, r.requests, r.resends);
    // The failure's message, then the warnings' codes (their messages are on stderr and in JSON).
    std::string message = r.message;
    if (!r.warnings.empty()) {
      message += message.empty() ? "warnings:" : "; warnings:";
      for (std::size_t i = 0; i < r.warnings.size(); ++i) {
        message += (i == 0 ? " " : ", ") + r.warnings[i].code;
      }
    }
    table.append(line).append(OneLine(message));
    // No blanks at the end of a line without a message.
    while (!table.empty() && table.back() == ' ') table.pop_back();
    table += '\n';
  }
  return table;
}

}  // namespace orvel::cli
