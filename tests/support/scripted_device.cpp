#include "scripted_device.h"

namespace orvel::test {

using namespace orvel::protocol;

ScriptedDevice::ScriptedDevice(ScriptedLink& link)
    : m_model(sim::DeviceSettings{version.kind, version.number, true}) {
  link.SetResponder(
      [this](const ScriptedLink::Request& request, ScriptedLink& l) { OnRequest(request, l); });
}

void ScriptedDevice::Sync() {
  const sim::DeviceSettings& settings = m_model.Settings();
  if (settings.versionKind != version.kind || settings.versionNumber != version.number) {
    m_model.SetVersion(version.kind, version.number);
  }
  if (corruptAt) m_model.CorruptAt(*corruptAt);
}

void ScriptedDevice::Store(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  Sync();
  m_model.Store(address, bytes);
}

std::vector<std::uint8_t> ScriptedDevice::Bytes(std::uint32_t address, std::size_t size) {
  Sync();
  return m_model.Read(address, size);
}

void ScriptedDevice::OnRequest(const ScriptedLink::Request& request, ScriptedLink& link) {
  if (request.timeMs >= m_silentFromMs && request.timeMs < m_silentUntilMs) return;
  if (silent && silent(request)) return;

  Sync();
  const sim::Reply reply = m_model.Handle(request.bytes.data(), request.bytes.size());
  if (!reply.wellFormed) return;
  Record(request, reply);
  if (reply.answer) link.Answer(*reply.answer, answerDelay ? answerDelay(request) : answerDelayMs);
  if (reply.restart) {
    m_silentFromMs = request.timeMs + restartDownAfterMs;
    m_silentUntilMs = m_silentFromMs + restartSilenceMs;
    if (versionAfterUpdate && m_programWritten) version.number = *versionAfterUpdate;
    m_programWritten = false;
  }
}

void ScriptedDevice::Record(const ScriptedLink::Request& request, const sim::Reply& reply) {
  switch (static_cast<ServiceCommand>(reply.command)) {
    case ServiceCommand::Restart:
      ++restarts;
      break;
    case ServiceCommand::ProgramStart:
      programStarts.push_back(request.Data());
      m_programWritten = true;
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
      break;
    }
    case ServiceCommand::PartBlock:
      blocks.push_back(Block{reply.address, request.Data(), reply.note != "bad-sum"});
      break;
    default:
      break;
  }
}

}  // namespace orvel::test
