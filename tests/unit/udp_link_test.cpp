// The real UDP links on loopback: the tool binds 127.0.0.1:port, the device is 127.0.0.2:port. The
// dialog's own link (CUDPAsio) and a device's share of a run's socket (SharedLink) keep the same
// rules, so most cases run on both.

#include <gtest/gtest.h>
#include <poll.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <mutex>
#include <thread>

#include "device/shared_link.h"
#include "device/udp_link.h"
#include "platform/utf8.h"
#include "session/device_session.h"
#include "support/scripted_desktop.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using orvel::test::ScriptedDesktop;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTool = 0x7F000001;    // 127.0.0.1
constexpr std::uint32_t kDevice = 0x7F000002;  // 127.0.0.2

udp::endpoint At(std::uint32_t address, std::uint16_t port) {
  return udp::endpoint(asio::ip::address_v4(address), port);
}

// A plain socket (no SO_REUSEADDR), bound to address:port; an open but unbound one on failure.
struct PlainSocket {
  PlainSocket(asio::io_service& io, std::uint32_t address, std::uint16_t port) : socket(io) {
    socket.open(udp::v4());
    socket.bind(At(address, port), error);
  }
  bool Bound() const { return !error; }
  bool WaitReadable(int ms) {
    pollfd entry{socket.native_handle(), POLLIN, 0};
    return ::poll(&entry, 1, ms) == 1;
  }
  udp::socket socket;
  boost::system::error_code error;
};

// A port free on both loopback addresses (and the next one, for a second device port).
std::uint16_t FreePort(asio::io_service& io) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    udp::socket probe(io, At(kTool, 0));
    const std::uint16_t port = probe.local_endpoint().port();
    if (port >= 65535) continue;
    probe.close();
    PlainSocket a(io, kTool, port), b(io, kDevice, port), c(io, kDevice, port + 1);
    if (a.Bound() && b.Bound() && c.Bound()) return port;
  }
  throw std::runtime_error("no free loopback port");
}

bool PortTaken(asio::io_service& io, std::uint16_t port) {
  return !PlainSocket(io, kTool, port).Bound();
}

// Takes datagrams from link until count have come or 3 s have passed; their first bytes.
Bytes TakeFirstBytes(orvel::ILink& link, std::size_t count) {
  Bytes firsts;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (firsts.size() < count && std::chrono::steady_clock::now() < end) {
    link.WaitReadable(2);
    std::uint8_t buffer[8] = {};
    if (link.Available() > 0 && link.Receive(buffer, sizeof buffer) > 0)
      firsts.push_back(buffer[0]);
  }
  return firsts;
}

enum class LinkKind { Own, Shared };

class UdpLink : public ::testing::TestWithParam<LinkKind> {
 protected:
  void SetUp() override {
    port = FreePort(io);
    session.m_deviceAddress = kDevice;
    session.m_localAddress = kTool;
    session.m_port = port;
    session.m_timeLimit = 40;
  }

  std::unique_ptr<orvel::ILink> MakeLink() {
    if (GetParam() == LinkKind::Own) return std::make_unique<CUDPAsio>(desktop);
    return std::make_unique<orvel::SharedLink>(sockets, desktop);
  }
  bool Shared() const { return GetParam() == LinkKind::Shared; }

  asio::io_service io;
  std::uint16_t port = 0;
  ScriptedDesktop desktop;
  orvel::SteadyClock clock;
  orvel::SharedSockets sockets;
  CDeviceSession session{desktop, clock, MakeLink()};
};

INSTANTIATE_TEST_SUITE_P(Links, UdpLink, ::testing::Values(LinkKind::Own, LinkKind::Shared),
                         [](const auto& info) {
                           return info.param == LinkKind::Own ? "Own" : "Shared";
                         });

