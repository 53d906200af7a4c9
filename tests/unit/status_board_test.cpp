// The live lines of a run and, without a terminal, its lines as devices end: percent and time left
// from the bytes of the step, resends shown, every line within 79 characters.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "cli/status_board.h"
#include "platform/utf8.h"
#include "support/scripted_clock.h"

namespace {

using orvel::cli::StatusBoard;

StatusBoard::Options Quiet() {
  StatusBoard::Options options;
  options.redrawMs = 0;  // no thread: the test moves the clock and calls Tick
  options.maxLines = 4;
  return options;
}

std::size_t Characters(const std::string& line) { return orvel::FromUtf8(line).size(); }

TEST(StatusBoard, PercentRateAndTimeLeftFollowTheBytesOfTheStep) {
  orvel::test::ScriptedClock clock;
  clock.limitMs += 4 * 3600 * 1000;
  StatusBoard board(Quiet(), clock);
  board.Add("255.255.255.255:65535");  // the longest a device can be
  board.Add("10.0.0.6:40000");
  board.Start(0, "update");
  board.Start(1, "update");
  board.Update(0, "Считывание конфигурации ...", 0, 4096, 0);
  clock.Advance(1000);
  board.Update(0, "", 4096, 4096, 0);
  // The program: 200 KiB queued; a quarter answered in 5 s is 10 KiB/s and 15 s to go.
  board.Update(0, "Запись программы ...", 4096, 4096, 0);
  board.Update(0, "", 4096, 4096 + 200 * 1024, 0);
  clock.Advance(5000);
  board.Update(0, "", 4096 + 50 * 1024, 4096 + 200 * 1024, 0);
  board.Update(1, "Перезагрузка прибора... 12 с", 0, 0, 0);
  clock.Advance(12000);
  auto lines = board.Lines();
  ASSERT_EQ(lines.size(), 3u);
  // 17 s later nothing moved: the same percent, the rate and time left from what was measured.
  EXPECT_EQ(lines[0],
            "255.255.255.255:65535 write program  25%   2.9 KiB/s resent 0      ETA 0:51");
  EXPECT_EQ(lines[1],
            "10.0.0.6:40000        restart                        resent 0      wait 0:12");
  EXPECT_EQ(lines[2], "2 running, 0 waiting, 0 done, 0 failed");

  // A resend shows as such in place of the rate, and for a few seconds only.
  board.Update(0, "", 4096 + 50 * 1024, 4096 + 200 * 1024, 123456);
  EXPECT_NE(board.Lines()[0].find("25%   resending resent 123456 ETA 0:51"), std::string::npos)
      << board.Lines()[0];
  clock.Advance(3000);
  EXPECT_EQ(board.Lines()[0].find("resending"), std::string::npos) << board.Lines()[0];

  // The read-back of several regions told ahead: its percent does not start over per region.
  board.Update(0, "Проверка записи ...", 4096 + 200 * 1024, 4096 + 200 * 1024, 123456);
  board.Update(0, "", 4096 + 200 * 1024, 8192 + 400 * 1024, 123456);
  board.Update(0, "", 8192 + 200 * 1024, 8192 + 400 * 1024, 123456);
  EXPECT_NE(board.Lines()[0].find("verify          1%"), std::string::npos) << board.Lines()[0];
  // A write and then its read-back in one step: the second transfer counts from its start.
  board.Update(1, "", 0, 0, 0);
  board.Start(1, "write-config");
  board.Update(1, "", 0, 4096, 0);
  board.Update(1, "", 4096, 4096, 0);
  EXPECT_NE(board.Lines()[1].find("write-config  100%"), std::string::npos) << board.Lines()[1];
  board.Update(1, "", 4096, 8192, 0);
  board.Update(1, "", 5120, 8192, 0);
  EXPECT_NE(board.Lines()[1].find("write-config   25%"), std::string::npos) << board.Lines()[1];

  // A slow step: hours of time left keep every digit within the line.
  clock.Advance(3 * 3600 * 1000);
  lines = board.Lines();
  for (const std::string& line : lines) EXPECT_LE(Characters(line), 79u) << line;
  // A quarter in 3 hours: 9 hours left. Beyond 99 hours no figure is worth showing.
  EXPECT_TRUE(lines[1].ends_with("resent 0      ETA 9:00:00")) << lines[1];
  EXPECT_TRUE(lines[0].ends_with("resent 123456 ETA --:--")) << lines[0];
}

TEST(StatusBoard, WithoutATerminalEachDeviceEndsWithALineAndACountComesEveryTenSeconds) {
  orvel::test::ScriptedClock clock;
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    StatusBoard::Options options = Quiet();
    options.out = out;
    StatusBoard board(options, clock);
    for (const char* device : {"10.0.0.5:40000", "10.0.0.6:40000", "10.0.0.7:40000"}) {
      board.Add(device);
    }
    board.Start(0, "update");
    board.Start(1, "update");
    clock.Advance(9999);
    board.Tick();  // not yet
    clock.Advance(1);
    board.Tick();
    board.Tick();  // once per period
    clock.Advance(2500);
    board.Finish(0, "ok", true);
    board.Finish(1, "failed", false, "no-answer");
    board.Start(2, "update");
    clock.Advance(10000);
    board.Tick();
    board.Finish(2, "ok", true);
    clock.Advance(10000);
    board.Tick();  // nothing runs: no count
  }
  std::rewind(out);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, out) != nullptr) text += buffer;
  std::fclose(out);
  EXPECT_EQ(text,
            "2 running, 1 waiting, 0 done, 0 failed\n"
            "10.0.0.5:40000        ok             12.5 s  resent 0\n"
            "10.0.0.6:40000        failed         12.5 s  resent 0  no-answer\n"
            "1 running, 0 waiting, 1 done, 1 failed\n"
            "10.0.0.7:40000        ok             10.0 s  resent 0\n");
}

// Every status text a task shows has its short English name.
TEST(StatusBoard, EveryStatusTextOfTheTasksHasAStepName) {
  const std::regex status(R"re(SetStatusText\(\s*m_hStatus,\s*L"([^"]*)")re");
  std::size_t found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORVEL_SOURCE_DIR "/session")) {
    std::ifstream file(entry.path());
    const std::string source((std::istreambuf_iterator<char>(file)), {});
    for (std::sregex_iterator it(source.begin(), source.end(), status), end; it != end; ++it) {
      ++found;
      EXPECT_NE(orvel::cli::StepName((*it)[1], "?"), "?") << (*it)[1] << " in " << entry.path();
    }
  }
  EXPECT_GE(found, 6u);
}

}  // namespace
