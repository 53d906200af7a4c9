// SHA-256 against the standard test vectors, whole and fed in pieces across block edges.

#include <gtest/gtest.h>

#include <string>

#include "common/sha256.h"

namespace {

std::string HexOf(const std::string& text) {
  return orvel::Sha256::Hex(
      orvel::Sha256::Of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST(Sha256, StandardVectors) {
  EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(
      HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqkl"
            "mnopqrlmnopqrsmnopqrstnopqrstu"),
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(HexOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesGiveTheSameDigestAsTheWhole) {
  std::string text(1000, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 31 + 7);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto whole = orvel::Sha256::Of(bytes, text.size());
  for (std::size_t piece : {1u, 55u, 63u, 64u, 65u, 999u}) {
    orvel::Sha256 hash;
    for (std::size_t at = 0; at < text.size(); at += piece) {
      hash.Update(bytes + at, std::min(piece, text.size() - at));
    }
    EXPECT_EQ(hash.Final(), whole) << piece;
  }
}

}  // namespace
