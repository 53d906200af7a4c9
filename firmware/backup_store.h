#pragma once
// The update's configuration backups in the Temp folder:
//   ConfBackup.bin                   the latest backup, a plain configuration file
//   ConfBackup-YYYYMMDD-HHMMSS.bin   earlier backups, named after their own modification time
//   ConfBackup.pending               present from a completed backup until the configuration is
//                                    back in the device; names the device as "a.b.c.d:port"
// and, for a tool that is started from any folder (orvelctl), the record of an unfinished update in
// the user's state folder instead of the marker, one file per device:
//   <state folder>/a.b.c.d-port.pending
// present from a completed backup until the update has ended well. It names the device, the
// package, the step reached and the absolute path of the backup, wherever that was made.
// Plain file operations, no device and no desktop.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// How far an update got; each step is written once the one before it is complete.
enum class UpdateStep {
  Backup,         // the backup is complete; the program goes next
  Program,        // the program is written; the configuration goes back next
  Configuration,  // the configuration is back (or stays where it was); the restart goes next
  Restart,        // the device was asked to restart; the parts go next
};

// True while the device's configuration may be half-written: the backup is its last good one.
constexpr bool NeedsBackup(UpdateStep step) {
  return step == UpdateStep::Backup || step == UpdateStep::Program;
}

struct UpdateRecord {
  DeviceEndpoint device;
  std::string packageSha256;  // lower-case hexadecimal
  UpdateStep step = UpdateStep::Backup;
  std::wstring backupPath;  // absolute

  bool operator==(const UpdateRecord&) const = default;
};

// The record's text, and the record a text holds (nothing unless it is exactly such a text).
std::string RecordText(const UpdateRecord& record);
std::optional<UpdateRecord> ParseRecord(std::string_view text);

// The file of a device's record in stateFolder.
std::wstring RecordPath(const std::wstring& stateFolder, const DeviceEndpoint& device);

struct FoundRecord {
  bool present = false;                // a file is there
  std::optional<UpdateRecord> record;  // ... and holds a record of this device
};
FoundRecord ReadRecord(const std::wstring& stateFolder, const DeviceEndpoint& device);
// Creates stateFolder when it is missing and replaces the device's record at once, so that a run
// stopped at any moment leaves the earlier record or the new one. False when it could not.
bool WriteRecord(const std::wstring& stateFolder, const UpdateRecord& record);
void RemoveRecord(const std::wstring& stateFolder, const DeviceEndpoint& device);

}  // namespace orvel::backup
