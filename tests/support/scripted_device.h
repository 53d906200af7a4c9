#pragma once
// A device for task tests, behind a ScriptedLink: it answers every request the tool relies on from
// a memory of its own, and records what it was given.
//
//   orvel::test::ScriptedSession rig;                   // desktop, clock, link, session (40-s
//   limit) orvel::test::ScriptedDevice device(*rig.link);      // installs itself as the link's
//   responder device.version = {0x01, 111}; device.Store(0x147A0, configImage);
//   ... run a task on rig.session ...
//   EXPECT_EQ(device.Bytes(0x180000, 0x3C000), program);
//
// Answers (all from the device's address and port, answerDelayMs after the request):
//   Version  -> {version.kind, version.number}
//   Restart  -> "OK"; then silent for restartSilenceMs of virtual time
//   Read     -> the bytes at address (zero past the end of memory) + the 4-byte address
//   Write    -> stores the data (a wrong byte at corruptAt), answers "OK" + the 4-byte address
//   ProgramStart, PartDescriptor -> "OK" (recorded)
//   PartBlock -> "OK" + the block sum it computed (recorded, with whether the sums matched)
// A request for which `silent` returns true goes unanswered (and is not acted on). Requests that do
// not start with AA 55 or are shorter than the header are ignored.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/packets.h"
#include "scripted_link.h"

namespace orvel::test {

class ScriptedDevice {
 public:
  struct Block {
    std::uint32_t index;
    std::vector<std::uint8_t> data;
    bool sumMatches;
  };

  explicit ScriptedDevice(ScriptedLink& link);

  DeviceVersion version{0x01, 111};
  unsigned answerDelayMs = 0;
  std::int64_t restartSilenceMs = 0;
  std::function<bool(const ScriptedLink::Request&)> silent;
  // A Write over this address stores the complement of the byte it was given there, and still
  // answers "OK".
  std::optional<std::uint32_t> corruptAt;

  // Device memory from address 0; grows on writes.
  std::vector<std::uint8_t> memory;
  void Store(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> Bytes(std::uint32_t address, std::size_t size) const;

  // What the device was given, in order (resent requests included).
  int restarts = 0;
  std::vector<std::vector<std::uint8_t>> programStarts;  // data of each ProgramStart
  std::vector<UpdatePartDescriptor> descriptors;
  std::vector<Block> blocks;

 private:
  void OnRequest(const ScriptedLink::Request& request, ScriptedLink& link);

  std::int64_t m_silentUntilMs = -1;
};

}  // namespace orvel::test