// Before a request whose answer carries no address, everything its device sent earlier is dropped,
// however much waits: left behind, any "OK" among it would pass for the answer. Another device's
// datagrams on the shared socket stay its own.
TEST_P(UdpLink, DiscardQueuedTakesAllTheDeviceSentAndLeavesOthersTheirs) {
  constexpr std::uint32_t kSecond = 0x7F000003;
  orvel::SharedLink second(sockets, desktop);
  if (Shared()) {
    ASSERT_TRUE(second.Init(kSecond, port, kTool));
  }
  const auto lease = session.GetLink();
  PlainSocket device(io, kDevice, port), other(io, kSecond, port);
  ASSERT_TRUE(device.Bound() && (!Shared() || other.Bound()));
  constexpr int kCopies = 12;
  for (int i = 0; i < kCopies; ++i) {
    device.socket.send_to(asio::buffer("OK\x01\x02\x03\x04", 6), At(kTool, port));
    if (Shared() && i % 4 == 0) other.socket.send_to(asio::buffer("BB", 2), At(kTool, port));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // all of it queued on the socket
  lease->DiscardQueued();
  lease->WaitReadable(5);
  EXPECT_EQ(lease->Available(), 0u);
  if (Shared()) {
    EXPECT_EQ(TakeFirstBytes(second, 3), Bytes(3, 'B'));
  }
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, NestedLeasesShareOneSocketUntilTheLastRelease) {
  auto outer = session.GetLink();
  EXPECT_TRUE(outer->IsOpen());
  EXPECT_TRUE(PortTaken(io, port));

  // A datagram queued on the socket survives the nested lease: nothing was closed or bound again.
  PlainSocket device(io, kDevice, port);
  ASSERT_TRUE(device.Bound());
  device.socket.send_to(asio::buffer("hello", 5), At(kTool, port));
  auto inner = session.GetLink();
  EXPECT_EQ(inner.get(), outer.get());
  inner->WaitReadable(1000);
  EXPECT_EQ(inner->Available(), 5u);

  inner.reset();
  EXPECT_TRUE(session.Link().IsOpen());
  outer.reset();
  EXPECT_FALSE(session.Link().IsOpen());
  EXPECT_FALSE(PortTaken(io, port));

  auto again = session.GetLink();
  EXPECT_TRUE(again->IsOpen());
  EXPECT_TRUE(PortTaken(io, port));
  EXPECT_EQ(again->Available(), 0u);  // a new socket
  EXPECT_TRUE(desktop.Boxes().empty());
}

// Only the dialog's own link connects to its device. The shared socket never does: bound to every
// interface, it keeps the port on all of them, so the case below has no shared form.
class ConnectedUdpLink : public UdpLink {};
INSTANTIATE_TEST_SUITE_P(Links, ConnectedUdpLink, ::testing::Values(LinkKind::Own),
                         [](const auto&) { return "Own"; });

TEST_P(ConnectedUdpLink, AnyInterfaceStillSendsFromTheServicePort) {
  session.m_localAddress = 0;
  const auto lease = session.GetLink();
  // Bound to every interface, the device's port on this host is taken until the link's connect
  // pins its local address to the route's source; the device socket can only come afterwards.
  PlainSocket device(io, kDevice, port);
  ASSERT_TRUE(device.Bound()) << device.error.message();
  const std::uint8_t request[] = {0xAA, 0x55, 0x0C, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(lease->Send(request, sizeof request), 10u);
  ASSERT_TRUE(device.WaitReadable(1000));
  std::uint8_t got[16];
  udp::endpoint from;
  EXPECT_EQ(device.socket.receive_from(asio::buffer(got), from), 10u);
  EXPECT_EQ(from.port(), port);
  EXPECT_TRUE(PortTaken(io, port));
}

TEST_P(UdpLink, AddressInUseGivesTheBoxThenTheWarningAndLeavesTheLinkClosed) {
  {
    PlainSocket blocker(io, kTool, port);
    ASSERT_TRUE(blocker.Bound());
    try {
      session.GetLink();
      FAIL() << "GetLink must throw while the port is taken";
    } catch (const CMBoxExeption& box) {
      EXPECT_EQ(box.Text(), L"Ошибка инициализации подключения.");
      EXPECT_EQ(box.Caption(), L"Ошибка.");
      EXPECT_EQ(box.Style(), 0x30u);
    }
    ASSERT_EQ(desktop.Boxes().size(), 1u);
    const auto& box = desktop.Boxes()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text,
              L"Выбранный порт используется другой программой.\n"
              L"Обычно разрешается одно использование адреса сокета.");
    EXPECT_EQ(box.caption, L"Ошибка инициализации подключения.");
    EXPECT_EQ(box.style, 0x10u);
    EXPECT_FALSE(session.Link().IsOpen());
  }
  const auto lease = session.GetLink();  // tries again from the start
  EXPECT_TRUE(lease->IsOpen());
  EXPECT_EQ(desktop.Boxes().size(), 1u);
}

TEST_P(UdpLink, OtherSetUpErrorsShowTheirDescription) {
  session.m_localAddress = 0x0AFFFF01;  // 10.255.255.1: not an address of this host
  EXPECT_THROW(session.GetLink(), CMBoxExeption);
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  const std::wstring& text = desktop.Boxes()[0].text;
  EXPECT_EQ(text.rfind(L"bind: ", 0), 0u) << orvel::ToUtf8(text);
  EXPECT_EQ(desktop.Boxes()[0].caption, L"Ошибка инициализации подключения.");
  EXPECT_FALSE(session.Link().IsOpen());
}

TEST_P(UdpLink, ReceiveTakesOnlyTheDevicesDatagramsIntoTheBuffer) {
  const auto owned = MakeLink();
  orvel::ILink& link = *owned;
  ASSERT_TRUE(link.Init(kDevice, port, kTool));
  PlainSocket device(io, kDevice, port);
  PlainSocket otherPort(io, kDevice, static_cast<std::uint16_t>(port + 1));
  PlainSocket stranger(io, 0x7F000003, port);
  ASSERT_TRUE(device.Bound() && otherPort.Bound() && stranger.Bound());

  const Bytes fromDevice = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  otherPort.socket.send_to(asio::buffer("WRONGPORT", 9), At(kTool, port));
  stranger.socket.send_to(asio::buffer("STRANGER", 8), At(kTool, port));
  device.socket.send_to(asio::buffer(fromDevice), At(kTool, port));

  Bytes buffer(8, 0xEE);
  unsigned taken = 0;
  int dropped = 0;
  for (int i = 0; i < 10 && taken == 0; ++i) {
    link.WaitReadable(1000);
    if (link.Available() == 0) continue;
    taken = link.Receive(buffer.data(), 4);
    if (taken == 0) {
      ++dropped;
      EXPECT_EQ(buffer, Bytes(8, 0xEE)) << "a stranger's datagram reached the caller's buffer";
    }
  }
  // The wrong port always reaches the own link, the kernel may filter the stranger; the shared
  // socket drops both before they reach the device's inbox.
  if (!Shared()) {
    EXPECT_GE(dropped, 1);
  }
  EXPECT_EQ(taken, 10u);  // the full size, though only 4 bytes were asked for
  EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}));

  // A device datagram asked for with length 0: consumed, nothing copied, size returned.
  device.socket.send_to(asio::buffer("xy", 2), At(kTool, port));
  link.WaitReadable(1000);
  EXPECT_EQ(link.Receive(buffer.data(), 0), 2u);
  EXPECT_EQ(buffer[0], 1);

  // What the tool sends reaches the device's address and port from the tool's port.
  const std::uint8_t request[] = {0xAA, 0x55, 0x0E, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(link.Send(request, sizeof request), 10u);
  ASSERT_TRUE(device.WaitReadable(1000));
  std::uint8_t got[16];
  udp::endpoint from;
  EXPECT_EQ(device.socket.receive_from(asio::buffer(got), from), 10u);
  EXPECT_EQ(from, At(kTool, port));
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, ClosedLinkReturnsZeroAndShowsNothing) {
  const auto owned = MakeLink();
  orvel::ILink& link = *owned;
  std::uint8_t buffer[4] = {7, 7, 7, 7};
  EXPECT_EQ(link.Send(buffer, 4), 0u);
  EXPECT_EQ(link.Available(), 0u);
  EXPECT_EQ(link.Receive(buffer, 4), 0u);
  link.WaitReadable(5);
  link.Close();
  EXPECT_EQ(buffer[0], 7);
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, UnreachableDevicePortIsJustSilence) {
  // Nothing listens on the device's port: the platform answers the request with "port
  // unreachable", which must neither fail the next request nor turn the idle wait into a spin.
  const auto owned = MakeLink();
  orvel::ILink& link = *owned;
  ASSERT_TRUE(link.Init(kDevice, port, kTool));
  const std::uint8_t request[] = {0xAA, 0x55, 0x0E, 0, 0, 0, 0, 0, 0, 0};
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(link.Send(request, sizeof request), 10u) << round;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) link.WaitReadable(5);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40)) << round;
    EXPECT_EQ(link.Available(), 0u);
  }
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, TinyDatagramsDoNotHideTheAnswerBehindThem) {
  PlainSocket device(io, kDevice, port);
  PlainSocket otherPort(io, kDevice, static_cast<std::uint16_t>(port + 1));
  ASSERT_TRUE(device.Bound() && otherPort.Bound());
  std::thread responder([&] {
    if (!device.WaitReadable(3000)) return;
    std::uint8_t request[16];
    udp::endpoint from;
    device.socket.receive_from(asio::buffer(request), from);
    otherPort.socket.send_to(asio::buffer("", 0), from);
    device.socket.send_to(asio::buffer("!", 1), from);
    device.socket.send_to(asio::buffer("OK", 2), from);
  });
  const auto start = std::chrono::steady_clock::now();
  const bool restarted = session.RestartDevice();
  const auto took = std::chrono::steady_clock::now() - start;
  responder.join();
  EXPECT_TRUE(restarted);
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, VersionIsTakenOnArrivalAndNeverFromAnotherPort) {
  PlainSocket device(io, kDevice, port);
  PlainSocket otherPort(io, kDevice, static_cast<std::uint16_t>(port + 1));
  ASSERT_TRUE(device.Bound() && otherPort.Bound());
  // The device answers the first request itself and the second only from another port.
  std::thread responder([&] {
    for (int i = 0; i < 2; ++i) {
      if (!device.WaitReadable(3000)) return;
      std::uint8_t request[16];
      udp::endpoint from;
      device.socket.receive_from(asio::buffer(request), from);
      const std::uint8_t answer[] = {static_cast<std::uint8_t>(i == 0 ? 1 : 9),
                                     static_cast<std::uint8_t>(i == 0 ? 111 : 99)};
      (i == 0 ? device : otherPort).socket.send_to(asio::buffer(answer), from);
    }
  });

  DeviceVersion version;
  const auto start = std::chrono::steady_clock::now();
  session.QueryVersion(version);
  const auto first = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(version.kind, 1);
  EXPECT_EQ(version.number, 111);
  EXPECT_LT(first, std::chrono::milliseconds(500));

  session.QueryVersion(version);
  const auto second = std::chrono::steady_clock::now() - start - first;
  responder.join();
  EXPECT_EQ(version.kind, 0);
  EXPECT_EQ(version.number, 0);
  EXPECT_GE(second, std::chrono::milliseconds(1500));
  EXPECT_FALSE(session.Link().IsOpen());
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, SecondLinkOnTheSamePortIsRefused) {
  const auto lease = session.GetLink();
  ScriptedDesktop otherDesktop;
  CDeviceSession other(otherDesktop, clock);
  other.m_deviceAddress = kDevice;
  other.m_localAddress = kTool;
  other.m_port = port;
  EXPECT_THROW(other.GetLink(), CMBoxExeption);
  ASSERT_EQ(otherDesktop.Boxes().size(), 1u);
  EXPECT_EQ(otherDesktop.Boxes()[0].text,
            L"Выбранный порт используется другой программой.\n"
            L"Обычно разрешается одно использование адреса сокета.");
  // Bound to every interface, the port is still refused while the first link holds it.
  other.m_localAddress = 0;
  EXPECT_THROW(other.GetLink(), CMBoxExeption);
  EXPECT_FALSE(other.Link().IsOpen());
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_P(UdpLink, OversizedDatagramsAreDroppedAndOnlyTheDevicesAreReportedOncePerTask) {
  PlainSocket device(io, kDevice, port);
  PlainSocket otherPort(io, kDevice, static_cast<std::uint16_t>(port + 1));
  ASSERT_TRUE(device.Bound() && otherPort.Bound());
  session.BeginTask();
  const auto lease = session.GetLink();
  orvel::ILink& link = *lease;
  Bytes buffer(CUDPAsio::kScratchSize, 0xEE);
  // Takes the next datagram; its Receive result.
  const auto next = [&] {
    for (int i = 0; i < 20; ++i) {
      link.WaitReadable(100);
      if (link.Available() > 0) {
        return link.Receive(buffer.data(), static_cast<std::uint16_t>(buffer.size()));
      }
    }
    ADD_FAILURE() << "no datagram arrived";
    return 0u;
  };

  // 300 bytes, ending like a Read answer for address 0, so that a cut copy would pass for one.
  Bytes oversize(300, 0x11);
  oversize[296] = oversize[297] = oversize[298] = oversize[299] = 0;
  const Bytes answer = {'O', 'K', 1, 2, 3, 4};
  for (int i = 0; i < 3; ++i) otherPort.socket.send_to(asio::buffer(oversize), At(kTool, port));
  device.socket.send_to(asio::buffer(oversize), At(kTool, port));
  device.socket.send_to(asio::buffer(oversize), At(kTool, port));
  device.socket.send_to(asio::buffer(answer), At(kTool, port));

  // The shared socket drops the stranger's three before they reach the device's inbox.
  for (int i = 0; i < (Shared() ? 2 : 5); ++i) EXPECT_EQ(next(), 0u) << i;
  EXPECT_EQ(buffer, Bytes(CUDPAsio::kScratchSize, 0xEE)) << "a refused datagram reached the buffer";
  // One box for the device's two, none for the stranger's; the answer behind them comes whole.
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].caption, L"Ошибка чтения пакета данных.");
  EXPECT_EQ(desktop.Boxes()[0].owner, nullptr);
  EXPECT_EQ(desktop.Boxes()[0].style, 0x10u);
  EXPECT_FALSE(desktop.Boxes()[0].text.empty());
  EXPECT_EQ(next(), 6u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), answer);

  // The next task reports it again, once.
  session.BeginTask();
  device.socket.send_to(asio::buffer(oversize), At(kTool, port));
  device.socket.send_to(asio::buffer(oversize), At(kTool, port));
  EXPECT_EQ(next(), 0u);
  EXPECT_EQ(next(), 0u);
  EXPECT_EQ(desktop.Boxes().size(), 2u);
}

}  // namespace

