// The wait for a port that another program holds: retried through the clock until the wait is over,
// then the bind's own error.

#include "cli/port_hold.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "support/scripted_clock.h"
#include "support/sim_process.h"
#include "support/tool_socket.h"

namespace orvel::test {
namespace {

TEST(PortHold, TakenPortIsTriedUntilTheWaitIsOverThenFails) {
  std::uint16_t port = 47311;
  while (!UdpPortFree(SimProcess::kToolAddress, port)) ++port;
  const ToolSocket other(port);
  for (const unsigned waitMs : {0u, 1000u}) {
    ScriptedClock clock;
    SharedSockets sockets;
    try {
      cli::PortHold hold(sockets, SimProcess::kToolAddressValue, port, waitMs, clock);
      ADD_FAILURE() << "the port was taken";
    } catch (const boost::system::system_error& e) {
      EXPECT_EQ(e.code(), boost::asio::error::address_in_use);
    }
    EXPECT_EQ(clock.ElapsedMs(), std::int64_t{waitMs});
    EXPECT_EQ(clock.Sleeps().size(), std::size_t{waitMs / 100});
  }
  // Free, it is held at once, and let go with the hold.
  std::uint16_t free = port + 1;
  while (!UdpPortFree(SimProcess::kToolAddress, free)) ++free;
  ScriptedClock clock;
  SharedSockets sockets;
  {
    const cli::PortHold hold(sockets, SimProcess::kToolAddressValue, free, 1000, clock);
    EXPECT_FALSE(UdpPortFree(SimProcess::kToolAddress, free));
  }
  EXPECT_TRUE(UdpPortFree(SimProcess::kToolAddress, free));
  EXPECT_EQ(clock.ElapsedMs(), 0);
}

}  // namespace
}  // namespace orvel::test
