// The simulated device's memory model, without sockets: the cases the loopback tests do not reach.

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/memory_map.h"
#include "sim/device_model.h"

namespace orvel::sim {
namespace {

Bytes Request(ServiceCommand command, std::uint16_t length, std::uint32_t address,
              const Bytes& data = {}, bool withSum = false) {
  Bytes datagram = {0xAA, 0x55, static_cast<std::uint8_t>(command), 0, 0, 0, 0, 0, 0, 0};
  protocol::PutU16(datagram.data() + 4, length);
  protocol::PutU32(datagram.data() + 6, address);
  datagram.insert(datagram.end(), data.begin(), data.end());
  if (withSum) {
    std::uint16_t sum = 0;
    for (auto byte : data) sum = static_cast<std::uint16_t>(sum + byte);
    datagram.push_back(static_cast<std::uint8_t>(sum));
    datagram.push_back(static_cast<std::uint8_t>(sum >> 8));
  }
  return datagram;
}

Reply Send(DeviceModel& device, const Bytes& datagram) {
  return device.Handle(datagram.data(), datagram.size());
}

// The tool's memory map and the device's own copy are written apart on purpose; they must agree.
TEST(SimDeviceModel, ToolAndDeviceAgreeOnTheMemoryMap) {
  EXPECT_EQ(memory::kConfigAddress, kConfigAddress);
  EXPECT_EQ(memory::kProgramBase, kProgramBase);
  EXPECT_EQ(memory::kProgramSize, kProgramSize);
  EXPECT_EQ(memory::kChecksumAddress, kChecksumAddress);
  for (const std::uint8_t number : {0, 99, 100, 111, 255}) {
    EXPECT_EQ(memory::ConfigSizeFor(DeviceVersion{0, number}), ConfigSizeFor(number)) << +number;
  }
}

TEST(SimDeviceModel, ConfigurationSizeFollowsTheMajorVersion) {
  EXPECT_EQ(DeviceModel({0, 0, true}).Config().size(), 44660u);
  EXPECT_EQ(DeviceModel({0, 99, true}).Config().size(), 44660u);
  EXPECT_EQ(DeviceModel({0, 100, true}).Config().size(), 44916u);
  EXPECT_EQ(DeviceModel({0, 255, true}).Config().size(), 44916u);

  DeviceModel device({0, 111, true});
  EXPECT_FALSE(device.LoadConfig(Bytes(44660, 0x11)));  // what fits is taken, the rest kept
  EXPECT_EQ(device.Config()[44659], 0x11);
  EXPECT_EQ(device.Config()[44660], ConfigPattern(44660));
  EXPECT_TRUE(device.LoadConfig(Bytes(44916, 0x22)));
}

TEST(SimDeviceModel, ADescriptorSentAgainStartsItsPartOver) {
  DeviceModel device({});
  Bytes descriptor(20, 0);
  descriptor[0] = 1;
  // A block before any descriptor is acknowledged but kept nowhere.
  Reply orphan = Send(device, Request(ServiceCommand::PartBlock, 2, 0, {1, 2}, true));
  EXPECT_TRUE(orphan.answer.has_value());
  EXPECT_EQ(orphan.note, "no-part");

  Send(device, Request(ServiceCommand::PartDescriptor, 20, 0, descriptor));
  Send(device, Request(ServiceCommand::PartBlock, 2, 0, {1, 2}, true));
  Send(device, Request(ServiceCommand::PartBlock, 2, 1, {3, 4}, true));
  Send(device, Request(ServiceCommand::PartDescriptor, 20, 0, descriptor));  // a retry
  Send(device, Request(ServiceCommand::PartBlock, 1, 0, {9}, true));
  ASSERT_EQ(device.Parts().size(), 1u);
  EXPECT_EQ(device.Parts().at(1).Joined(), Bytes{9});

  descriptor[0] = 2;
  Send(device, Request(ServiceCommand::PartDescriptor, 20, 0, descriptor));
  Reply empty = Send(device, Request(ServiceCommand::PartBlock, 0, 0, {}, true));
  EXPECT_TRUE(empty.answer.has_value());
  EXPECT_EQ(device.Parts().at(2).blocks.size(), 1u);
  EXPECT_TRUE(device.Parts().at(2).Joined().empty());
  EXPECT_FALSE(Send(device, Request(ServiceCommand::PartDescriptor, 19, 0, Bytes(19))).answer);
}

TEST(SimDeviceModel, RefusesWhatNoToolSends) {
  DeviceModel device({});
  EXPECT_EQ(Send(device, Request(ServiceCommand::Read, 257, 0x147A0)).note, "malformed");
  EXPECT_EQ(Send(device, Request(ServiceCommand::Write, 3, 0x147A0, {1, 2, 3, 4})).note,
            "malformed");
  EXPECT_EQ(Send(device, Bytes{0xAA, 0x55, 0x0E}).note, "malformed");
  Reply unknown = Send(device, Request(static_cast<ServiceCommand>(0x07), 0, 0));
  EXPECT_FALSE(unknown.answer.has_value());
  EXPECT_EQ(unknown.note, "unknown-command");
  EXPECT_EQ(device.Config()[0], ConfigPattern(0));  // nothing of it was stored

  // Addresses near the top of the space do not wrap round into an area.
  Reply top = Send(device, Request(ServiceCommand::Write, 4, 0xFFFFFFFE, {1, 2, 3, 4}));
  EXPECT_EQ(top.note, "stray");
  EXPECT_EQ(device.StrayBytes(), 4u);
}

TEST(SimDeviceModel, RequestsAcrossTheEdgesOfTheAreas) {
  DeviceModel device({0, 5, true});
  Bytes data(256);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  // 100 bytes before the program area, 156 in it.
  Reply reply = Send(device, Request(ServiceCommand::Write, 256, kProgramBase - 100, data));
  EXPECT_EQ(reply.note, "stray");
  EXPECT_EQ(device.StrayBytes(), 100u);
  EXPECT_TRUE(std::equal(data.begin() + 100, data.end(), device.Program().begin()));
  EXPECT_EQ(device.Program()[156], 0xFF);

  // The last 16 bytes of the configuration area and 240 beyond it.
  const std::uint32_t near = kConfigAddress + kConfigSizeOld - 16;
  reply = Send(device, Request(ServiceCommand::Read, 256, near));
  ASSERT_EQ(reply.answer->size(), 260u);
  for (std::uint32_t i = 0; i < 16; ++i)
    EXPECT_EQ((*reply.answer)[i], ConfigPattern(kConfigSizeOld - 16 + i));
  EXPECT_EQ(Bytes(reply.answer->begin() + 16, reply.answer->begin() + 256), Bytes(240, 0));
  EXPECT_EQ(protocol::GetU32(reply.answer->data() + 256), near);
}

TEST(SimDeviceModel, CorruptAddressStoresAnotherByteAndStillAnswersOk) {
  DeviceModel device({});
  device.CorruptAt(kConfigAddress + 5);
  Reply reply = Send(device, Request(ServiceCommand::Write, 8, kConfigAddress, Bytes(8, 0x11)));
  EXPECT_EQ(*reply.answer, (Bytes{'O', 'K', 0xA0, 0x47, 0x01, 0x00}));
  EXPECT_EQ(reply.note, "corrupted");
  const Bytes stored(device.Config().begin(), device.Config().begin() + 8);
  EXPECT_EQ(stored, (Bytes{0x11, 0x11, 0x11, 0x11, 0x11, 0xEE, 0x11, 0x11}));
  // A write beside it leaves it alone.
  EXPECT_EQ(Send(device, Request(ServiceCommand::Write, 5, kConfigAddress, Bytes(5, 1))).note, "");
}

TEST(SimDeviceModel, VersionRestartAndProgramStart) {
  DeviceModel quiet({3, 111, false});
  EXPECT_FALSE(Send(quiet, Request(ServiceCommand::Version, 0, 0)).answer.has_value());
  DeviceModel device({3, 111, true});
  EXPECT_EQ(*Send(device, Request(ServiceCommand::Version, 0, 0)).answer, (Bytes{3, 111}));
  Reply restart = Send(device, Request(ServiceCommand::Restart, 0, 0));
  EXPECT_TRUE(restart.restart);
  EXPECT_EQ(*restart.answer, (Bytes{'O', 'K'}));
  Send(device, Request(ServiceCommand::ProgramStart, 1, 0, {0x5A}));
  EXPECT_EQ(device.LastProgramStart(), 0x5A);
}

// --version-after-update: only a restart that follows a program write brings the new version, and
// the new firmware answers the version request even where the old one kept quiet.
TEST(SimDeviceModel, NewVersionOnlyAfterAProgramWriteAndARestart) {
  DeviceModel device({0, 5, false});
  device.SetVersionAfterUpdate(112);
  const auto version = [&] { return Send(device, Request(ServiceCommand::Version, 0, 0)).answer; };
  Send(device, Request(ServiceCommand::Restart, 0, 0));
  EXPECT_FALSE(version().has_value());
  Send(device, Request(ServiceCommand::Write, 4, kProgramBase + 16, {1, 2, 3, 4}));
  EXPECT_FALSE(version().has_value());
  Send(device, Request(ServiceCommand::Restart, 0, 0));
  EXPECT_EQ(*version(), (Bytes{0, 112}));
  EXPECT_EQ(device.Config().size(), kConfigSizeNew);
}

}  // namespace
}  // namespace orvel::sim
