#pragma once
// What the exchange needs of a datagram link to the device. CUDPAsio is the real one; tests put a
// scripted device behind the same interface.

#include <cstdint>

#include "device/traffic.h"

namespace orvel {

class ILink {
 public:
  virtual ~ILink() = default;
  // Reports what the link sends, and the datagrams it drops itself, to observer (null: nobody).
  void SetObserver(ITrafficObserver* observer) { m_observer = observer; }
  // Stores the values and opens the link; false after a socket error that was already shown.
  virtual bool Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                    const std::uint32_t& localAddress) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual unsigned Send(const std::uint8_t* data, std::uint16_t length) = 0;
  virtual unsigned Available() = 0;
  // The full size of a datagram from the device, 0 for anything else. At most length bytes are
  // written to buffer, and only for a datagram from the device.
  virtual unsigned Receive(std::uint8_t* buffer, std::uint16_t length) = 0;
  // Blocks at most ms milliseconds until a datagram is waiting (or the link is closed).
  virtual void WaitReadable(unsigned ms) = 0;
  // A new task begins: forget which errors were already reported during the previous one.
  virtual void BeginTask() {}
  // Takes whatever is already waiting, without blocking, and forgets it: nothing that arrived
  // before a request went out can be its answer. Bounded, so that a flood cannot hold it up.
  virtual void DiscardQueued() = 0;

 protected:
  ITrafficObserver* m_observer = nullptr;
};

}  // namespace orvel
