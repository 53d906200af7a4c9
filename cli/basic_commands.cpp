// version and restart: the two one-request commands of orvelctl, and what every command shares.
#include <cstdio>

#include "cli/commands.h"

namespace orvel::cli {
namespace {

// A failure to open the link (or anything else that escapes) ends the command as a failed task.
template <typename Body>
int RunShown(CliContext& context, Body body) {
  try {
    return body();
  } catch (...) {
    context.session.ShowFailure(L"Ошибка потока:0x000A");
  }
  return 1;
}

}  // namespace

bool TakeFile(CliContext& context, const char* command) {
  if (!context.file) {
    std::fprintf(stderr, "orvelctl: %s needs a file\n", command);
    return false;
  }
  context.desktop.SetChosenFile(context.file);
  return true;
}

int CmdVersion(CliContext& context) {
  return RunShown(context, [&] {
    DeviceVersion version;
    context.session.QueryVersion(version);
    // The query reports a silent device as {0, 0}: that is a failure here, not version 0.00.
    if (version.kind == 0 && version.number == 0) {
      context.session.ShowBox(CMBoxExeption(L"Нет ответа от прибора на запрос версии.",
                                            L"Ошибка обмена данными.", mbox::kIconWarning));
      return 1;
    }
    if (context.printResult) {
      std::printf("%d.%02d (kind %u)\n", version.Major(), version.Minor(), unsigned{version.kind});
      std::fflush(stdout);
    }
    return 0;
  });
}

int CmdRestart(CliContext& context) {
  return RunShown(context, [&] {
    if (context.session.RestartDevice()) return 0;
    context.session.ShowBox(
        CMBoxExeption(L"Необходимо перезагрузить прибор", L"Внимание!", mbox::kIconWarning));
    return 1;
  });
}

}  // namespace orvel::cli
