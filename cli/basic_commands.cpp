// version and restart: the two one-request commands of orvelctl.
#include <cstdio>

#include "cli/commands.h"

namespace orvel::cli {

int CmdVersion(CliContext& context) {
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
}

int CmdRestart(CliContext& context) {
  if (context.session.RestartDevice()) return 0;
  context.session.ShowBox(
      CMBoxExeption(L"Необходимо перезагрузить прибор", L"Внимание!", mbox::kIconWarning));
  return 1;
}

}  // namespace orvel::cli
