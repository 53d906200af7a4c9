#pragma once
// Runs orvelctl against a SimProcess: the device at 127.0.0.2, the tool bound to 127.0.0.1, both on
// the sim's port; the command's own words follow. Needs the compile definition ORVELCTL_PATH.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/sim_process.h"

namespace orvel::test {

inline CommandResult Ctl(const SimProcess& sim, const std::vector<std::string>& command,
                         const std::filesystem::path& workDir,
                         std::chrono::seconds timeLimit = std::chrono::seconds(150)) {
  std::vector<std::string> args{"-d", SimProcess::kAddress,    "-p", std::to_string(sim.port()),
                                "-i", SimProcess::kToolAddress};
  args.insert(args.end(), command.begin(), command.end());
  return RunCommand(ORVELCTL_PATH, args, workDir, timeLimit);
}

}  // namespace orvel::test
