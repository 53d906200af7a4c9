// Placeholder until the firmware commands land.
#include <cstdio>

#include "cli/commands.h"

namespace orvel::cli {
int CmdWriteProgram(CliContext&) {
  std::fputs("orvelctl: write-program is not available in this build\n", stderr);
  return 2;
}
int CmdUpdate(CliContext&) {
  std::fputs("orvelctl: update is not available in this build\n", stderr);
  return 2;
}
}  // namespace orvel::cli
