#pragma once
// Lists of device addresses as a technician writes them, and the file names made from them.
//
// On the command line: one address "10.0.0.5", a comma list "10.0.0.5,10.0.0.9", a range of full
// addresses "10.0.0.5-10.0.0.40" (both ends included) and a network "10.0.0.0/27" (without its
// network and broadcast addresses up to /30), mixed in one list. In a devices file: one "a.b.c.d"
// or "a.b.c.d:port" a line; "#" starts a comment, blank lines are ignored.
//
// Addresses are host-order values with the first dotted field in the most significant byte, as the
// session holds them. Every field is decimal (leading zeros do not make it octal). A device listed
// twice counts once, where it first appears; the order is kept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

struct DeviceEntry {
  std::uint32_t address = 0;
  std::optional<std::uint16_t> port;  // none: the port the run uses for every device
  bool operator==(const DeviceEntry&) const = default;
};

// More addresses than this in one list is a typing slip (10.0.0.0/8), not a site.
constexpr std::size_t kAddressListLimit = 65536;

// "a.b.c.d", each field 1 to 3 decimal digits and at most 255, nothing around it.
std::optional<std::uint32_t> ParseIPv4(std::string_view text);
std::string FormatIPv4(std::uint32_t address);

// The command-line forms. On an error returns nothing and fills error with a text that names the
// entry at fault; a list of more than limit addresses is refused before it is built.
std::optional<std::vector<DeviceEntry>> ParseAddressList(std::string_view text, std::string& error,
                                                         std::size_t limit = kAddressListLimit);

// The text of a devices file. Errors name the line ("line 3: ..."). An entry listed again counts
// once; the same address with and without its port stays twice, for WithPorts to judge.
std::optional<std::vector<DeviceEntry>> ParseDeviceFile(std::string_view text, std::string& error,
                                                        std::size_t limit = kAddressListLimit);

// The devices of a run, each once and with its port: its own, else port. A device written twice
// ("10.0.0.5" and "10.0.0.5:40000" with port 40000) counts once, where it first appears. The same
// address with two ports is refused, as is an entry without a port when port is none: on an error
// returns nothing and fills error ("10.0.0.5 is listed with two ports, 40000 and 40001").
std::optional<std::vector<DeviceEntry>> WithPorts(const std::vector<DeviceEntry>& entries,
                                                  std::optional<std::uint16_t> port,
                                                  std::string& error);

// Takes every entry whose address is one of addresses out of devices; returns those addresses,
// each once, in the order of the list.
std::vector<std::uint32_t> LeaveOut(std::vector<DeviceEntry>& devices,
                                    const std::vector<std::uint32_t>& addresses);

// "{device}" in a file name stands for the device's dotted address: "cfg-{device}.bin" becomes
// "cfg-10.0.0.5.bin". Every occurrence is replaced.
constexpr std::string_view kDevicePattern = "{device}";
bool HasDevicePattern(std::string_view name);
std::string ExpandDevicePattern(std::string_view name, std::uint32_t address);

}  // namespace orvel
