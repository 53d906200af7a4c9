#include "firmware/update_plan.h"

#include <cwchar>

namespace orvel::update {

int CompareVersions(const DeviceVersion& a, const DeviceVersion& b) {
  if (a.Major() != b.Major()) return a.Major() < b.Major() ? -1 : 1;
  if (a.Minor() != b.Minor()) return a.Minor() < b.Minor() ? -1 : 1;
  return 0;
}

bool SameVersion(const DeviceVersion& a, const DeviceVersion& b) {
  return CompareVersions(a, b) == 0;
}

std::wstring VersionText(const DeviceVersion& version) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%d.%02d", version.Major(), version.Minor());
  return text;
}

Plan PlanUpdate(const std::optional<DeviceVersion>& device, const DeviceVersion& package,
                const PlanChoices& choices, bool unfinished) {
  if (!device) return Plan::Update;
  const int order = CompareVersions(package, *device);
  if (order < 0 && choices.noDowngrade) return Plan::Downgrade;
  if (order == 0 && choices.skipCurrent && !unfinished) return Plan::Current;
  return Plan::Update;
}

VersionAfter JudgeVersionAfter(const std::optional<DeviceVersion>& after,
                               const DeviceVersion& package) {
  if (!after) return VersionAfter::Silent;
  return SameVersion(*after, package) ? VersionAfter::Expected : VersionAfter::Other;
}

}  // namespace orvel::update
