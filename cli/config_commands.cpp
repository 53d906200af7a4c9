// read-config and write-config: the dialog's two configuration tasks, with the file taken from the
// command line instead of a file dialog.
#include "cli/commands.h"

namespace orvel::cli {

int CmdReadConfig(CliContext& context) { return context.session.ReadConfiguration() ? 0 : 1; }

int CmdWriteConfig(CliContext& context) {
  const bool written = context.session.WriteConfiguration();
  // A read-back that failed leaves the device with a configuration nobody knows: a restart into
  // it could keep the device from answering again.
  if (context.session.m_stats.verifyFailed) return 1;
  // As in the dialog, the restart request follows whatever else the write gave; its answer is not
  // looked at, but a link that cannot be opened is shown as the dialog's thread would show it.
  bool restartRan = true;
  try {
    context.session.RestartDevice();
  } catch (...) {
    context.session.ShowFailure(L"Ошибка потока:0x000A");
    restartRan = false;
  }
  return written && restartRan ? 0 : 1;
}

}  // namespace orvel::cli
