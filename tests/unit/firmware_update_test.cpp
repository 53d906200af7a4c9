// The device update against a scripted device on virtual time: phases, status texts and progress
// positions, the configuration backup and its write-back, the restart and the parts.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "session/device_session.h"
#include "support/package_builder.h"
#include "support/scripted_clock.h"
#include "support/scripted_desktop.h"
#include "support/scripted_device.h"
#include "support/scripted_link.h"

namespace {

using orvel::test::Bytes;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;
using Request = orvel::test::ScriptedLink::Request;

constexpr std::uint32_t kConfigAddress = 0x147A0;
constexpr std::size_t kOldConfig = 44660;
constexpr std::size_t kNewConfig = 44916;
const std::wstring kNoAnswer =
    L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.";
const std::wstring kRetryQuestion =
    L"Попытаться выйти на связь с прибором?\n\n(P.S. Вы можете продолжить операцию после "
    L"перезагрузки прибора.)";

// Passes everything on to a scripted desktop and keeps progress and status calls in one list, in
// the order they came, so that each phase text can be matched with the bar's position.
class PhaseLog final : public orvel::IDesktop {
 public:
  explicit PhaseLog(orvel::test::ScriptedDesktop& inner) : m_inner(inner) {}
  std::vector<std::wstring> entries;

  int ShowMessage(orvel::WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                  unsigned style) override {
    entries.push_back(L"box " + caption);
    return m_inner.ShowMessage(owner, text, caption, style);
  }
  std::optional<std::wstring> ChooseFile(const orvel::FileChoice& choice) override {
    return m_inner.ChooseFile(choice);
  }
  void SetProgressRange(orvel::WindowHandle bar, std::uint16_t max) override {
    entries.push_back(L"range " + std::to_wstring(max));
    m_inner.SetProgressRange(bar, max);
  }
  void SetProgressPos(orvel::WindowHandle bar, std::uint16_t pos) override {
    entries.push_back(L"pos " + std::to_wstring(pos));
    m_inner.SetProgressPos(bar, pos);
  }
  void SetStatusText(orvel::WindowHandle status, const std::wstring& text) override {
    entries.push_back(L"status " + text);
    m_inner.SetStatusText(status, text);
  }

 private:
  orvel::test::ScriptedDesktop& m_inner;
};

// What the log should read for a run that ends normally.
std::vector<std::wstring> ExpectedLog(std::size_t parts, unsigned wait, bool configuration) {
  std::vector<std::wstring> log{L"range 100", L"pos 0"};
  const std::size_t range = parts + 7 + wait;
  log.push_back(L"range " + std::to_wstring(range));
  unsigned pos = 0;
  auto step = [&] { log.push_back(L"pos " + std::to_wstring(++pos)); };
  log.push_back(L"pos 0");
  step();
  log.push_back(L"status Считывание конфигурации ...");
  step();
  log.push_back(L"status Запись программы ...");
  step();
  if (configuration) log.push_back(L"status Запись конфигурации ...");
  step();
  log.push_back(L"status Перезагрузка прибора...");
  step();
  for (unsigned second = 0; second < wait; ++second) step();
  step();
  log.push_back(L"status Обновление прибора...");
  for (std::size_t part = 0; part < parts; ++part) step();
  log.push_back(L"status Обновление прибора...");
  step();
  EXPECT_EQ(pos, range);
  return log;
}

class UpdateDeviceTest : public ::testing::Test {
 protected:
  UpdateDeviceTest() {
    session.m_deviceAddress = 0x7F000002;
    session.m_port = 5000;
    session.m_timeLimit = 40;
    session.m_hOwner = &owner;
    session.m_hStatus = &status;
    device.version = {1, 111};
    device.Store(kConfigAddress, configuration);
  }

  bool Run(const PackageContents& contents) {
    const auto path = folder.path() / "device.update";
    orvel::test::WriteBytes(path, orvel::test::BuildPackage(contents));
    desktop.QueueFile(path.wstring());
    return session.UpdateDevice();
  }
  std::size_t Count(std::uint8_t command, std::uint32_t address = 0xFFFFFFFF) const {
    std::size_t count = 0;
    for (const Request& request : link->Requests()) {
      if (request.Command() == command && (address == 0xFFFFFFFF || request.Address() == address)) {
        ++count;
      }
    }
    return count;
  }
  const Request* First(std::uint8_t command) const {
    for (const Request& request : link->Requests()) {
      if (request.Command() == command) return &request;
    }
    return nullptr;
  }
  std::filesystem::path BackupPath() const { return folder.path() / "Temp" / "ConfBackup.bin"; }

