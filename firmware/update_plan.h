#pragma once
// What an update does to one device, decided from the device's version before anything is
// written, and what the version the device gives after the update says. Pure rules: no device, no
// files.

#include <optional>
#include <string>

#include "protocol/packets.h"

namespace orvel::update {

// Older, the same or newer: major number first, then minor; the kind is not compared.
int CompareVersions(const DeviceVersion& a, const DeviceVersion& b);
bool SameVersion(const DeviceVersion& a, const DeviceVersion& b);

// "1.11"
std::wstring VersionText(const DeviceVersion& version);

enum class Plan {
  Update,     // the whole update, as the dialog runs it
  Current,    // the device already runs the package's version: nothing is written
  Downgrade,  // the package is older than the device's firmware: refused, nothing is written
};

struct PlanChoices {
  bool skipCurrent = false;  // a device of the package's version is left as it is
  bool noDowngrade = false;  // a package older than the device's firmware is refused
};

// device: the device's answer to the version request, nothing when it gave none (older firmware,
// whose version the tool cannot know: it is never current, and nothing is older than it).
// unfinished: the last update of this device from this machine did not end well; such a device is
// never taken for current (its version may be the package's while its configuration is not back).
Plan PlanUpdate(const std::optional<DeviceVersion>& device, const DeviceVersion& package,
                const PlanChoices& choices, bool unfinished);

enum class VersionAfter {
  Expected,  // the package's version
  Other,     // another one: the device did not take the package's firmware
  Silent,    // no answer to the version request (older firmware): nothing to judge
};
VersionAfter JudgeVersionAfter(const std::optional<DeviceVersion>& after,
                               const DeviceVersion& package);

}  // namespace orvel::update
