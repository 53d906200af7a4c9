// orvel-bench: how much the core's exchange costs over a bare request/answer round trip.
//
//   orvel-bench <path of orvel-sim> [rounds]
//   orvel-bench --echo PORT          (the echo device; the benchmark starts it itself)
//   orvel-bench --link <path of orvel-sim> [options]   (see link_bench.cpp)
//
// Starts its own orvel-sim on 127.0.0.2, moves a program-sized region through the core
// (CDeviceSession::WriteRegion over the real UDP link and the steady clock, one lease held: 960
// Write blocks of 256 bytes and one of 4), then makes the same number of request/answer round trips
// of the same sizes through a minimal UDP echo on loopback (plain sockets, a process of its own),
// and prints both times and their ratio. The core runs twice: over the dialog's own link and over
// the shared socket that orvelctl's sessions use. With rounds > 1 each side runs that many times
// and the best time counts.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/child_process.h"
#include "device/shared_link.h"
#include "device/udp_link.h"
#include "platform/clock.h"
#include "platform/utf8.h"
#include "protocol/memory_map.h"
#include "protocol/packets.h"
#include "session/device_session.h"

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

namespace {

using orvel::bench::BenchDesktop;
using orvel::bench::kDeviceAddress;
using orvel::bench::kToolAddress;
using orvel::bench::PickPort;
using orvel::memory::kProgramBase;
using orvel::memory::kProgramSize;
// The image and its checksum word: 960 x 256 + 4.
constexpr int kRegionSize = static_cast<int>(kProgramSize) + 4;

// A session of the core with the tool on 127.0.0.1 and the device on 127.0.0.2, both on port.
struct BenchSession {
  explicit BenchSession(std::uint16_t port, bool shared = false)
      : session(desktop, clock,
                shared ? std::unique_ptr<orvel::ILink>(
                             std::make_unique<orvel::SharedLink>(sockets, desktop))
                       : std::make_unique<CUDPAsio>(desktop)) {
    session.m_deviceAddress = 0x7F000002;
    session.m_localAddress = 0x7F000001;
    session.m_port = port;
    session.m_timeLimit = 40;
  }
  BenchDesktop desktop;
  orvel::SteadyClock clock;
  orvel::SharedSockets sockets;
  CDeviceSession session;
};

// The core's side: one lease, one WriteRegion over the whole region.
double CoreSeconds(std::uint16_t port, const std::vector<std::uint8_t>& image,
                   bool shared = false) {
  BenchSession bench(port, shared);
  const auto lease = bench.session.GetLink();
  const auto start = Clock::now();
  bench.session.WriteRegion(kProgramBase, image.data(), kRegionSize, true);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (bench.desktop.boxes != 0) throw std::runtime_error("the core's transfer showed boxes");
  return seconds;
}

// A minimal device, run as a child process of the benchmark like orvel-sim: it answers every
// request with "OK" and the echoed address (the sim's answer size), from the port it listens on,
// until it is terminated.
int ServeEcho(std::uint16_t port) {
  asio::io_context io;
  udp::socket socket(io, udp::endpoint(asio::ip::make_address_v4(kDeviceAddress), port));
  std::uint8_t request[512];
  std::uint8_t answer[6] = {'O', 'K'};
  udp::endpoint from;
  for (;;) {
    boost::system::error_code error;
    const std::size_t n = socket.receive_from(asio::buffer(request), from, 0, error);
    if (error || n < 10) continue;
    std::copy(request + 6, request + 10, answer + 2);
    socket.send_to(asio::buffer(answer), from, 0, error);
  }
}

// Waits until the echo answers (one Write exchange, resent by the core until it does).
void AwaitEcho(std::uint16_t port) {
  BenchSession bench(port);
  const std::uint16_t limit = 10;
  const std::uint8_t probe = 0;
  const auto lease = bench.session.GetLink();
  bench.session.Exchange(limit, *lease, 0, ServiceCommand::Write, 1, &probe, nullptr);
}

// The bare side: the same datagrams as the core sends, each answer taken with a blocking receive.
double EchoSeconds(std::uint16_t port, const std::vector<std::uint8_t>& image) {
  asio::io_context io;
  udp::socket client(io, udp::endpoint(asio::ip::make_address_v4(kToolAddress), port));
  const udp::endpoint device(asio::ip::make_address_v4(kDeviceAddress), port);
  std::uint8_t request[orvel::protocol::kRequestSize] = {0xAA, 0x55, 0x01, 0};
  std::uint8_t answer[orvel::protocol::kAnswerSize];
  const auto start = Clock::now();
  for (int done = 0; done < kRegionSize;) {
    const int n = std::min(kRegionSize - done, 256);
    orvel::protocol::PutU16(request + 4, static_cast<std::uint16_t>(n));
    orvel::protocol::PutU32(request + 6, kProgramBase + static_cast<std::uint32_t>(done));
    std::copy(image.begin() + done, image.begin() + done + n, request + 10);
    client.send_to(asio::buffer(request, 10 + static_cast<std::size_t>(n)), device);
    udp::endpoint from;
    client.receive_from(asio::buffer(answer), from);
    done += n;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--echo") {
    return ServeEcho(static_cast<std::uint16_t>(std::atoi(argv[2])));
  }
  if (argc >= 3 && std::string(argv[1]) == "--link") {
    try {
      return orvel::bench::LinkBenchMain(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "orvel-bench: %s\n", error.what());
      return 2;
    }
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr,
                 "usage: orvel-bench <path of orvel-sim> [rounds]\n"
                 "       orvel-bench --link <path of orvel-sim> [--window N] [--resend-ms "
                 "N|adaptive] [--rounds R] [orvel-sim options]\n");
    return 2;
  }
  const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
  try {
    std::mt19937 random(static_cast<unsigned>(Clock::now().time_since_epoch().count()));
    const std::uint16_t simPort = PickPort(random);
    orvel::bench::SimDevice sim(argv[1], simPort, random);

    // The echo runs in a process of its own, as the sim does, so that both sides pay the same
    // process switches.
    const std::uint16_t echoPort = PickPort(random);
    orvel::bench::ChildProcess echoDevice(argv[0], {"--echo", std::to_string(echoPort)});
    AwaitEcho(echoPort);

    const auto image = orvel::bench::Image(kRegionSize);
    double core = 1e9, shared = 1e9, echo = 1e9, coreOnEcho = 1e9;
    for (int round = 0; round < rounds; ++round) {
      core = std::min(core, CoreSeconds(simPort, image));
      shared = std::min(shared, CoreSeconds(simPort, image, true));
      echo = std::min(echo, EchoSeconds(echoPort, image));
      coreOnEcho = std::min(coreOnEcho, CoreSeconds(echoPort, image));
    }

    // The sim leaves what it received in its state folder when it stops.
    const bool clean = sim.Stop();
    // Every request the sim received, resends included.
    const std::size_t simRequests = sim.LogLinesWith(" ");
    const bool verified = clean && sim.StateIs("program.bin", image.data(), kProgramSize) &&
                          sim.StateIs("checksum.bin", image.data() + kProgramSize, 4);

    const int blocks = (kRegionSize + 255) / 256;
    std::printf("region: %d bytes in %d Write requests (best of %d)\n", kRegionSize, blocks,
                rounds);
    std::printf("core against orvel-sim: %.3f s (%.1f us per request)%s\n", core,
                core * 1e6 / blocks,
                verified ? ", device content verified" : (clean ? ", CONTENT DIFFERS" : ""));
    std::printf("core, shared socket:    %.3f s (%.1f us per request)\n", shared,
                shared * 1e6 / blocks);
    std::printf("bare UDP echo:          %.3f s (%.1f us per request)\n", echo,
                echo * 1e6 / blocks);
    std::printf("core against the echo:  %.3f s (%.1f us per request)\n", coreOnEcho,
                coreOnEcho * 1e6 / blocks);
    std::printf("ratio core / echo:      %.2f (target at most 1.5)\n", core / echo);
    std::printf("ratio shared / echo:    %.2f (target at most 1.5)\n", shared / echo);
    if (clean) {
      std::printf("resends to orvel-sim: %zu (each costs an answer window)\n",
                  simRequests - static_cast<std::size_t>(blocks) * rounds * 2);
    }
    return clean && !verified ? 1 : 0;
  } catch (const CMBoxExeption& box) {
    std::fprintf(stderr, "orvel-bench: %s: %s\n", orvel::ToUtf8(box.Caption()).c_str(),
                 orvel::ToUtf8(box.Text()).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orvel-bench: %s\n", error.what());
  }
  return 1;
}