  orvel::test::TempFolder folder;
  orvel::test::CurrentDirectory cwd{folder.path()};
  orvel::test::ScriptedDesktop desktop;
  PhaseLog log{desktop};
  orvel::test::ScriptedClock clock;
  orvel::test::ScriptedLink* link = new orvel::test::ScriptedLink(clock);
  CDeviceSession session{log, clock, std::unique_ptr<orvel::ILink>(link)};
  orvel::test::ScriptedDevice device{*link};
  Bytes configuration = PatternBytes(kNewConfig, 0x21);
  int owner = 0;
  int status = 0;
};

Bytes Ok(std::uint32_t address) {
  Bytes answer{'O', 'K', 0, 0, 0, 0};
  orvel::protocol::PutU32(&answer[2], address);
  return answer;
}

PackageContents ThreeParts(std::uint8_t version) {
  PackageContents contents;
  contents.version = {2, version};
  contents.program = PatternBytes(5000, 0x77);
  contents.parts = {PatternBytes(1000, 1), PatternBytes(10, 2), PatternBytes(300, 3)};
  return contents;
}

TEST_F(UpdateDeviceTest, RunsEveryPhaseInOrder) {
  const PackageContents contents = ThreeParts(111);
  ASSERT_TRUE(Run(contents));
  EXPECT_TRUE(desktop.Boxes().empty());
  EXPECT_EQ(log.entries, ExpectedLog(3, 29, true));

  // Backup: the device's configuration as read, in Temp under the current directory.
  EXPECT_EQ(orvel::test::ReadBytes(BackupPath()), configuration);
  EXPECT_EQ(Count(0x00), 176u);
  // Program, then the configuration written back unchanged, then the restart.
  ASSERT_EQ(device.programStarts.size(), 1u);
  EXPECT_EQ(device.Bytes(0x180000, contents.program.size()), contents.program);
  Bytes word(4);
  orvel::protocol::PutU32(word.data(), orvel::test::ByteSum(contents.program));
  EXPECT_EQ(device.Bytes(0x1BC000, 4), word);
  EXPECT_EQ(Count(0x01, kConfigAddress), 1u);
  EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), configuration);
  EXPECT_EQ(device.restarts, 1);

  // Parts: descriptors with number, size and running offset; blocks of 254 indexed from 0.
  ASSERT_EQ(device.descriptors.size(), 3u);
  const std::uint32_t expected[3][3] = {{1, 1000, 0}, {2, 10, 1000}, {3, 300, 1010}};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(device.descriptors[k].partNumber, expected[k][0]);
    EXPECT_EQ(device.descriptors[k].partSize, expected[k][1]);
    EXPECT_EQ(device.descriptors[k].partOffset, expected[k][2]);
    EXPECT_EQ(device.descriptors[k].reserved1 | device.descriptors[k].reserved2, 0u);
  }
  const std::vector<std::pair<std::uint32_t, std::size_t>> blocks = {
      {0, 254}, {1, 254}, {2, 254}, {3, 238}, {0, 10}, {0, 254}, {1, 46}};
  ASSERT_EQ(device.blocks.size(), blocks.size());
  Bytes delivered;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(device.blocks[i].index, blocks[i].first) << i;
    EXPECT_EQ(device.blocks[i].data.size(), blocks[i].second) << i;
    EXPECT_TRUE(device.blocks[i].sumMatches) << i;
    delivered.insert(delivered.end(), device.blocks[i].data.begin(), device.blocks[i].data.end());
  }
  Bytes parts;
  for (const Bytes& part : contents.parts) parts.insert(parts.end(), part.begin(), part.end());
  EXPECT_EQ(delivered, parts);

  // Nothing is asked of the device during the 29-s wait after the restart request.
  const Request* restart = First(0x0C);
  const Request* descriptor = First(0x05);
  ASSERT_TRUE(restart && descriptor);
  EXPECT_GE(descriptor->timeMs - restart->timeMs, 29000);
  EXPECT_EQ(descriptor->index, restart->index + 1);
  EXPECT_EQ(std::count(clock.Sleeps().begin(), clock.Sleeps().end(), 1000u), 29);
  // The version query and the backup open the link for themselves; from the program on, one
  // socket stays open across the restart.
  EXPECT_EQ(link->InitCalls(), 3);
}

TEST_F(UpdateDeviceTest, MinorNumberDecidesTheWriteBack) {
  // Minor 10: the backup is read and loaded again, but not written back.
  ASSERT_TRUE(Run(ThreeParts(110)));
  EXPECT_EQ(log.entries, ExpectedLog(3, 29, false));
  EXPECT_EQ(Count(0x01, kConfigAddress), 0u);
  EXPECT_TRUE(std::filesystem::exists(BackupPath()));
}

// Packages of major 0 keep the older layout: a backup in it goes back unchanged, one in the newer
// layout cannot go back at all and the update says so, then goes on.
struct MajorZeroCase {
  std::uint8_t deviceVersion;
  std::size_t backupSize;
  bool writtenBack;
};

