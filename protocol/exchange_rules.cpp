#include "protocol/exchange_rules.h"

namespace orvel::exchange {

using protocol::GetU32;

bool IsOk(const std::uint8_t* answer, std::size_t n) {
  return n >= 2 && answer[0] == 'O' && answer[1] == 'K';
}

bool HasEcho(ServiceCommand command) {
  return command == ServiceCommand::Read || command == ServiceCommand::Write;
}

std::optional<std::uint32_t> WriteAnswerAddress(const std::uint8_t* answer, std::size_t n) {
  if (n != 6 || !IsOk(answer, n)) return std::nullopt;
  return GetU32(&answer[2]);
}

bool IsRestartAcknowledgement(const std::uint8_t* answer, std::size_t n) {
  return n == 2 && IsOk(answer, n);
}

DatagramFate JudgeAnswer(ServiceCommand command, std::uint32_t address, std::uint16_t length,
                         const std::uint8_t* answer, unsigned n, std::uint16_t answerLength) {
  switch (command) {
    case ServiceCommand::Read:
      // The echo must lie within the bytes delivered, behind the whole block: a shorter answer
      // would leave part of the block unread.
      if (n > answerLength) return DatagramFate::TooLong;
      if (n < length + 4u) return DatagramFate::Short;
      return GetU32(&answer[n - 4]) == address ? DatagramFate::Taken : DatagramFate::WrongEcho;
    case ServiceCommand::Write:
      if (!IsOk(answer, n)) return DatagramFate::Ignored;
      if (n < 6) return DatagramFate::Short;
      return GetU32(&answer[2]) == address ? DatagramFate::Taken : DatagramFate::WrongEcho;
    default:
      return IsOk(answer, n) ? DatagramFate::Taken : DatagramFate::Ignored;
  }
}

std::optional<std::uint32_t> EchoOf(ServiceCommand command, const std::uint8_t* answer,
                                    unsigned n) {
  if (command == ServiceCommand::Read && n >= 4 && n <= protocol::kAnswerSize) {
    return GetU32(&answer[n - 4]);
  }
  if (command == ServiceCommand::Write && IsOk(answer, n) && n >= 6) return GetU32(&answer[2]);
  return std::nullopt;
}

std::uint16_t RegionProgress(int done, int size) {
  const int step = size / 100;
  return static_cast<std::uint16_t>(step != 0 ? done / step : done * 100 / size);
}

std::uint16_t ProgramProgress(std::size_t blockIndex) {
  const double percent = static_cast<double>(blockIndex) / 9.6;
  return static_cast<std::uint16_t>(static_cast<long long>(percent));
}

unsigned ShareOf(std::size_t done, std::size_t total) {
  return total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
}

}  // namespace orvel::exchange
