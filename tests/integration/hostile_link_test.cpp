// The link among other programs on the same host and network: a second tool on the same port is
// refused at once, and a flood of oversized datagrams from a stranger costs neither a box nor the
// exchange.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "session/device_session.h"
#include "support/run_command.h"
#include "support/scripted_desktop.h"
#include "support/sim_process.h"

namespace orvel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::size_t kConfigSize = 44916;  // the sim's default firmware 1.11

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A session of this process, aimed at the sim from the tool's address as orvelctl would be.
struct Tool {
  explicit Tool(const SimProcess& sim) : session(desktop, clock) {
    session.m_deviceAddress = SimProcess::kDeviceAddress;
    session.m_localAddress = SimProcess::kToolAddressValue;
    session.m_port = sim.port();
    session.m_timeLimit = 40;
    session.BeginTask();
  }
  ScriptedDesktop desktop;
  SteadyClock clock;
  CDeviceSession session;
};

TEST(HostileLink, SecondToolOnTheSamePortFailsAtOnce) {
  SimProcess sim;
  // The first tool: the core's own link, open on the tool's address and the device's port.
  Tool first(sim);
  const auto lease = first.session.GetLink();

  const CommandResult second =
      RunCommand(ORVELCTL_PATH,
                 {"-d", SimProcess::kAddress, "-p", std::to_string(sim.port()), "-i",
                  SimProcess::kToolAddress, "version"},
                 {}, seconds(30));
  EXPECT_EQ(second.exitCode, 3) << second.out;  // the run could not start
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(Contains(second.err,
                       "Ошибка инициализации подключения.: Выбранный порт используется другой "
                       "программой.\nОбычно разрешается одно использование адреса сокета.\n"))
      << second.err;
  EXPECT_LT(second.elapsed, seconds(3));
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.RequestLog().empty());
}

// Anyone on the network may send datagrams longer than any answer. From a stranger (here the
// device's address but another port, which the link's connect lets through) they are dropped
// without a word, and the reads go on.
TEST(HostileLink, FloodOfOversizedDatagramsFromAStrangerDuringARead) {
  SimProcess sim;
  Tool reader(sim);
  CDeviceSession& session = reader.session;

  boost::asio::io_service io;
  boost::asio::ip::udp::socket stranger(
      io,
      boost::asio::ip::udp::endpoint(boost::asio::ip::make_address_v4(SimProcess::kAddress), 0));
  const boost::asio::ip::udp::endpoint tool(
      boost::asio::ip::make_address_v4(SimProcess::kToolAddress), sim.port());
  constexpr int kFlood = 5000;
  std::atomic<int> sent = 0;
  std::thread flood([&] {
    const std::vector<std::uint8_t> datagram(1000, 0x5A);
    // About ten a millisecond.
    while (sent < kFlood) {
      for (int i = 0; i < 10; ++i, ++sent) {
        boost::system::error_code ignored;
        stranger.send_to(boost::asio::buffer(datagram), tool, 0, ignored);
      }
      std::this_thread::sleep_for(milliseconds(1));
    }
  });

  // The whole area, again and again until the flood is over (and at most 100 times).
  const Bytes expected = sim.ReadState("config.bin");
  int reads = 0;
  const auto start = std::chrono::steady_clock::now();
  {
    const auto lease = session.GetLink();
    do {
      Bytes area(kConfigSize, 0);
      session.ReadRegion(0x147A0, static_cast<int>(area.size()), area.data(), true);
      ASSERT_EQ(area, expected) << "read " << reads;
    } while (++reads < 100 && sent < kFlood);
  }
  const auto took = std::chrono::steady_clock::now() - start;
  flood.join();

  std::printf("info: %d oversized datagrams from a stranger during %d reads of %lld ms in all\n",
              sent.load(), reads,
              static_cast<long long>(std::chrono::duration_cast<milliseconds>(took).count()));
  EXPECT_TRUE(reader.desktop.Boxes().empty()) << reader.desktop.Boxes().size() << " boxes";
  // A lost answer costs one 1.5-s window: the flood may overrun the socket's buffer now and then.
  EXPECT_LT(took, seconds(30));
}

}  // namespace
}  // namespace orvel::test