void PrintTo(const MajorZeroCase& c, std::ostream* out) {
  *out << "device " << int(c.deviceVersion) << ", backup of " << c.backupSize;
}

class MajorZeroPackage : public UpdateDeviceTest,
                         public ::testing::WithParamInterface<MajorZeroCase> {};

TEST_P(MajorZeroPackage, NeverConvertsTheConfiguration) {
  const MajorZeroCase c = GetParam();
  device.version = {0, c.deviceVersion};
  device.Store(kConfigAddress, PatternBytes(c.backupSize, c.deviceVersion));
  // Nothing changes in the area, nor in the 256 bytes a conversion would add behind it.
  const Bytes before = device.Bytes(kConfigAddress, kOldConfig + 512);
  ASSERT_TRUE(Run(ThreeParts(12)));  // version 0.12

  EXPECT_EQ(device.Bytes(kConfigAddress, before.size()), before);
  EXPECT_EQ(Count(0x01) - 21, c.writtenBack ? 175u : 0u);  // the program: 20 blocks and the word
  auto expected = ExpectedLog(3, 29, c.writtenBack);
  if (!c.writtenBack) {
    expected.insert(std::find(expected.begin(), expected.end(), L"pos 3") + 1, L"box Внимание!");
    ASSERT_EQ(desktop.Boxes().size(), 1u);
    EXPECT_EQ(desktop.Boxes()[0].style, 0x30u);
    EXPECT_EQ(desktop.Boxes()[0].owner, &owner);
  }
  EXPECT_EQ(log.entries, expected);
  EXPECT_EQ(device.descriptors.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(OlderAndNewerBackup, MajorZeroPackage,
                         ::testing::Values(MajorZeroCase{5, kOldConfig, true},
                                           MajorZeroCase{111, kNewConfig, false}),
                         [](const auto& info) {
                           return "Device" + std::to_string(info.param.deviceVersion);
                         });

TEST_F(UpdateDeviceTest, OlderBackupIsConvertedBeforeItIsWrittenBack) {
  device.version = {0, 5};
  const Bytes older = PatternBytes(kOldConfig, 0x42);
  device.Store(kConfigAddress, older);
  PackageContents contents;
  contents.version = {0, 111};
  contents.program = PatternBytes(100, 1);
  ASSERT_TRUE(Run(contents));
  EXPECT_EQ(orvel::test::ReadBytes(BackupPath()), older);  // the backup stays as read
  EXPECT_EQ(Count(0x00), 175u);
  EXPECT_EQ(Count(0x01, kConfigAddress + 256 * 175), 1u);  // 176 blocks: the newer size
  Bytes source = older;
  Bytes converted;
  ASSERT_TRUE(session.ConvertConfiguration(source, converted));
  ASSERT_EQ(converted.size(), kNewConfig);
  // What the tool wrote: the device, still of the older firmware here, keeps only its older area.
  EXPECT_EQ(orvel::test::WrittenBytes(*link, kConfigAddress, kNewConfig).bytes, converted);
  EXPECT_EQ(log.entries, ExpectedLog(0, 29, true));  // no parts: the range is 0..36
}

TEST_F(UpdateDeviceTest, UnacknowledgedRestartIsAskedForAndTheUpdateGoesOn) {
  device.silent = [](const Request& request) { return request.Command() == 0x0C; };
  ASSERT_TRUE(Run(ThreeParts(111)));
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].owner, nullptr);
  EXPECT_EQ(desktop.Boxes()[0].text, L"Необходимо перезагрузить прибор");
  EXPECT_EQ(desktop.Boxes()[0].caption, L"Внимание!");
  EXPECT_EQ(desktop.Boxes()[0].style, 0x30u);
  EXPECT_EQ(Count(0x0C), 1u);  // asked once, never repeated
  EXPECT_EQ(device.descriptors.size(), 3u);
  // The box comes between the restart status and the wait.
  auto expected = ExpectedLog(3, 29, true);
  const auto restartStatus =
      std::find(expected.begin(), expected.end(), std::wstring(L"status Перезагрузка прибора..."));
  expected.insert(restartStatus + 1, L"box Внимание!");
  EXPECT_EQ(log.entries, expected);
}

TEST_F(UpdateDeviceTest, LateWriteAcknowledgementIsNoAcknowledgedRestart) {
  // The device keeps quiet on the restart; what comes is a late answer to the last write.
  device.silent = [this](const Request& request) {
    if (request.Command() != 0x0C) return false;
    link->Answer(Ok(kConfigAddress + 175 * 256), 10);
    return true;
  };
  ASSERT_TRUE(Run(ThreeParts(111)));
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].text, L"Необходимо перезагрузить прибор");
}

