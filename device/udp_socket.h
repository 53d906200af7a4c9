#pragma once
// One IPv4 UDP socket of the tool, bound exclusively to an interface and the service port: what the
// dialog's one-device link and the shared socket of a run over many devices both do with it. Every
// call but IsOpen throws boost::system::system_error with the failing call's name, as Boost.Asio's
// own calls do, so that the boxes built from it read alike on both paths.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>

namespace orvel {

class IDesktop;

// A device's (or anyone's) address and port, host order.
struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  auto operator<=>(const Endpoint&) const = default;
};

// Bytes of a datagram the links take in: more than any answer, so that a longer one is seen to be
// too long.
constexpr std::size_t kDatagramScratch = 288;

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Opens the socket and binds it to localAddress:port (0: every interface); no other socket can
  // take the port while it is open. A socket open before is closed first.
  void Open(std::uint32_t localAddress, std::uint16_t port);
  // Only the given address may send to the socket (any port of it); the kernel drops the rest.
  void ConnectTo(std::uint32_t address);
  // For a socket that stays unconnected: a device that is not listening must not turn the next
  // receive into an error (Windows reports it there).
  void IgnoreUnreachableReports();
  void Close();
  bool IsOpen() const { return m_socket != nullptr; }

  std::size_t SendTo(const std::uint8_t* data, std::size_t size, Endpoint to);
  // Bytes of the first waiting datagram (on some systems of all of them).
  std::size_t Available();
  // True when a datagram (not merely an error) is waiting.
  bool HasQueuedDatagram();
  // At most ms milliseconds; an error the system parked on the socket is cleared. True when a
  // datagram is waiting.
  bool WaitReadable(unsigned ms);
  // One datagram into buffer (at most size bytes) with its sender; returns the datagram's full
  // size, which is larger than size when it did not fit (the rest of it is gone).
  std::size_t ReceiveFrom(std::uint8_t* buffer, std::size_t size, Endpoint& sender);

 private:
  boost::asio::io_service m_ioService;
  std::unique_ptr<boost::asio::ip::udp::socket> m_socket;
};

// The box for a socket that could not be opened: the port-in-use text when another program holds
// the port, the system's text otherwise.
void ShowOpenFailure(IDesktop& desktop, const boost::system::system_error& error);
// The error a datagram too long for the link's buffer is reported with.
boost::system::system_error DatagramTooLong();

// The captions of the link's boxes.
extern const wchar_t kLinkInitCaption[];
extern const wchar_t kLinkSendCaption[];
extern const wchar_t kLinkReceiveCaption[];

}  // namespace orvel
