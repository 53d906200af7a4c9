// A run over many devices lets them start in list order: the canaries first and alone, nothing
// more once a canary failed or the failure limit is reached.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/rollout.h"

namespace {

using orvel::cli::FailureLimit;
using orvel::cli::RolloutGate;
using orvel::cli::RolloutRules;
using orvel::cli::TaskResult;

TEST(Rollout, FailureLimitOfACountOrAShare) {
  struct Case {
    FailureLimit limit;
    std::size_t devices, stops;
  };
  const Case cases[] = {
      {{3, false}, 40, 3}, {{0, false}, 40, 1}, {{10, true}, 40, 4}, {{10, true}, 32, 4},
      {{10, true}, 30, 3}, {{10, true}, 5, 1},  {{100, true}, 8, 8}, {{1, true}, 1, 1},
      {{50, true}, 3, 2},  {{25, true}, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(orvel::cli::FailuresThatStop(c.limit, c.devices), c.stops)
        << c.limit.value << (c.limit.percent ? "% of " : " of ") << c.devices;
  }
}

// The gate alone, one device at a time: which devices start, as the results come in. "o" ok,
// "c" current, "f" failed, for the devices in the order they end (here: the order they start).
TEST(Rollout, GateLetsDevicesStartInOrder) {
  struct Case {
    const char* name;
    RolloutRules rules;
    std::size_t devices;
    std::string results;
    std::size_t started;
  };
  const Case cases[] = {
      {"no rules", {}, 5, "fffff", 5},
      {"canary ok", {2, std::nullopt}, 5, "ocooo", 5},
      {"second canary fails", {2, std::nullopt}, 5, "of", 2},
      {"canary larger than the site", {9, std::nullopt}, 3, "oof", 3},
      {"limit of two", {0, FailureLimit{2, false}}, 6, "ofof", 4},
      {"ten percent of twenty", {0, FailureLimit{10, true}}, 20, "ooff", 4},
      {"canary then limit", {1, FailureLimit{1, false}}, 4, "of", 2},
      {"current is no failure", {0, FailureLimit{1, false}}, 3, "ccc", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RolloutGate gate(c.rules, c.devices);
    std::size_t started = 0;
    for (const char result : c.results) {
      ASSERT_EQ(gate.Next(), RolloutGate::Decision::Start);
      EXPECT_EQ(gate.Take(), started++);
      gate.Ended(result == 'o'   ? TaskResult::Ok
                 : result == 'c' ? TaskResult::Current
                                 : TaskResult::Failed);
    }
    EXPECT_EQ(gate.Next(), RolloutGate::Decision::Stop);
    EXPECT_EQ(started, c.started);
  }
}

TEST(Rollout, NothingStartsBesideTheCanariesWhileTheyRun) {
  RolloutGate gate({2, std::nullopt}, 6);
  gate.Take();
  gate.Take();
  EXPECT_EQ(gate.Next(), RolloutGate::Decision::Wait);
  gate.Ended(TaskResult::Ok);
  EXPECT_EQ(gate.Next(), RolloutGate::Decision::Wait);
  gate.Ended(TaskResult::Current);
  EXPECT_EQ(gate.Next(), RolloutGate::Decision::Start);
}

// With threads: the canaries run together, the rest only after them, never more than jobs at once;
// a failed canary leaves every other device unstarted.
TEST(Rollout, RunInOrderOnThreads) {
  for (const bool canaryFails : {false, true}) {
    SCOPED_TRACE(canaryFails ? "a canary fails" : "canaries ok");
    std::atomic<int> running{0}, most{0}, canariesRunning{0};
    std::atomic<bool> othersBesideCanaries{false};
    const auto started = orvel::cli::RunInOrder(12, 4, {3, std::nullopt}, [&](std::size_t index) {
      const int now = ++running;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      if (index < 3) ++canariesRunning;
      if (index >= 3 && canariesRunning > 0) othersBesideCanaries = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (index < 3) --canariesRunning;
      --running;
      return canaryFails && index == 1 ? TaskResult::Failed : TaskResult::Ok;
    });
    EXPECT_FALSE(othersBesideCanaries);
    EXPECT_LE(most, 4);
    for (std::size_t i = 0; i < started.size(); ++i) {
      EXPECT_EQ(started[i], i < 3 || !canaryFails) << i;
    }
  }
}

// Three devices in flight fail together with one failure allowed: all three finish, no fourth
// starts.
TEST(Rollout, LimitReachedWhileOthersRunStopsNewStartsOnly) {
  std::atomic<int> inFlight{0};
  const auto started = orvel::cli::RunInOrder(10, 3, {0, FailureLimit{1, false}}, [&](std::size_t) {
    ++inFlight;
    // Bounded: the three run on three workers and arrive within milliseconds.
    for (int i = 0; i < 2000 && inFlight < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return TaskResult::Failed;
  });
  EXPECT_EQ(std::vector<bool>(started.begin(), started.begin() + 3), std::vector<bool>(3, true));
  EXPECT_EQ(std::count(started.begin(), started.end(), true), 3);
}

}  // namespace
