// The write-program task and the program transfer against a scripted device on virtual time.

#include <gtest/gtest.h>

#include "support/package_builder.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::test::Bytes;
using orvel::test::ByteSum;
using orvel::test::PatternBytes;

constexpr std::uint32_t kBase = 0x180000;
constexpr std::uint32_t kChecksumAddress = 0x1BC000;
constexpr std::size_t kImageSize = 245760;

struct Sent {
  std::uint8_t command;
  std::uint32_t address;
  std::uint16_t length;
};

class WriteProgramTest : public ::testing::Test {
 protected:
  std::vector<Sent> SentRequests() const {
    std::vector<Sent> sent;
    for (const auto& request : rig.link->Requests()) {
      sent.push_back({request.Command(), request.Address(), request.Length()});
    }
    return sent;
  }
  // Runs the task on a file of the given bytes.
  bool RunOn(const Bytes& content) {
    const auto path = folder.path() / "program.hex";
    orvel::test::WriteBytes(path, content);
    rig.desktop.QueueFile(path.wstring());
    return rig.session.WriteProgram();
  }
  void ExpectOneBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
    ASSERT_EQ(rig.desktop.Boxes().size(), 1u);
    EXPECT_EQ(rig.desktop.Boxes()[0].text, text);
    EXPECT_EQ(rig.desktop.Boxes()[0].caption, caption);
    EXPECT_EQ(rig.desktop.Boxes()[0].style, style);
    EXPECT_EQ(rig.desktop.Boxes()[0].owner, rig.session.m_hOwner);
  }

  orvel::test::TempFolder folder;
  orvel::test::ScriptedSession rig;
  orvel::test::ScriptedDevice device{*rig.link};
  int owner = 0;
  void SetUp() override { rig.session.m_hOwner = &owner; }
};

TEST_F(WriteProgramTest, FullImageGoesIn960BlocksThenTheChecksumWord) {
  const Bytes image = PatternBytes(kImageSize, 0x3D);
  ASSERT_TRUE(RunOn(image));
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  EXPECT_EQ(rig.link->InitCalls(), 1);  // one socket for the whole transfer

  const auto sent = SentRequests();
  ASSERT_EQ(sent.size(), 1u + 960u + 1u);
  EXPECT_EQ(sent[0].command, 0x0B);
  EXPECT_EQ(sent[0].length, 1);
  ASSERT_EQ(device.programStarts.size(), 1u);
  EXPECT_EQ(device.programStarts[0], Bytes{0x01});
  for (std::size_t block = 0; block < 960; ++block) {
    EXPECT_EQ(sent[1 + block].command, 0x01);
    EXPECT_EQ(sent[1 + block].address, kBase + 256 * block);
    EXPECT_EQ(sent[1 + block].length, 256);
  }
  EXPECT_EQ(sent.back().address, kChecksumAddress);
  EXPECT_EQ(sent.back().length, 4);
  EXPECT_EQ(device.Bytes(kBase, kImageSize), image);
  Bytes word(4);
  orvel::protocol::PutU32(word.data(), ByteSum(image));
  EXPECT_EQ(device.Bytes(kChecksumAddress, 4), word);

  // ResetPercent's 0, one position per block, then 100 for the checksum word.
  const auto positions = rig.desktop.ProgressPositions();
  ASSERT_EQ(positions.size(), 1u + 960u + 1u);
  for (std::size_t block = 1; block <= 10; ++block) EXPECT_EQ(positions[block], 0) << block;
  EXPECT_EQ(positions[11], 1);
  EXPECT_EQ(positions[480], 49);
  EXPECT_EQ(positions[960], 99);
  EXPECT_EQ(positions.back(), 100);
}

