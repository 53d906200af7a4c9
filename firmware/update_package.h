#pragma once
// The update package: a 20-byte header, then a program image and length-prefixed parts, optionally
// scrambled.

#include <cstdint>
#include <vector>

#include "protocol/packets.h"

struct UpdateHeader {
  std::uint32_t payloadLength = 0;
  std::uint32_t checksum = 0;
  DeviceVersion version;
  std::uint32_t programLength = 0;
  std::uint8_t scrambled = 0;

  static constexpr std::size_t kSize = 20;

  // Reads the fields from the first kSize bytes of a package; the reserved bytes are skipped.
  static UpdateHeader Decode(const std::uint8_t* bytes);
};

struct UpdatePackage {
  DeviceVersion version;
  std::vector<std::uint8_t> program;
  std::vector<std::vector<std::uint8_t>> parts;
};

// The longest package the tool takes: the program area (245,760 bytes) and its header leave well
// over 60 MiB for the further parts, far more than the device keeps, while a file that is not a
// package at all is refused before it is read into memory.
constexpr std::uint64_t kMaxPackageSize = 64u << 20;

// Validates, unscrambles (in place) and splits a whole package file. Throws CMBoxExeption.
UpdatePackage LoadUpdatePackage(std::vector<std::uint8_t>& file);
