#include "cli/device_runner.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>

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
    result.message = e.what();
  } catch (...) {
    result = DeviceResult{};
    result.message = "unexpected failure";
  }
  result.device = device;
  result.seconds = static_cast<double>(clock.NowMs() - start) / 1000.0;
  return result;
}

// The message on one line of the table: the boxes' own line breaks become blanks, and whatever
// else could move the cursor (from a file name the box quotes) is shown escaped.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return TerminalText(text);
}

}  // namespace

std::vector<DeviceResult> RunOnDevices(
    const std::vector<Endpoint>& devices, unsigned jobs, IClock& clock,
    const std::function<DeviceResult(const Endpoint&, std::size_t)>& task) {
  std::vector<DeviceResult> results(devices.size());
  if (devices.size() == 1) {
    results[0] = RunOne(devices[0], 0, clock, task);
    return results;
  }
  // Each worker takes the next device not yet taken until none is left.
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < devices.size(); i = next++) {
      results[i] = RunOne(devices[i], i, clock, task);
    }
  };
  const std::size_t workers = std::min<std::size_t>(std::max(jobs, 1u), devices.size());
  std::vector<std::jthread> threads;
  threads.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads.emplace_back(work);
  threads.clear();  // joins every worker
  return results;
}

int OverallStatus(const std::vector<DeviceResult>& results) {
  int status = 0;
  for (const DeviceResult& result : results) status = std::max(status, result.status);
  return status;
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
  std::snprintf(line, sizeof line, "%-21s  %-7s  %-6s  %7s  %8s  %7s  %s\n", "device", "version",
                "result", "seconds", "requests", "resends", "message");
  table += line;
  for (const DeviceResult& r : results) {
    std::snprintf(line, sizeof line, "%-21s  %-7s  %-6s  %7.1f  %8lu  %7lu  ",
                  EndpointText(r.device).c_str(), r.version ? VersionText(*r.version).c_str() : "-",
                  r.status == 0 ? "ok" : "failed", r.seconds, r.requests, r.resends);
    table.append(line).append(OneLine(r.message));
    // No blanks at the end of a line without a message.
    while (!table.empty() && table.back() == ' ') table.pop_back();
    table += '\n';
  }
  return table;
}

}  // namespace orvel::cli
