#include "support/package_builder.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace orvel::test {

using protocol::PutU32;

Bytes PlainPayload(const PackageSpec& spec) {
  Bytes payload = spec.program;
  for (const Bytes& part : spec.parts) {
    std::uint8_t length[4];
    PutU32(length, static_cast<std::uint32_t>(part.size()));
    payload.insert(payload.end(), length, length + 4);
    payload.insert(payload.end(), part.begin(), part.end());
  }
  payload.insert(payload.end(), spec.tail.begin(), spec.tail.end());
  return payload;
}

Bytes BuildPackage(const PackageSpec& spec) {
  const Bytes payload = PlainPayload(spec);
  Bytes file(20 + payload.size(), 0);
  PutU32(&file[0], spec.payloadLength.value_or(static_cast<std::uint32_t>(payload.size())));
  PutU32(&file[4], spec.checksum.value_or(ByteSum(payload)));
  file[8] = spec.reserved[0];
  file[9] = spec.version.kind;
  file[10] = spec.version.number;
  file[11] = spec.reserved[1];
  PutU32(&file[12], spec.programLength.value_or(static_cast<std::uint32_t>(spec.program.size())));
  file[16] = spec.scrambled ? 1 : 0;
  file[17] = spec.reserved[2];
  file[18] = spec.reserved[3];
  file[19] = spec.reserved[4];
  // Stored byte = plain byte XOR the stored byte 20 positions before it, built front to back.
  for (std::size_t i = 0; i < payload.size(); ++i) {
    file[20 + i] = spec.scrambled ? static_cast<std::uint8_t>(payload[i] ^ file[i]) : payload[i];
  }
  return file;
}

Bytes PatternBytes(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

std::uint32_t ByteSum(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        base / ("orvel-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

CurrentDirectory::CurrentDirectory(const std::filesystem::path& folder)
    : m_previous(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentDirectory::~CurrentDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(m_previous, ignored);
}

}  // namespace orvel::test
