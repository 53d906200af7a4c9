#pragma once
// The run's socket on one interface and port, held open from before the first request to after the
// last: the port is known to be free before anything is sent, and no other program takes it
// between two devices. Another orvelctl on the same interface and port (two forks of one automation
// run) may be waited for: the bind is tried again every 100 ms until the wait is over.
//
//   PortHold hold(sockets, interfaceAddress, port, waitMs, clock);  // throws when it stays taken

#include <cstdint>

#include "device/shared_socket.h"
#include "platform/clock.h"

namespace orvel::cli {

class PortHold {
 public:
  // Throws boost::system::system_error when the socket cannot be opened: address_in_use when the
  // port was still taken after waitMs (0: tried once).
  PortHold(SharedSockets& sockets, std::uint32_t interfaceAddress, std::uint16_t port,
           unsigned waitMs, IClock& clock);
  ~PortHold();
  PortHold(const PortHold&) = delete;
  PortHold& operator=(const PortHold&) = delete;

 private:
  SharedSocket& m_socket;
  SharedSocket::Inbox m_inbox;  // no device's: nothing arrives from 0.0.0.0:0
  Endpoint m_holder;
};

}  // namespace orvel::cli
