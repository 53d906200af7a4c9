// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "cli/scan.h"

#include <cstdio>
#include <memory>

#include "cli/device_runner.h"
#include "platform/clock.h"

namespace orvel::cli {
namespace {

using namespace orvel::protocol;

struct Probe {
  Endpoint device;
  std::unique_ptr<SharedSocket::Inbox> inbox = std::make_unique<SharedSocket::Inbox>();
  bool registered = false;
  bool answeredRead = false;
  std::optional<DeviceVersion> version;
  std::int64_t versionSentUs = 0;
  std::int64_t readSentUs = 0;
  double rttMs = 0;
};

// Takes what waits in the probe's inbox.
void Collect(SharedSocket& socket, Probe& probe, std::uint32_t readAddress) {
  QueuedDatagram datagram;
  while (socket.Take(*probe.inbox, datagram)) {
    const std::uint8_t* bytes = datagram.bytes.data();
    if (datagram.size == 2 && !probe.version) {
      probe.version = DeviceVersion{bytes[0], bytes[1]};
      probe.rttMs = static_cast<double>(datagram.arrivedUs - probe.versionSentUs) / 1000.0;
    } else if (datagram.size == 8 && GetU32(bytes + 4) == readAddress && !probe.answeredRead) {
      probe.answeredRead = true;
      if (!probe.version) {
        probe.rttMs = static_cast<double>(datagram.arrivedUs - probe.readSentUs) / 1000.0;
      }
    }
  }
}

// A request that cannot go to one address (no route to it) leaves that address silent; it does
// not end the scan of the others.
void SendTo(SharedSocket& socket, const RequestBuffer& request, std::size_t size, Endpoint to) {
  try {
    socket.Send(request.data(), size, to);
  } catch (const boost::system::system_error&) {
  }
}

// Between sends the answers that came meanwhile are taken, so that their times are not those of the
// end of a long round of sends.
constexpr std::size_t kSendsBetweenReads = 8;

void Await(SharedSocket& socket, std::vector<Probe>& probes, unsigned ms,
           std::uint32_t readAddress) {
  const std::int64_t end = SteadyNowUs() + std::int64_t{ms} * 1000;
  for (std::int64_t now = SteadyNowUs(); now < end; now = SteadyNowUs()) {
    socket.ReadFor(static_cast<unsigned>(std::min<std::int64_t>((end - now + 999) / 1000, 20)));
    for (Probe& probe : probes) Collect(socket, probe, readAddress);
  }
}

}  // namespace

std::vector<FoundDevice> Scan(SharedSocket& socket, const std::vector<std::uint32_t>& addresses,
                              std::uint16_t port, const ScanOptions& options) {
  std::vector<Probe> probes(addresses.size());
  // Every address is let go again, however the scan ends.
  struct Registrations {
    SharedSocket& socket;
    std::vector<Probe>& probes;
    ~Registrations() {
      for (Probe& probe : probes) {
        if (probe.registered) socket.Unregister(probe.device);
      }
    }
  } registrations{socket, probes};
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    probes[i].device = {addresses[i], port};
    probes[i].registered = socket.Register(probes[i].device, *probes[i].inbox);
  }

  RequestBuffer version{};
  BuildHeader(version, ServiceCommand::Version, 0, 0);
  RequestBuffer read{};
  BuildHeader(read, ServiceCommand::Read, 4, options.readAddress);
  std::size_t sent = 0;
  const auto readNow = [&] {
    if (++sent % kSendsBetweenReads == 0) socket.ReadFor(0);
  };
  for (unsigned round = 0; round < options.rounds; ++round) {
    for (Probe& probe : probes) {
      if (!probe.registered || probe.version) continue;
      probe.versionSentUs = SteadyNowUs();
      SendTo(socket, version, RequestLength(ServiceCommand::Version, 0), probe.device);
      readNow();
    }
    Await(socket, probes, options.waitMs, options.readAddress);
    for (Probe& probe : probes) {
      if (!probe.registered || probe.version || probe.answeredRead) continue;
      probe.readSentUs = SteadyNowUs();
      SendTo(socket, read, RequestLength(ServiceCommand::Read, 4), probe.device);
      readNow();
    }
    Await(socket, probes, options.waitMs, options.readAddress);
  }

  std::vector<FoundDevice> found;
  for (const Probe& probe : probes) {
    if (probe.version || probe.answeredRead) {
      found.push_back({probe.device, probe.version, probe.rttMs});
    }
  }
  return found;
}

std::string FoundVersionText(const FoundDevice& found) {
  if (!found.version) return "0.xx (no version answer)";
  return VersionText(*found.version) + " (kind " + std::to_string(found.version->kind) + ")";
}

std::string ScanTable(const std::vector<FoundDevice>& found) {
  std::string table;
  char line[128];
  std::snprintf(line, sizeof line, "%-21s  %-24s  %s\n", "device", "version", "rtt ms");
  table += line;
  for (const FoundDevice& f : found) {
    std::snprintf(line, sizeof line, "%-21s  %-24s  %6.2f\n", EndpointText(f.device).c_str(),
                  FoundVersionText(f).c_str(), f.rttMs);
    table += line;
  }
  return table;
}

}  // namespace orvel::cli
