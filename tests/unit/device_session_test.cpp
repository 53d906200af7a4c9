// The session's link lease and the progress reporter, against the scripted seams.

#include <gtest/gtest.h>

#include "support/scripted_session.h"

namespace {

using orvel::test::ScriptedDesktop;
using orvel::test::ScriptedSession;

TEST(Lease, NestedLeasesShareOneOpeningAndTheLastReleaseClosesIt) {
  ScriptedSession rig;
  rig.session.m_deviceAddress = 0x0A000002;
  rig.session.m_port = 4001;
  rig.session.m_localAddress = 0x0A000001;

  auto outer = rig.session.GetLink();
  auto inner = rig.session.GetLink();
  EXPECT_EQ(outer.get(), inner.get());
  EXPECT_EQ(outer.get(), &rig.session.Link());
  EXPECT_EQ(rig.link->InitCalls(), 1);
  EXPECT_EQ(rig.link->DeviceAddress(), 0x0A000002u);
  EXPECT_EQ(rig.link->Port(), 4001);
  EXPECT_EQ(rig.link->LocalAddress(), 0x0A000001u);

  outer.reset();
  EXPECT_TRUE(rig.link->IsOpen());
  EXPECT_EQ(rig.link->CloseCalls(), 0);
  inner.reset();
  EXPECT_FALSE(rig.link->IsOpen());
  EXPECT_EQ(rig.link->CloseCalls(), 1);

  // The link object survives its leases; the next lease opens it again with fresh values.
  rig.session.m_port = 4002;
  auto again = rig.session.GetLink();
  EXPECT_EQ(again.get(), &rig.session.Link());
  EXPECT_EQ(rig.link->InitCalls(), 2);
  EXPECT_EQ(rig.link->Port(), 4002);
  EXPECT_TRUE(rig.link->IsOpen());
}

TEST(Lease, FailedOpeningThrowsTheWarningAndTheNextCallTriesAgain) {
  ScriptedSession rig;
  rig.link->FailInit(true);
  try {
    rig.session.GetLink();
    FAIL() << "a failed Init must throw";
  } catch (const CMBoxExeption& box) {
    EXPECT_EQ(box.Text(), L"Ошибка инициализации подключения.");
    EXPECT_EQ(box.Caption(), L"Ошибка.");
    EXPECT_EQ(box.Style(), 0x30u);
  }
  rig.link->FailInit(false);
  const auto lease = rig.session.GetLink();
  EXPECT_EQ(rig.link->InitCalls(), 2);
  EXPECT_TRUE(rig.link->IsOpen());
}

TEST(Progress, OperationsSendTheBarMessagesThroughTheDesktop) {
  ScriptedDesktop desktop;
  CTaskProgress progress(desktop);
  int bar = 0;
  progress.Attach(&bar);
  progress.SetPos(40);
  progress.Reset(36);
  progress.Step(0);
  progress.Step(5);
  progress.ResetPercent();

  using Kind = ScriptedDesktop::Progress::Kind;
  const std::vector<std::pair<Kind, std::uint16_t>> expected = {
      {Kind::Pos, 0}, {Kind::Pos, 40}, {Kind::Range, 36},  {Kind::Pos, 0},
      {Kind::Pos, 1}, {Kind::Pos, 6},  {Kind::Range, 100}, {Kind::Pos, 0}};
  const auto& calls = desktop.ProgressCalls();
  ASSERT_EQ(calls.size(), expected.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].kind, expected[i].first) << i;
    EXPECT_EQ(calls[i].value, expected[i].second) << i;
    EXPECT_EQ(calls[i].bar, &bar) << i;
  }
  EXPECT_EQ(progress.Pos(), 0);
}

TEST(Progress, StepWrapsAtSixteenBits) {
  ScriptedDesktop desktop;
  CTaskProgress progress(desktop);
  progress.SetPos(65534);
  progress.Step(0);
  EXPECT_EQ(progress.Pos(), 65535);
  progress.Step(0);
  EXPECT_EQ(progress.Pos(), 0);
  progress.SetPos(65530);
  progress.Step(10);
  EXPECT_EQ(progress.Pos(), 4);
  EXPECT_EQ(desktop.LastProgressPos(), 4);
  // Without a bar the messages still reach the desktop, addressed to no window.
  EXPECT_EQ(desktop.ProgressCalls().back().bar, nullptr);
}

}  // namespace
