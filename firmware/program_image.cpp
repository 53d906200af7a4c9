#include "firmware/program_image.h"

#include "protocol/packets.h"

namespace orvel::firmware {

std::array<std::uint8_t, 4> ChecksumWord(const std::vector<std::uint8_t>& image) {
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : image) sum += byte;
  std::array<std::uint8_t, 4> word;
  protocol::PutU32(word.data(), sum);
  return word;
}

}  // namespace orvel::firmware
