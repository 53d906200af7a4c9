// Read-back verification (orvelctl --verify) of the three tasks that write into the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/utf8.h"
#include "support/package_builder.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::test::Bytes;
using orvel::test::PatternBytes;

enum class Task { WriteProgram, WriteConfiguration, Update };

struct Case {
  const char* name;
  Task task;
  std::optional<std::uint32_t> corruptAt;
  bool verify;
  const wchar_t* failure;  // in the box, or null when the task succeeds
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Verification : public ::testing::TestWithParam<Case> {
 protected:
  bool Run(Task task) {
    rig.session.m_verify = GetParam().verify;
    device.corruptAt = GetParam().corruptAt;
    const auto path = folder.path() / "input";
    switch (task) {
      case Task::WriteProgram:
        orvel::test::WriteBytes(path, PatternBytes(0x3C000, 1));
        rig.desktop.QueueFile(path.wstring());
        return rig.session.WriteProgram();
      case Task::WriteConfiguration:
        orvel::test::WriteBytes(path, PatternBytes(44916, 2));
        rig.desktop.QueueFile(path.wstring());
        return rig.session.WriteConfiguration();
      case Task::Update: {
        orvel::test::PackageContents contents;
        contents.version = {0, 111};
        contents.program = PatternBytes(1000, 3);
        contents.parts = {PatternBytes(10, 4)};
        contents.tail = Bytes(20, 0);
        orvel::test::WriteBytes(path, orvel::test::BuildPackage(contents));
        rig.desktop.QueueFile(path.wstring());
        rig.session.m_restartWaitSteps = 2;
        return rig.session.UpdateDevice();
      }
    }
    return false;
  }

  orvel::test::TempFolder folder;
  orvel::test::CurrentDirectory cwd{folder.path()};
  orvel::test::ScriptedSession rig;
  orvel::test::ScriptedDevice device{*rig.link};
};

TEST_P(Verification, ReadBackNamesTheFirstDifferenceAndCountsTheBytes) {
  const Case& c = GetParam();
  device.Store(0x147A0, PatternBytes(44916, 9));
  // Where the bar stands when the first Read goes out (for the write tasks, the read-back).
  std::optional<std::uint16_t> atFirstRead;
  device.silent = [&](const orvel::test::ScriptedLink::Request& request) {
    if (request.Command() == 0x00 && !atFirstRead) atFirstRead = rig.desktop.LastProgressPos();
    return false;
  };
  const bool done = Run(c.task);
  EXPECT_EQ(done, c.failure == nullptr);
  if (c.failure) {
    ASSERT_FALSE(rig.desktop.Boxes().empty());
    const auto& box = rig.desktop.Boxes().back();
    EXPECT_EQ(box.caption, L"Ошибка проверки записи.");
    EXPECT_EQ(box.style, 0x10u);
    EXPECT_NE(box.text.find(c.failure), std::wstring::npos) << orvel::ToUtf8(box.text);
    // Nothing after the read-back: the update stops before the restart.
    EXPECT_TRUE(std::none_of(rig.link->Requests().begin(), rig.link->Requests().end(),
                             [](const auto& request) { return request.Command() == 0x0C; }));
    return;
  }
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  const auto positions = rig.desktop.ProgressPositions();
  const auto reads = std::count_if(rig.link->Requests().begin(), rig.link->Requests().end(),
                                   [](const auto& request) { return request.Command() == 0x00; });
  if (c.task == Task::Update) {
    // One step more on the bar for the read-back.
    EXPECT_EQ(rig.desktop.ProgressRanges().back(), 1 + 7 + 2 + (c.verify ? 1 : 0));
    EXPECT_EQ(positions.back(), rig.desktop.ProgressRanges().back());
    EXPECT_EQ(reads, 176 + (c.verify ? 4 + 1 + 176 : 0));  // backup; program, word, configuration
    return;
  }
  // Percent: the write takes the first half of the bar and the read-back the second.
  EXPECT_TRUE(std::is_sorted(positions.begin() + 1, positions.end()));
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(atFirstRead, c.verify ? std::optional<std::uint16_t>(50) : std::nullopt);
  EXPECT_EQ(reads, c.verify ? (c.task == Task::WriteProgram ? 960 + 1 : 176) : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, Verification,
    ::testing::Values(
        Case{"ProgramVerified", Task::WriteProgram, std::nullopt, true, nullptr},
        Case{"ProgramWrongByte", Task::WriteProgram, 0x1B3400, true,
             L"Отличающихся байт: 1, первый по адресу 0x1B3400."},
        Case{"ProgramWrongByteUnverified", Task::WriteProgram, 0x1B3400, false, nullptr},
        Case{"ConfigurationVerified", Task::WriteConfiguration, std::nullopt, true, nullptr},
        Case{"ConfigurationWrongByte", Task::WriteConfiguration, 0x147A0 + 300, true,
             L"Отличающихся байт: 1, первый по адресу 0x148CC."},
        Case{"UpdateVerified", Task::Update, std::nullopt, true, nullptr},
        Case{"UpdateUnverified", Task::Update, std::nullopt, false, nullptr},
        Case{"UpdateWrongChecksumWord", Task::Update, 0x1BC002, true,
             L"Отличающихся байт: 1, первый по адресу 0x1BC002."},
        Case{"UpdateWrongConfigurationByte", Task::Update, 0x1F5FF, true,
             L"Отличающихся байт: 1, первый по адресу 0x1F5FF."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
