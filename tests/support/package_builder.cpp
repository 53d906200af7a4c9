#include "support/package_builder.h"

namespace orvel::test {

using protocol::PutU32;

Bytes PlainPayload(const PackageContents& contents) {
  Bytes payload = contents.program;
  for (const Bytes& part : contents.parts) {
    std::uint8_t length[4];
    PutU32(length, static_cast<std::uint32_t>(part.size()));
    payload.insert(payload.end(), length, length + 4);
    payload.insert(payload.end(), part.begin(), part.end());
  }
  payload.insert(payload.end(), contents.tail.begin(), contents.tail.end());
  return payload;
}

Bytes BuildPackage(const PackageContents& contents) {
  const Bytes payload = PlainPayload(contents);
  Bytes file(20 + payload.size(), 0);
  PutU32(&file[0], contents.payloadLength.value_or(static_cast<std::uint32_t>(payload.size())));
  PutU32(&file[4], contents.checksum.value_or(ByteSum(payload)));
  file[8] = contents.reserved[0];
  file[9] = contents.version.kind;
  file[10] = contents.version.number;
  file[11] = contents.reserved[1];
  PutU32(&file[12],
         contents.programLength.value_or(static_cast<std::uint32_t>(contents.program.size())));
  file[16] = contents.scrambled ? 1 : 0;
  file[17] = contents.reserved[2];
  file[18] = contents.reserved[3];
  file[19] = contents.reserved[4];
  // Stored byte = plain byte XOR the stored byte 20 positions before it, built front to back.
  for (std::size_t i = 0; i < payload.size(); ++i) {
    file[20 + i] =
        contents.scrambled ? static_cast<std::uint8_t>(payload[i] ^ file[i]) : payload[i];
  }
  return file;
}

std::uint32_t ByteSum(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

}  // namespace orvel::test