TEST_F(UpdateDeviceTest, FailedPartAnsweredYesIsSentAgainWhole) {
  PackageContents contents = ThreeParts(111);
  contents.parts[1] = PatternBytes(600, 5);  // three blocks; the second one goes unanswered
  device.silent = [this](const Request& request) {
    return request.Command() == 0x06 && request.Address() == 1 && device.descriptors.size() == 2 &&
           desktop.Boxes().empty();
  };
  desktop.QueueBoxAnswer(mbox::kOk);   // the no-answer box
  desktop.QueueBoxAnswer(mbox::kYes);  // the retry question
  ASSERT_TRUE(Run(contents));

  ASSERT_EQ(desktop.Boxes().size(), 2u);
  EXPECT_EQ(desktop.Boxes()[0].text, kNoAnswer);
  EXPECT_EQ(desktop.Boxes()[1].text, kRetryQuestion);
  EXPECT_EQ(desktop.Boxes()[1].caption, L"Внимание!");
  EXPECT_EQ(desktop.Boxes()[1].style, 0x24u);
  EXPECT_EQ(desktop.Boxes()[1].owner, &owner);

  // Part 1 once; part 2 again from its descriptor and block 0; then part 3.
  ASSERT_EQ(device.descriptors.size(), 4u);
  const std::uint32_t numbers[] = {1, 2, 2, 3};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(device.descriptors[i].partNumber, numbers[i]);
  EXPECT_EQ(device.descriptors[2].partOffset, 1000u);
  EXPECT_EQ(device.descriptors[3].partOffset, 1600u);
  std::vector<std::uint32_t> indices;
  for (const auto& block : device.blocks) indices.push_back(block.index);
  EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 0, 0, 1, 2, 0, 1}));
  EXPECT_EQ(session.m_progress.Pos(), 39);
}

TEST_F(UpdateDeviceTest, FailedPartAnsweredNoEndsTheUpdateQuietly) {
  device.silent = [](const Request& request) {
    return request.Command() == 0x05 && orvel::protocol::GetU32(request.Data().data()) == 2;
  };
  EXPECT_FALSE(Run(ThreeParts(111)));  // the question is answered No by default
  ASSERT_EQ(desktop.Boxes().size(), 2u);
  EXPECT_EQ(desktop.Boxes()[0].text, kNoAnswer);
  EXPECT_EQ(desktop.Boxes()[0].owner, &owner);
  EXPECT_EQ(desktop.Boxes()[1].text, kRetryQuestion);
  EXPECT_EQ(Count(0x06), 4u);                // part 1's blocks only
  EXPECT_EQ(device.descriptors.size(), 1u);  // part 3 was never announced
  EXPECT_EQ(desktop.StatusTexts().back().text, L"Обновление прибора...");
  EXPECT_EQ(session.m_progress.Pos(), 5 + 29 + 1 + 1);  // after part 1, not reset
}

TEST_F(UpdateDeviceTest, CancelledDialogSendsNothing) {
  desktop.QueueFile(std::nullopt);
  EXPECT_FALSE(session.UpdateDevice());
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].text, L"Обновление прибора отменено.");
  EXPECT_EQ(desktop.Boxes()[0].style, 0x30u);
  EXPECT_TRUE(link->Requests().empty());
  EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "Temp"));
  ASSERT_EQ(desktop.FileChoices().size(), 1u);
  EXPECT_EQ(desktop.FileChoices()[0].filterDescription, L"File Update (*.update)");
}

TEST_F(UpdateDeviceTest, BadPackagesAreRefusedBeforeAnyTraffic) {
  PackageContents longPart;
  longPart.program = PatternBytes(10, 1);
  longPart.tail = Bytes(30, 0);
  longPart.tail[0] = 27;  // a part of 27 bytes in the 26 that follow its length
  PackageContents longProgram = ThreeParts(111);
  longProgram.programLength = 0x7FFFFFFF;
  PackageContents badSum = ThreeParts(111);
  badSum.checksum = 1;
  PackageContents pastTheArea;  // one byte longer than the program area
  pastTheArea.program = PatternBytes(0x3C000 + 1, 4);
  for (const PackageContents* contents : {&longPart, &longProgram, &badSum, &pastTheArea}) {
    desktop.ClearRecords();
    EXPECT_FALSE(Run(*contents));
    ASSERT_EQ(desktop.Boxes().size(), 1u);
    EXPECT_EQ(desktop.Boxes()[0].text, contents == &badSum
                                           ? L"Файл обновления - конорольная сумма не совапала."
                                           : L"Размер файла обновления не верен.");
  }
  EXPECT_TRUE(link->Requests().empty());
}

