#pragma once
// Where things are in the device's memory, as the tool addresses them.

#include <cstdint>

#include "protocol/configuration_image.h"
#include "protocol/packets.h"

namespace orvel::memory {

constexpr std::uint32_t kConfigAddress = 0x147A0;
constexpr std::uint32_t kConfigSizeOld = config::kOldImageSize;  // firmware 0.xx
constexpr std::uint32_t kConfigSizeNew = config::kNewImageSize;  // every later firmware
constexpr std::uint32_t kProgramBase = 0x180000;
constexpr std::uint32_t kProgramSize = 0x3C000;  // 960 blocks of 256 bytes
// The program image's byte sum, a word of its own right behind the program area.
constexpr std::uint32_t kChecksumAddress = kProgramBase + kProgramSize;

// The size of the configuration area of a device that answered version.
inline std::uint32_t ConfigSizeFor(const DeviceVersion& version) {
  return version.Major() == 0 ? kConfigSizeOld : kConfigSizeNew;
}

}  // namespace orvel::memory
