#pragma once
// The service protocol's framing: command codes, the request header, the version answer and the
// update part descriptor. Every multi-byte value is little-endian.

#include <array>
#include <cstddef>
#include <cstdint>

enum class ServiceCommand : std::uint8_t {
  Read = 0x00,
  Write = 0x01,
  PartDescriptor = 0x05,
  PartBlock = 0x06,
  ProgramStart = 0x0B,
  Restart = 0x0C,
  Version = 0x0E,
};

struct DeviceVersion {
  std::uint8_t kind = 0;    // not interpreted by the tool
  std::uint8_t number = 0;  // major * 100 + minor

  int Major() const { return number / 100; }
  int Minor() const { return number % 100; }
};
static_assert(sizeof(DeviceVersion) == 2);

struct UpdatePartDescriptor {
  std::uint32_t partNumber = 0;  // from 1
  std::uint32_t partSize = 0;
  std::uint32_t partOffset = 0;  // sum of the lengths of the parts before it
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;

  static constexpr std::size_t kSize = 20;
  std::array<std::uint8_t, kSize> Encode() const;
};

namespace orvel::protocol {

constexpr std::uint8_t kMagic0 = 0xAA;
constexpr std::uint8_t kMagic1 = 0x55;
constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kMaxData = 256;
constexpr std::size_t kRequestSize = kHeaderSize + kMaxData + 2;  // 268
constexpr std::size_t kAnswerSize = kMaxData + 32;                // 288
constexpr std::size_t kPartBlockData = 254;
constexpr unsigned kWindowMs = 1500;  // answer window
constexpr unsigned kPollMs = 2;       // longest idle wait between polls

using RequestBuffer = std::array<std::uint8_t, kRequestSize>;
using AnswerBuffer = std::array<std::uint8_t, kAnswerSize>;

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// Writes the 10-byte header into the buffer.
void BuildHeader(RequestBuffer& request, ServiceCommand command, std::uint16_t length,
                 std::uint32_t address);
// The PartBlock sum: the data bytes added up into a wrapping 16-bit value starting at 0.
std::uint16_t BlockSum(const std::uint8_t* data, std::size_t length);
// The datagram's size for a request of this command and data length.
std::size_t RequestLength(ServiceCommand command, std::uint16_t length);

}  // namespace orvel::protocol
