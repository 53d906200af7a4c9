#pragma once
// What the UDP link needs of the system's sockets beyond what Boost.Asio offers the same way on
// every system: readiness without blocking, errors parked on a socket, the sender and full size of
// a datagram that did not fit, and a port that no other socket may share.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvel::net {

// The system's handle of a socket (a SOCKET on Windows, a descriptor elsewhere).
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif

// True when a datagram (not merely an error) is waiting to be read.
bool HasQueuedDatagram(NativeSocket socket);

// Waits at most ms milliseconds for the socket to become readable. An error that the system parked
// on the socket after an earlier datagram (such as an ICMP "port unreachable" for a request to a
// device that is not listening) is taken off it: left there it would fail the next send and keep
// the socket ready for good, while for the exchange it is simply a request that went unanswered.
// True when a datagram is waiting.
bool WaitReadable(NativeSocket socket, unsigned ms);

struct ReceivedDatagram {
  std::size_t size = 0;  // the datagram's full size, more than the buffer's when it did not fit
  int error = 0;         // the system's error code when nothing was received
  std::uint32_t senderAddress = 0;  // IPv4, host order; 0 with port 0 when not IPv4
  std::uint16_t senderPort = 0;
};
// Takes one datagram into buffer (at most size bytes of it, the rest is gone), with its sender
// also for a datagram that did not fit.
ReceivedDatagram ReceiveFrom(NativeSocket socket, std::uint8_t* buffer, std::size_t size);

struct SendResult {
  std::size_t size = 0;  // bytes sent
  int error = 0;         // the system's error code when nothing was sent
};
// One datagram to address:port (IPv4, host order). Safe from several threads on one socket.
SendResult SendTo(NativeSocket socket, const std::uint8_t* data, std::size_t size,
                  std::uint32_t address, std::uint16_t port);

// Windows reports an ICMP "port unreachable" for an earlier datagram as an error of the next
// receive on an unconnected socket; this turns that off. Elsewhere it does nothing. Returns 0 or
// the system's error code.
int IgnoreUnreachableReports(NativeSocket socket);

// Makes sure that no other socket can bind the socket's port while it is open, before it is bound:
// Linux refuses a second bind as long as neither socket asks for reuse, Windows lets a socket with
// SO_REUSEADDR take over a bound port unless the first one holds it exclusively. Returns 0 or the
// system's error code.
int HoldPortExclusively(NativeSocket socket);

// The IPv4 addresses of this computer's network interfaces, the loopback interface's included, in
// host order; empty when the system does not tell them.
std::vector<std::uint32_t> InterfaceAddresses();

}  // namespace orvel::net
