// write-program and update: the dialog's two firmware tasks, with the file taken from the command
// line instead of a file dialog.
#include <cstdio>

#include "cli/commands.h"
#include "cli/device_runner.h"

namespace orvel::cli {

int CmdWriteProgram(CliContext& context) { return context.session.WriteProgram() ? 0 : 1; }

int CmdUpdate(CliContext& context) {
  // The update shows its own boxes only for CMBoxExeption; what else escapes is shown as the
  // dialog's update thread would show it.
  try {
    if (!context.session.UpdateDevice()) return 1;
    // --skip-current: one device says that nothing was written (several: the table's "current").
    const TaskStats& stats = context.session.m_stats;
    if (context.printResult && stats.current && stats.deviceVersion) {
      std::printf("current: the device already has version %s, nothing written\n",
                  VersionText(*stats.deviceVersion).c_str());
    }
    return 0;
  } catch (...) {
    context.session.ShowFailure(L"Ошибка потока:0x0023");
    return 1;
  }
}

}  // namespace orvel::cli
