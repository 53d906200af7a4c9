#pragma once
// The tool's side of a loopback test against orvel-sim, without the core: a plain UDP socket bound
// to 127.0.0.1 with the device's port, as the tool binds it.
//
//   ToolSocket tool(sim.port());
//   auto answers = tool.Ask(Request(ServiceCommand::Version, 0, 0));   // to 127.0.0.2
//   tool.Send(Request(ServiceCommand::Version, 0, 0), "127.0.0.3");     // another device
//
// POSIX only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/packets.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace orvel::test {

struct Datagram {
  Bytes bytes;
  std::string fromAddress;
  std::uint16_t fromPort = 0;
};

class ToolSocket {
 public:
  // Throws std::runtime_error when the socket cannot be bound.
  explicit ToolSocket(std::uint16_t port);
  ~ToolSocket();
  ToolSocket(const ToolSocket&) = delete;
  ToolSocket& operator=(const ToolSocket&) = delete;

  // To the device's port on address.
  void Send(const Bytes& datagram, const char* address = SimProcess::kAddress);

  // The next datagram within waitMs, from whatever address and port.
  std::optional<Datagram> Receive(int waitMs = 1000);

  // Sends and returns the datagrams that arrive until quietMs of quiet (at most 16: the sim sends
  // no more than 4 for one request).
  std::vector<Datagram> Ask(const Bytes& request, int quietMs = 150,
                            const char* address = SimProcess::kAddress);

 private:
  int m_fd = -1;
  std::uint16_t m_port;
};

// A request datagram; a PartBlock gets its block sum after the data.
Bytes Request(ServiceCommand command, std::uint16_t length, std::uint32_t address,
              const Bytes& data = {});

// The answer to a Write at address.
Bytes Ok(std::uint32_t address);

}  // namespace orvel::test
