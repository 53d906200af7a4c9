// The device update: back the configuration up, write the package's program, write the
// configuration back, restart the device, wait for it and send the package's further parts. The
// progress bar counts steps here, not percent.

#include <algorithm>
#include <cwchar>
#include <limits>
#include <string>

#include "firmware/backup_store.h"
#include "firmware/update_package.h"
#include "protocol/configuration_image.h"
#include "session/device_session.h"

namespace {

const orvel::FileChoice kUpdateFile{false, L"update", L"File Update (*.update)", L"*.update"};

// Packages of firmware with this minor number or a later one get the configuration written back.
constexpr int kMinorWithConfiguration = 11;

enum class WriteBack {
  None,       // the package's firmware keeps the configuration where it is
  AsIs,       // the backup goes back as read
  Converted,  // the backup goes back in the newer layout
  Refused,    // the backup is in a layout the package's firmware cannot take
};

// The layout follows the major number: only firmware of major 1 or later takes the newer layout
// (and needs it), major 0 takes only the older one.
WriteBack DecideWriteBack(const DeviceVersion& package, std::size_t backupSize) {
  if (package.Minor() < kMinorWithConfiguration) return WriteBack::None;
  if (package.Major() >= 1) {
    return backupSize == orvel::config::kOldImageSize ? WriteBack::Converted : WriteBack::AsIs;
  }
  return backupSize == orvel::config::kNewImageSize ? WriteBack::Refused : WriteBack::AsIs;
}

// True when the backup kept from an earlier update of this device that stopped before the
// configuration was back is to be written back instead of what the device holds now.
bool UseKeptBackup(CDeviceSession& session, const std::wstring& backupPath) {
  const auto marked = orvel::backup::ReadMarker(session.m_tempDir);
  if (!marked ||
      *marked != orvel::backup::DeviceEndpoint{session.m_deviceAddress, session.m_port}) {
    return false;
  }
  switch (session.m_keptBackup) {
    case KeptBackupPolicy::ReadFresh:
      return false;
    case KeptBackupPolicy::UseKept:
      session.ShowBox(
          CMBoxExeption(L"Предыдущее обновление прибора не завершено. Будет записана "
                        L"конфигурация, сохранённая перед ним:",
                        L"Внимание!", backupPath, mbox::kIconInformation));
      return true;
    case KeptBackupPolicy::Ask:
      break;
  }
  return session.Desktop().ShowMessage(
             session.m_hOwner,
             L"Предыдущее обновление прибора не завершено: конфигурация не была записана обратно."
             L"\n\nЗаписать конфигурацию, сохранённую перед незавершённым обновлением?\n(Нет - "
             L"считать конфигурацию из прибора заново.)",
             L"Внимание!", mbox::kYesNo | mbox::kIconQuestion) == mbox::kYes;
}

std::wstring VersionText(const DeviceVersion& version) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%d.%02d", version.Major(), version.Minor());
  return text;
}

// Steps of the bar besides one per part and one per second of the restart wait: range set, backup,
// program, configuration, restart request, end of the wait, end of the parts.
constexpr unsigned kFixedSteps = 7;

std::uint16_t StepRange(std::size_t parts, unsigned waitSteps, bool verify) {
  // The read-back, when asked for, is one step more.
  const std::size_t steps = parts + kFixedSteps + waitSteps + (verify ? 1 : 0);
  return static_cast<std::uint16_t>(std::min<std::size_t>(steps, 0xFFFF));
}

CMBoxExeption WrongPackageSize() {
  return CMBoxExeption(L"Размер файла обновления не верен.", L"Ошибка.", mbox::kIconError);
}

}  // namespace

