// The device update: back the configuration up, write the package's program, write the
// configuration back, restart the device, wait for it and send the package's further parts. The
// progress bar counts steps here, not percent.

#include <algorithm>
#include <cwchar>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "common/sha256.h"
#include "firmware/backup_store.h"
#include "firmware/update_package.h"
#include "firmware/update_plan.h"
#include "platform/file_io.h"
#include "platform/user_folders.h"
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

// An earlier update of this device that did not end well, as this one finds it.
struct Unfinished {
  bool any = false;          // there is one: the device is never taken for current
  bool needsBackup = false;  // ... and it stopped before the configuration was back
  bool unreadable = false;   // its record cannot be read: what it needs is unknown
  std::wstring backupPath;   // the backup it needs
};

// Where the update notes how far it got, so that a run after an unfinished one does not take the
// device's half-written configuration for its own: the Temp folder's marker (the dialog: from the
// backup until the configuration is back) or the device's record in the user's state folder
// (orvelctl: from the backup until the update has ended well, found from whatever folder the next
// run starts in).
class UpdateNotes {
 public:
  UpdateNotes(CDeviceSession& session, std::string packageSha256)
      : m_session(session),
        m_device{session.m_deviceAddress, session.m_port},
        m_stateFolder(session.m_update.stateFolder),
        m_packageSha256(std::move(packageSha256)) {
    if (m_stateFolder.empty()) {
      if (orvel::backup::ReadMarker(session.m_tempDir) == m_device) {
        m_found = {true, true, false, session.m_tempDir + orvel::backup::kBackupName};
      }
      return;
    }
    const orvel::backup::FoundRecord found = orvel::backup::ReadRecord(m_stateFolder, m_device);
    if (!found.present) return;
    m_found.any = true;
    if (!found.record) {
      m_found.needsBackup = m_found.unreadable = true;
      return;
    }
    m_found.needsBackup = orvel::backup::NeedsBackup(found.record->step);
    m_found.backupPath = found.record->backupPath;
  }

  bool InStateFolder() const { return !m_stateFolder.empty(); }
  std::wstring RecordPath() const { return orvel::backup::RecordPath(m_stateFolder, m_device); }
  const Unfinished& Found() const { return m_found; }

  // The backup at backupPath is complete: from now on a new run must not take what the device
  // holds for its configuration. Throws when that cannot be noted.
  void Began(const std::wstring& backupPath) {
    if (!InStateFolder()) {
      if (!orvel::backup::WriteMarker(m_session.m_tempDir, m_device)) {
        throw WriteFailed(m_session.m_tempDir + orvel::backup::kMarkerName);
      }
      return;
    }
    // The record is read from other folders: it names the backup by its full path.
    const auto absolute = orvel::AbsolutePath(backupPath);
    if (!absolute) throw WriteFailed(RecordPath());
    m_record = {m_device, m_packageSha256, orvel::backup::UpdateStep::Backup, *absolute};
    if (!orvel::backup::WriteRecord(m_stateFolder, m_record)) throw WriteFailed(RecordPath());
  }

  // A later step is reached. Once the device is being written, a record that cannot be renewed
  // stops nothing: the one before it asks no less of the next run.
  void Reached(orvel::backup::UpdateStep step) {
    if (!InStateFolder()) {
      if (!orvel::backup::NeedsBackup(step)) orvel::backup::RemoveMarker(m_session.m_tempDir);
      return;
    }
    m_record.step = step;
    orvel::backup::WriteRecord(m_stateFolder, m_record);
  }

  // The update ended well: nothing of it is left for a later run.
  void Done() {
    if (InStateFolder()) orvel::backup::RemoveRecord(m_stateFolder, m_device);
  }

 private:
  static CMBoxExeption WriteFailed(const std::wstring& path) {
    return CMBoxExeption(L"Не удаётся записать файл(ы):\n", L"Ошибка записи файла!", path,
                         mbox::kIconError);
  }

  CDeviceSession& m_session;
  orvel::backup::DeviceEndpoint m_device;
  std::wstring m_stateFolder;
  std::string m_packageSha256;
  Unfinished m_found;
  orvel::backup::UpdateRecord m_record;
};

bool IsConfigurationSize(std::size_t size) {
  return size == orvel::config::kOldImageSize || size == orvel::config::kNewImageSize;
}

