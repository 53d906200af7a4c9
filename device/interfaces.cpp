// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/asio/ip/udp.hpp>

#include "device/interfaces.h"

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

}  // namespace orvel
