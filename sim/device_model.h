#pragma once
// The simulated device's memory and its answers to the service requests, without any socket: one
// request datagram in, at most one answer datagram out. Kept in a header so that the unit tests can
// drive it directly.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/packets.h"

namespace orvel::sim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kConfigAddress = 0x147A0;
constexpr std::uint32_t kConfigSizeOld = 44660;  // firmware 0.xx
constexpr std::uint32_t kConfigSizeNew = 44916;  // every other firmware
constexpr std::uint32_t kProgramBase = 0x180000;
constexpr std::uint32_t kProgramSize = 0x3C000;
constexpr std::uint32_t kChecksumAddress = 0x1BC000;
constexpr std::uint32_t kChecksumSize = 4;
constexpr std::size_t kDescriptorSize = 20;

inline std::uint32_t ConfigSizeFor(std::uint8_t versionNumber) {
  return versionNumber / 100 == 0 ? kConfigSizeOld : kConfigSizeNew;
}

// The configuration area's content when no file is given: a pattern that differs from block to
// block and from byte to byte, so that a shifted or repeated block cannot pass for the right one.
inline std::uint8_t ConfigPattern(std::uint32_t offset) {
  return static_cast<std::uint8_t>((offset * 7u) ^ (offset >> 8) ^ 0x5Au);
}

struct DeviceSettings {
  std::uint8_t versionKind = 0;
  std::uint8_t versionNumber = 111;
  bool answerVersion = true;
};

// One update part as the device received it: its descriptor and its blocks by index.
struct ReceivedPart {
  std::array<std::uint8_t, kDescriptorSize> descriptor{};
  std::map<std::uint32_t, Bytes> blocks;

  Bytes Joined() const {
    Bytes all;
    for (const auto& [index, block] : blocks) all.insert(all.end(), block.begin(), block.end());
    return all;
  }
};

// What the device made of one datagram.
struct Reply {
  bool wellFormed = false;
  std::uint8_t command = 0;
  std::uint32_t address = 0;
  std::uint16_t length = 0;
  std::optional<Bytes> answer;  // nothing: the device keeps quiet
  std::string note;      // why it kept quiet; "stray" for a write outside every area; "corrupted"
                         // for a write over the corrupt address; "data=XX" for the data byte of
                         // ProgramStart
  bool restart = false;  // the device restarts after this answer
};

class DeviceModel {
 public:
  explicit DeviceModel(DeviceSettings settings)
      : m_settings(settings),
        m_config(ConfigSizeFor(settings.versionNumber)),
        m_program(kProgramSize, 0xFF),
        m_checksum(kChecksumSize, 0xFF) {
    for (std::uint32_t i = 0; i < m_config.size(); ++i) m_config[i] = ConfigPattern(i);
  }

  // Replaces the start of the configuration area; returns false when the sizes differ (what fits
  // is taken anyway, the rest keeps the pattern).
  bool LoadConfig(const Bytes& image) {
    std::copy_n(image.begin(), std::min(image.size(), m_config.size()), m_config.begin());
    return image.size() == m_config.size();
  }

  // After a restart that follows a program write the device answers the version request with
  // number (its new firmware answers it).
  void SetVersionAfterUpdate(std::uint8_t number) { m_versionAfterUpdate = number; }

  // From now on a write over this address stores another byte there than it was given, and says
  // nothing of it.
  void CorruptAt(std::uint32_t address) { m_corruptAddress = address; }

  // From now on the device answers the version query with kind and number; the configuration area
  // takes that version's size (what it held is kept as far as it fits, new bytes get the pattern).
  void SetVersion(std::uint8_t kind, std::uint8_t number) {
    m_settings.versionKind = kind;
    m_settings.versionNumber = number;
    const std::size_t old = m_config.size();
    m_config.resize(ConfigSizeFor(number));
    for (std::size_t i = old; i < m_config.size(); ++i) {
      m_config[i] = ConfigPattern(static_cast<std::uint32_t>(i));
    }
  }

