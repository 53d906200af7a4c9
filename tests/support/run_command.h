#pragma once
// Runs a program to its end, for the integration tests: arguments, working directory, captured
// output and exit status, and a time limit after which the program is killed.
//
//   auto result = orvel::test::RunCommand(ORVELCTL_PATH, {"-d", "127.0.0.2", "-p", "4000",
//                                                         "version"}, workDir);
//   EXPECT_EQ(result.exitCode, 0) << result.err;
//
// The program's standard input is /dev/null (so it sees no terminal), its standard output and error
// are captured whole. It keeps its state (orvelctl's records of unfinished updates) in
// <workDir>/.orvel-state, never in the user's own folders: XDG_STATE_HOME is set so, unless the
// caller's environment entries ("NAME=value", put over the inherited ones) say otherwise. POSIX
// only (the tests run natively).

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace orvel::test {

struct CommandResult {
  int exitCode = -1;      // the exit status; -1 when the program did not exit normally
  int signal = 0;         // the signal that ended it, 0 when it exited
  bool timedOut = false;  // killed at the end of the time limit
  bool started = false;   // false when the program could not be run at all
  std::string out;        // everything it wrote to stdout
  std::string err;        // everything it wrote to stderr
  std::chrono::milliseconds elapsed{0};
};

// Runs program (a path, not searched in PATH) with args in workDir (the current directory when
// empty). The program runs in a process group of its own; after timeLimit the whole group is killed
// with SIGKILL and timedOut is set.
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir = {},
                         std::chrono::milliseconds timeLimit = std::chrono::seconds(60),
                         const std::vector<std::string>& environment = {});

}  // namespace orvel::test
