// The framing helpers.

#include <gtest/gtest.h>

#include "protocol/packets.h"

namespace {

using namespace orvel::protocol;

TEST(Packets, HeaderSumAndLengths) {
  RequestBuffer request{};
  BuildHeader(request, ServiceCommand::Write, 0x0174, 0x1BC000);
  const std::uint8_t expected[] = {0xAA, 0x55, 0x01, 0x00, 0x74, 0x01, 0x00, 0xC0, 0x1B, 0x00};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), request.begin()));

  const std::uint8_t three[] = {1, 2, 3};
  EXPECT_EQ(BlockSum(three, 3), 0x0006);
  const std::uint8_t ff[] = {0xFF, 0xFF};
  EXPECT_EQ(BlockSum(ff, 2), 0x01FE);
  const std::vector<std::uint8_t> many(300, 0xFF);  // 76,500 wraps to 0x2AD4
  EXPECT_EQ(BlockSum(many.data(), many.size()), 76500 % 65536);

  EXPECT_EQ(RequestLength(ServiceCommand::Read, 256), 10u);
  EXPECT_EQ(RequestLength(ServiceCommand::Write, 256), 266u);
  EXPECT_EQ(RequestLength(ServiceCommand::PartBlock, 254), 266u);
  EXPECT_EQ(RequestLength(ServiceCommand::Version, 0), 10u);
}

TEST(Packets, PartDescriptorEncodesLittleEndianWithZeroReserve) {
  const UpdatePartDescriptor descriptor{2, 0x01020304, 0xA0B0C0D0};
  const auto bytes = descriptor.Encode();
  const std::array<std::uint8_t, 20> expected = {2,    0,    0, 0, 4, 3, 2, 1, 0xD0, 0xC0,
                                                 0xB0, 0xA0, 0, 0, 0, 0, 0, 0, 0,    0};
  EXPECT_EQ(bytes, expected);
}

}  // namespace
