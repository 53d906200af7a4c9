#include "cli/rollout.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orvel::cli {

std::size_t FailuresThatStop(const FailureLimit& limit, std::size_t devices) {
  if (!limit.percent) return std::max<std::size_t>(limit.value, 1);
  const std::size_t share = (devices * limit.value + 99) / 100;
  return std::max<std::size_t>(share, 1);
}

RolloutGate::RolloutGate(const RolloutRules& rules, std::size_t devices)
    : m_devices(devices), m_canary(std::min(rules.canary, devices)) {
  if (rules.maxFailed) m_failuresThatStop = FailuresThatStop(*rules.maxFailed, devices);
}

RolloutGate::Decision RolloutGate::Next() const {
  if (m_next >= m_devices || m_canaryFailed) return Decision::Stop;
  if (m_failuresThatStop && m_failed >= *m_failuresThatStop) return Decision::Stop;
  if (m_next >= m_canary && m_canariesEnded < m_canary) return Decision::Wait;
  return Decision::Start;
}

std::size_t RolloutGate::Take() { return m_next++; }

void RolloutGate::Ended(TaskResult result) {
  if (result == TaskResult::Failed) ++m_failed;
  // The canaries are the first to start, so the first m_canary to end are they.
  if (m_canariesEnded < m_canary) {
    ++m_canariesEnded;
    if (!Succeeded(result)) m_canaryFailed = true;
  }
}

std::vector<bool> RunInOrder(std::size_t devices, unsigned jobs, const RolloutRules& rules,
                             const std::function<TaskResult(std::size_t)>& run) {
  std::vector<bool> started(devices, false);
  RolloutGate gate(rules, devices);
  std::mutex mutex;
  std::condition_variable changed;
  const auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      if (rules.stop != nullptr && rules.stop->load()) break;
      const RolloutGate::Decision decision = gate.Next();
      if (decision == RolloutGate::Decision::Stop) break;
      if (decision == RolloutGate::Decision::Wait) {
        // Woken by a device that ends, or in a while to look at the stop flag.
        changed.wait_for(lock, std::chrono::milliseconds(100));
        continue;
      }
      const std::size_t index = gate.Take();
      started[index] = true;
      lock.unlock();
      const TaskResult result = run(index);
      lock.lock();
      gate.Ended(result);
      changed.notify_all();
    }
    // A worker that stops may be the one the others wait for.
    changed.notify_all();
  };
  const std::size_t workers = std::min<std::size_t>(std::max(jobs, 1u), devices);
  if (workers <= 1) {
    if (devices > 0) work();
    return started;
  }
  std::vector<std::jthread> threads;
  threads.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads.emplace_back(work);
  threads.clear();  // joins every worker
  return started;
}

}  // namespace orvel::cli