TEST_F(UpdateDeviceTest, ProgramFillingTheWholeAreaIsAccepted) {
  PackageContents contents;
  contents.version = {0, 110};
  contents.program = PatternBytes(0x3C000, 6);
  ASSERT_TRUE(Run(contents));
  EXPECT_EQ(device.Bytes(0x180000, 0x3C000), contents.program);
  EXPECT_EQ(Count(0x01), 961u);
}

TEST_F(UpdateDeviceTest, FailedBackupKeepsTheEarlierOne) {
  std::filesystem::create_directory(folder.path() / "Temp");
  const Bytes earlier = PatternBytes(kOldConfig, 0x99);
  orvel::test::WriteBytes(BackupPath(), earlier);
  device.silent = [](const Request& request) {
    return request.Command() == 0x00 && request.Address() >= kConfigAddress + 256 * 50;
  };
  EXPECT_FALSE(Run(ThreeParts(111)));
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].text, kNoAnswer);
  EXPECT_EQ(orvel::test::ReadBytes(BackupPath()), earlier);
  EXPECT_EQ(Count(0x0B), 0u);  // the device is left untouched
  EXPECT_EQ(Count(0x01), 0u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path() / "Temp"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(UpdateDeviceTest, PartsSplitIntoBlocksAtTheirEdges) {
  // Shorter restart wait as orvelctl --restart-wait sets it: range N + 7 + wait.
  session.m_restartWaitSteps = 3;
  PackageContents contents;
  contents.version = {0, 111};
  contents.parts = {PatternBytes(254, 1), {}, PatternBytes(508, 2), PatternBytes(255, 3)};
  ASSERT_TRUE(Run(contents));
  EXPECT_EQ(log.entries, ExpectedLog(4, 3, true));
  EXPECT_EQ(std::count(clock.Sleeps().begin(), clock.Sleeps().end(), 1000u), 3);

  std::vector<std::pair<std::uint32_t, std::size_t>> blocks;
  for (const auto& block : device.blocks) blocks.emplace_back(block.index, block.data.size());
  const std::vector<std::pair<std::uint32_t, std::size_t>> expected = {{0, 254}, {0, 0},   {0, 254},
                                                                       {1, 254}, {0, 254}, {1, 1}};
  EXPECT_EQ(blocks, expected);
  std::vector<std::uint32_t> offsets;
  for (const auto& descriptor : device.descriptors) offsets.push_back(descriptor.partOffset);
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{0, 254, 254, 762}));
}

// The backup survives a retry: the previous one is kept beside a new one, and an update that
// stopped before the configuration was back leaves a marker, so that the next run does not back up
// the half-written configuration over the only good copy.
class KeptBackups : public UpdateDeviceTest {
 protected:
  std::filesystem::path Marker() const { return folder.path() / "Temp" / "ConfBackup.pending"; }
  std::vector<std::string> TempNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "Temp")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Runs an update whose configuration write-back stops after 40 blocks, and leaves the area as a
  // new firmware may find it then: damaged. True when the update failed so.
  bool FailDuringWriteBack() {
    int writes = 0;
    device.silent = [&writes](const Request& request) {
      return request.Command() == 0x01 && request.Address() < 0x180000 && ++writes > 40;
    };
    const bool failed = !Run(ThreeParts(111));
    device.silent = nullptr;
    desktop.ClearRecords();
    device.Store(kConfigAddress, damaged);
    return failed;
  }
  const Bytes damaged = PatternBytes(kNewConfig, 0x5E);
  std::size_t Reads() const { return Count(0x00); }
};

TEST_F(KeptBackups, PreviousBackupIsKeptUnderItsOwnTime) {
  std::filesystem::create_directory(folder.path() / "Temp");
  const Bytes previous = PatternBytes(kOldConfig, 0x99);
  orvel::test::WriteBytes(BackupPath(), previous);
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_EQ(orvel::test::ReadBytes(BackupPath()), configuration);
  const auto names = TempNames();
  ASSERT_EQ(names.size(), 2u);  // the history file sorts before ConfBackup.bin
  EXPECT_EQ(names[1], "ConfBackup.bin");
  ASSERT_EQ(names[0].size(), std::string("ConfBackup-20240102-030405.bin").size()) << names[0];
  EXPECT_EQ(names[0].compare(0, 11, "ConfBackup-"), 0) << names[0];
  EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "Temp" / names[0]), previous);

  // A history file of that name is never overwritten.
  const auto stamp = std::filesystem::last_write_time(folder.path() / "Temp" / names[0]);
  std::filesystem::last_write_time(BackupPath(), stamp);
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_EQ(TempNames().size(), 3u);
  EXPECT_EQ(orvel::test::ReadBytes(folder.path() / "Temp" / names[0]), previous);
  EXPECT_FALSE(std::filesystem::exists(Marker()));
}