namespace {

// What the shared socket reports of the datagrams no device takes.
struct DroppedDatagrams final : orvel::ITrafficObserver {
  void Sent(std::uint32_t, std::uint16_t, const std::uint8_t*, std::size_t) override {}
  void Received(std::uint32_t address, std::uint16_t, const std::uint8_t*, std::size_t, std::size_t,
                orvel::DatagramFate fate) override {
    const std::lock_guard lock(mutex);
    (fate == orvel::DatagramFate::Stranger ? strangers : overflow).push_back(address);
  }
  std::mutex mutex;
  std::vector<std::uint32_t> strangers;
  std::vector<std::uint32_t> overflow;
};

TEST(SharedSocket, EachDeviceGetsOnlyItsOwnDatagramsWhoeverReadsTheSocket) {
  asio::io_service io;
  const std::uint16_t port = FreePort(io);
  constexpr std::uint32_t kSecond = 0x7F000003, kStranger = 0x7F000004;
  DroppedDatagrams dropped;
  orvel::SharedSockets sockets(&dropped);
  ScriptedDesktop desktopA, desktopB;
  orvel::SharedLink a(sockets, desktopA), b(sockets, desktopB);
  ASSERT_TRUE(a.Init(kDevice, port, kTool));
  ASSERT_TRUE(b.Init(kSecond, port, kTool));
  PlainSocket deviceA(io, kDevice, port), deviceB(io, kSecond, port), stranger(io, kStranger, port);
  ASSERT_TRUE(deviceA.Bound() && deviceB.Bound() && stranger.Bound());

  // Interleaved, while both sessions wait at once: whichever reads hands the other its share.
  constexpr std::size_t kEach = 40;
  Bytes gotA, gotB;
  std::thread readerA([&] { gotA = TakeFirstBytes(a, kEach); });
  std::thread readerB([&] { gotB = TakeFirstBytes(b, kEach); });
  for (std::size_t i = 0; i < kEach; ++i) {
    deviceA.socket.send_to(asio::buffer("AA", 2), At(kTool, port));
    stranger.socket.send_to(asio::buffer("SS", 2), At(kTool, port));
    deviceB.socket.send_to(asio::buffer("BB", 2), At(kTool, port));
    if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  readerA.join();
  readerB.join();
  EXPECT_EQ(gotA, Bytes(kEach, 'A'));
  EXPECT_EQ(gotB, Bytes(kEach, 'B'));
  {
    const std::lock_guard lock(dropped.mutex);
    EXPECT_EQ(dropped.strangers, std::vector<std::uint32_t>(kEach, kStranger));
  }

  // A device nobody takes from fills its inbox up to the bound; the rest is dropped and reported.
  constexpr std::size_t kFlood = orvel::SharedSocket::kInboxLimit + 6;
  for (std::size_t i = 0; i < kFlood; ++i)
    deviceA.socket.send_to(asio::buffer("FF", 2), At(kTool, port));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int i = 0; i < 20; ++i) b.WaitReadable(2);  // b reads the socket for both
  EXPECT_EQ(TakeFirstBytes(a, orvel::SharedSocket::kInboxLimit),
            Bytes(orvel::SharedSocket::kInboxLimit, 'F'));
  a.WaitReadable(5);
  EXPECT_EQ(a.Available(), 0u);
  {
    const std::lock_guard lock(dropped.mutex);
    EXPECT_EQ(dropped.overflow, std::vector<std::uint32_t>(6, kDevice));
  }

  // The socket holds the port until the last device lets go; the same device twice is refused.
  ScriptedDesktop desktopC;
  orvel::SharedLink again(sockets, desktopC);
  EXPECT_FALSE(again.Init(kDevice, port, kTool));
  EXPECT_EQ(desktopC.Boxes().size(), 1u);
  a.Close();
  EXPECT_TRUE(PortTaken(io, port));
  b.Close();
  EXPECT_FALSE(PortTaken(io, port));
  EXPECT_TRUE(desktopA.Boxes().empty());
  EXPECT_TRUE(desktopB.Boxes().empty());
}

}  // namespace
