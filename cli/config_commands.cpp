// Placeholder until the configuration commands land.
#include <cstdio>

#include "cli/commands.h"

namespace orvel::cli {
int CmdReadConfig(CliContext&) {
  std::fputs("orvelctl: read-config is not available in this build\n", stderr);
  return 2;
}
int CmdWriteConfig(CliContext&) {
  std::fputs("orvelctl: write-config is not available in this build\n", stderr);
  return 2;
}
}  // namespace orvel::cli
