#pragma once
// orvelctl's exit statuses, all in one place (README and docs/json.md list them too).

namespace orvel::cli {

enum ExitStatus : int {
  kExitOk = 0,            // every device ended ok or current
  kExitFailed = 1,        // some device did not
  kExitUsage = 2,         // bad usage: nothing was sent
  kExitCannotStart = 3,   // the run could not start (port in use, a log or folder not writable,
                          // an input file missing): nothing was sent
  kExitInterrupted = 130  // stopped by SIGINT or SIGTERM (128 + SIGINT, as shells report Ctrl-C)
};

}  // namespace orvel::cli