TEST_F(KeptBackups, RunAfterAnInterruptedWriteBackWritesTheKeptConfiguration) {
  session.m_keptBackup = KeptBackupPolicy::UseKept;
  ASSERT_TRUE(FailDuringWriteBack());
  EXPECT_EQ(orvel::test::ReadBytes(Marker()),
            (Bytes{'1', '2', '7', '.', '0', '.', '0', '.', '2', ':', '5', '0', '0', '0'}));

  const std::size_t readsBefore = Reads();
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_EQ(Reads(), readsBefore);  // the device was not read again
  EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), configuration);
  EXPECT_EQ(orvel::test::ReadBytes(BackupPath()), configuration);
  EXPECT_FALSE(std::filesystem::exists(Marker()));
  ASSERT_EQ(desktop.Boxes().size(), 1u);  // says so
  EXPECT_EQ(desktop.Boxes()[0].style, 0x40u);
}

TEST_F(KeptBackups, DamagedKeptBackupStopsTheUpdateBeforeTheDeviceIsTouched) {
  session.m_keptBackup = KeptBackupPolicy::UseKept;
  ASSERT_TRUE(FailDuringWriteBack());
  orvel::test::WriteBytes(BackupPath(), Bytes(100, 1));
  const std::size_t requestsBefore = link->Requests().size();
  EXPECT_FALSE(Run(ThreeParts(111)));
  EXPECT_EQ(desktop.Boxes().back().text, L"Размер файла конфигурации не верен.");
  ASSERT_EQ(link->Requests().size(), requestsBefore + 1);  // the version query only
  EXPECT_EQ(link->Requests().back().Command(), 0x0E);
  EXPECT_TRUE(std::filesystem::exists(Marker()));
}

TEST_F(KeptBackups, PolicyAndDeviceDecideWhetherTheKeptBackupIsUsed) {
  struct Case {
    const char* name;
    KeptBackupPolicy policy;
    int answer;          // to the question, when asked
    std::uint16_t port;  // of the second run
    bool usesKept;
    std::size_t boxes;
  };
  const Case cases[] = {
      {"asked, yes", KeptBackupPolicy::Ask, mbox::kYes, 5000, true, 1},
      {"asked, no", KeptBackupPolicy::Ask, mbox::kNo, 5000, false, 1},
      {"fresh", KeptBackupPolicy::ReadFresh, 0, 5000, false, 0},
      {"another device", KeptBackupPolicy::UseKept, 0, 5001, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(folder.path() / "Temp");
    session.m_port = 5000;
    device.Store(kConfigAddress, configuration);
    ASSERT_TRUE(FailDuringWriteBack());

    session.m_keptBackup = c.policy;
    session.m_port = c.port;
    if (c.answer != 0) desktop.QueueBoxAnswer(c.answer);
    ASSERT_TRUE(Run(ThreeParts(111)));
    EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), c.usesKept ? configuration : damaged);
    ASSERT_EQ(desktop.Boxes().size(), c.boxes);
    if (c.policy == KeptBackupPolicy::Ask) {
      EXPECT_EQ(desktop.Boxes()[0].style, 0x24u);
      EXPECT_EQ(desktop.Boxes()[0].owner, &owner);
    }
    // The good copy is never lost: kept, or beside the new backup.
    bool kept = false;
    for (const auto& name : TempNames()) {
      kept |= orvel::test::ReadBytes(folder.path() / "Temp" / name) == configuration;
    }
    EXPECT_TRUE(kept);
    EXPECT_FALSE(std::filesystem::exists(Marker()));
  }
}

// What orvelctl adds to the update: the plan from the device's version, the version after, and the
// record of an unfinished update in the user's state folder instead of the current folder.
class RolloutUpdate : public UpdateDeviceTest {
 protected:
  RolloutUpdate() {
    session.m_keptBackup = KeptBackupPolicy::UseKept;
    session.m_update.stateFolder = (state.path() / "orvelctl").wstring();
    session.m_update.askVersionAfter = true;
    session.m_restartWaitSteps = 2;
  }
  std::filesystem::path Record() const {
    return state.path() / "orvelctl" / "127.0.0.2-5000.pending";
  }
  std::string RecordText() const {
    const Bytes bytes = orvel::test::ReadBytes(Record());
    return std::string(bytes.begin(), bytes.end());
  }
  // Runs an update whose configuration write-back stops after 40 blocks and leaves the area
  // damaged, as a new firmware may find it.
  void FailDuringWriteBack() {
    int writes = 0;
    device.silent = [&writes](const Request& request) {
      return request.Command() == 0x01 && request.Address() < 0x180000 && ++writes > 40;
    };
    ASSERT_FALSE(Run(ThreeParts(111)));
    device.silent = nullptr;
    desktop.ClearRecords();
    device.Store(kConfigAddress, damaged);
  }