  // The bytes at [address, address + size) as a Read would give them: zeros where no area is.
  Bytes Read(std::uint32_t address, std::size_t size) {
    Bytes bytes(size, 0);
    ForEachRun(address, size, [&](std::size_t offset, std::uint8_t* cells, std::size_t count) {
      if (cells) std::copy_n(cells, count, bytes.begin() + offset);
    });
    return bytes;
  }

  // Puts bytes at address as a Write would (without the corruption); what falls outside every area
  // is dropped. Returns the number of bytes dropped.
  std::size_t Store(std::uint32_t address, const Bytes& bytes) {
    std::size_t dropped = 0;
    ForEachRun(address, bytes.size(),
               [&](std::size_t offset, std::uint8_t* cells, std::size_t count) {
                 if (cells) {
                   std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), count, cells);
                 } else {
                   dropped += count;
                 }
               });
    return dropped;
  }

  const DeviceSettings& Settings() const { return m_settings; }
  const Bytes& Config() const { return m_config; }
  const Bytes& Program() const { return m_program; }
  const Bytes& Checksum() const { return m_checksum; }
  const std::map<std::uint32_t, ReceivedPart>& Parts() const { return m_parts; }
  std::size_t StrayBytes() const { return m_strayBytes; }
  std::optional<std::uint8_t> LastProgramStart() const { return m_programStart; }

  Reply Handle(const std::uint8_t* datagram, std::size_t size) {
    namespace p = orvel::protocol;
    Reply reply;
    reply.note = "malformed";
    if (size < p::kHeaderSize) return reply;
    // The header's fields are taken even from a datagram that is refused, for the log.
    reply.command = datagram[2];
    reply.length = p::GetU16(datagram + 4);
    reply.address = p::GetU32(datagram + 6);
    if (datagram[0] != p::kMagic0 || datagram[1] != p::kMagic1) return reply;
    const std::uint8_t* data = datagram + p::kHeaderSize;
    const std::size_t dataSize = size - p::kHeaderSize;

    const auto command = static_cast<ServiceCommand>(reply.command);
    const std::size_t expected = command == ServiceCommand::Read        ? 0
                                 : command == ServiceCommand::PartBlock ? reply.length + 2u
                                                                        : reply.length;
    if (dataSize != expected || reply.length > p::kMaxData) return reply;
    reply.wellFormed = true;
    reply.note.clear();

    switch (command) {
      case ServiceCommand::Read: {
        Bytes answer = Read(reply.address, reply.length);
        AppendU32(answer, reply.address);
        reply.answer = std::move(answer);
        break;
      }
      case ServiceCommand::Write: {
        bool stray = false;
        ForEachRun(reply.address, reply.length,
                   [&](std::size_t offset, std::uint8_t* cells, std::size_t count) {
                     if (cells) {
                       std::copy_n(data + offset, count, cells);
                       const std::uint64_t at = std::uint64_t{reply.address} + offset;
                       m_programWritten |= at >= kProgramBase && at < kProgramBase + kProgramSize;
                     } else {
                       stray = true;
                       m_strayBytes += count;
                     }
                   });
        if (stray) reply.note = "stray";
        if (m_corruptAddress && CorruptStored(reply.address, reply.length)) {
          if (!reply.note.empty()) reply.note += ",";
          reply.note += "corrupted";
        }
        Bytes answer{'O', 'K'};
        AppendU32(answer, reply.address);
        reply.answer = std::move(answer);
        break;
      }
      case ServiceCommand::ProgramStart:
        m_programWritten = true;
        if (reply.length >= 1) {
          m_programStart = data[0];
          static constexpr char kHex[] = "0123456789ABCDEF";
          reply.note = std::string("data=") + kHex[data[0] >> 4] + kHex[data[0] & 0x0F];
        }
        reply.answer = Bytes{'O', 'K'};
        break;
      case ServiceCommand::PartDescriptor: {
        if (reply.length != kDescriptorSize) {
          reply.note = "bad-descriptor";
          break;
        }
        // A part announced again (a retry, or a resent descriptor) starts over.
        ReceivedPart part;
        std::copy_n(data, kDescriptorSize, part.descriptor.begin());
        m_currentPart = p::GetU32(data);
        m_parts[*m_currentPart] = std::move(part);
        reply.answer = Bytes{'O', 'K'};
        break;
      }
      case ServiceCommand::PartBlock: {
        const std::uint16_t sum = p::GetU16(data + reply.length);
        if (sum != Sum16(data, reply.length)) {
          reply.note = "bad-sum";
          break;
        }
        if (!m_currentPart) {
          reply.note = "no-part";
        } else {
          m_parts[*m_currentPart].blocks[reply.address] = Bytes(data, data + reply.length);
        }
        Bytes answer{'O', 'K'};
        answer.push_back(static_cast<std::uint8_t>(sum));
        answer.push_back(static_cast<std::uint8_t>(sum >> 8));
        reply.answer = std::move(answer);
        break;
      }
      case ServiceCommand::Restart:
        reply.answer = Bytes{'O', 'K'};
        reply.restart = true;
        if (m_programWritten && m_versionAfterUpdate) {
          // It comes back with the firmware it was given, which answers the version request.
          SetVersion(m_settings.versionKind, *m_versionAfterUpdate);
          m_settings.answerVersion = true;
        }
        m_programWritten = false;
        break;
      case ServiceCommand::Version:
        if (m_settings.answerVersion) {
          reply.answer = Bytes{m_settings.versionKind, m_settings.versionNumber};
        } else {
          reply.note = "no-version";
        }
        break;
      default:
        reply.note = "unknown-command";
        break;
    }
    return reply;
  }

 private:
  static void AppendU32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  static std::uint16_t Sum16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + data[i]);
    return sum;
  }

  // Flips every bit of the byte stored at the corrupt address when [address, address + length)
  // covers it and it lies in an area; true when it did.
  bool CorruptStored(std::uint32_t address, std::size_t length) {
    const std::uint64_t at = *m_corruptAddress;
    if (at < address || at >= std::uint64_t{address} + length) return false;
    bool flipped = false;
    ForEachRun(static_cast<std::uint32_t>(at), 1,
               [&](std::size_t, std::uint8_t* cells, std::size_t) {
                 if (cells) *cells = static_cast<std::uint8_t>(~*cells);
                 flipped = cells != nullptr;
               });
    return flipped;
  }

  // Splits [address, address + length) into runs that lie in one area (cells points at the first)
  // or outside every area (cells is null), and calls visit(offset in the request, cells, count)
  // for each. Addresses are taken wide, so a region running past 0xFFFFFFFF does not wrap round.
  template <typename Visit>
  void ForEachRun(std::uint32_t address, std::size_t length, Visit visit) {
    struct Area {
      std::uint64_t begin;
      std::uint8_t* cells;
      std::size_t size;
    };
    // In ascending address order.
    const Area areas[] = {{kConfigAddress, m_config.data(), m_config.size()},
                          {kProgramBase, m_program.data(), m_program.size()},
                          {kChecksumAddress, m_checksum.data(), m_checksum.size()}};
    std::size_t done = 0;
    while (done < length) {
      const std::uint64_t at = std::uint64_t{address} + done;
      std::size_t count = length - done;
      std::uint8_t* cells = nullptr;
      for (const Area& area : areas) {
        if (at < area.begin) {
          count = std::min<std::uint64_t>(count, area.begin - at);  // a gap before this area
          break;
        }
        if (at < area.begin + area.size) {
          cells = area.cells + (at - area.begin);
          count = std::min<std::uint64_t>(count, area.begin + area.size - at);
          break;
        }
      }
      visit(done, cells, count);
      done += count;
    }
  }

  DeviceSettings m_settings;
  Bytes m_config;
  Bytes m_program;
  Bytes m_checksum;
  std::map<std::uint32_t, ReceivedPart> m_parts;
  std::optional<std::uint32_t> m_currentPart;
  std::optional<std::uint8_t> m_programStart;
  std::optional<std::uint32_t> m_corruptAddress;
  std::size_t m_strayBytes = 0;
  bool m_programWritten = false;  // since the last restart
  std::optional<std::uint8_t> m_versionAfterUpdate;
};

}  // namespace orvel::sim
