// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/udp.hpp>

#include "device/interfaces.h"

#include <algorithm>

#include "platform/socket.h"

namespace orvel {

std::vector<std::uint32_t> LocalIPv4Interfaces() {
  boost::asio::io_service service;
  boost::asio::ip::udp::resolver resolver(service);
  const boost::asio::ip::udp::resolver::query query(boost::asio::ip::host_name(), "");
  std::vector<std::uint32_t> addresses;
  for (const auto& entry : resolver.resolve(query)) {
    const boost::asio::ip::address address = entry.endpoint().address();
    if (address.is_v4()) addresses.push_back(address.to_v4().to_uint());
  }
  return addresses;
}

std::vector<std::uint32_t> AddressesOfThisComputer(std::uint32_t boundAddress) {
  if (boundAddress != 0) return {boundAddress};
  std::vector<std::uint32_t> addresses = net::InterfaceAddresses();
  constexpr std::uint32_t kLoopback = 0x7F000001;
  if (std::find(addresses.begin(), addresses.end(), kLoopback) == addresses.end()) {
    addresses.push_back(kLoopback);
  }
  return addresses;
}

}  // namespace orvel
