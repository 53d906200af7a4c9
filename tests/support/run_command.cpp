#include "support/run_command.h"

#include "support/interactive_run.h"

namespace orvel::test {

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, std::chrono::milliseconds timeLimit,
                         const std::vector<std::string>& environment) {
  InteractiveRun run;
  run.timeLimit = timeLimit;
  run.environment = environment;
  return RunInteractive(program, args, workDir, run);
}

}  // namespace orvel::test
