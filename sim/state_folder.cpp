#include "sim/state_folder.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace orvel::sim {
namespace {

void WriteAtomically(const std::filesystem::path& path, const std::uint8_t* data,
                     std::size_t size) {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  // A save that fails (a full disk, a folder in the file's place) leaves no temporary behind.
  struct Pending {
    const std::filesystem::path& path;
    bool done = false;
    ~Pending() {
      std::error_code ignored;
      if (!done) std::filesystem::remove(path, ignored);
    }
  } pending{temporary};
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    // Some file systems refuse to rename over an existing file.
    std::filesystem::remove(path, error);
    std::filesystem::rename(temporary, path, error);
  }
  if (error) throw std::runtime_error("cannot replace " + path.string());
  pending.done = true;
}

void WriteAtomically(const std::filesystem::path& path, const std::string& text) {
  WriteAtomically(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

void RequestLog::Add(std::uint64_t sequence, const Reply& reply, bool answered,
                     const std::string& notes) {
  char head[80];
  std::snprintf(head, sizeof head, "%llu %02X %08lX %u %s",
                static_cast<unsigned long long>(sequence), reply.command,
                static_cast<unsigned long>(reply.address), unsigned{reply.length},
                answered ? "yes" : "no");
  m_lines.push_back(notes.empty() ? std::string(head) : std::string(head) + " " + notes);
}

std::string RequestLog::Text() const {
  std::string text;
  for (const auto& line : m_lines) text += line + "\n";
  return text;
}

StateFolder::StateFolder(std::filesystem::path dir) : m_dir(std::move(dir)) {
  std::filesystem::create_directories(m_dir / "parts");
}

void StateFolder::Save(const DeviceModel& device, const RequestLog& log) const {
  const auto put = [](const std::filesystem::path& path, const Bytes& bytes) {
    WriteAtomically(path, bytes.data(), bytes.size());
  };
  put(m_dir / "config.bin", device.Config());
  put(m_dir / "program.bin", device.Program());
  put(m_dir / "checksum.bin", device.Checksum());
  for (const auto& [number, part] : device.Parts()) {
    const std::string stem = "part-" + std::to_string(number);
    put(m_dir / "parts" / (stem + ".bin"), part.Joined());
    WriteAtomically(m_dir / "parts" / (stem + ".desc"), part.descriptor.data(),
                    part.descriptor.size());
  }
  WriteAtomically(m_dir / "requests.log", log.Text());
}

void MarkReady(const std::filesystem::path& dir, std::uint16_t port) {
  WriteAtomically(dir / "ready", std::to_string(port));
}

}  // namespace orvel::sim
