#include "protocol/restart_poll.h"

#include "protocol/exchange_rules.h"

namespace orvel::restart {

std::uint32_t ProbeAddress(std::uint32_t configAddress, unsigned ask) {
  return configAddress + kReadLength * (ask % 16);
}

DatagramFate JudgeProbeAnswer(Probe probe, std::uint32_t address, const std::uint8_t* answer,
                              std::size_t n) {
  if (probe == Probe::Read) {
    return exchange::JudgeAnswer(ServiceCommand::Read, address, kReadLength, answer,
                                 static_cast<unsigned>(n), kReadLength + 4);
  }
  if (n != 2) return n > 2 ? DatagramFate::TooLong : DatagramFate::Short;
  return exchange::IsOk(answer, n) ? DatagramFate::Stale : DatagramFate::Taken;
}

}  // namespace orvel::restart
