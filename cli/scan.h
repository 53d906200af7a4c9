#pragma once
// orvelctl scan: which addresses of a list have a device behind them. Every address gets the
// version request; every one that gives no version answer also gets a 4-byte Read of the
// configuration area, which older firmware answers though it keeps quiet on the version. Both are
// asked twice. A /24 takes about two seconds.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/shared_socket.h"
#include "protocol/packets.h"

namespace orvel::cli {

struct ScanOptions {
  unsigned rounds = 2;
  unsigned waitMs = 450;                // after each kind of request, per round
  std::uint32_t readAddress = 0x147A0;  // the configuration area
};

struct FoundDevice {
  Endpoint device;
  std::optional<DeviceVersion> version;  // none: it answered only the Read
  double rttMs = 0;                      // from the request to its answer
};

// The devices that answered, in the order of the addresses. Throws boost::system::system_error
// when the socket cannot be opened or used.
std::vector<FoundDevice> Scan(SharedSocket& socket, const std::vector<std::uint32_t>& addresses,
                              std::uint16_t port, const ScanOptions& options = {});

// "1.11 (kind 0)" or "0.xx (no version answer)".
std::string FoundVersionText(const FoundDevice& found);
std::string ScanTable(const std::vector<FoundDevice>& found);
// As the results of a run (cli/device_runner.h), with "rtt_ms" after "message" for the figures.
std::string ScanJson(const std::vector<FoundDevice>& found);  // cli/json_output.cpp
// orvelctl interfaces --json: {"interfaces":["127.0.0.1","10.0.0.2"]}
std::string InterfacesJson(const std::vector<std::uint32_t>& interfaces);  // cli/json_output.cpp

}  // namespace orvel::cli
