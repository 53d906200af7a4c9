#include "firmware/backup_store.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/utf8.h"

namespace orvel::backup {
namespace {

std::wstring Stamp(std::time_t time) {
  const std::tm local = LocalCalendar(time);
  wchar_t text[32];
  std::swprintf(text, 32, L"%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

constexpr std::string_view kRecordHead = "orvelctl update record 1\n";

constexpr std::string_view kStepNames[] = {"backup", "program", "configuration", "restart"};

std::string_view StepName(UpdateStep step) { return kStepNames[static_cast<std::size_t>(step)]; }

// The value of the line "<key> <value>\n" at the start of text, and text moved past it.
std::optional<std::string_view> TakeLine(std::string_view& text, std::string_view key) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos || text.substr(0, key.size()) != key ||
      text.size() <= key.size() || text[key.size()] != ' ') {
    return std::nullopt;
  }
  const std::string_view value = text.substr(key.size() + 1, end - key.size() - 1);
  text.remove_prefix(end + 1);
  return value;
}

bool IsDigest(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::wstring InFolder(std::wstring folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() != L'/' && folder.back() != kFolderSeparator) {
    folder += kFolderSeparator;
  }
  return folder + name;
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

// The backup's path comes last and runs to the end of the text, so that no character of it can be
// taken for the end of the record.
std::string RecordText(const UpdateRecord& record) {
  std::string text(kRecordHead);
  text += "device " + MarkerText(record.device) + "\n";
  text += "package " + record.packageSha256 + "\n";
  text += "step " + std::string(StepName(record.step)) + "\n";
  return text + "backup " + PathToBytes(record.backupPath) + "\n";
}

std::optional<UpdateRecord> ParseRecord(std::string_view text) {
  if (!text.starts_with(kRecordHead)) return std::nullopt;
  text.remove_prefix(kRecordHead.size());
  const auto device = TakeLine(text, "device");
  const auto package = TakeLine(text, "package");
  const auto step = TakeLine(text, "step");
  if (!device || !package || !step || !text.starts_with("backup ") || !text.ends_with('\n')) {
    return std::nullopt;
  }
  UpdateRecord record;
  const auto endpoint = ParseMarker(std::string(*device));
  if (!endpoint || !IsDigest(*package)) return std::nullopt;
  record.device = *endpoint;
  record.packageSha256 = *package;
  const auto* name = std::find(std::begin(kStepNames), std::end(kStepNames), *step);
  if (name == std::end(kStepNames)) return std::nullopt;
  record.step = static_cast<UpdateStep>(name - std::begin(kStepNames));
  const std::string_view path = text.substr(7, text.size() - 8);
  if (path.empty()) return std::nullopt;
  record.backupPath = PathFromBytes(path);
  return record;
}

std::wstring RecordPath(const std::wstring& stateFolder, const DeviceEndpoint& device) {
  std::string name = MarkerText(device);
  name[name.find(':')] = '-';
  return InFolder(stateFolder, std::wstring(name.begin(), name.end()) + L".pending");
}

FoundRecord ReadRecord(const std::wstring& stateFolder, const DeviceEndpoint& device) {
  std::vector<std::uint8_t> bytes;
  // Much longer than any record: whatever else lies there is no record of ours.
  constexpr std::uint64_t kLongest = 64 * 1024;
  FoundRecord found;
  const ReadStatus status = ReadWholeFile(RecordPath(stateFolder, device), bytes, kLongest);
  if (status == ReadStatus::Missing) return found;
  found.present = true;
  if (status != ReadStatus::Ok) return found;
  found.record =
      ParseRecord(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (found.record && found.record->device != device) found.record.reset();
  return found;
}

bool WriteRecord(const std::wstring& stateFolder, const UpdateRecord& record) {
  if (CreateFolders(stateFolder) != 0) return false;
  const std::string text = RecordText(record);
  return WriteFileAtomically(RecordPath(stateFolder, record.device),
                             reinterpret_cast<const std::uint8_t*>(text.data()),
                             text.size()) == WriteStatus::Ok;
}

void RemoveRecord(const std::wstring& stateFolder, const DeviceEndpoint& device) {
  RemoveFile(RecordPath(stateFolder, device));
}

}  // namespace orvel::backup
