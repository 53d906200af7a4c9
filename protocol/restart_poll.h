#pragma once
// The rules of waiting for a device after its restart by asking it, without link or clock: what
// is asked, which datagram answers an ask, and when the device counts as back.
//
// Every kAskEveryMs the device is asked: the version, or, for older firmware that does not answer
// the version request, a 4-byte Read of the configuration area, as the scan asks it (each ask
// reads other bytes, so that a late answer to an earlier ask is told by its echo). An ask is
// answered when its answer comes before the next ask goes out. The device is back at the first
// answer after at least one ask went unanswered: it went down and came up again. A version answer
// carries nothing that ties it to its ask, and a copy of one the device gave earlier in the task
// may come at any time: after the silence it only sends a Read at once, and the device is back
// when that Read is answered. A device that answers every ask has not been seen restarting, and
// the whole wait is kept.

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

// The asks so far, in order: what to ask next, and whether the device is back.
class RestartWatch {
 public:
  explicit RestartWatch(Probe probe) : m_probe(probe) {}

  Probe NextProbe() const { return m_confirming ? Probe::Read : m_probe; }
  // The next ask goes at once, not at the next half second: it confirms a version answer.
  bool AskAtOnce() const { return m_confirming; }

  void Asked(Probe probe, bool answered) {
    m_confirming = false;
    if (!answered) {
      m_wentSilent = true;
    } else if (m_wentSilent) {
      if (probe == Probe::Read) {
        m_back = true;
      } else {
        m_confirming = true;
      }
    }
  }
  bool WentSilent() const { return m_wentSilent; }
  bool Back() const { return m_back; }

 private:
  Probe m_probe;
  bool m_wentSilent = false;
  bool m_confirming = false;
  bool m_back = false;
};

}  // namespace orvel::restart
