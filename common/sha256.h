#pragma once
// SHA-256, for the digests of the files that orvelctl's task log names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(const std::uint8_t* data, std::size_t size);
  // The digest of everything given; the object is spent afterwards.
  Digest Final();

  // Lower-case hexadecimal, 64 characters.
  static std::string Hex(const Digest& digest);
  static Digest Of(const std::uint8_t* data, std::size_t size);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> m_state;
  std::array<std::uint8_t, 64> m_buffer{};
  std::size_t m_buffered = 0;
  std::uint64_t m_length = 0;  // bytes given so far
};

}  // namespace orvel
