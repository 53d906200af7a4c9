#include "common/address_list.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace orvel {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Decimal digits only, at most maxDigits of them, value at most max.
std::optional<std::uint32_t> ParseField(std::string_view text, std::size_t maxDigits,
                                        std::uint32_t max) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::string NotAnAddress(std::string_view text) {
  return "not an IPv4 address: " + std::string(text);
}

// The first and last address of one command-line entry, or an error.
struct Span {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint64_t Count() const { return std::uint64_t{last} - first + 1; }
};

std::optional<Span> ParseEntry(std::string_view entry, std::string& error) {
  if (const auto dash = entry.find('-'); dash != std::string_view::npos) {
    const auto first = ParseIPv4(Trim(entry.substr(0, dash)));
    const auto last = ParseIPv4(Trim(entry.substr(dash + 1)));
    if (!first || !last) {
      error = "not an address range (a.b.c.d-a.b.c.d): " + std::string(entry);
      return std::nullopt;
    }
    if (*first > *last) {
      error = "the range runs backwards: " + std::string(entry);
      return std::nullopt;
    }
    return Span{*first, *last};
  }
  if (const auto slash = entry.find('/'); slash != std::string_view::npos) {
    const auto base = ParseIPv4(entry.substr(0, slash));
    const auto prefix = ParseField(entry.substr(slash + 1), 2, 32);
    if (!base || !prefix) {
      error = "not a network (a.b.c.d/0..32): " + std::string(entry);
      return std::nullopt;
    }
    const std::uint64_t size = std::uint64_t{1} << (32 - *prefix);
    const auto hostBits = static_cast<std::uint32_t>(size - 1);
    if ((*base & hostBits) != 0) {
      error = "not the first address of its network: " + std::string(entry) + " (the network is " +
              FormatIPv4(*base & ~hostBits) + "/" + std::to_string(*prefix) + ")";
      return std::nullopt;
    }
    // Up to /30 the network's own address and its broadcast address name no device.
    const std::uint32_t skip = *prefix <= 30 ? 1 : 0;
    return Span{*base + skip, static_cast<std::uint32_t>(*base + (size - 1) - skip)};
  }
  const auto address = ParseIPv4(entry);
  if (!address) {
    error = NotAnAddress(entry);
    return std::nullopt;
  }
  return Span{*address, *address};
}

std::string TooMany(std::size_t limit) {
  return "more than " + std::to_string(limit) + " addresses";
}

}  // namespace

std::optional<std::uint32_t> ParseIPv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int field = 0; field < 4; ++field) {
    const std::size_t dot = field < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const auto value = ParseField(text.substr(0, dot), 3, 255);
    if (!value) return std::nullopt;
    address = (address << 8) | *value;
    text.remove_prefix(field < 3 ? dot + 1 : dot);
  }
  return address;
}

std::string FormatIPv4(std::uint32_t address) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) text += '.';
    text += std::to_string((address >> shift) & 0xFF);
  }
  return text;
}

std::optional<std::vector<DeviceEntry>> ParseAddressList(std::string_view text, std::string& error,
                                                         std::size_t limit) {
  if (Trim(text).empty()) {
    error = "no address given";
    return std::nullopt;
  }
  std::vector<DeviceEntry> devices;
  std::unordered_set<std::uint32_t> seen;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = Trim(text.substr(0, comma));
    if (entry.empty()) {
      error = "an empty entry in the address list";
      return std::nullopt;
    }
    const auto span = ParseEntry(entry, error);
    if (!span) return std::nullopt;
    if (span->Count() > limit) {
      error = TooMany(limit) + ": " + std::string(entry);
      return std::nullopt;
    }
    for (std::uint64_t address = span->first; address <= span->last; ++address) {
      if (!seen.insert(static_cast<std::uint32_t>(address)).second) continue;
      if (devices.size() == limit) {
        error = TooMany(limit) + " in the list";
        return std::nullopt;
      }
      devices.push_back({static_cast<std::uint32_t>(address), std::nullopt});
    }
    if (comma == std::string_view::npos) return devices;
    text.remove_prefix(comma + 1);
  }
}

std::optional<std::vector<DeviceEntry>> ParseDeviceFile(std::string_view text, std::string& error,
                                                        std::size_t limit) {
  // Editors on Windows like to start a UTF-8 file with a byte order mark.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<DeviceEntry> devices;
  std::set<std::pair<std::uint32_t, int>> listed;  // address and port (-1: none)
  for (std::size_t line = 1; !text.empty(); ++line) {
    const std::size_t end = text.find('\n');
    std::string_view entry = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    entry = Trim(entry.substr(0, entry.find('#')));
    if (entry.empty()) continue;

    const auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(line) + ": " + why;
      return std::nullopt;
    };
    DeviceEntry device;
    const std::size_t colon = entry.find(':');
    const auto address = ParseIPv4(entry.substr(0, colon));
    if (!address) return fail(NotAnAddress(entry));
    device.address = *address;
    if (colon != std::string_view::npos) {
      const auto port = ParseField(entry.substr(colon + 1), 5, 65535);
      if (!port || *port == 0) return fail("not a port (1..65535): " + std::string(entry));
      device.port = static_cast<std::uint16_t>(*port);
    }

    if (!listed.emplace(device.address, device.port ? int{*device.port} : -1).second) continue;
    if (devices.size() == limit) return fail(TooMany(limit) + " in the file");
    devices.push_back(device);
  }
  if (devices.empty()) {
    error = "no device listed";
    return std::nullopt;
  }
  return devices;
}

std::optional<std::vector<DeviceEntry>> WithPorts(const std::vector<DeviceEntry>& entries,
                                                  std::optional<std::uint16_t> port,
                                                  std::string& error) {
  std::vector<DeviceEntry> devices;
  std::unordered_map<std::uint32_t, std::uint16_t> ports;  // of every address listed so far
  for (const DeviceEntry& entry : entries) {
    const std::optional<std::uint16_t> own = entry.port ? entry.port : port;
    if (!own) {
      error = "no port for " + FormatIPv4(entry.address);
      return std::nullopt;
    }
    const auto [earlier, added] = ports.emplace(entry.address, *own);
    if (added) {
      devices.push_back({entry.address, own});
    } else if (earlier->second != *own) {
      error = FormatIPv4(entry.address) + " is listed with two ports, " +
              std::to_string(earlier->second) + " and " + std::to_string(*own);
      return std::nullopt;
    }
  }
  return devices;
}

std::vector<std::uint32_t> LeaveOut(std::vector<DeviceEntry>& devices,
                                    const std::vector<std::uint32_t>& addresses) {
  std::vector<std::uint32_t> left;
  std::erase_if(devices, [&](const DeviceEntry& device) {
    if (std::find(addresses.begin(), addresses.end(), device.address) == addresses.end()) {
      return false;
    }
    if (std::find(left.begin(), left.end(), device.address) == left.end()) {
      left.push_back(device.address);
    }
    return true;
  });
  return left;
}

bool HasDevicePattern(std::string_view name) {
  return name.find(kDevicePattern) != std::string_view::npos;
}

std::string ExpandDevicePattern(std::string_view name, std::uint32_t address) {
  const std::string dotted = FormatIPv4(address);
  std::string out;
  for (;;) {
    const std::size_t at = name.find(kDevicePattern);
    out += name.substr(0, at);
    if (at == std::string_view::npos) return out;
    out += dotted;
    name.remove_prefix(at + kDevicePattern.size());
  }
}

}  // namespace orvel