// Why a kept backup cannot be written back, or nothing when it can (then it is in out).
std::optional<std::wstring> KeptBackupProblem(const std::wstring& path,
                                              CDeviceSession::Bytes& out) {
  switch (orvel::ReadWholeFile(path, out, orvel::config::kNewImageSize)) {
    case orvel::ReadStatus::Ok:
      break;
    case orvel::ReadStatus::Missing:
      return L"файла нет";
    case orvel::ReadStatus::TooLarge:
      return L"файл длиннее " + std::to_wstring(orvel::config::kNewImageSize) + L" байт";
    case orvel::ReadStatus::ShortRead:
      return L"файл не прочитан целиком";
    default:
      return L"файл не открывается";
  }
  if (IsConfigurationSize(out.size())) return std::nullopt;
  return L"в файле " + std::to_wstring(out.size()) + L" байт, а не " +
         std::to_wstring(orvel::config::kOldImageSize) + L" или " +
         std::to_wstring(orvel::config::kNewImageSize);
}

// The configuration kept from an earlier update of this device that stopped before the
// configuration was back, when it is to be written back instead of what the device holds now;
// nothing when the device is read afresh. Checked before the device is touched.
std::optional<CDeviceSession::Bytes> KeptBackup(CDeviceSession& session, const UpdateNotes& notes) {
  const Unfinished& found = notes.Found();
  if (!found.needsBackup || session.m_keptBackup == KeptBackupPolicy::ReadFresh) {
    return std::nullopt;
  }
  CDeviceSession::Bytes backup;
  if (notes.InStateFolder()) {
    // Kept wherever the unfinished update ran: what is missing is said, with the way out.
    const std::wstring wayOut =
        L"\nЧтобы считать конфигурацию из прибора заново, запустите обновление с --fresh-backup.";
    if (found.unreadable) {
      throw CMBoxExeption(
          L"Предыдущее обновление прибора не завершено, но запись о нём не читается: " +
              notes.RecordPath() + wayOut,
          L"Ошибка.", mbox::kIconError);
    }
    if (const auto problem = KeptBackupProblem(found.backupPath, backup)) {
      throw CMBoxExeption(
          L"Предыдущее обновление прибора не завершено, но конфигурация, "
          L"сохранённая перед ним, недоступна: " +
              found.backupPath + L" (" + *problem + L")." + wayOut,
          L"Ошибка.", mbox::kIconError);
    }
  }
  if (session.m_keptBackup == KeptBackupPolicy::UseKept) {
    session.ShowBox(
        CMBoxExeption(L"Предыдущее обновление прибора не завершено. Будет записана "
                      L"конфигурация, сохранённая перед ним:",
                      L"Внимание!", found.backupPath, mbox::kIconInformation));
  } else if (session.Desktop().ShowMessage(
                 session.m_hOwner,
                 L"Предыдущее обновление прибора не завершено: конфигурация не была записана "
                 L"обратно.\n\nЗаписать конфигурацию, сохранённую перед незавершённым "
                 L"обновлением?\n(Нет - считать конфигурацию из прибора заново.)",
                 L"Внимание!", mbox::kYesNo | mbox::kIconQuestion) != mbox::kYes) {
    return std::nullopt;
  }
  if (!notes.InStateFolder()) {
    session.LoadFile(found.backupPath, backup);
    if (!IsConfigurationSize(backup.size())) {
      throw CMBoxExeption(L"Размер файла конфигурации не верен.", L"Ошибка.", mbox::kIconError);
    }
  }
  return backup;
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
    std::string packageSha256;
    {
      Bytes file;
      if (!LoadFile(path, file, kMaxPackageSize)) throw WrongPackageSize();
      package = LoadUpdatePackage(file);
      packageSha256 = orvel::Sha256::Hex(orvel::Sha256::Of(file.data(), file.size()));
    }
    // The checksum word stands right behind the program area: a longer image would run into it
    // and past it into memory that is not the program's.
    if (package.program.size() > m_memoryMap.programSize) throw WrongPackageSize();
    m_progress.Reset(StepRange(package.parts.size(), m_restartWaitSteps, m_verify));
    m_progress.Step(0);

    DeviceVersion version;
    QueryVersion(version);
    // Older firmware does not answer the version request.
    const bool versionAnswered = version.kind != 0 || version.number != 0;
    UpdateNotes notes(*this, packageSha256);
    const orvel::update::PlanChoices choices{m_update.skipCurrent, m_update.noDowngrade};
    switch (orvel::update::PlanUpdate(versionAnswered ? std::optional(version) : std::nullopt,
                                      package.version, choices, notes.Found().any)) {
      case orvel::update::Plan::Update:
        break;
      case orvel::update::Plan::Current:
        m_stats.current = true;
        Desktop().SetStatusText(m_hStatus, L"Прибор уже имеет версию " +
                                               orvel::update::VersionText(version) +
                                               L": обновление не требуется.");
        return true;
      case orvel::update::Plan::Downgrade:
        throw CMBoxExeption(L"Версия обновления " + orvel::update::VersionText(package.version) +
                                L" старше версии прибора " + orvel::update::VersionText(version) +
                                L": обновление не выполнено.",
                            L"Ошибка.", mbox::kIconError);
    }

    Desktop().SetStatusText(m_hStatus, L"Считывание конфигурации ...");
    std::wstring backupPath = m_tempDir + orvel::backup::kBackupName;
    Bytes backup;
    if (KeptBackup(*this, notes)) {
      // Read again below like a new backup, from wherever the unfinished update kept it.
      backupPath = notes.Found().backupPath;
    } else {
      ReadConfigurationToFile(version, backupPath, true, [this, &backupPath] {
        if (!orvel::backup::KeepPreviousBackup(m_tempDir)) {
          throw CMBoxExeption(L"Не удаётся сохранить предыдущую копию конфигурации:\n",
                              L"Ошибка записи файла!", backupPath, mbox::kIconError);
        }
      });
    }
    notes.Began(backupPath);
    m_progress.Step(0);

    // One socket from here to the end, across the restart.
    const Lease lease = GetLink();
    Desktop().SetStatusText(m_hStatus, L"Запись программы ...");
    TransferProgram(package.program, true);
    notes.Reached(orvel::backup::UpdateStep::Program);
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
                                orvel::update::VersionText(package.version) +
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
      try {
        VerifyWritten(regions, true);
      } catch (...) {
        m_stats.verifyFailed = true;
        throw;
      }
      m_progress.Step(0);
    }
    notes.Reached(orvel::backup::UpdateStep::Configuration);

    Desktop().SetStatusText(m_hStatus, L"Перезагрузка прибора...");
    const bool acknowledged = RestartDevice();
    if (!acknowledged) {
      Desktop().ShowMessage(nullptr, L"Необходимо перезагрузить прибор", L"Внимание!",
                            mbox::kIconWarning);
    }
    notes.Reached(orvel::backup::UpdateStep::Restart);
    m_progress.Step(0);
    WaitAfterRestart(acknowledged, versionAnswered ? orvel::restart::Probe::Version
                                                   : orvel::restart::Probe::Read);
    m_progress.Step(0);

    Desktop().SetStatusText(m_hStatus, L"Обновление прибора...");
    // The parts' bytes and their descriptors, told ahead for progress by bytes across the parts.
    std::uint64_t partBytes = 0;
    for (const Bytes& part : package.parts) partBytes += UpdatePartDescriptor::kSize + part.size();
    AnnounceBytes(partBytes);
    std::uint32_t offset = 0;
    std::uint32_t partNumber = 0;
    for (const Bytes& part : package.parts) {
      const int next = SendUpdatePart(part, offset, ++partNumber);
      if (next == -1) return false;
      offset = static_cast<std::uint32_t>(next);
      m_progress.Step(0);
    }
    if (m_update.askVersionAfter) CheckVersionAfter(package.version);
    notes.Done();
    Desktop().SetStatusText(m_hStatus, L"Обновление прибора...");
    m_progress.Step(0);
    return true;
  } catch (const CMBoxExeption& box) {
    ShowBox(box);
    return false;
  }
}

void CDeviceSession::CheckVersionAfter(const DeviceVersion& package) {
  // The table's version stays the one the update found.
  const std::optional<DeviceVersion> before = m_stats.deviceVersion;
  DeviceVersion after;
  QueryVersion(after);
  m_stats.deviceVersion = before;
  m_stats.versionAfterAsked = true;
  if (after.kind != 0 || after.number != 0) m_stats.versionAfter = after;
  if (!m_update.checkVersion) return;
  switch (orvel::update::JudgeVersionAfter(m_stats.versionAfter, package)) {
    case orvel::update::VersionAfter::Expected:
      return;
    case orvel::update::VersionAfter::Silent:
      ShowBox(
          CMBoxExeption(L"Прибор не ответил на запрос версии после обновления (старая "
                        L"прошивка): версия не проверена.",
                        L"Внимание!", mbox::kIconInformation));
      return;
    case orvel::update::VersionAfter::Other:
      throw CMBoxExeption(L"Прибор сообщает версию " +
                              orvel::update::VersionText(*m_stats.versionAfter) +
                              L" после обновления до " + orvel::update::VersionText(package) + L".",
                          L"Ошибка проверки версии.", mbox::kIconError);
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
