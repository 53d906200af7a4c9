#pragma once
// orvelctl's commands. The command line is read and the session, the console desktop and the
// command's file (the desktop's file choice) are prepared before one of these is called; each
// returns the process exit status (0 success, 1 the task failed). What escapes a command is shown
// as a failed thread by the caller.

#include "cli/console_desktop.h"
#include "session/device_session.h"

namespace orvel::cli {

struct CliContext {
  CDeviceSession& session;
  ConsoleDesktop& desktop;
  bool printResult = true;  // false: the result goes only to the results table
};

int CmdVersion(CliContext& context);
int CmdRestart(CliContext& context);
int CmdReadConfig(CliContext& context);    // cli/config_commands.cpp
int CmdWriteConfig(CliContext& context);   // cli/config_commands.cpp
int CmdWriteProgram(CliContext& context);  // cli/firmware_commands.cpp
int CmdUpdate(CliContext& context);        // cli/firmware_commands.cpp

}  // namespace orvel::cli
