// The read- and write-configuration tasks against a scripted device, desktop and clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "protocol/configuration_image.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::PatternBytes;
using orvel::test::ReadBytes;
using orvel::test::ScriptedDevice;
using orvel::test::ScriptedSession;
using orvel::test::TempFolder;
using orvel::test::WriteBytes;

constexpr std::uint32_t kConfigAddress = 0x147A0;
const std::wstring kNoAnswer =
    L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.";
orvel::WindowHandle const kOwner = reinterpret_cast<orvel::WindowHandle>(0x1001);

std::size_t Count(const orvel::test::ScriptedLink& link, ServiceCommand command) {
  return static_cast<std::size_t>(
      std::count_if(link.Requests().begin(), link.Requests().end(), [&](const auto& request) {
        return request.Command() == static_cast<std::uint8_t>(command);
      }));
}

void ExpectOneBox(const ScriptedSession& rig, const std::wstring& text, const std::wstring& caption,
                  unsigned style, orvel::WindowHandle owner = kOwner) {
  ASSERT_EQ(rig.desktop.Boxes().size(), 1u);
  const auto& box = rig.desktop.Boxes()[0];
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.style, style);
  EXPECT_EQ(box.owner, owner);
}

// A rig as the dialog leaves it before a task, with a device that holds a recognisable area.
struct Rig {
  Rig() : device(*rig.link) {
    rig.session.m_hOwner = kOwner;
    device.Store(kConfigAddress, PatternBytes(orvel::config::kNewImageSize + 256, 1));
  }
  ScriptedSession rig;
  ScriptedDevice device;
};

// --- read ---------------------------------------------------------------------------------------

TEST(ConfigurationRead, VersionChoosesTheSizeAndTheFileIsTheDeviceArea) {
  struct Case {
    std::optional<std::uint8_t> number;  // nothing: the device does not answer the query
    std::size_t size;
    bool warns;
  };
  const Case cases[] = {{5, 44660, false},  {99, 44660, false},          {111, 44916, false},
                        {100, 44916, true}, {110, 44916, true},          {112, 44916, true},
                        {200, 44916, true}, {std::nullopt, 44660, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number ? int{*c.number} : -1);
    TempFolder folder;
    Rig r;
    if (c.number) {
      r.device.version = {0x02, *c.number};
    } else {
      r.device.silent = [](const auto& request) { return request.Command() == 0x0E; };
    }
    r.rig.desktop.QueueFile(folder.File("config.bin"));

    EXPECT_TRUE(r.rig.session.ReadConfiguration());
    EXPECT_EQ(r.rig.session.m_memoryMap.configSize, c.size);
    EXPECT_EQ(ReadBytes(folder.path() / "config.bin"), r.device.Bytes(kConfigAddress, c.size));
    EXPECT_EQ(Count(*r.rig.link, ServiceCommand::Read), c.size == 44660 ? 175u : 176u);
    EXPECT_EQ(r.rig.desktop.LastProgressPos(), 100);
    if (c.warns) {
      ExpectOneBox(r.rig, L"Нет данных о конфигурации прибора, обратитесь к разработчику.",
                   L"Ошибка.", 0x30, nullptr);
    } else {
      EXPECT_TRUE(r.rig.desktop.Boxes().empty());
    }
    ASSERT_EQ(r.rig.desktop.FileChoices().size(), 1u);
    const orvel::FileChoice& choice = r.rig.desktop.FileChoices()[0];
    EXPECT_TRUE(choice.save);
    EXPECT_EQ(choice.defaultExtension, L"bin");
    EXPECT_EQ(choice.filterDescription, L"File configuration (*.bin)");
    EXPECT_EQ(choice.filterPattern, L"*.bin");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
  }
}

TEST(ConfigurationRead, CancelEndsAfterTheVersionQuery) {
  Rig r;
  r.rig.desktop.QueueFile(std::nullopt);
  EXPECT_FALSE(r.rig.session.ReadConfiguration());
  ExpectOneBox(r.rig,
               L"Не указано название и место расположения файла! Чтение конфигурации отменено.",
               L"Внимание!", 0x30);
  ASSERT_EQ(r.rig.link->Requests().size(), 1u);
  EXPECT_EQ(r.rig.link->Requests()[0].Command(), 0x0E);
  EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
}

