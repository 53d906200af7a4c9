#pragma once
// orvel-sim's command line.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace orvel::sim {

struct Faults {
  double drop = 0;                        // the answer is lost (the request is still carried out)
  double duplicate = 0;                   // the answer goes out twice
  double late = 0;                        // the answer to the previous request goes out first
  double wrongEcho = 0;                   // a Read or Write answer echoes another address
  double wrongPort = 0;                   // the answer comes from another source port
  double stranger = 0;                    // a junk datagram from another port goes out first
  unsigned delayMs = 0;                   // every answer waits this long
  std::optional<std::uint8_t> delayOnly;  // ... or only the answers of this command
  double shortRead = 0;                   // a Read answer carries half the data asked for
  bool dropFirstVersion = false;          // the first answer to Version is lost
  std::optional<std::uint32_t> corruptAddress;  // a write there stores a wrong byte
  std::optional<std::uint64_t> silentAfter;     // requests after this many get nothing
  // Faults added later; each draws from dice of its own (see FaultDice).
  std::optional<unsigned> copyAfterMs;  // a copy of every answer goes out this long after it
  unsigned jitterMs = 0;                // an answer waits a random time up to this long ...
  double jitterRate = 1;                // ... this share of the answers (default: every one)
  double lose = 0;                      // a request is lost on its way in: the device never sees it
  unsigned slowEvery = 0;               // every this-many-th answer waits slowMs (0: none)
  unsigned slowMs = 0;
  std::uint64_t seed = 1;  // the first device's; each further device derives its own from it
};

// One process serves at most this many devices, each with its own sockets and thread.
constexpr std::size_t kMaxDevices = 256;

struct Options {
  std::vector<std::uint32_t> addresses;  // host order; one device on each, all on the same port
  std::uint16_t port = 0;
  std::string stateDir;
  DeviceSettings device;
  std::optional<std::uint8_t> versionAfterUpdate;  // see DeviceModel::SetVersionAfterUpdate
  std::optional<std::string> configFile;
  double restartSilenceS = 0;
  Faults faults;
};

// Parses argv; on a usage error returns nothing and fills error.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);
const char* Usage();

}  // namespace orvel::sim
