#include "platform/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#endif

#include <cstring>

namespace orvel::net {
namespace {

#ifdef _WIN32
SOCKET Handle(NativeSocket socket) { return static_cast<SOCKET>(socket); }
#else
int Handle(NativeSocket socket) { return socket; }
#endif

struct Readiness {
  bool readable = false;  // a datagram is waiting
  bool failed = false;    // an error is parked on the socket
};

// What the socket has to offer within ms milliseconds.
Readiness Poll(NativeSocket socket, int ms) {
  Readiness readiness;
#ifdef _WIN32
  WSAPOLLFD entry{};
  entry.fd = Handle(socket);
  entry.events = POLLRDNORM;
  if (::WSAPoll(&entry, 1, ms) <= 0) return readiness;
  readiness.readable = (entry.revents & POLLRDNORM) != 0;
#else
  pollfd entry{};
  entry.fd = Handle(socket);
  entry.events = POLLIN;
  if (::poll(&entry, 1, ms) <= 0) return readiness;
  readiness.readable = (entry.revents & POLLIN) != 0;
#endif
  readiness.failed = (entry.revents & POLLERR) != 0;
  return readiness;
}

void ClearPendingError(NativeSocket socket) {
  int error = 0;
#ifdef _WIN32
  int size = sizeof error;
  ::getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
#else
  socklen_t size = sizeof error;
  ::getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, &error, &size);
#endif
}

}  // namespace

bool HasQueuedDatagram(NativeSocket socket) { return Poll(socket, 0).readable; }

bool WaitReadable(NativeSocket socket, unsigned ms) {
  const Readiness readiness = Poll(socket, static_cast<int>(ms));
  if (readiness.failed) ClearPendingError(socket);
  return readiness.readable;
}

// Native calls, so that the sender is known for a datagram that did not fit too: Linux reports the
// real size when asked with MSG_TRUNC, Windows fails the call with WSAEMSGSIZE but still names the
// sender.
ReceivedDatagram ReceiveFrom(NativeSocket socket, std::uint8_t* buffer, std::size_t size) {
  ReceivedDatagram received;
  sockaddr_in from{};
#ifdef _WIN32
  int fromSize = sizeof from;
  const int n = ::recvfrom(Handle(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size),
                           0, reinterpret_cast<sockaddr*>(&from), &fromSize);
  const int error = n < 0 ? ::WSAGetLastError() : 0;
  const bool tooLong = error == WSAEMSGSIZE;
#else
  socklen_t fromSize = sizeof from;
  ssize_t n;
  do {
    n = ::recvfrom(Handle(socket), buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                   &fromSize);
  } while (n < 0 && errno == EINTR);
  const int error = n < 0 ? errno : 0;
  const bool tooLong = false;
#endif
  if (error != 0 && !tooLong) {
    received.error = error;
    return received;
  }
  if (from.sin_family == AF_INET) {
    received.senderAddress = ntohl(from.sin_addr.s_addr);
    received.senderPort = ntohs(from.sin_port);
  }
  received.size = tooLong ? size + 1 : static_cast<std::size_t>(n);
  return received;
}

SendResult SendTo(NativeSocket socket, const std::uint8_t* data, std::size_t size,
                  std::uint32_t address, std::uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  SendResult result;
#ifdef _WIN32
  const int n =
      ::sendto(Handle(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (n < 0) {
    result.error = ::WSAGetLastError();
    return result;
  }
#else
  ssize_t n;
  do {
    n = ::sendto(Handle(socket), data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    result.error = errno;
    return result;
  }
#endif
  result.size = static_cast<std::size_t>(n);
  return result;
}

int IgnoreUnreachableReports([[maybe_unused]] NativeSocket socket) {
#ifdef _WIN32
  // SIO_UDP_CONNRESET, spelled out: MinGW's headers do not all carry it.
  constexpr DWORD kUdpConnReset = 0x9800000C;
  BOOL report = FALSE;
  DWORD returned = 0;
  if (::WSAIoctl(Handle(socket), kUdpConnReset, &report, sizeof report, nullptr, 0, &returned,
                 nullptr, nullptr) != 0) {
    return ::WSAGetLastError();
  }
#endif
  return 0;
}

int HoldPortExclusively([[maybe_unused]] NativeSocket socket) {
#ifdef _WIN32
  const BOOL exclusive = TRUE;
  if (::setsockopt(Handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0) {
    return ::WSAGetLastError();
  }
#endif
  return 0;
}

std::vector<std::uint32_t> InterfaceAddresses() {
  std::vector<std::uint32_t> addresses;
#ifdef _WIN32
  // Asked of a socket of our own; the socket library is started (and let go) for it, since no other
  // socket may be open yet.
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return addresses;
  const SOCKET probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (probe != INVALID_SOCKET) {
    INTERFACE_INFO list[64];
    DWORD size = 0;
    if (::WSAIoctl(probe, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &size, nullptr,
                   nullptr) == 0) {
      for (DWORD i = 0; i < size / sizeof list[0]; ++i) {
        const sockaddr_in& address = list[i].iiAddress.AddressIn;
        if (address.sin_family == AF_INET) addresses.push_back(ntohl(address.sin_addr.s_addr));
      }
    }
    ::closesocket(probe);
  }
  ::WSACleanup();
#else
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in address{};
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    addresses.push_back(ntohl(address.sin_addr.s_addr));
  }
  ::freeifaddrs(list);
#endif
  return addresses;
}

}  // namespace orvel::net
