#pragma once
// orvelctl --log FILE: one JSON object per task, one line each, appended to FILE:
//   {"time":"2024-05-06T07:08:09Z","tool":"orvelctl 1.0.0","device":"127.0.0.2","port":40000,
//    "deviceVersion":"1.11","task":"update","file":"new.update","sha256":"9f86...","requests":1412,
//    "resends":0,"result":"ok","error":null,"message":"","warnings":[]}
// deviceVersion, file and sha256 are null when there is none; result, error, message and warnings
// are those of the results document (docs/json.md); a device that never started has its line too,
// with result "not started".

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/task_outcome.h"
#include "cli/task_result.h"
#include "protocol/packets.h"

namespace orvel::cli {

struct TaskLogEntry {
  std::time_t time = 0;
  std::string tool;
  std::uint32_t device = 0;
  std::uint16_t port = 0;
  std::optional<DeviceVersion> deviceVersion;
  std::string task;
  std::optional<std::string> file;  // as given on the command line
  std::optional<std::string> sha256;
  unsigned long requests = 0;
  unsigned long resends = 0;
  TaskResult result = TaskResult::Failed;
  std::optional<std::string> error;  // the failure's code (cli/task_outcome.h)
  std::string message;               // the failure's box
  std::vector<Warning> warnings;
};

// The entry's JSON line, without the line end.
std::string TaskLogLine(const TaskLogEntry& entry);  // cli/json_output.cpp
// Appends the line and a line end to the file; false when that failed.
bool AppendTaskLog(const std::wstring& path, const std::string& line);

}  // namespace orvel::cli