TEST_F(WriteProgramTest, WrongSizesAreRefusedWithNothingSent) {
  struct Case {
    std::size_t size;
    const wchar_t* text;
  };
  for (const Case& c : {Case{kImageSize - 1, L"Размер файла программы прочитан не полностью."},
                        Case{0, L"Размер файла программы прочитан не полностью."},
                        Case{kImageSize + 1, L"Размер файла программы не верен."}}) {
    SCOPED_TRACE(c.size);
    rig.desktop.ClearRecords();
    EXPECT_FALSE(RunOn(PatternBytes(c.size, 1)));
    ExpectOneBox(c.text, L"Внимание!", 0x10);
    EXPECT_EQ(rig.desktop.LastProgressPos(), 0);
  }
  EXPECT_TRUE(rig.link->Requests().empty());
}

TEST_F(WriteProgramTest, CancelledOrMissingFileSendsNothing) {
  rig.desktop.QueueFile(std::nullopt);
  EXPECT_FALSE(rig.session.WriteProgram());
  ExpectOneBox(
      L"Не указано название и место расположения файла! Запись программы в прибор отменена.",
      L"Внимание!", 0x30);
  ASSERT_EQ(rig.desktop.FileChoices().size(), 1u);
  EXPECT_EQ(rig.desktop.FileChoices()[0].defaultExtension, L"hex");
  EXPECT_EQ(rig.desktop.FileChoices()[0].filterPattern, L"*.hex");
  EXPECT_FALSE(rig.desktop.FileChoices()[0].save);

  rig.desktop.ClearRecords();
  rig.desktop.QueueFile((folder.path() / "missing.hex").wstring());
  EXPECT_FALSE(rig.session.WriteProgram());
  ExpectOneBox(L"Не удается открыть файл(ы):\n", L"Внимание!", 0x30);
  EXPECT_EQ(rig.desktop.LastProgressPos(), 0);
  EXPECT_TRUE(rig.link->Requests().empty());
}

TEST_F(WriteProgramTest, LinkThatCannotOpenEndsTheTaskBeforeTheDialog) {
  rig.link->FailInit(true);
  EXPECT_FALSE(rig.session.WriteProgram());
  ExpectOneBox(L"Ошибка инициализации подключения.", L"Ошибка.", 0x30);
  EXPECT_TRUE(rig.desktop.FileChoices().empty());
}

TEST_F(WriteProgramTest, DeviceFallingSilentEndsWithTheNoAnswerBox) {
  device.silent = [](const orvel::test::ScriptedLink::Request& request) {
    return request.Command() == 0x01 && request.Address() >= kBase + 256 * 100;
  };
  EXPECT_FALSE(RunOn(PatternBytes(kImageSize, 2)));
  ExpectOneBox(
      L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.",
      L"Ошибка обмена данными.", 0x30);
  EXPECT_EQ(rig.desktop.LastProgressPos(), 0);
  // Nothing after the silent block: it is resent, never skipped.
  for (const auto& sent : SentRequests()) EXPECT_LE(sent.address, kBase + 256 * 100);
  EXPECT_GT(rig.clock.ElapsedMs(), 40000);
}

TEST_F(WriteProgramTest, TransferOfShortAndEmptyImagesFromTheUpdate) {
  const auto lease = rig.session.GetLink();
  const Bytes image = PatternBytes(300, 9);
  rig.session.TransferProgram(image, true);
  auto sent = SentRequests();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[1].length, 256);
  EXPECT_EQ(sent[2].address, kBase + 256);
  EXPECT_EQ(sent[2].length, 44);
  EXPECT_EQ(sent[3].address, kChecksumAddress);
  Bytes word(4);
  orvel::protocol::PutU32(word.data(), ByteSum(image));
  EXPECT_EQ(device.Bytes(kChecksumAddress, 4), word);
  EXPECT_EQ(device.Bytes(kBase, 300), image);
  EXPECT_TRUE(rig.desktop.ProgressCalls().empty());  // suppressed

  device.Store(kChecksumAddress, {0xAA, 0xBB, 0xCC, 0xDD});
  rig.session.TransferProgram({}, true);
  sent = SentRequests();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[4].command, 0x0B);
  EXPECT_EQ(sent[5].address, kChecksumAddress);
  EXPECT_EQ(device.Bytes(kChecksumAddress, 4), Bytes(4, 0));
  EXPECT_EQ(rig.link->InitCalls(), 1);
}

}  // namespace
