// The write-configuration task, and the file and folder helpers that the device update shares.
#include <cwchar>
#include <string>

#include "platform/file_io.h"
#include "protocol/configuration_image.h"
#include "protocol/memory_map.h"
#include "session/device_session.h"

namespace {

const orvel::FileChoice kConfigurationFile{false, L"bin", L"File configuration (*.bin)", L"*.bin"};

// Devices with firmware 1.11 or later within major version 1 take only the newer layout.
bool NeedsConversion(const CDeviceSession::Bytes& image, const DeviceVersion& version) {
  return image.size() == orvel::config::kOldImageSize && version.Major() == 1 &&
         version.Minor() >= 11;
}

CMBoxExeption WrongSize() {
  return CMBoxExeption(L"Размер файла конфигурации не верен.", L"Ошибка.", mbox::kIconError);
}

// A file longer than the device's configuration area would be written past its end, into memory
// that is not the configuration's.
CMBoxExeption LongerThanTheArea(std::size_t fileSize, const DeviceVersion& version) {
  const bool answered = version.kind != 0 || version.number != 0;
  wchar_t versionText[16];
  std::swprintf(versionText, 16, L"%d.%02d", version.Major(), version.Minor());
  return CMBoxExeption(L"Размер файла конфигурации " + std::to_wstring(fileSize) +
                           L" байт больше области конфигурации прибора " +
                           (answered ? L"версии " + std::wstring(versionText)
                                     : std::wstring(L"0.xx (нет ответа на запрос версии)")) +
                           L" (" + std::to_wstring(orvel::memory::ConfigSizeFor(version)) +
                           L" байт). Конфигурация не записана.",
                       L"Ошибка.", mbox::kIconError);
}

}  // namespace

bool CDeviceSession::WriteConfiguration() {
  try {
    m_progress.ResetPercent();
    const std::wstring path = ChooseTaskFile(
        kConfigurationFile,
        L"Не указано название и место расположения файла! Запись конфигурации отменена.");
    // Measured before it is read: no configuration is longer than the newer layout. A longer file
    // is refused where a short one is, after the version query.
    Bytes image;
    const bool fits = LoadFile(path, image, orvel::config::kNewImageSize);
    DeviceVersion version;
    QueryVersion(version);
    if (!fits) throw WrongSize();
    if (image.size() > orvel::memory::ConfigSizeFor(version) && !m_forceConfiguration) {
      throw LongerThanTheArea(image.size(), version);
    }
    if (NeedsConversion(image, version)) {
      Bytes converted;
      ConvertConfiguration(image, converted);
      image.swap(converted);
    }
    WriteThenVerify(
        [&] { WriteConfigurationImage(image, false); },
        [&] {
          VerifyWritten({{m_memoryMap.configAddress, image.data(), image.size()}}, false);
        });
    return true;
  } catch (...) {
    ShowFailure(L"Ошибка потока:0x000A");
  }
  m_progress.ResetPercent();
  return false;
}

void CDeviceSession::WriteConfigurationImage(const Bytes& image, const bool& suppressProgress) {
  // Nothing past the newer layout's size belongs to the configuration area: a longer image would
  // overwrite the device memory behind it.
  if (image.size() < orvel::config::kOldImageSize || image.size() > orvel::config::kNewImageSize) {
    throw WrongSize();
  }
  const Lease lease = GetLink();
  WriteRegion(m_memoryMap.configAddress, image.data(), static_cast<int>(image.size()),
              suppressProgress);
  if (!suppressProgress) m_progress.SetPos(100);
}

bool CDeviceSession::LoadFile(const std::wstring& path, Bytes& out) {
  return LoadFile(path, out, orvel::kAnySize);
}

bool CDeviceSession::LoadFile(const std::wstring& path, Bytes& out, std::uint64_t maxSize) {
  switch (orvel::ReadWholeFile(path, out, maxSize)) {
    case orvel::ReadStatus::Ok:
      return true;
    case orvel::ReadStatus::TooLarge:
      return false;
    case orvel::ReadStatus::Missing:
    case orvel::ReadStatus::NotAFile:
    case orvel::ReadStatus::CannotOpen:
      throw CMBoxExeption(L"Не удается открыть файл(ы):\n", L"Внимание!", mbox::kIconWarning);
    case orvel::ReadStatus::ShortRead:
      break;
  }
  throw CMBoxExeption(L"Не удаётся прочесть файл(ы):\n", L"Ошибка окрытия файла!", path,
                      mbox::kIconError);
}

std::wstring& CDeviceSession::PrepareTempFolder(std::wstring& out) {
  out = m_workDir + L"Temp" + orvel::kFolderSeparator;
  if (const unsigned long error = orvel::CreateFolder(out)) {
    throw CMBoxExeption(error, L"Не получется создать дирректорию \\Temp", mbox::kIconInformation);
  }
  if (m_deviceFolder.empty()) return out;
  out += m_deviceFolder + orvel::kFolderSeparator;
  if (const unsigned long error = orvel::CreateFolder(out)) {
    throw CMBoxExeption(error, L"Не получется создать дирректорию \\Temp", mbox::kIconInformation);
  }
  return out;
}

// The layout conversion is a rule of the configuration image, kept apart from the session.
bool CDeviceSession::ConvertConfiguration(Bytes& old, Bytes& out) {
  orvel::config::ConvertConfiguration(old, out);
  return true;
}

void CDeviceSession::PatchEventNames(std::uint8_t* table) { orvel::config::PatchEventNames(table); }

void CDeviceSession::PatchEventLists(std::uint8_t* table) { orvel::config::PatchEventLists(table); }
