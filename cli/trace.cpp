#include "cli/trace.h"

#include <algorithm>

#include "common/address_list.h"
#include "protocol/exchange_rules.h"
#include "protocol/packets.h"

namespace orvel::cli {
namespace {

constexpr std::size_t kShownBytes = 32;

std::string CommandName(std::optional<std::uint8_t> command) {
  if (!command) return "-";
  switch (static_cast<ServiceCommand>(*command)) {
    case ServiceCommand::Read:
      return "Read";
    case ServiceCommand::Write:
      return "Write";
    case ServiceCommand::PartDescriptor:
      return "PartDescriptor";
    case ServiceCommand::PartBlock:
      return "PartBlock";
    case ServiceCommand::ProgramStart:
      return "ProgramStart";
    case ServiceCommand::Restart:
      return "Restart";
    case ServiceCommand::Version:
      return "Version";
  }
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned{*command});
  return text;
}

}  // namespace

std::string TraceLine(const TraceRecord& r) {
  char head[160];
  int used = std::snprintf(head, sizeof head, "%8lld ms %s %s:%u %s 0x%08X",
                           static_cast<long long>(r.ms), r.sent ? "->" : "<-",
                           orvel::FormatIPv4(r.peerAddress).c_str(), unsigned{r.peerPort},
                           CommandName(r.command).c_str(), static_cast<unsigned>(r.address));
  if (r.sent) {
    used += std::snprintf(head + used, sizeof head - static_cast<std::size_t>(used), " len %u",
                          unsigned{r.length});
  }
  std::snprintf(head + used, sizeof head - static_cast<std::size_t>(used), ", %zu bytes:", r.size);
  std::string line = head;
  const std::size_t shown = std::min({r.shown, r.size, kShownBytes});
  for (std::size_t i = 0; i < shown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", unsigned{r.data[i]});
    line += hex;
  }
  if (shown < r.size) line += " ...";
  if (!r.sent) line.append(" (").append(DatagramFateName(r.fate)).append(")");
  return line;
}

TraceWriter::TraceWriter(std::FILE* out, IClock& clock) : TraceWriter(out, clock, clock.NowMs()) {}

TraceWriter::TraceWriter(std::FILE* out, IClock& clock, std::int64_t startMs)
    : m_out(out), m_clock(clock), m_startMs(startMs) {}

void TraceWriter::Sent(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                       std::size_t size) {
  TraceRecord record;
  record.sent = true;
  record.peerAddress = address;
  record.peerPort = port;
  if (size >= protocol::kHeaderSize) {
    m_command = data[2];
    m_address = protocol::GetU32(data + 6);
    record.length = protocol::GetU16(data + 4);
  }
  record.data = data;
  record.shown = record.size = size;
  Write(record);
}

void TraceWriter::Received(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                           std::size_t shown, std::size_t size, DatagramFate fate) {
  TraceRecord record;
  record.peerAddress = address;
  record.peerPort = port;
  record.data = data;
  record.shown = shown;
  record.size = size;
  record.fate = fate;
  record.command = m_command;
  record.address = m_address;
  // With several requests out the last one sent is seldom the one answered: a Read or Write answer
  // taken belongs to the request whose address it echoes.
  const bool echoes = m_command && (*m_command == static_cast<std::uint8_t>(ServiceCommand::Read) ||
                                    *m_command == static_cast<std::uint8_t>(ServiceCommand::Write));
  if (echoes && fate == DatagramFate::Taken && shown == size) {
    const auto echo = exchange::EchoOf(static_cast<ServiceCommand>(*m_command), data,
                                       static_cast<unsigned>(size));
    if (echo) record.address = *echo;
  }
  Write(record);
}

void TraceWriter::Note(std::uint32_t address, std::uint16_t port, const std::string& text) {
  std::fprintf(m_out, "%8lld ms == %s:%u %s\n", static_cast<long long>(m_clock.NowMs() - m_startMs),
               orvel::FormatIPv4(address).c_str(), unsigned{port}, text.c_str());
  std::fflush(m_out);
}

void TraceWriter::Write(TraceRecord& record) {
  record.ms = m_clock.NowMs() - m_startMs;
  if (record.sent) {
    record.command = m_command;
    record.address = m_address;
  }
  std::fprintf(m_out, "%s\n", TraceLine(record).c_str());
  std::fflush(m_out);
}

}  // namespace orvel::cli
