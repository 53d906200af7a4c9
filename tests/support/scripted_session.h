#pragma once
// Everything a task test needs in one object: a scripted desktop, a virtual clock and a
// CDeviceSession over a ScriptedLink, set up the way the task runner leaves a session before a
// task (device 127.0.0.2, port 5000, any interface, 40-s exchange limit, progress range 0..100).
//
//   orvel::test::ScriptedSession rig;
//   orvel::test::ScriptedDevice device(*rig.link);
//   rig.desktop.QueueFile(L"out.bin");
//   EXPECT_TRUE(rig.session.ReadConfiguration());

#include <memory>

#include "scripted_clock.h"
#include "scripted_desktop.h"
#include "scripted_link.h"
#include "session/device_session.h"

namespace orvel::test {

class ScriptedSession {
 public:
  ScriptedSession() : session(desktop, clock, MakeLink()) {
    session.m_deviceAddress = 0x7F000002;  // 127.0.0.2
    session.m_port = 5000;
    session.m_localAddress = 0;
    session.m_timeLimit = 40;
  }

  ScriptedDesktop desktop;
  ScriptedClock clock;
  ScriptedLink* link = nullptr;  // owned by session
  CDeviceSession session;

 private:
  std::unique_ptr<orvel::ILink> MakeLink() {
    auto owned = std::make_unique<ScriptedLink>(clock);
    link = owned.get();
    return owned;
  }
};

}  // namespace orvel::test
