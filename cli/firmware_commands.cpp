// write-program and update: the dialog's two firmware tasks, with the file taken from the command
// line instead of a file dialog.
#include "cli/commands.h"

namespace orvel::cli {

int CmdWriteProgram(CliContext& context) { return context.session.WriteProgram() ? 0 : 1; }

int CmdUpdate(CliContext& context) {
  // The update shows its own boxes only for CMBoxExeption; what else escapes is shown as the
  // dialog's update thread would show it.
  try {
    return context.session.UpdateDevice() ? 0 : 1;
  } catch (...) {
    context.session.ShowBox(CMBoxExeption(L"Ошибка потока:0x0023", L"Ошибка.", mbox::kIconError));
    return 1;
  }
}

}  // namespace orvel::cli