TEST(ConfigurationRead, DeviceSilentHalfWayLeavesTheEarlierFile) {
  for (bool existed : {true, false}) {
    SCOPED_TRACE(existed);
    TempFolder folder;
    if (existed) WriteBytes(folder.path() / "config.bin", {'o', 'l', 'd'});
    Rig r;
    r.device.silent = [](const auto& request) {
      return request.Command() == 0x00 && request.Address() >= kConfigAddress + 80 * 256;
    };
    r.rig.desktop.QueueFile(folder.File("config.bin"));

    EXPECT_FALSE(r.rig.session.ReadConfiguration());
    ExpectOneBox(r.rig, kNoAnswer, L"Ошибка обмена данными.", 0x30);
    EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
    if (existed) {
      EXPECT_EQ(ReadBytes(folder.path() / "config.bin"), (Bytes{'o', 'l', 'd'}));
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
    } else {
      EXPECT_TRUE(folder.Names().empty());
    }
  }
}

TEST(ConfigurationRead, UnwritablePathIsRefusedBeforeTheRead) {
  TempFolder folder;
  Rig r;
  r.rig.desktop.QueueFile(folder.File("missing-folder/config.bin"));
  EXPECT_FALSE(r.rig.session.ReadConfiguration());
  ExpectOneBox(r.rig, L"Не удается открыть файл(ы):\n", L"Внимание!", 0x30);
  EXPECT_EQ(Count(*r.rig.link, ServiceCommand::Read), 0u);
  EXPECT_TRUE(folder.Names().empty());
}

#ifndef _WIN32
TEST(ConfigurationRead, FailedFileWriteIsAnErrorAndKeepsTheFile) {
  TempFolder folder;
  const std::wstring path = folder.File("config.bin");
  WriteBytes(folder.path() / "config.bin", {1, 2, 3, 4});
  Rig r;
  r.rig.desktop.QueueFile(path);
  {
    // The disk takes only 4 KiB of the new file, as a full disk would.
    orvel::test::FileSizeLimit limit(4096);
    EXPECT_FALSE(r.rig.session.ReadConfiguration());
  }
  ExpectOneBox(r.rig, L"Не удаётся записать файл(ы):\n " + path, L"Ошибка записи файла!", 0x10);
  EXPECT_EQ(ReadBytes(folder.path() / "config.bin"), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
  EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
}
#endif

TEST(ConfigurationRead, BackupReadLeavesTheBarAlone) {
  TempFolder folder;
  Rig r;
  r.rig.session.ReadConfigurationToFile(DeviceVersion{0, 111}, folder.File("ConfBackup.bin"), true);
  EXPECT_TRUE(r.rig.desktop.ProgressCalls().empty());
  EXPECT_EQ(ReadBytes(folder.path() / "ConfBackup.bin"), r.device.Bytes(kConfigAddress, 44916));
}

// --- write --------------------------------------------------------------------------------------

Bytes Converted(Bytes image) {
  Bytes out;
  orvel::config::ConvertConfiguration(image, out);
  return out;
}

TEST(ConfigurationWrite, OlderFileIsConvertedOnlyForA111OrLaterMajor1Device) {
  struct Case {
    std::size_t fileSize;
    std::optional<std::uint8_t> number;
    bool converts;
  };
  const Case cases[] = {{44660, 111, true},  {44660, 150, true}, {44660, 199, true},
                        {44660, 110, false}, {44660, 5, false},  {44660, 201, false},
                        {44660, 100, false}, {44660, {}, false}, {44916, 111, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fileSize) + " / " + (c.number ? std::to_string(*c.number) : "-"));
    TempFolder folder;
    const Bytes file = PatternBytes(c.fileSize, 7);
    WriteBytes(folder.path() / "in.bin", file);
    Rig r;
    r.device.Store(kConfigAddress, Bytes(44916 + 256, 0xEE));
    if (c.number) {
      r.device.version = {0x01, *c.number};
    } else {
      r.device.silent = [](const auto& request) { return request.Command() == 0x0E; };
    }
    r.rig.desktop.QueueFile(folder.File("in.bin"));

    EXPECT_TRUE(r.rig.session.WriteConfiguration());
    const Bytes expected = c.converts ? Converted(file) : file;
    // What the tool wrote, and nothing past the image (the device keeps what fits its area).
    const auto written = orvel::test::WrittenBytes(*r.rig.link, kConfigAddress, 44916 + 256);
    EXPECT_EQ(Bytes(written.bytes.begin(), written.bytes.begin() + expected.size()), expected);
    EXPECT_EQ(written.end, kConfigAddress + expected.size());
    const std::size_t kept =
        std::min<std::size_t>(expected.size(), c.number.value_or(111) < 100 ? 44660 : 44916);
    EXPECT_EQ(r.device.Bytes(kConfigAddress, kept),
              Bytes(expected.begin(), expected.begin() + kept));
    EXPECT_EQ(Count(*r.rig.link, ServiceCommand::Write), expected.size() == 44660 ? 175u : 176u);
    EXPECT_EQ(r.rig.desktop.LastProgressPos(), 100);
    EXPECT_TRUE(r.rig.desktop.Boxes().empty());
    EXPECT_EQ(ReadBytes(folder.path() / "in.bin"), file);
    ASSERT_EQ(r.rig.desktop.FileChoices().size(), 1u);
    EXPECT_FALSE(r.rig.desktop.FileChoices()[0].save);
    EXPECT_EQ(r.rig.desktop.FileChoices()[0].defaultExtension, L"bin");
    EXPECT_EQ(r.rig.desktop.FileChoices()[0].filterDescription, L"File configuration (*.bin)");
    EXPECT_EQ(r.rig.desktop.FileChoices()[0].filterPattern, L"*.bin");
  }
}

