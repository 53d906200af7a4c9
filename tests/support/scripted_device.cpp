#include "scripted_device.h"

#include <algorithm>

namespace orvel::test {

using namespace orvel::protocol;

ScriptedDevice::ScriptedDevice(ScriptedLink& link) {
  link.SetResponder(
      [this](const ScriptedLink::Request& request, ScriptedLink& l) { OnRequest(request, l); });
}

void ScriptedDevice::Store(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  if (memory.size() < address + bytes.size()) memory.resize(address + bytes.size());
  std::copy(bytes.begin(), bytes.end(), memory.begin() + address);
}

std::vector<std::uint8_t> ScriptedDevice::Bytes(std::uint32_t address, std::size_t size) const {
  std::vector<std::uint8_t> bytes(size, 0);
  for (std::size_t i = 0; i < size && address + i < memory.size(); ++i) {
    bytes[i] = memory[address + i];
  }
  return bytes;
}

void ScriptedDevice::OnRequest(const ScriptedLink::Request& request, ScriptedLink& link) {
  const auto& bytes = request.bytes;
  if (bytes.size() < kHeaderSize || bytes[0] != kMagic0 || bytes[1] != kMagic1) return;
  if (request.timeMs < m_silentUntilMs) return;
  if (silent && silent(request)) return;

  const std::uint32_t address = request.Address();
  const std::uint16_t length = request.Length();
  std::vector<std::uint8_t> echo(4);
  PutU32(echo.data(), address);
  auto answer = [&](std::vector<std::uint8_t> datagram) {
    link.Answer(std::move(datagram), answerDelayMs);
  };

  switch (static_cast<ServiceCommand>(request.Command())) {
    case ServiceCommand::Version:
      answer({version.kind, version.number});
      break;
    case ServiceCommand::Restart:
      ++restarts;
      answer({'O', 'K'});
      m_silentUntilMs = request.timeMs + restartSilenceMs;
      break;
    case ServiceCommand::Read: {
      std::vector<std::uint8_t> datagram = Bytes(address, length);
      datagram.insert(datagram.end(), echo.begin(), echo.end());
      answer(std::move(datagram));
      break;
    }
    case ServiceCommand::Write: {
      Store(address, request.Data());
      if (corruptAt && *corruptAt >= address && *corruptAt < address + length) {
        memory[*corruptAt] = static_cast<std::uint8_t>(~memory[*corruptAt]);
      }
      std::vector<std::uint8_t> datagram{'O', 'K'};
      datagram.insert(datagram.end(), echo.begin(), echo.end());
      answer(std::move(datagram));
      break;
    }
    case ServiceCommand::ProgramStart:
      programStarts.push_back(request.Data());
      answer({'O', 'K'});
      break;
    case ServiceCommand::PartDescriptor: {
      const std::vector<std::uint8_t> data = request.Data();
      UpdatePartDescriptor descriptor;
      if (data.size() >= UpdatePartDescriptor::kSize) {
        descriptor.partNumber = GetU32(&data[0]);
        descriptor.partSize = GetU32(&data[4]);
        descriptor.partOffset = GetU32(&data[8]);
        descriptor.reserved1 = GetU32(&data[12]);
        descriptor.reserved2 = GetU32(&data[16]);
      }
      descriptors.push_back(descriptor);
      answer({'O', 'K'});
      break;
    }
    case ServiceCommand::PartBlock: {
      const std::vector<std::uint8_t> data = request.Data();
      const std::uint16_t sum = BlockSum(data.data(), data.size());
      const std::size_t sumAt = kHeaderSize + data.size();
      const bool matches = bytes.size() >= sumAt + 2 && GetU16(&bytes[sumAt]) == sum;
      blocks.push_back(Block{address, data, matches});
      std::vector<std::uint8_t> datagram{'O', 'K', 0, 0};
      PutU16(&datagram[2], sum);
      answer(std::move(datagram));
      break;
    }
  }
}

}  // namespace orvel::test
