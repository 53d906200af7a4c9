// The read-configuration task: the device's configuration area, copied into a file.
#include <string>

#include "platform/file_io.h"
#include "protocol/configuration_image.h"
#include "session/device_session.h"

namespace {

const orvel::FileChoice kConfigurationFile{true, L"bin", L"File configuration (*.bin)", L"*.bin"};

CMBoxExeption CannotOpenFile() {
  return CMBoxExeption(L"Не удается открыть файл(ы):\n", L"Внимание!", mbox::kIconWarning);
}

}  // namespace

bool CDeviceSession::ReadConfiguration() {
  try {
    DeviceVersion version;
    QueryVersion(version);
    m_progress.ResetPercent();
    const std::wstring path = ChooseTaskFile(
        kConfigurationFile,
        L"Не указано название и место расположения файла! Чтение конфигурации отменено.");
    ReadConfigurationToFile(version, path, false);
    return true;
  } catch (...) {
    ShowFailure(L"Ошибка потока:0x0009");
  }
  m_progress.ResetPercent();
  return false;
}

void CDeviceSession::ReadConfigurationToFile(const DeviceVersion& version, const std::wstring& path,
                                             const bool& suppressProgress,
                                             const std::function<void()>& beforeReplace) {
  SelectConfigurationSize(version);
  // The file at path is replaced only once the whole area has been read, so a failed read leaves it
  // as it was; whether it can be written is settled before any traffic.
  orvel::OutputFile file(path);
  if (!file.IsOpen()) throw CannotOpenFile();

  Bytes buffer(m_memoryMap.configSize, 0);
  const Lease lease = GetLink();
  ReadRegion(m_memoryMap.configAddress, static_cast<int>(buffer.size()), buffer.data(),
             suppressProgress);
  if (beforeReplace) beforeReplace();

  if (file.Commit(buffer.data(), buffer.size()) != orvel::WriteStatus::Ok) {
    throw CMBoxExeption(L"Не удаётся записать файл(ы):\n", L"Ошибка записи файла!", path,
                        mbox::kIconError);
  }
  if (!suppressProgress) m_progress.SetPos(100);
}

void CDeviceSession::SelectConfigurationSize(const DeviceVersion& version) {
  m_memoryMap.configSize = orvel::memory::ConfigSizeFor(version);
  if (version.Major() != 0 && (version.Major() != 1 || version.Minor() != 11)) {
    // Shown without an owner window; the read goes on with the newer size when it is closed.
    Desktop().ShowMessage(nullptr, L"Нет данных о конфигурации прибора, обратитесь к разработчику.",
                          L"Ошибка.", mbox::kIconWarning);
  }
}
