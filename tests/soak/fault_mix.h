#pragma once
// One run of the fault soak, drawn from its seed alone: the task, the device's faults (orvel-sim's
// options), the update package or input file, and the restart wait. The same seed gives the same
// run on every machine.

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace orvel::soak {

enum class Task { ReadConfig, WriteConfig, WriteProgram, Update };
const char* TaskName(Task task);

struct FaultMix {
  Task task = Task::ReadConfig;
  std::uint8_t versionNumber = 111;  // the device's firmware
  std::vector<std::string> simArgs;  // orvel-sim's options beyond address, port and state
  unsigned restartWaitS = 1;         // orvelctl --restart-wait (update)
  // The update package's program and parts; the configuration file for write-config; the image
  // for write-program.
  test::Bytes program;
  std::vector<test::Bytes> parts;
  test::Bytes input;
};

FaultMix DrawMix(std::uint64_t seed);

}  // namespace orvel::soak
