#pragma once
// What a device's task ended with, and the one word each result has in the table, the JSON and
// the task log. Every place that names a result takes its word from here.

#include <string_view>

namespace orvel::cli {

enum class TaskResult {
  Ok,           // the task did what it was asked
  Current,      // update --skip-current: the device had the package's version, nothing was written
  Failed,       // the task failed; its boxes say why
  NotStarted,   // a failed canary, the failure limit or a stop request kept the task from starting
  Interrupted,  // a second stop request (SIGINT, SIGTERM) ended the task where it was
};

constexpr std::string_view ResultWord(TaskResult result) {
  switch (result) {
    case TaskResult::Ok:
      return "ok";
    case TaskResult::Current:
      return "current";
    case TaskResult::Failed:
      return "failed";
    case TaskResult::NotStarted:
      return "not started";
    case TaskResult::Interrupted:
      return "interrupted";
  }
  return "failed";
}

// A device that ended ok or current needs nothing more.
constexpr bool Succeeded(TaskResult result) {
  return result == TaskResult::Ok || result == TaskResult::Current;
}

}  // namespace orvel::cli