// The newer layout into an older device would run 256 bytes past its 44,660-byte area. Refused,
// naming both sizes, before anything is written; orvelctl --force writes it anyway.
TEST(ConfigurationWrite, FileLongerThanTheDeviceAreaIsRefusedUnlessForced) {
  struct Case {
    std::optional<std::uint8_t> number;  // nothing: no answer to the version request
    bool force;
    const wchar_t* device;  // as the box names it
  };
  const Case cases[] = {{5, false, L"версии 0.05"},
                        {{}, false, L"0.xx (нет ответа на запрос версии)"},
                        {5, true, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.number.value_or(0)) + (c.force ? " forced" : ""));
    TempFolder folder;
    WriteBytes(folder.path() / "in.bin", PatternBytes(44916, 7));
    Rig r;
    if (c.number) {
      r.device.version = {0x01, *c.number};
    } else {
      r.device.silent = [](const auto& request) { return request.Command() == 0x0E; };
    }
    r.rig.session.m_forceConfiguration = c.force;
    r.rig.desktop.QueueFile(folder.File("in.bin"));
    EXPECT_EQ(r.rig.session.WriteConfiguration(), c.force);
    if (c.force) {
      EXPECT_EQ(Count(*r.rig.link, ServiceCommand::Write), 176u);
      EXPECT_EQ(r.device.StrayBytes(), 256u);
      continue;
    }
    ExpectOneBox(r.rig,
                 std::wstring(L"Размер файла конфигурации 44916 байт больше области конфигурации "
                              L"прибора ") +
                     c.device + L" (44660 байт). Конфигурация не записана.",
                 L"Ошибка.", 0x10);
    EXPECT_EQ(Count(*r.rig.link, ServiceCommand::Write), 0u);
    EXPECT_EQ(r.device.StrayBytes(), 0u);
  }
}

