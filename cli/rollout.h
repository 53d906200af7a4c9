#pragma once
// The order in which a run over many devices lets them start, so that a bad rollout cannot reach a
// whole site:
//   --canary N      the first N devices of the list go first, alone; the others start only when
//                   every one of them ended ok or current, else they never start;
//   --max-failed N  once N devices failed, no new device starts (N% : that share of the list,
//                   rounded up, at least one).
// Devices in flight when a limit is reached finish; those never started end `not started`.

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "cli/task_result.h"

namespace orvel::cli {

struct FailureLimit {
  unsigned value = 0;    // a number of devices, or a percentage
  bool percent = false;  // value is a percentage of the devices of the run
};

// The number of failed devices that stops new starts in a run over `devices`.
std::size_t FailuresThatStop(const FailureLimit& limit, std::size_t devices);

struct RolloutRules {
  std::size_t canary = 0;  // 0: no canary
  std::optional<FailureLimit> maxFailed;
  // When set and true, no further device starts (a run told to stop); read by the workers.
  const std::atomic<bool>* stop = nullptr;
};

// The gate's arithmetic, without threads: devices start in list order, each when Next says so.
class RolloutGate {
 public:
  RolloutGate(const RolloutRules& rules, std::size_t devices);

  enum class Decision {
    Start,  // device NextIndex() may start now
    Wait,   // not yet: the canaries are still running
    Stop,   // no further device starts in this run
  };
  Decision Next() const;
  // Takes the device that Next allowed; its index.
  std::size_t Take();
  void Ended(TaskResult result);

 private:
  std::size_t m_devices;
  std::size_t m_canary;
  std::optional<std::size_t> m_failuresThatStop;
  std::size_t m_next = 0;
  std::size_t m_canariesEnded = 0;
  bool m_canaryFailed = false;
  std::size_t m_failed = 0;
};

// Runs run(index) for devices 0 .. devices-1 as the gate lets them, at most jobs at a time (one
// device on the calling thread). Returns for each device whether it was started; run's result
// feeds the gate. run must not throw.
std::vector<bool> RunInOrder(std::size_t devices, unsigned jobs, const RolloutRules& rules,
                             const std::function<TaskResult(std::size_t)>& run);

}  // namespace orvel::cli
