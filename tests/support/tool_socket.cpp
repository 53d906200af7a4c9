#include "support/tool_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace orvel::test {
namespace {

namespace p = orvel::protocol;

sockaddr_in Endpoint(const char* address, std::uint16_t port) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &endpoint.sin_addr);
  return endpoint;
}

}  // namespace

ToolSocket::ToolSocket(std::uint16_t port) : m_port(port) {
  // Not inherited: a program the test starts must not hold the port after the test lets it go.
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local = Endpoint(SimProcess::kToolAddress, port);
  if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    if (m_fd >= 0) ::close(m_fd);
    throw std::runtime_error("cannot bind the tool socket");
  }
}

ToolSocket::~ToolSocket() { ::close(m_fd); }

void ToolSocket::Send(const Bytes& datagram, const char* address) {
  sockaddr_in device = Endpoint(address, m_port);
  ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&device),
           sizeof device);
}

std::optional<Datagram> ToolSocket::Receive(int waitMs) {
  pollfd fd{m_fd, POLLIN, 0};
  if (::poll(&fd, 1, waitMs) <= 0) return std::nullopt;
  Datagram datagram;
  datagram.bytes.resize(2048);
  sockaddr_in from{};
  socklen_t fromSize = sizeof from;
  const ssize_t n = ::recvfrom(m_fd, datagram.bytes.data(), datagram.bytes.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &fromSize);
  if (n < 0) return std::nullopt;
  datagram.bytes.resize(static_cast<std::size_t>(n));
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  datagram.fromAddress = text;
  datagram.fromPort = ntohs(from.sin_port);
  return datagram;
}

std::vector<Datagram> ToolSocket::Ask(const Bytes& request, int quietMs, const char* address) {
  Send(request, address);
  std::vector<Datagram> all;
  while (all.size() < 16) {
    auto datagram = Receive(quietMs);
    if (!datagram) break;
    all.push_back(std::move(*datagram));
  }
  return all;
}

Bytes Request(ServiceCommand command, std::uint16_t length, std::uint32_t address,
              const Bytes& data) {
  Bytes datagram = {p::kMagic0, p::kMagic1, static_cast<std::uint8_t>(command), 0, 0, 0, 0, 0,
                    0,          0};
  p::PutU16(datagram.data() + 4, length);
  p::PutU32(datagram.data() + 6, address);
  datagram.insert(datagram.end(), data.begin(), data.end());
  if (command == ServiceCommand::PartBlock) {
    std::uint16_t sum = 0;
    for (auto byte : data) sum = static_cast<std::uint16_t>(sum + byte);
    datagram.push_back(static_cast<std::uint8_t>(sum));
    datagram.push_back(static_cast<std::uint8_t>(sum >> 8));
  }
  return datagram;
}

Bytes Ok(std::uint32_t address) {
  Bytes answer = {'O', 'K', 0, 0, 0, 0};
  p::PutU32(answer.data() + 2, address);
  return answer;
}

}  // namespace orvel::test
