// The exchange rules against a scripted device on virtual time.

#include <gtest/gtest.h>

#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::test::ScriptedDevice;
using orvel::test::ScriptedLink;
using orvel::test::ScriptedSession;

TEST(ExchangeSmoke, VersionAndRegionRoundTrip) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  device.version = {0x02, 111};

  DeviceVersion version;
  rig.session.QueryVersion(version);
  EXPECT_EQ(version.kind, 0x02);
  EXPECT_EQ(version.Major(), 1);
  EXPECT_EQ(version.Minor(), 11);
  EXPECT_EQ(rig.link->InitCalls(), 1);
  EXPECT_EQ(rig.link->CloseCalls(), 1);

  std::vector<std::uint8_t> data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  {
    const auto lease = rig.session.GetLink();
    rig.session.WriteRegion(0x147A0, data.data(), static_cast<int>(data.size()), false);
    std::vector<std::uint8_t> back(data.size());
    rig.session.ReadRegion(0x147A0, static_cast<int>(back.size()), back.data(), false);
    EXPECT_EQ(back, data);
  }
  EXPECT_EQ(device.Bytes(0x147A0, data.size()), data);
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  EXPECT_EQ(rig.link->InitCalls(), 2);
  EXPECT_FALSE(rig.link->IsOpen());
}

}  // namespace
