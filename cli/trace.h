#pragma once
// orvelctl --trace: one line on stderr for every datagram sent or received, e.g.
//      152 ms -> 127.0.0.2:40000 Write 0x00180000 len 256, 266 bytes: AA 55 01 00 00 01 ...
//      153 ms <- 127.0.0.2:40000 Write 0x00180000, 6 bytes: 4F 4B 00 00 18 00 (taken)
// A received line names the request it was measured against (the last one sent; for a Read or
// Write answer taken, the request whose address it echoes) and what became of the datagram. At most
// 32 bytes are shown in hex; "..." marks the rest. What the task made of the traffic stands on a
// line of its own, e.g.
//     8163 ms == 127.0.0.2:40000 restart wait: the device answered again after 8.0 s (17 asks)

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "device/traffic.h"
#include "platform/clock.h"

namespace orvel::cli {

struct TraceRecord {
  std::int64_t ms = 0;  // since the start of the run
  bool sent = false;
  std::uint32_t peerAddress = 0;
  std::uint16_t peerPort = 0;
  std::optional<std::uint8_t> command;  // of the datagram sent, or of the request last sent
  std::uint32_t address = 0;            // likewise
  std::uint16_t length = 0;             // the length field of a datagram sent
  const std::uint8_t* data = nullptr;
  std::size_t shown = 0;
  std::size_t size = 0;
  DatagramFate fate = DatagramFate::Taken;  // of a datagram received
};

std::string TraceLine(const TraceRecord& record);

class TraceWriter final : public ITrafficObserver {
 public:
  TraceWriter(std::FILE* out, IClock& clock);
  // Times counted from startMs of the clock: the writers of a run's devices share one start.
  TraceWriter(std::FILE* out, IClock& clock, std::int64_t startMs);

  void Sent(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
            std::size_t size) override;
  void Received(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                std::size_t shown, std::size_t size, DatagramFate fate) override;
  void Note(std::uint32_t address, std::uint16_t port, const std::string& text) override;

 private:
  void Write(TraceRecord& record);

  std::FILE* m_out;
  IClock& m_clock;
  std::int64_t m_startMs;
  std::optional<std::uint8_t> m_command;
  std::uint32_t m_address = 0;
};

}  // namespace orvel::cli
