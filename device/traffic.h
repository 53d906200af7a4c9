#pragma once
// Every datagram the tool sends or receives can be reported to an observer (orvelctl --trace). The
// link reports what only it sees (strangers, datagrams too long for it, what it discards); the
// session reports what became of the device's own datagrams.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

enum class DatagramFate {
  Taken,      // the answer to the pending request
  Stranger,   // from another address or port
  Stale,      // from the device, but an answer to an earlier request or send
  Short,      // from the device, with fewer bytes than the answer needs
  WrongEcho,  // from the device, echoing another address
  TooLong,    // longer than the answer (or than the link's buffer)
  Ignored,    // from the device, but no answer to the pending request
};

const char* DatagramFateName(DatagramFate fate);

class ITrafficObserver {
 public:
  virtual ~ITrafficObserver() = default;
  // A datagram sent to address:port (host order).
  virtual void Sent(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                    std::size_t size) = 0;
  // A datagram of size bytes received from address:port; data holds its first `shown` bytes.
  virtual void Received(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                        std::size_t shown, std::size_t size, DatagramFate fate) = 0;
  // What the task made of the traffic with address:port, in words (how a wait ended).
  virtual void Note(std::uint32_t /*address*/, std::uint16_t /*port*/,
                    const std::string& /*text*/) {}
};

}  // namespace orvel
