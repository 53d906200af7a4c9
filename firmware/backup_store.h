#pragma once
// The update's configuration backups in the Temp folder:
//   ConfBackup.bin                   the latest backup, a plain configuration file
//   ConfBackup-YYYYMMDD-HHMMSS.bin   earlier backups, named after their own modification time
//   ConfBackup.pending               present from a completed backup until the configuration is
//                                    back in the device; names the device as "a.b.c.d:port"
// Plain file operations, no device and no desktop.

#include <cstdint>
#include <optional>
#include <string>

namespace orvel::backup {

constexpr wchar_t kBackupName[] = L"ConfBackup.bin";
constexpr wchar_t kMarkerName[] = L"ConfBackup.pending";

struct DeviceEndpoint {
  std::uint32_t address = 0;  // host order, first dotted octet in the most significant byte
  std::uint16_t port = 0;

  bool operator==(const DeviceEndpoint&) const = default;
};

// Copies folder + ConfBackup.bin, when it exists, to a history file beside it named after its
// modification time (local time); a history file of that name is never replaced: "-2", "-3", ...
// are tried after it. True when there was nothing to keep or the copy is complete.
bool KeepPreviousBackup(const std::wstring& folder);

// The marker's text for a device, and the device a marker's text names (nothing for a text that
// is not exactly "a.b.c.d:port").
std::string MarkerText(const DeviceEndpoint& device);
std::optional<DeviceEndpoint> ParseMarker(const std::string& text);

// The device named by folder + ConfBackup.pending; nothing when there is no readable marker.
std::optional<DeviceEndpoint> ReadMarker(const std::wstring& folder);
// False when the marker could not be written in full.
bool WriteMarker(const std::wstring& folder, const DeviceEndpoint& device);
void RemoveMarker(const std::wstring& folder);

}  // namespace orvel::backup