  orvel::test::TempFolder state;
  const Bytes damaged = PatternBytes(kNewConfig, 0x5E);
};

TEST_F(RolloutUpdate, PlanDecidesBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::uint8_t device, package;
    bool skipCurrent, noDowngrade;
    bool ok, current;
    const wchar_t* box;
  };
  const Case cases[] = {
      {"current skipped", 111, 111, true, true, true, true, nullptr},
      {"current updated by default", 111, 111, false, false, true, false, nullptr},
      {"downgrade refused", 111, 5, false, true, false, false,
       L"Версия обновления 0.05 старше версии прибора 1.11: обновление не выполнено."},
      {"downgrade by default", 111, 5, false, false, true, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link->DiscardQueued();
    const std::size_t before = link->Requests().size();
    const int restartsBefore = device.restarts;
    desktop.ClearRecords();
    session.BeginTask();
    device.version = {1, c.device};
    session.m_update.skipCurrent = c.skipCurrent;
    session.m_update.noDowngrade = c.noDowngrade;
    EXPECT_EQ(Run(ThreeParts(c.package)), c.ok);
    EXPECT_EQ(session.m_stats.current, c.current);
    const bool updated = c.ok && !c.current;
    EXPECT_EQ(device.restarts - restartsBefore, updated ? 1 : 0);
    if (!updated) {
      // Nothing but the version request.
      ASSERT_EQ(link->Requests().size(), before + 1);
      EXPECT_EQ(link->Requests().back().Command(), 0x0E);
    }
    if (c.box) {
      ASSERT_EQ(desktop.Boxes().size(), 1u);
      EXPECT_EQ(desktop.Boxes()[0].text, c.box);
      EXPECT_EQ(desktop.Boxes()[0].style, 0x10u);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Record()));
}

TEST_F(RolloutUpdate, VersionAfterThePartsIsAskedAndChecked) {
  struct Case {
    const char* name;
    std::optional<std::uint8_t> versionAfterUpdate;  // nothing: the device keeps 1.11
    bool silentAfter;                                // no answer to the version afterwards
    bool check, ok;
    std::optional<std::uint8_t> after;
    const wchar_t* box;
  };
  const Case cases[] = {
      {"took the package", 112, false, true, true, 112, nullptr},
      {"kept its version, unchecked", std::nullopt, false, false, true, 111, nullptr},
      {"kept its version, checked", std::nullopt, false, true, false, 111,
       L"Прибор сообщает версию 1.11 после обновления до 1.12."},
      {"older firmware", 112, true, true, true, std::nullopt,
       L"Прибор не ответил на запрос версии после обновления (старая прошивка): версия не "
       L"проверена."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop.ClearRecords();
    session.BeginTask();
    device.version = {1, 111};
    device.versionAfterUpdate = c.versionAfterUpdate;
    const int restarts = device.restarts;
    device.silent = [&](const Request& request) {
      return c.silentAfter && request.Command() == 0x0E && device.restarts > restarts;
    };
    session.m_update.checkVersion = c.check;
    EXPECT_EQ(Run(ThreeParts(112)), c.ok);
    EXPECT_TRUE(session.m_stats.versionAfterAsked);
    EXPECT_EQ(session.m_stats.versionAfter.has_value(), c.after.has_value());
    if (c.after && session.m_stats.versionAfter) {
      EXPECT_EQ(session.m_stats.versionAfter->number, *c.after);
    }
    ASSERT_TRUE(session.m_stats.deviceVersion.has_value());
    EXPECT_EQ(session.m_stats.deviceVersion->number, 111);  // as the update found it
    EXPECT_EQ(desktop.Boxes().size(), c.box ? 1u : 0u);
    if (c.box && !desktop.Boxes().empty()) {
      EXPECT_EQ(desktop.Boxes()[0].text, c.box);
    }
    // A version that is not the package's is no update that ended well.
    EXPECT_EQ(std::filesystem::exists(Record()), !c.ok);
    std::filesystem::remove(Record());
  }
}

// The reproduction: an update stops during the write-back; run from another folder, the next one
// writes the configuration saved by the first and clears the record; back in the first folder, a
// later update reads the device afresh instead of writing that old configuration again.
TEST_F(RolloutUpdate, UnfinishedUpdateIsFoundFromAnyFolderAndClearedOnceItEndsWell) {
  FailDuringWriteBack();
  const std::string record = RecordText();
  EXPECT_NE(record.find("step program\n"), std::string::npos) << record;
  EXPECT_NE(record.find("backup " + BackupPath().string() + "\n"), std::string::npos) << record;
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "Temp" / "ConfBackup.pending"));

  orvel::test::TempFolder other;
  {
    const orvel::test::CurrentDirectory elsewhere(other.path());
    const std::size_t reads = Count(0x00);
    ASSERT_TRUE(Run(ThreeParts(111)));
    EXPECT_EQ(Count(0x00), reads);  // the device was not read again
    EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), configuration);
    ASSERT_EQ(desktop.Boxes().size(), 1u);
    EXPECT_EQ(desktop.Boxes()[0].text,
              L"Предыдущее обновление прибора не завершено. Будет записана конфигурация, "
              L"сохранённая перед ним: " +
                  BackupPath().wstring());
    EXPECT_FALSE(std::filesystem::exists(Record()));
    EXPECT_FALSE(std::filesystem::exists(other.path() / "Temp" / "ConfBackup.bin"));
  }

  const Bytes changed = PatternBytes(kNewConfig, 0x77);
  device.Store(kConfigAddress, changed);
  desktop.ClearRecords();
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), changed);
  EXPECT_TRUE(desktop.Boxes().empty());
}

