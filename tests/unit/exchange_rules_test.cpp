// What a datagram from the device is to the request waiting for it, and the progress arithmetic of
// the transfers.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/exchange_rules.h"

namespace {

using orvel::DatagramFate;
using orvel::exchange::JudgeAnswer;
using Bytes = std::vector<std::uint8_t>;

Bytes WithEcho(Bytes data, std::uint32_t address) {
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  return data;
}

struct Case {
  const char* name;
  ServiceCommand command;
  std::uint32_t address;
  std::uint16_t length;
  Bytes answer;
  DatagramFate fate;
};

TEST(AnswerAcceptance, EachCommandTakesOnlyItsOwnAnswer) {
  const std::uint32_t a = 0x1F5A0;
  const Case cases[] = {
      {"read: block and echo", ServiceCommand::Read, a, 4, WithEcho({1, 2, 3, 4}, a),
       DatagramFate::Taken},
      {"read: longer block, echo last", ServiceCommand::Read, a, 4, WithEcho(Bytes(10, 7), a),
       DatagramFate::Taken},
      {"read: echo of another block", ServiceCommand::Read, a, 4, WithEcho({1, 2, 3, 4}, a + 256),
       DatagramFate::WrongEcho},
      {"read: half a block", ServiceCommand::Read, a, 6, WithEcho({1, 2}, a), DatagramFate::Short},
      // Address 0: a short answer must not be matched against bytes it does not have.
      {"read: shorter than the echo", ServiceCommand::Read, 0, 4, {0, 0, 0}, DatagramFate::Short},
      {"read: longer than the answer", ServiceCommand::Read, a, 4, WithEcho(Bytes(40, 7), a),
       DatagramFate::TooLong},
      {"write: OK and address", ServiceCommand::Write, a, 8, WithEcho({'O', 'K'}, a),
       DatagramFate::Taken},
      {"write: wrong address", ServiceCommand::Write, a, 8, WithEcho({'O', 'K'}, a + 1),
       DatagramFate::WrongEcho},
      {"write: wrong word", ServiceCommand::Write, a, 8, WithEcho({'N', 'O'}, a),
       DatagramFate::Ignored},
      {"write: bare OK", ServiceCommand::Write, a, 8, {'O', 'K'}, DatagramFate::Short},
      {"write: one byte", ServiceCommand::Write, a, 8, {'O'}, DatagramFate::Ignored},
      {"part block: bare OK", ServiceCommand::PartBlock, 2, 3, {'O', 'K'}, DatagramFate::Taken},
      {"part block: OK and more",
       ServiceCommand::PartBlock,
       2,
       3,
       {'O', 'K', 9, 9, 9},
       DatagramFate::Taken},
      {"program start: no OK",
       ServiceCommand::ProgramStart,
       0,
       1,
       {'K', 'O'},
       DatagramFate::Ignored},
  };
  for (const Case& c : cases) {
    const auto answerLength = static_cast<std::uint16_t>(c.length + 32);
    EXPECT_EQ(JudgeAnswer(c.command, c.address, c.length, c.answer.data(),
                          static_cast<unsigned>(c.answer.size()), answerLength),
              c.fate)
        << c.name;
  }
}

TEST(TransferProgress, RegionsProgramAndReadBackShares) {
  using namespace orvel::exchange;
  // 44,916 bytes in blocks of 256: the step is 449 bytes.
  EXPECT_EQ(RegionProgress(256, 44916), 0);
  EXPECT_EQ(RegionProgress(449 * 57, 44916), 57);
  EXPECT_EQ(RegionProgress(44916, 44916), 100);
  // Below 100 bytes the step would be 0: a plain percentage instead.
  EXPECT_EQ(RegionProgress(40, 40), 100);
  EXPECT_EQ(RegionProgress(20, 40), 50);
  // 960 blocks of a full program image.
  EXPECT_EQ(ProgramProgress(0), 0);
  EXPECT_EQ(ProgramProgress(9), 0);
  EXPECT_EQ(ProgramProgress(10), 1);
  EXPECT_EQ(ProgramProgress(959), 99);
  EXPECT_EQ(ShareOf(0, 0), 100u);
  EXPECT_EQ(ShareOf(1, 4), 25u);
  EXPECT_EQ(ShareOf(245764, 245764 + 44916), 84u);
}

}  // namespace
