#pragma once
// Builds update packages for tests: header, program image, length-prefixed parts and an optional
// tail, stored plain or scrambled. Header fields can be forced to wrong values to make bad
// packages.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/packets.h"
#include "support/test_files.h"

namespace orvel::test {

struct PackageContents {
  DeviceVersion version{0, 111};
  Bytes program;
  std::vector<Bytes> parts;
  Bytes tail;  // raw bytes after the last part
  bool scrambled = false;
  // The reserved header bytes (offsets 8, 11, 17, 18, 19); non-zero so that scrambling uses them.
  std::array<std::uint8_t, 5> reserved{0x5A, 0xC3, 0x11, 0x22, 0x33};
  // Forced header values; by default they describe the package correctly.
  std::optional<std::uint32_t> payloadLength;
  std::optional<std::uint32_t> checksum;
  std::optional<std::uint32_t> programLength;
};

// The plain payload (program, parts, tail) as the loader sees it after unscrambling.
Bytes PlainPayload(const PackageContents& contents);
// The whole file as stored.
Bytes BuildPackage(const PackageContents& contents);

// The sum of the bytes modulo 2^32.
std::uint32_t ByteSum(const Bytes& bytes);

}  // namespace orvel::test
