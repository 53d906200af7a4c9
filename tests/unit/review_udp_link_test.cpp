// The real UDP link on loopback, for a datagram that no answer can be: longer than the link's
// 288-byte receive buffer. The tool binds 127.0.0.1:port, the device is 127.0.0.2:port.

#include <gtest/gtest.h>
#include <poll.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <stdexcept>

#include "device/udp_link.h"
#include "support/scripted_desktop.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTool = 0x7F000001;    // 127.0.0.1
constexpr std::uint32_t kDevice = 0x7F000002;  // 127.0.0.2

udp::endpoint At(std::uint32_t address, std::uint16_t port) {
  return udp::endpoint(asio::ip::address_v4(address), port);
}

// The device's socket, bound to 127.0.0.2 on a port that is free on 127.0.0.1 as well.
struct DeviceSocket {
  explicit DeviceSocket(asio::io_service& io) : socket(io) {
    for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
      udp::socket probe(io, At(kTool, 0));
      const std::uint16_t candidate = probe.local_endpoint().port();
      probe.close();
      boost::system::error_code error;
      socket.open(udp::v4());
      socket.bind(At(kDevice, candidate), error);
      if (!error) {
        port = candidate;
      } else {
        socket.close();
      }
    }
    if (port == 0) throw std::runtime_error("no free loopback port");
  }
  udp::socket socket;
  std::uint16_t port = 0;
};

bool WaitReadable(CUDPAsio& link) {
  for (int i = 0; i < 20; ++i) {
    link.WaitReadable(100);
    if (link.Available() > 0) return true;
  }
  return false;
}

TEST(ReviewUdpLink, DatagramLongerThanTheReceiveBufferIsAnErrorAndIsGone) {
  asio::io_service io;
  DeviceSocket device(io);
  orvel::test::ScriptedDesktop desktop;
  CUDPAsio link(desktop);
  ASSERT_TRUE(link.Init(kDevice, device.port, kTool));

  // 300 bytes from the device's own address and port, ending like a Read answer for address 0,
  // then a proper 6-byte answer behind it.
  Bytes oversize(300, 0x11);
  oversize[296] = oversize[297] = oversize[298] = oversize[299] = 0;
  device.socket.send_to(asio::buffer(oversize), At(kTool, device.port));
  const Bytes answer = {'O', 'K', 1, 2, 3, 4};
  device.socket.send_to(asio::buffer(answer), At(kTool, device.port));

  Bytes buffer(CUDPAsio::kScratchSize, 0xEE);
  ASSERT_TRUE(WaitReadable(link));
  EXPECT_EQ(link.Receive(buffer.data(), static_cast<std::uint16_t>(buffer.size())), 0u);
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].caption, L"Ошибка чтения пакета данных.");
  EXPECT_EQ(desktop.Boxes()[0].owner, nullptr);
  EXPECT_EQ(desktop.Boxes()[0].style, 0x10u);
  EXPECT_FALSE(desktop.Boxes()[0].text.empty());
  EXPECT_EQ(buffer, Bytes(CUDPAsio::kScratchSize, 0xEE)) << "a refused datagram reached the buffer";

  // The long datagram is gone; the answer behind it comes next, whole.
  ASSERT_TRUE(WaitReadable(link));
  EXPECT_EQ(link.Receive(buffer.data(), 6), 6u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), answer);
  EXPECT_EQ(desktop.Boxes().size(), 1u);
}

}  // namespace
