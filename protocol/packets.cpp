#include "protocol/packets.h"

namespace orvel::protocol {

void BuildHeader(RequestBuffer& request, ServiceCommand command, std::uint16_t length,
                 std::uint32_t address) {
  request[0] = kMagic0;
  request[1] = kMagic1;
  request[2] = static_cast<std::uint8_t>(command);
  request[3] = 0;
  PutU16(&request[4], length);
  PutU32(&request[6], address);
}

std::uint16_t BlockSum(const std::uint8_t* data, std::size_t length) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + data[i]);
  return sum;
}

std::size_t RequestLength(ServiceCommand command, std::uint16_t length) {
  switch (command) {
    case ServiceCommand::Read:
      return kHeaderSize;
    case ServiceCommand::PartBlock:
      return kHeaderSize + length + 2;
    default:
      return kHeaderSize + length;
  }
}

}  // namespace orvel::protocol

std::array<std::uint8_t, UpdatePartDescriptor::kSize> UpdatePartDescriptor::Encode() const {
  std::array<std::uint8_t, kSize> bytes{};
  orvel::protocol::PutU32(&bytes[0], partNumber);
  orvel::protocol::PutU32(&bytes[4], partSize);
  orvel::protocol::PutU32(&bytes[8], partOffset);
  orvel::protocol::PutU32(&bytes[12], reserved1);
  orvel::protocol::PutU32(&bytes[16], reserved2);
  return bytes;
}
