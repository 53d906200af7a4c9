#include "firmware/backup_store.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace orvel::backup {
namespace {

std::wstring Stamp(std::time_t time) {
  const std::tm local = LocalCalendar(time);
  wchar_t text[32];
  std::swprintf(text, 32, L"%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace

bool KeepPreviousBackup(const std::wstring& folder) {
  const std::wstring backup = folder + kBackupName;
  const auto modified = ModifiedAt(backup);
  if (!modified) return true;
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(backup, bytes) != ReadStatus::Ok) return false;

  const std::wstring stem = folder + L"ConfBackup-" + Stamp(*modified);
  std::wstring history = stem + L".bin";
  for (int n = 2; ModifiedAt(history); ++n) {
    if (n > 1000) return false;
    history = stem + L"-" + std::to_wstring(n) + L".bin";
  }
  return WriteFileAtomically(history, bytes.data(), bytes.size()) == WriteStatus::Ok;
}

std::string MarkerText(const DeviceEndpoint& device) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", unsigned{device.address >> 24},
                unsigned{(device.address >> 16) & 0xFF}, unsigned{(device.address >> 8) & 0xFF},
                unsigned{device.address & 0xFF}, unsigned{device.port});
  return text;
}

std::optional<DeviceEndpoint> ParseMarker(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0, port = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u:%5u%n", &a, &b, &c, &d, &port, &consumed) != 5 ||
      static_cast<std::size_t>(consumed) != text.size() || a > 255 || b > 255 || c > 255 ||
      d > 255 || port > 65535) {
    return std::nullopt;
  }
  return DeviceEndpoint{a << 24 | b << 16 | c << 8 | d, static_cast<std::uint16_t>(port)};
}

std::optional<DeviceEndpoint> ReadMarker(const std::wstring& folder) {
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(folder + kMarkerName, bytes) != ReadStatus::Ok) return std::nullopt;
  return ParseMarker(std::string(bytes.begin(), bytes.end()));
}

bool WriteMarker(const std::wstring& folder, const DeviceEndpoint& device) {
  const std::string text = MarkerText(device);
  return WriteFileAtomically(folder + kMarkerName,
                             reinterpret_cast<const std::uint8_t*>(text.data()),
                             text.size()) == WriteStatus::Ok;
}

void RemoveMarker(const std::wstring& folder) { RemoveFile(folder + kMarkerName); }

}  // namespace orvel::backup
