#pragma once
// Running one task on many devices: each device on a thread of its own, at most `jobs` at a time,
// and what each one ended with, for the results table or the JSON document:
//
//   device          version  version after  result       error      seconds  requests  resends
//   message 10.0.0.5:40000  1.10     1.11           ok           -              3.2       962 0
//   warnings: config-unknown 10.0.0.6:40000  -        -              failed no-answer     40.1 27
//   26  Ошибка ...
//
//   {"devices":[{"device":"10.0.0.5:40000","version":"1.10","kind":0,"version_after":"1.11",
//     "result":"ok","error":null,"message":"","warnings":[{"code":"config-unknown","message":
//     "Ошибка.: Нет данных ..."}],"seconds":3.2,"requests":962,"resends":0}]}
//
// docs/json.md describes the document, its codes and the exit statuses.
//
// The devices start in list order as the rollout's rules let them (cli/rollout.h); those that
// never started end `not started`.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/rollout.h"
#include "cli/task_outcome.h"
#include "cli/task_result.h"
#include "device/udp_socket.h"
#include "platform/clock.h"
#include "protocol/packets.h"

namespace orvel::cli {

struct DeviceResult {
  Endpoint device;
  std::optional<DeviceVersion> version;  // as the task found the device, when it asked
  // The version the update asked after its parts, when the device answered it.
  std::optional<DeviceVersion> versionAfter;
  int status = 1;        // the command's exit status: 0 ok, 1 failed, 2 usage
  bool current = false;  // with status 0: the update found the device current, wrote nothing
  TaskResult result = TaskResult::Failed;  // set by RunOnDevices from status, current and error
  std::optional<std::string> error;        // the failure's code (cli/task_outcome.h)
  std::string message;                     // the failure's box, "caption: text"
  std::vector<Warning> warnings;           // the other boxes
  double seconds = 0;
  unsigned long requests = 0;
  unsigned long resends = 0;
};

// Runs task(device, its index) for the devices as the rules let them start, at most jobs at a time,
// and returns the results in the order of the devices, each with the seconds its task took. One
// worker runs on the calling thread. A task that throws fails its own device only. A device that
// never started has status 1, the error that says why (canary, max-failed, interrupted: the rules'
// stop flag was set) and a message.
std::vector<DeviceResult> RunOnDevices(
    const std::vector<Endpoint>& devices, unsigned jobs, IClock& clock,
    const std::function<DeviceResult(const Endpoint&, std::size_t)>& task,
    const RolloutRules& rules = {});

// Sets result from status, current and error: ok or current for status 0, else interrupted for the
// error "interrupted", else failed (with the error "internal" when none was set).
void SettleResult(DeviceResult& result);

// The run's exit status (cli/exit_status.h): 130 when it was told to stop, else 0 when every device
// ended ok or current, else the highest status of a device (1 failed, 2 usage).
int OverallStatus(const std::vector<DeviceResult>& results, bool stopped = false);

// The devices that did not end ok or current, one "a.b.c.d:port" a line, for --devices next time.
std::string RetryDevices(const std::vector<DeviceResult>& results);

std::string EndpointText(const Endpoint& device);       // "10.0.0.5:40000"
std::string VersionText(const DeviceVersion& version);  // "1.11"
std::string ResultsTable(const std::vector<DeviceResult>& results);
std::string ResultsJson(const std::vector<DeviceResult>& results);  // cli/json_output.cpp

}  // namespace orvel::cli
