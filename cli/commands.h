#pragma once
// orvelctl's commands. main.cpp parses the options, prepares the session and the console desktop,
// and calls one of these; each returns the process exit status (0 success, 1 the task failed,
// 2 bad usage).

#include <optional>
#include <string>

#include "cli/console_desktop.h"
#include "session/device_session.h"

namespace orvel::cli {

struct CliContext {
  CDeviceSession& session;
  ConsoleDesktop& desktop;
  std::optional<std::wstring> file;  // the command's file argument, when it takes one
  bool printResult = true;           // false: the result goes only to the results table
};

// Hands the command's file argument to the desktop's file choice; false (after saying so on
// stderr) when the command was given none.
bool TakeFile(CliContext& context, const char* command);

int CmdVersion(CliContext& context);
int CmdRestart(CliContext& context);
int CmdReadConfig(CliContext& context);    // cli/config_commands.cpp
int CmdWriteConfig(CliContext& context);   // cli/config_commands.cpp
int CmdWriteProgram(CliContext& context);  // cli/firmware_commands.cpp
int CmdUpdate(CliContext& context);        // cli/firmware_commands.cpp

}  // namespace orvel::cli
