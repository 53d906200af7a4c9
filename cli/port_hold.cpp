// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "cli/port_hold.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

namespace orvel::cli {

PortHold::PortHold(SharedSockets& sockets, std::uint32_t interfaceAddress, std::uint16_t port,
                   unsigned waitMs, IClock& clock)
    : m_socket(sockets.For(interfaceAddress, port)), m_holder{0, port} {
  constexpr std::int64_t kRetryMs = 100;
  const std::int64_t end = clock.NowMs() + waitMs;
  for (;;) {
    try {
      m_socket.Register(m_holder, m_inbox);
      return;
    } catch (const boost::system::system_error& e) {
      const std::int64_t left = end - clock.NowMs();
      if (e.code() != boost::asio::error::address_in_use || left <= 0) throw;
      clock.SleepMs(static_cast<unsigned>(std::min(left, kRetryMs)));
    }
  }
}

PortHold::~PortHold() {
  try {
    m_socket.Unregister(m_holder);
  } catch (...) {
    // Closing a socket at the end of the run: nothing is left to tell.
  }
}

}  // namespace orvel::cli
