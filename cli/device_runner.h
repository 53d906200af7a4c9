#pragma once
// Running one task on many devices: each device on a thread of its own, at most `jobs` at a time,
// and what each one ended with, for the results table or the JSON document:
//
//   device           version  version after  result       seconds  requests  resends  message
//   10.0.0.5:40000   1.11     1.12           ok               3.2       962        0
//   10.0.0.6:40000   -        -              failed          40.1        27       26  Ошибка ...
//
//   {"devices":[{"device":"10.0.0.5:40000","version":"1.11","kind":0,"version_after":"1.12",
//     "result":"ok","message":"","seconds":3.2,"requests":962,"resends":0}]}
//
// The devices start in list order as the rollout's rules let them (cli/rollout.h); those that
// never started end `not started`.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/rollout.h"
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
  TaskResult result = TaskResult::Failed;  // set by RunOnDevices from status and current
  std::string message;                     // the boxes shown, "caption: text; ..."
  double seconds = 0;
  unsigned long requests = 0;
  unsigned long resends = 0;
};

// Runs task(device, its index) for the devices as the rules let them start, at most jobs at a time,
// and returns the results in the order of the devices, each with the seconds its task took. One
// worker runs on the calling thread. A task that throws fails its own device only. A device that
// never started has status 1 and a message that says why.
std::vector<DeviceResult> RunOnDevices(
    const std::vector<Endpoint>& devices, unsigned jobs, IClock& clock,
    const std::function<DeviceResult(const Endpoint&, std::size_t)>& task,
    const RolloutRules& rules = {});

// 0 when every device succeeded, else the highest status.
int OverallStatus(const std::vector<DeviceResult>& results);

std::string EndpointText(const Endpoint& device);       // "10.0.0.5:40000"
std::string VersionText(const DeviceVersion& version);  // "1.11"
std::string ResultsTable(const std::vector<DeviceResult>& results);
std::string ResultsJson(const std::vector<DeviceResult>& results);  // cli/json_output.cpp

}  // namespace orvel::cli