TEST_F(RolloutUpdate, UnusableRecordOrBackupStopsBeforeTheDeviceIsTouched) {
  struct Case {
    const char* name;
    bool garbleRecord;
    const wchar_t* says;
  };
  const Case cases[] = {
      {"backup gone", false, L"(файла нет)."},
      {"record garbled", true, L"запись о нём не читается: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session.m_keptBackup = KeptBackupPolicy::UseKept;
    FailDuringWriteBack();
    if (c.garbleRecord) {
      orvel::test::WriteBytes(Record(), Bytes{'?'});
    } else {
      std::filesystem::remove(BackupPath());
    }
    const std::size_t before = link->Requests().size();
    EXPECT_FALSE(Run(ThreeParts(111)));
    ASSERT_EQ(desktop.Boxes().size(), 1u);
    EXPECT_NE(desktop.Boxes()[0].text.find(c.says), std::wstring::npos);
    EXPECT_NE(desktop.Boxes()[0].text.find(L"--fresh-backup"), std::wstring::npos);
    ASSERT_EQ(link->Requests().size(), before + 1);  // the version request only

    // --fresh-backup: the device is read again and the update ends well.
    desktop.ClearRecords();
    session.m_keptBackup = KeptBackupPolicy::ReadFresh;
    ASSERT_TRUE(Run(ThreeParts(111)));
    EXPECT_EQ(device.Bytes(kConfigAddress, kNewConfig), damaged);
    EXPECT_FALSE(std::filesystem::exists(Record()));
  }
}

// An update that got past the write-back and failed in its parts leaves its record: the device is
// not taken for current, though its version is the package's, and its configuration is read again.
TEST_F(RolloutUpdate, DeviceWhoseLastUpdateFailedIsNeverSkipped) {
  device.silent = [](const Request& request) { return request.Command() == 0x05; };
  ASSERT_FALSE(Run(ThreeParts(111)));
  EXPECT_NE(RecordText().find("step restart\n"), std::string::npos);
  device.silent = nullptr;
  desktop.ClearRecords();
  session.m_update.skipCurrent = true;
  const std::size_t reads = Count(0x00);
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_FALSE(session.m_stats.current);
  EXPECT_EQ(Count(0x00), reads + 176);  // read afresh: the configuration was back already
  EXPECT_FALSE(std::filesystem::exists(Record()));
  // Now it is current.
  ASSERT_TRUE(Run(ThreeParts(111)));
  EXPECT_TRUE(session.m_stats.current);
}

// A device silent for 8 s after its restart: with polling the parts follow as soon as it answers
// again, not after the whole 29 s.
TEST_F(RolloutUpdate, PartsFollowAsSoonAsTheDeviceIsBack) {
  session.m_restartWaitSteps = 29;
  device.restartSilenceMs = 8000;
  for (const bool poll : {false, true}) {
    SCOPED_TRACE(poll ? "poll" : "fixed");
    session.m_update.restartPoll = poll;
    desktop.ClearRecords();
    const std::size_t before = link->Requests().size();
    ASSERT_TRUE(Run(ThreeParts(111)));
    std::int64_t restart = 0, descriptor = 0;
    for (std::size_t i = before; i < link->Requests().size(); ++i) {
      const Request& request = link->Requests()[i];
      if (request.Command() == 0x0C) restart = request.timeMs;
      if (request.Command() == 0x05 && descriptor == 0) descriptor = request.timeMs;
    }
    EXPECT_GE(descriptor - restart, poll ? 8000 : 29000);
    EXPECT_LE(descriptor - restart, poll ? 8600 : 29100);
    EXPECT_EQ(session.m_progress.Pos(), 3 + 7 + 29);
  }
}

}  // namespace
