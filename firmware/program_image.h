#pragma once
// The program image as the device keeps it: the image in the program area and, right behind the
// area, a word of its own with the image's byte sum.

#include <array>
#include <cstdint>
#include <vector>

namespace orvel::firmware {

// The image's 32-bit byte sum (wrapping), least significant byte first.
std::array<std::uint8_t, 4> ChecksumWord(const std::vector<std::uint8_t>& image);

}  // namespace orvel::firmware
