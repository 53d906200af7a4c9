// The marker beside the update's backup: it must name exactly one device, or none.

#include <gtest/gtest.h>

#include "firmware/backup_store.h"

namespace {

using orvel::backup::DeviceEndpoint;

TEST(BackupMarker, NamesOneDeviceOrNone) {
  const DeviceEndpoint device{0x7F000002, 40000};
  EXPECT_EQ(orvel::backup::MarkerText(device), "127.0.0.2:40000");
  EXPECT_EQ(orvel::backup::ParseMarker("127.0.0.2:40000"), device);
  EXPECT_EQ(orvel::backup::ParseMarker("255.255.255.255:65535"),
            (DeviceEndpoint{0xFFFFFFFF, 65535}));
  for (const char* text : {"", "127.0.0.2", "127.0.0.2:", "256.0.0.1:5", "1.2.3.4:65536",
                           "1.2.3.4:5 trailing", "1.2.3:5"}) {
    EXPECT_FALSE(orvel::backup::ParseMarker(text).has_value()) << text;
  }
}

}  // namespace
