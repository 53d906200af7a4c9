// version and restart: the two one-request commands of orvelctl.
#include <array>
#include <cstdio>
#include <utility>

#include "cli/commands.h"
#include "session/transfer_engine.h"

namespace orvel::cli {
namespace {
constexpr std::uint16_t kProbeSeconds = 3;  // the read that tells older firmware from no device
}  // namespace

int CmdVersion(CliContext& context) {
  DeviceVersion version;
  context.session.QueryVersion(version);
  // The query reports a silent device as {0, 0}: that is a failure here, not version 0.00.
  if (version.kind == 0 && version.number == 0) {
    // Older firmware answers no version request, but a read: a short one tells it from a device
    // that is not there at all.
    CDeviceSession& session = context.session;
    bool answers = true;
    {
      const auto lease = session.GetLink();
      const std::uint16_t limit = std::exchange(session.m_timeLimit, kProbeSeconds);
      std::array<std::uint8_t, 4> bytes{};
      try {
        session.ReadRegion(session.m_memoryMap.configAddress, static_cast<int>(bytes.size()),
                           bytes.data(), true);
      } catch (const CMBoxExeption&) {
        answers = false;
      }
      session.m_timeLimit = limit;
    }
    session.ShowBox(answers ? CMBoxExeption(L"Нет ответа от прибора на запрос версии.",
                                            L"Ошибка обмена данными.", mbox::kIconWarning)
                            : NoAnswerBox());
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