TEST(ConfigurationWrite, ImageOfAWrongSizeIsRefusedBeforeAnyWrite) {
  // Longer than the newer layout would run past the configuration area into other memory.
  for (std::size_t size :
       {std::size_t{0}, std::size_t{44659}, std::size_t{44917}, std::size_t{50000}}) {
    SCOPED_TRACE(size);
    TempFolder folder;
    WriteBytes(folder.path() / "in.bin", PatternBytes(size, 3));
    Rig r;
    r.rig.desktop.QueueFile(folder.File("in.bin"));
    EXPECT_FALSE(r.rig.session.WriteConfiguration());
    ExpectOneBox(r.rig, L"Размер файла конфигурации не верен.", L"Ошибка.", 0x10);
    ASSERT_EQ(r.rig.link->Requests().size(), 1u);
    EXPECT_EQ(r.rig.link->Requests()[0].Command(), 0x0E);
    EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
  }
}

TEST(ConfigurationWrite, CancelOrAnUnreadableFileSendsNothing) {
  TempFolder folder;
  fs::create_directory(folder.path() / "folder.bin");
  const std::optional<std::wstring> choices[] = {std::nullopt, folder.File("missing.bin"),
                                                 folder.File("folder.bin")};
  for (const auto& choice : choices) {
    Rig r;
    r.rig.desktop.QueueFile(choice);
    EXPECT_FALSE(r.rig.session.WriteConfiguration());
    if (choice) {
      ExpectOneBox(r.rig, L"Не удается открыть файл(ы):\n", L"Внимание!", 0x30);
    } else {
      ExpectOneBox(r.rig,
                   L"Не указано название и место расположения файла! Запись конфигурации отменена.",
                   L"Внимание!", 0x30);
    }
    EXPECT_TRUE(r.rig.link->Requests().empty());
    EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
  }
}

TEST(ConfigurationWrite, DeviceSilentHalfWayShowsTheNoAnswerBox) {
  TempFolder folder;
  WriteBytes(folder.path() / "in.bin", PatternBytes(44916, 9));
  Rig r;
  r.device.silent = [](const auto& request) {
    return request.Command() == 0x01 && request.Address() >= kConfigAddress + 100 * 256;
  };
  r.rig.desktop.QueueFile(folder.File("in.bin"));
  EXPECT_FALSE(r.rig.session.WriteConfiguration());
  ExpectOneBox(r.rig, kNoAnswer, L"Ошибка обмена данными.", 0x30);
  EXPECT_EQ(r.rig.desktop.LastProgressPos(), 0);
  const Bytes image = PatternBytes(44916, 9);
  EXPECT_EQ(r.device.Bytes(kConfigAddress, 100 * 256),
            Bytes(image.begin(), image.begin() + 100 * 256));
}

TEST(ConfigurationWrite, ImageWriteForTheUpdateLeavesTheBarAlone) {
  Rig r;
  const Bytes image = PatternBytes(44916, 5);
  r.rig.session.WriteConfigurationImage(image, true);
  EXPECT_TRUE(r.rig.desktop.ProgressCalls().empty());
  EXPECT_EQ(r.device.Bytes(kConfigAddress, image.size()), image);
  EXPECT_THROW(r.rig.session.WriteConfigurationImage(Bytes(44917), true), CMBoxExeption);
}

TEST(ConfigurationTempFolder, CreatedOnceThenReused) {
  TempFolder folder;
  Rig r;
  r.rig.session.m_workDir = folder.path().wstring() + L"/";
  std::wstring out;
  EXPECT_EQ(r.rig.session.PrepareTempFolder(out), folder.path().wstring() + L"/Temp/");
  EXPECT_TRUE(fs::is_directory(folder.path() / "Temp"));
  WriteBytes(folder.path() / "Temp" / "ConfBackup.bin", {1});
  std::wstring again;
  EXPECT_EQ(r.rig.session.PrepareTempFolder(again), out);
  EXPECT_EQ(ReadBytes(folder.path() / "Temp" / "ConfBackup.bin"), Bytes{1});

  r.rig.session.m_workDir = folder.path().wstring() + L"/missing/";
  try {
    r.rig.session.PrepareTempFolder(out);
    ADD_FAILURE() << "a folder under a missing one was created";
  } catch (const CMBoxExeption& box) {
    EXPECT_EQ(box.Caption(), L"Не получется создать дирректорию \\Temp");
    EXPECT_EQ(box.Style(), 0x40u);
    EXPECT_NE(box.Text(), L"Oops, Unknown error.");
  }
}

}  // namespace
