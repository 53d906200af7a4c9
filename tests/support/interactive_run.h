#pragma once
// Runs a program as a person at a terminal would, for the integration tests: its standard error on
// a pseudo-terminal of a given width (the live lines), and signals sent to it when its standard
// error shows a text (a Ctrl-C in the middle of a run). Standard input is /dev/null, standard
// output a pipe; both outputs are captured whole, the terminal's as the terminal received it
// (line ends as "\r\n", cursor moves included). Like RunCommand, the program keeps its state in
// <workDir>/.orvel-state and runs in a process group of its own, killed at the time limit.
// POSIX only.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_command.h"

namespace orvel::test {

struct SignalWhen {
  std::string text;  // sent once standard error holds this text (after the previous signal's)
  int signal = 0;
};

struct InteractiveRun {
  unsigned columns = 0;  // standard error on a pseudo-terminal this wide; 0: a pipe
  unsigned rows = 24;
  std::vector<SignalWhen> signals;  // in order
  std::chrono::milliseconds timeLimit = std::chrono::seconds(120);
  std::vector<std::string> environment;  // "NAME=value", put over the inherited ones
};

CommandResult RunInteractive(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workDir, const InteractiveRun& run);

}  // namespace orvel::test
