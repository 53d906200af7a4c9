// What an update does to a device, from its version before anything is written, and what the
// version it gives afterwards says.

#include <gtest/gtest.h>

#include <optional>

#include "firmware/update_plan.h"

namespace {

using orvel::update::Plan;
using orvel::update::VersionAfter;

DeviceVersion V(std::uint8_t number, std::uint8_t kind = 0) { return {kind, number}; }

TEST(UpdatePlan, FromTheDeviceVersionAndTheChoices) {
  struct Case {
    const char* name;
    std::optional<DeviceVersion> device;
    DeviceVersion package;
    bool skipCurrent, noDowngrade, unfinished;
    Plan plan;
  };
  const Case cases[] = {
      {"same, default", V(111), V(111), false, false, false, Plan::Update},
      {"same, skip", V(111), V(111), true, true, false, Plan::Current},
      {"same number, other kind", V(111, 2), V(111, 0), true, false, false, Plan::Current},
      {"same, skip, unfinished", V(111), V(111), true, true, true, Plan::Update},
      {"newer package", V(111), V(112), true, true, false, Plan::Update},
      {"older package, default", V(111), V(5), true, false, false, Plan::Update},
      {"older package", V(111), V(5), false, true, false, Plan::Downgrade},
      {"older package, unfinished", V(111), V(110), false, true, true, Plan::Downgrade},
      // Major first: 1.05 is newer than 0.99 though its minor number is smaller.
      {"major decides, up", V(99), V(105), true, true, false, Plan::Update},
      {"major decides, down", V(105), V(99), true, true, false, Plan::Downgrade},
      {"minor within a major", V(210), V(209), false, true, false, Plan::Downgrade},
      // No answer: older firmware of unknown minor, never current and never newer.
      {"no answer", std::nullopt, V(5), true, true, false, Plan::Update},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(orvel::update::PlanUpdate(c.device, c.package, {c.skipCurrent, c.noDowngrade},
                                        c.unfinished),
              c.plan)
        << c.name;
  }
}

TEST(UpdatePlan, VersionAfterTheUpdate) {
  EXPECT_EQ(orvel::update::JudgeVersionAfter(V(112), V(112)), VersionAfter::Expected);
  EXPECT_EQ(orvel::update::JudgeVersionAfter(V(112, 3), V(112)), VersionAfter::Expected);
  EXPECT_EQ(orvel::update::JudgeVersionAfter(V(111), V(112)), VersionAfter::Other);
  EXPECT_EQ(orvel::update::JudgeVersionAfter(std::nullopt, V(112)), VersionAfter::Silent);
  EXPECT_EQ(orvel::update::VersionText(V(5)), L"0.05");
  EXPECT_EQ(orvel::update::VersionText(V(210)), L"2.10");
}

}  // namespace
