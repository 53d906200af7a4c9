#pragma once
// A device for task tests, behind a ScriptedLink: the simulator's device model (sim/device_model.h)
// answers every request, as orvel-sim would, and this adapter adds what tests need around it: a
// delay before each answer, silence after a restart or for chosen requests, and a record of what
// the device was given.
//
//   orvel::test::ScriptedSession rig;              // desktop, clock, link, session (40-s limit)
//   orvel::test::ScriptedDevice device(*rig.link); // installs itself as the link's responder
//   device.version = {0x01, 111};
//   device.Store(0x147A0, configImage);
//   ... run a task on rig.session ...
//   EXPECT_EQ(device.Bytes(0x180000, 0x3C000), program);
//
// The device's memory is the model's: the configuration area (its size follows `version`), the
// program area and the checksum word; elsewhere a Read gives zeros and a Write is dropped
// (StrayBytes). Answers go out from the device's address and port answerDelayMs (or answerDelay of
// the request) after the request.
// After a Restart's "OK" the device is silent for restartSilenceMs of virtual time (beginning
// restartDownAfterMs later), and comes back with versionAfterUpdate when one is set and a program
// was written before. A request for which `silent` returns true goes unanswered (and is not acted
// on).

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/packets.h"
#include "scripted_link.h"
#include "sim/device_model.h"

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
  // When set, the delay of each answer (answerDelayMs is then not used).
  std::function<unsigned(const ScriptedLink::Request&)> answerDelay;
  std::int64_t restartSilenceMs = 0;
  // The device still answers for this long after a Restart's "OK" before its silence begins.
  std::int64_t restartDownAfterMs = 0;
  // After a Restart that follows a ProgramStart the device answers the version with this number.
  std::optional<std::uint8_t> versionAfterUpdate;
  std::function<bool(const ScriptedLink::Request&)> silent;
  // A Write over this address stores the complement of the byte it was given there, and still
  // answers "OK".
  std::optional<std::uint32_t> corruptAt;

  // Puts bytes into the device's memory (as a Write would, without any corruption).
  void Store(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  // The device's memory at [address, address + size): zeros outside its areas.
  std::vector<std::uint8_t> Bytes(std::uint32_t address, std::size_t size);
  // Bytes written outside every area of the device.
  std::size_t StrayBytes() const { return m_model.StrayBytes(); }

  // What the device was given, in order (resent requests included).
  int restarts = 0;
  std::vector<std::vector<std::uint8_t>> programStarts;  // data of each ProgramStart
  std::vector<UpdatePartDescriptor> descriptors;
  std::vector<Block> blocks;

 private:
  void OnRequest(const ScriptedLink::Request& request, ScriptedLink& link);
  // Hands version and corruptAt to the model.
  void Sync();
  void Record(const ScriptedLink::Request& request, const sim::Reply& reply);

  sim::DeviceModel m_model;
  std::int64_t m_silentFromMs = -1;
  std::int64_t m_silentUntilMs = -1;
  bool m_programWritten = false;
};

}  // namespace orvel::test
