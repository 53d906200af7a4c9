// Device lists as the technician writes them: command-line entries, devices files, and the file
// names made from a device's address.

#include "common/address_list.h"

#include <gtest/gtest.h>

#include <string>

namespace orvel {
namespace {

// "10.0.0.5,10.0.0.6:40001": the parsed list as text, so that a table reads like the input.
std::string Joined(const std::vector<DeviceEntry>& devices) {
  std::string text;
  for (const DeviceEntry& device : devices) {
    if (!text.empty()) text += ',';
    text += FormatIPv4(device.address);
    if (device.port) text += ":" + std::to_string(*device.port);
  }
  return text;
}

using Parser = std::optional<std::vector<DeviceEntry>> (*)(std::string_view, std::string&,
                                                           std::size_t);

// The parsed list as text, or "error: " and the error text.
std::string Outcome(Parser parse, std::string_view input, std::size_t limit = kAddressListLimit) {
  std::string error;
  const auto devices = parse(input, error, limit);
  return devices ? Joined(*devices) : "error: " + error;
}

struct Case {
  std::string input;
  std::string expected;  // as Outcome gives it
};

TEST(AddressList, CommandLineFormsInTheirOrderWithoutDuplicates) {
  for (const Case& c : {
           Case{"10.0.0.5", "10.0.0.5"},
           Case{" 10.0.0.9 , 10.0.0.5", "10.0.0.9,10.0.0.5"},
           Case{"010.000.000.005", "10.0.0.5"},  // decimal, not octal
           Case{"10.0.0.5-10.0.0.8", "10.0.0.5,10.0.0.6,10.0.0.7,10.0.0.8"},
           Case{"10.0.0.5 - 10.0.0.5", "10.0.0.5"},
           Case{"10.0.0.254-10.0.1.1", "10.0.0.254,10.0.0.255,10.0.1.0,10.0.1.1"},
           Case{"255.255.255.254-255.255.255.255", "255.255.255.254,255.255.255.255"},
           Case{"10.0.0.0/30", "10.0.0.1,10.0.0.2"},  // without network and broadcast
           Case{"10.0.0.0/31", "10.0.0.0,10.0.0.1"},
           Case{"10.0.0.9/32", "10.0.0.9"},
           Case{"255.255.255.252/30", "255.255.255.253,255.255.255.254"},
           Case{"10.0.0.6,10.0.0.4-10.0.0.7,10.0.0.0/29,10.0.0.5",
                "10.0.0.6,10.0.0.4,10.0.0.5,10.0.0.7,10.0.0.1,10.0.0.2,10.0.0.3"},
       }) {
    EXPECT_EQ(Outcome(ParseAddressList, c.input), c.expected) << c.input;
  }

  std::string error;
  const auto network = ParseAddressList("10.0.0.0/27", error);
  ASSERT_TRUE(network);
  ASSERT_EQ(network->size(), 30u);
  EXPECT_EQ(FormatIPv4(network->front().address), "10.0.0.1");
  EXPECT_EQ(FormatIPv4(network->back().address), "10.0.0.30");
  // The bound itself is allowed.
  EXPECT_EQ(ParseAddressList("0.0.0.0-0.0.255.255", error)->size(), kAddressListLimit);
}

TEST(AddressList, BadCommandLineEntriesAreNamed) {
  for (const Case& c : {
           Case{"", "no address given"},
           Case{"  ", "no address given"},
           Case{"10.0.0.5,", "an empty entry in the address list"},
           Case{"10.0.0.5,,10.0.0.6", "an empty entry in the address list"},
           Case{"10.0.0.256", "not an IPv4 address: 10.0.0.256"},
           Case{"10.0.0", "not an IPv4 address: 10.0.0"},
           Case{"10.0.0.5.6", "not an IPv4 address: 10.0.0.5.6"},
           Case{"10.0.0.0005", "not an IPv4 address: 10.0.0.0005"},
           Case{"+10.0.0.5", "not an IPv4 address: +10.0.0.5"},
           Case{"10.0.0.5:40000", "not an IPv4 address: 10.0.0.5:40000"},
           Case{"10.0.0.5 10.0.0.6", "not an IPv4 address: 10.0.0.5 10.0.0.6"},
           Case{"10.0.0.5-40", "not an address range (a.b.c.d-a.b.c.d): 10.0.0.5-40"},
           Case{"10.0.0.5-", "not an address range (a.b.c.d-a.b.c.d): 10.0.0.5-"},
           Case{"10.0.0.40-10.0.0.5", "the range runs backwards: 10.0.0.40-10.0.0.5"},
           Case{"10.0.0.0/33", "not a network (a.b.c.d/0..32): 10.0.0.0/33"},
           Case{"10.0.0.0/", "not a network (a.b.c.d/0..32): 10.0.0.0/"},
           Case{"10.0.0.5/24",
                "not the first address of its network: 10.0.0.5/24 (the network is 10.0.0.0/24)"},
           Case{"10.0.0.0/8", "more than 65536 addresses: 10.0.0.0/8"},
           Case{"0.0.0.0/0", "more than 65536 addresses: 0.0.0.0/0"},
           Case{"10.0.0.0/16,10.1.0.0/16", "more than 65536 addresses in the list"},
       }) {
    EXPECT_EQ(Outcome(ParseAddressList, c.input), "error: " + c.expected) << c.input;
  }

  EXPECT_EQ(Outcome(ParseAddressList, "127.0.0.2-127.0.1.2", 256),
            "error: more than 256 addresses: 127.0.0.2-127.0.1.2");
  std::string error;
  EXPECT_EQ(ParseAddressList("127.0.0.1-127.0.1.0", error, 256)->size(), 256u);
}

TEST(AddressList, DevicesFileKeepsPortsAndSkipsComments) {
  for (const Case& c : {
           Case{"10.0.0.5", "10.0.0.5"},
           Case{"# site A\n10.0.0.5\n\n  10.0.0.6:40001   # lobby\n10.0.0.7#\n",
                "10.0.0.5,10.0.0.6:40001,10.0.0.7"},
           Case{"\xEF\xBB\xBF"
                "10.0.0.5:1\r\n\t10.0.0.6:65535 \r\n",
                "10.0.0.5:1,10.0.0.6:65535"},
           // The same entry again counts once; with and without a port it may be one device or
           // two, which only the run's port tells (EachDeviceOnceWithItsPort).
           Case{"10.0.0.5:40000\n10.0.0.6\n10.0.0.5:40000\n10.0.0.6", "10.0.0.5:40000,10.0.0.6"},
           Case{"10.0.0.5:40000\n\n10.0.0.5", "10.0.0.5:40000,10.0.0.5"},
           Case{"10.0.0.5:1\r\n10.0.0.5:2", "10.0.0.5:1,10.0.0.5:2"},
       }) {
    EXPECT_EQ(Outcome(ParseDeviceFile, c.input), c.expected) << c.input;
  }
}

TEST(AddressList, BadDevicesFileLinesAreNamedByNumber) {
  for (const Case& c : {
           Case{"", "no device listed"},
           Case{"# nothing yet\n\n   \n", "no device listed"},
           Case{"10.0.0.5\n# next\n10.0.0.x\n", "line 3: not an IPv4 address: 10.0.0.x"},
           Case{"10.0.0.5 10.0.0.6", "line 1: not an IPv4 address: 10.0.0.5 10.0.0.6"},
           Case{"10.0.0.5-10.0.0.9", "line 1: not an IPv4 address: 10.0.0.5-10.0.0.9"},
           Case{"10.0.0.5:0", "line 1: not a port (1..65535): 10.0.0.5:0"},
           Case{"10.0.0.5:65536", "line 1: not a port (1..65535): 10.0.0.5:65536"},
           Case{"10.0.0.5:", "line 1: not a port (1..65535): 10.0.0.5:"},
           Case{"10.0.0.5:4000:1", "line 1: not a port (1..65535): 10.0.0.5:4000:1"},
           Case{"10.0.0.5: 4000", "line 1: not a port (1..65535): 10.0.0.5: 4000"},
       }) {
    EXPECT_EQ(Outcome(ParseDeviceFile, c.input), "error: " + c.expected) << c.input;
  }

  EXPECT_EQ(Outcome(ParseDeviceFile, "10.0.0.5\n10.0.0.6\n10.0.0.5\n10.0.0.7\n", 2),
            "error: line 4: more than 2 addresses in the file");
}

TEST(AddressList, EachDeviceOnceWithItsPort) {
  struct PortCase {
    std::string file;  // the entries, as a devices file
    std::optional<std::uint16_t> port;
    std::string expected;
  };
  for (const PortCase& c : {
           PortCase{"10.0.0.5\n10.0.0.5:40000", 40000, "10.0.0.5:40000"},
           PortCase{"10.0.0.6:40000\n10.0.0.5\n10.0.0.6", 40000, "10.0.0.6:40000,10.0.0.5:40000"},
           PortCase{"10.0.0.5:1\n10.0.0.6:2", std::nullopt, "10.0.0.5:1,10.0.0.6:2"},
           // Files and folders named after the address would be shared by two devices.
           PortCase{"10.0.0.5\n10.0.0.5:40001", 40000,
                    "error: 10.0.0.5 is listed with two ports, 40000 and 40001"},
           PortCase{"10.0.0.5:1\n10.0.0.6:3\n10.0.0.5:2", std::nullopt,
                    "error: 10.0.0.5 is listed with two ports, 1 and 2"},
           PortCase{"10.0.0.5:1\n10.0.0.6", std::nullopt, "error: no port for 10.0.0.6"},
       }) {
    std::string error;
    const auto entries = ParseDeviceFile(c.file, error);
    ASSERT_TRUE(entries) << c.file << ": " << error;
    const auto devices = WithPorts(*entries, c.port, error);
    EXPECT_EQ(devices ? Joined(*devices) : "error: " + error, c.expected) << c.file;
  }
}

TEST(AddressList, DevicePatternInFileNames) {
  const std::uint32_t device = 0x0A000005;
  EXPECT_TRUE(HasDevicePattern("cfg-{device}.bin"));
  EXPECT_FALSE(HasDevicePattern("cfg.bin"));
  EXPECT_FALSE(HasDevicePattern("cfg-{Device}.bin"));
  EXPECT_FALSE(HasDevicePattern("cfg-{device.bin"));
  EXPECT_EQ(ExpandDevicePattern("cfg-{device}.bin", device), "cfg-10.0.0.5.bin");
  EXPECT_EQ(ExpandDevicePattern("{device}/{device}.bin", device), "10.0.0.5/10.0.0.5.bin");
  EXPECT_EQ(ExpandDevicePattern("cfg.bin", device), "cfg.bin");
  EXPECT_EQ(ExpandDevicePattern("{device}", 0xFFFFFFFF), "255.255.255.255");
}

}  // namespace
}  // namespace orvel
