#include "sim/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "common/address_list.h"

namespace orvel::sim {
namespace {

// A number in the given base (0: decimal, or hexadecimal after 0x); no sign, no blanks.
bool ParseUnsigned(const char* text, std::uint64_t max, std::uint64_t& out, int base = 10) {
  if (!std::isalnum(static_cast<unsigned char>(*text))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value > max) return false;
  out = value;
  return true;
}

bool ParseReal(const char* text, double min, double max, double& out) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < min ||
      value > max)
    return false;
  out = value;
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: orvel-sim --address ADDRESSES --port N --state DIR [options]\n"
         "  --address            one address A.B.C.D, or several: a comma list, a range\n"
         "                       A.B.C.D-A.B.C.D or a network A.B.C.D/N (without its network\n"
         "                       and broadcast addresses), at most 256 devices; each address\n"
         "                       is a device of its own on the same port, with its own faults\n"
         "  --port N             the service port; 0 (a free port) only with one address\n"
         "  --version-number N   answer to Version: major * 100 + minor (0..255, default 111);\n"
         "                       major 0 gives a configuration area of 44660 bytes, else 44916\n"
         "  --version-kind K     the kind byte of that answer (default 0)\n"
         "  --no-version-answer  keep quiet on Version\n"
         "  --version-after-update N  after a Restart that follows a program write, answer\n"
         "                       Version with N (its new firmware; answered even with\n"
         "                       --no-version-answer)\n"
         "  --config FILE        initial configuration area (default: a pattern)\n"
         "  --restart-silence S  seconds of silence after answering Restart (default 0)\n"
         "faults, each a probability 0..1 per answer (default 0), drawn from --seed N (the first\n"
         "device's; device i of a list draws from its own seed derived from N and i):\n"
         "  --drop P             the answer is lost (the request is still carried out)\n"
         "  --duplicate P        the answer goes out twice\n"
         "  --late P             the answer to the previous request goes out first\n"
         "  --wrong-echo P       a Read or Write answer echoes another address\n"
         "  --wrong-port P       the answer comes from another port of the same address\n"
         "  --stranger P         a junk datagram from another port goes out first\n"
         "  --delay MS           every answer waits MS milliseconds (a device's held answers\n"
         "                       never hold up another device's)\n"
         "  --delay-only C       --delay holds back only the answers to command C (hex, e.g. 05)\n"
         "  --short-read P       a Read answer carries only half the data asked for\n"
         "  --drop-first-version the first answer to Version is lost, later ones go out\n"
         "  --corrupt-byte A     a Write over address A (0x... for hex) stores another byte "
         "there,\n"
         "                       still answering OK\n"
         "  --silent-after N     requests after the first N get nothing\n"
         "  --copy-after MS      a copy of every answer goes out MS milliseconds after it\n"
         "  --jitter MS          answers wait a random time of 0..MS milliseconds (long enough,\n"
         "                       they cross the tool's resends); --jitter-rate P: only that\n"
         "                       share of them (default 1)\n"
         "  --lose P             a request is lost on its way in: the device never sees it\n"
         "  --slow-every K       every K-th answer waits --slow-ms MS milliseconds\n"
         "The state folder gets config.bin, program.bin, checksum.bin, parts/, requests.log at\n"
         "start, after every Restart and on SIGINT/SIGTERM; with several addresses each device\n"
         "has its own folder DIR/A.B.C.D/. \"ready\" (the port) is written last into DIR, once\n"
         "every device is bound.\n";
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
  Options options;
  bool havePort = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--no-version-answer") {
      options.device.answerVersion = false;
      continue;
    }
    if (name == "--drop-first-version") {
      options.faults.dropFirstVersion = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value for " + std::string(name);
      return std::nullopt;
    }
    const char* value = argv[++i];
    std::uint64_t number = 0;
    bool ok = true;
    auto probability = [&](double& field) { ok = ParseReal(value, 0.0, 1.0, field); };

    if (name == "--address") {
      std::string listError;
      const auto devices = ParseAddressList(value, listError, kMaxDevices);
      if (!devices) {
        error = "--address: " + listError;
        return std::nullopt;
      }
      options.addresses.clear();
      for (const DeviceEntry& device : *devices) options.addresses.push_back(device.address);
    } else if (name == "--port") {
      ok = ParseUnsigned(value, 65535, number);
      options.port = static_cast<std::uint16_t>(number);
      havePort = ok;
    } else if (name == "--state") {
      options.stateDir = value;
    } else if (name == "--version-number") {
      ok = ParseUnsigned(value, 255, number);
      options.device.versionNumber = static_cast<std::uint8_t>(number);
    } else if (name == "--version-after-update") {
      ok = ParseUnsigned(value, 255, number);
      options.versionAfterUpdate = static_cast<std::uint8_t>(number);
    } else if (name == "--version-kind") {
      ok = ParseUnsigned(value, 255, number);
      options.device.versionKind = static_cast<std::uint8_t>(number);
    } else if (name == "--config") {
      options.configFile = value;
    } else if (name == "--restart-silence") {
      ok = ParseReal(value, 0.0, 3600.0, options.restartSilenceS);
    } else if (name == "--drop") {
      probability(options.faults.drop);
    } else if (name == "--duplicate") {
      probability(options.faults.duplicate);
    } else if (name == "--late") {
      probability(options.faults.late);
    } else if (name == "--wrong-echo") {
      probability(options.faults.wrongEcho);
    } else if (name == "--wrong-port") {
      probability(options.faults.wrongPort);
    } else if (name == "--stranger") {
      probability(options.faults.stranger);
    } else if (name == "--delay") {
      ok = ParseUnsigned(value, 60000, number);
      options.faults.delayMs = static_cast<unsigned>(number);
    } else if (name == "--delay-only") {
      ok = ParseUnsigned(value, 0xFF, number, 16);
      options.faults.delayOnly = static_cast<std::uint8_t>(number);
    } else if (name == "--short-read") {
      probability(options.faults.shortRead);
    } else if (name == "--corrupt-byte") {
      ok = ParseUnsigned(value, UINT32_MAX, number, 0);
      options.faults.corruptAddress = static_cast<std::uint32_t>(number);
    } else if (name == "--silent-after") {
      ok = ParseUnsigned(value, UINT64_MAX, number);
      options.faults.silentAfter = number;
    } else if (name == "--copy-after") {
      ok = ParseUnsigned(value, 60000, number);
      options.faults.copyAfterMs = static_cast<unsigned>(number);
    } else if (name == "--jitter") {
      ok = ParseUnsigned(value, 60000, number);
      options.faults.jitterMs = static_cast<unsigned>(number);
    } else if (name == "--jitter-rate") {
      probability(options.faults.jitterRate);
    } else if (name == "--lose") {
      probability(options.faults.lose);
    } else if (name == "--slow-every") {
      ok = ParseUnsigned(value, UINT32_MAX, number);
      options.faults.slowEvery = static_cast<unsigned>(number);
    } else if (name == "--slow-ms") {
      ok = ParseUnsigned(value, 60000, number);
      options.faults.slowMs = static_cast<unsigned>(number);
    } else if (name == "--seed") {
      ok = ParseUnsigned(value, UINT64_MAX, number);
      options.faults.seed = number;
    } else {
      error = "unknown option " + std::string(name);
      return std::nullopt;
    }
    if (!ok) {
      error = "bad value for " + std::string(name) + ": " + value;
      return std::nullopt;
    }
  }
  if (options.addresses.empty() || !havePort || options.stateDir.empty()) {
    error = "--address, --port and --state are required";
    return std::nullopt;
  }
  if (options.port == 0 && options.addresses.size() > 1) {
    error = "--port 0 (a free port) needs a single address";
    return std::nullopt;
  }
  return options;
}

}  // namespace orvel::sim
