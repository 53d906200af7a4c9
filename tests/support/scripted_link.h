#pragma once
// A link with a scripted device behind it, on virtual time (ScriptedClock).
//
//   orvel::test::ScriptedClock clock;
//   auto owned = std::make_unique<orvel::test::ScriptedLink>(clock);
//   orvel::test::ScriptedLink& link = *owned;
//   link.SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
//     if (request.Command() == 0x0E) link.Answer({0x01, 111});          // at once, from the device
//     link.Answer({'O', 'K'}, 300, ScriptedLink::Sender::Stranger);     // 300 ms later, a stranger
//   });
//   CDeviceSession session(desktop, clock, std::move(owned));
//
// Behaviour:
//   - Init counts the call, records its values and opens the link (or, after FailInit(true),
//     returns false and stays closed). Close counts the call, closes and drops queued datagrams.
//   - Send on an open link records the request (bytes and virtual send time), calls the responder
//     and returns the length; on a closed link it returns 0 and records nothing.
//   - A queued datagram arrives at (virtual send time + delay). Available() is the size of the
//     first datagram that has arrived (0 if none); Receive() takes it: from the device it copies at
//     most length bytes and returns its full size; from a stranger or a wrong port it returns 0 and
//     leaves the buffer alone. Receive with nothing arrived returns 0 and counts a blocking receive
//     (a real socket would hang there).
//   - WaitReadable(ms) advances the clock to the next arrival if it falls within ms, else by ms.
//   - DiscardQueued() drops every datagram that has arrived; later arrivals stay queued.
//   - With an observer set, sends, strangers' datagrams and discarded ones are reported to it as
//     the real link reports them.

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "device/link.h"

namespace orvel::test {

class ScriptedClock;

class ScriptedLink final : public ILink {
 public:
  enum class Sender {
    Device,     // the device's address and service port
    Stranger,   // another address (10.0.0.99, the device's port)
    WrongPort,  // the device's address, the next port
  };
  static constexpr std::uint32_t kStrangerAddress = 0x0A000063;

  struct Request {
    std::vector<std::uint8_t> bytes;
    std::int64_t timeMs = 0;  // virtual send time
    std::size_t index = 0;    // 0 for the first request sent over this link

    // Header fields (valid when bytes.size() >= 10).
    std::uint8_t Command() const { return bytes.at(2); }
    std::uint16_t Length() const;
    std::uint32_t Address() const;
    // The data behind the header (empty for Read).
    std::vector<std::uint8_t> Data() const;
  };

  using Responder = std::function<void(const Request& request, ScriptedLink& link)>;

  explicit ScriptedLink(ScriptedClock& clock) : m_clock(clock) {}

  void SetResponder(Responder responder) { m_responder = std::move(responder); }
  // Queues a datagram for the tool, arriving delayMs after now.
  void Answer(std::vector<std::uint8_t> bytes, unsigned delayMs = 0,
              Sender sender = Sender::Device);

  void FailInit(bool fail) { m_failInit = fail; }

  const std::vector<Request>& Requests() const { return m_requests; }
  int InitCalls() const { return m_initCalls; }
  int CloseCalls() const { return m_closeCalls; }
  int BlockingReceives() const { return m_blockingReceives; }
  std::size_t Queued() const { return m_queue.size(); }
  std::uint32_t DeviceAddress() const { return m_deviceAddress; }
  std::uint16_t Port() const { return m_port; }
  std::uint32_t LocalAddress() const { return m_localAddress; }
  // Arrival time of the first queued datagram, or -1 when nothing is queued.
  std::int64_t NextArrivalMs() const;

  bool Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
            const std::uint32_t& localAddress) override;
  void Close() override;
  bool IsOpen() const override { return m_open; }
  unsigned Send(const std::uint8_t* data, std::uint16_t length) override;
  unsigned Available() override;
  unsigned Receive(std::uint8_t* buffer, std::uint16_t length) override;
  void WaitReadable(unsigned ms) override;
  void DiscardQueued() override;

 private:
  struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::int64_t arrivalMs;
    Sender sender;
  };

  const Datagram* FirstArrived() const;
  void Report(const Datagram& datagram, DatagramFate fate);

  ScriptedClock& m_clock;
  Responder m_responder;
  std::deque<Datagram> m_queue;  // ordered by arrival
  std::vector<Request> m_requests;
  bool m_open = false;
  bool m_failInit = false;
  int m_initCalls = 0;
  int m_closeCalls = 0;
  int m_blockingReceives = 0;
  std::uint32_t m_deviceAddress = 0;
  std::uint32_t m_localAddress = 0;
  std::uint16_t m_port = 0;
};

// What the Write requests sent over link put at [address, address + size), in the order sent
// (zeros where none wrote), and the end of the highest Write that reached into that range.
struct WrittenRange {
  std::vector<std::uint8_t> bytes;
  std::uint64_t end = 0;
};
WrittenRange WrittenBytes(const ScriptedLink& link, std::uint32_t address, std::size_t size);

}  // namespace orvel::test
