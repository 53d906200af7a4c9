#pragma once
// Comparing what was written into the device with what it gives back.

#include <cstddef>
#include <cstdint>

#include "common/error_report.h"

namespace orvel::protocol {

struct ReadBackMismatch {
  std::uint32_t firstAddress = 0;  // the lowest differing device address
  std::size_t count = 0;           // differing bytes
};

// Adds the differences between written and read, both size bytes from device address, to mismatch.
void CompareReadBack(std::uint32_t address, const std::uint8_t* written, const std::uint8_t* read,
                     std::size_t size, ReadBackMismatch& mismatch);

// The box for a read-back that differs.
CMBoxExeption ReadBackFailed(const ReadBackMismatch& mismatch);

}  // namespace orvel::protocol