bool CDeviceSession::UpdateDevice() {
  try {
    m_progress.ResetPercent();
    PrepareTempFolder(m_tempDir);
    const std::wstring path = ChooseTaskFile(kUpdateFile, L"Обновление прибора отменено.");

    UpdatePackage package;
    {
      Bytes file;
      if (!LoadFile(path, file, kMaxPackageSize)) throw WrongPackageSize();
      package = LoadUpdatePackage(file);
    }
    // The checksum word stands right behind the program area: a longer image would run into it
    // and past it into memory that is not the program's.
    if (package.program.size() > m_memoryMap.programSize) throw WrongPackageSize();
    m_progress.Reset(StepRange(package.parts.size(), m_restartWaitSteps, m_verify));
    m_progress.Step(0);

    DeviceVersion version;
    QueryVersion(version);
    const std::wstring backupPath = m_tempDir + orvel::backup::kBackupName;
    Desktop().SetStatusText(m_hStatus, L"Считывание конфигурации ...");
    Bytes backup;
    if (UseKeptBackup(*this, backupPath)) {
      // Checked before the device is touched; read again below like a new backup.
      LoadFile(backupPath, backup);
      if (backup.size() != orvel::config::kOldImageSize &&
          backup.size() != orvel::config::kNewImageSize) {
        throw CMBoxExeption(L"Размер файла конфигурации не верен.", L"Ошибка.", mbox::kIconError);
      }
    } else {
      ReadConfigurationToFile(version, backupPath, true, [this, &backupPath] {
        if (!orvel::backup::KeepPreviousBackup(m_tempDir)) {
          throw CMBoxExeption(L"Не удаётся сохранить предыдущую копию конфигурации:\n",
                              L"Ошибка записи файла!", backupPath, mbox::kIconError);
        }
      });
      // From here until the configuration is back, a new run must not take what the device holds
      // for its configuration.
      if (!orvel::backup::WriteMarker(m_tempDir, {m_deviceAddress, m_port})) {
        throw CMBoxExeption(L"Не удаётся записать файл(ы):\n", L"Ошибка записи файла!",
                            m_tempDir + orvel::backup::kMarkerName, mbox::kIconError);
      }
    }
    m_progress.Step(0);

    // One socket from here to the end, across the restart.
    const Lease lease = GetLink();
    Desktop().SetStatusText(m_hStatus, L"Запись программы ...");
    TransferProgram(package.program, true);
    m_progress.Step(0);

    LoadFile(backupPath, backup);
    const WriteBack writeBack = DecideWriteBack(package.version, backup.size());
    if (writeBack == WriteBack::Converted) {
      Bytes converted;
      ConvertConfiguration(backup, converted);
      backup.swap(converted);
    }
    if (writeBack == WriteBack::AsIs || writeBack == WriteBack::Converted) {
      Desktop().SetStatusText(m_hStatus, L"Запись конфигурации ...");
      WriteConfigurationImage(backup, true);
    } else if (writeBack == WriteBack::Refused) {
      ShowBox(CMBoxExeption(L"Конфигурация не записана в прибор: обновление версии " +
                                VersionText(package.version) +
                                L" не принимает конфигурацию нового формата.\n"
                                L"Копия конфигурации прибора сохранена в файле " +
                                backupPath,
                            L"Внимание!", mbox::kIconWarning));
    }
    m_progress.Step(0);
    if (m_verify) {
      // Before the restart: a device that restarts into a wrong program may not answer again.
      Desktop().SetStatusText(m_hStatus, L"Проверка записи ...");
      const auto word = ChecksumWord(package.program);
      std::vector<WrittenRegion> regions;
      if (writeBack == WriteBack::AsIs || writeBack == WriteBack::Converted) {
        regions.push_back({m_memoryMap.configAddress, backup.data(), backup.size()});
      }
      regions.push_back({m_memoryMap.programBase, package.program.data(), package.program.size()});
      regions.push_back({m_memoryMap.checksumAddress, word.data(), word.size()});
      VerifyWritten(regions, true);
      m_progress.Step(0);
    }
    orvel::backup::RemoveMarker(m_tempDir);

    Desktop().SetStatusText(m_hStatus, L"Перезагрузка прибора...");
    if (!RestartDevice()) {
      Desktop().ShowMessage(nullptr, L"Необходимо перезагрузить прибор", L"Внимание!",
                            mbox::kIconWarning);
    }
    m_progress.Step(0);
    // The device is silent while it restarts; nothing is asked of it until the wait is over.
    for (unsigned second = 0; second < m_restartWaitSteps; ++second) {
      Clock().SleepMs(1000);
      m_progress.Step(0);
    }
    m_progress.Step(0);

    Desktop().SetStatusText(m_hStatus, L"Обновление прибора...");
    std::uint32_t offset = 0;
    std::uint32_t partNumber = 0;
    for (const Bytes& part : package.parts) {
      const int next = SendUpdatePart(part, offset, ++partNumber);
      if (next == -1) return false;
      offset = static_cast<std::uint32_t>(next);
      m_progress.Step(0);
    }
    Desktop().SetStatusText(m_hStatus, L"Обновление прибора...");
    m_progress.Step(0);
    return true;
  } catch (const CMBoxExeption& box) {
    ShowBox(box);
    return false;
  }
}

int CDeviceSession::SendUpdatePart(const Bytes& part, const std::uint32_t& offset,
                                   std::uint32_t partNumber) {
  constexpr std::size_t kBlock = orvel::protocol::kPartBlockData;
  UpdatePartDescriptor descriptor;
  descriptor.partNumber = partNumber;
  descriptor.partSize = static_cast<std::uint32_t>(part.size());
  descriptor.partOffset = offset;
  const auto encoded = descriptor.Encode();
  const int result = static_cast<int>(offset + descriptor.partSize);

  for (;;) {
    try {
      const Lease lease = GetLink();
      Exchange(m_timeLimit, *lease, 0, ServiceCommand::PartDescriptor,
               static_cast<std::uint16_t>(encoded.size()), encoded.data(), nullptr);
      std::uint32_t index = 0;
      std::size_t position = 0;
      std::size_t left = part.size();
      while (left > kBlock) {
        Exchange(m_timeLimit, *lease, index, ServiceCommand::PartBlock, kBlock,
                 part.data() + position, nullptr);
        left -= kBlock;
        position += kBlock;
        ++index;
      }
      // The last block carries the rest; an empty part still sends one empty block.
      Exchange(m_timeLimit, *lease, index, ServiceCommand::PartBlock,
               static_cast<std::uint16_t>(left), part.data() + position, nullptr);
      return result;
    } catch (const CMBoxExeption& box) {
      ShowBox(box);
      const int answer = Desktop().ShowMessage(
          m_hOwner,
          L"Попытаться выйти на связь с прибором?\n\n(P.S. Вы можете продолжить операцию после "
          L"перезагрузки прибора.)",
          L"Внимание!", mbox::kYesNo | mbox::kIconQuestion);
      if (answer == mbox::kNo) return -1;
    }
  }
}
