#pragma once
// The rules of waiting for a device after its restart by asking it, without link or clock: what
// is asked, which datagram answers an ask, and when the device counts as back.
//
// Every kAskEveryMs the device is asked: the version, or, for older firmware that does not answer
// the version request, a 4-byte Read of the configuration area, as the scan asks it (each ask
// reads other bytes, so that a late answer to an earlier ask is told by its echo). An ask is
// answered when its answer comes before the next ask goes out. The device is back at the first
// answer after at least one ask went unanswered: it went down and came up again. A device that
// answers every ask has not been seen restarting, and the whole wait is kept.

#include <cstddef>
#include <cstdint>

#include "device/traffic.h"
#include "protocol/packets.h"

namespace orvel::restart {

constexpr unsigned kAskEveryMs = 500;
constexpr std::uint16_t kReadLength = 4;

enum class Probe {
  Version,  // the device answered the version request before the update
  Read,     // older firmware: a 4-byte Read of the configuration area
};

// The address the Read of ask number `ask` (from 0) reads: the configuration area's start, moved
// on by 4 bytes for each ask and round again after 16.
std::uint32_t ProbeAddress(std::uint32_t configAddress, unsigned ask);

// What n bytes from the device are to an ask: for Version, two bytes that are not "OK" (an "OK"
// is a copy, or a late answer, of the restart's own acknowledgement) are taken; for Read, the 4
// bytes with the echo of address.
DatagramFate JudgeProbeAnswer(Probe probe, std::uint32_t address, const std::uint8_t* answer,
                              std::size_t n);

// The asks so far, in order: the device is back at the first answer after an unanswered ask.
class RestartWatch {
 public:
  void Asked(bool answered) {
    if (!answered) {
      m_wentSilent = true;
    } else if (m_wentSilent) {
      m_back = true;
    }
  }
  bool WentSilent() const { return m_wentSilent; }
  bool Back() const { return m_back; }

 private:
  bool m_wentSilent = false;
  bool m_back = false;
};

}  // namespace orvel::restart
