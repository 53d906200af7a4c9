// orvelctl's frame against orvel-sim over loopback: version, restart, the defaults from
// Settings.ini and the exit statuses.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace orvel::test {
namespace {

namespace fs = std::filesystem;

// The tool's settings record, as the dialog leaves it in the working folder.
void WriteSettings(const TempFolder& folder, const std::string& text) {
  WriteBytes(folder.path() / "Settings.ini", Bytes(text.begin(), text.end()));
}

CommandResult Ctl(const std::vector<std::string>& args, const fs::path& workDir = {}) {
  return RunCommand(ORVELCTL_PATH, args, workDir, std::chrono::seconds(30));
}

std::vector<std::string> Connect(const SimProcess& sim, std::vector<std::string> more) {
  std::vector<std::string> args = {"-d", SimProcess::kAddress,    "-p", std::to_string(sim.port()),
                                   "-i", SimProcess::kToolAddress};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::size_t CountRequests(const SimProcess& sim, const std::string& command) {
  std::size_t count = 0;
  for (const auto& line : sim.RequestLog()) {
    if (line.substr(line.find(' ') + 1, 2) == command) ++count;
  }
  return count;
}

TEST(CliBasics, VersionPrintsMajorMinorAndKindOnStdoutOnly) {
  {
    SimProcess sim({"--version-number", "111", "--version-kind", "0"});
    const auto result = Ctl(Connect(sim, {"version"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "1.11 (kind 0)\n");
    EXPECT_EQ(result.err, "");
  }
  {
    SimProcess sim({"--version-number", "5", "--version-kind", "7"});
    const auto result = Ctl(Connect(sim, {"version"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0.05 (kind 7)\n");
  }
}

TEST(CliBasics, VersionFromASilentDeviceFails) {
  SimProcess sim({"--no-version-answer"});
  const auto result = Ctl(Connect(sim, {"version"}));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("Ошибка обмена данными.: Нет ответа от прибора на запрос версии."),
            std::string::npos)
      << result.err;
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(CountRequests(sim, "0E"), 3u);  // three silent windows, as the dialog asks
}

TEST(CliBasics, RestartAcknowledgedOrNot) {
  {
    SimProcess sim({"--restart-silence", "0.2"});
    const auto result = Ctl(Connect(sim, {"restart"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.RequestLog(), std::vector<std::string>{"1 0C 00000000 0 yes"});
  }
  {
    SimProcess sim({"--silent-after", "0"});
    const auto result = Ctl(Connect(sim, {"restart"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Внимание!: Необходимо перезагрузить прибор"), std::string::npos)
        << result.err;
  }
}

TEST(CliBasics, BadUsageExitsTwoWithoutTouchingTheDevice) {
  SimProcess sim;
  TempFolder empty;  // no Settings.ini here
  const std::string port = std::to_string(sim.port());
  const std::vector<std::vector<std::string>> cases = {
      {"-d", "127.0.0.2", "-p", port, "--frobnicate", "version"},
      {"-d", "127.0.0.2", "-p", port, "erase"},
      {"-d", "127.0.0.2", "-p", port},
      {"-d", "127.0.0.2", "-p", port, "read-config"},
      {"-d", "127.0.0.2", "-p", port, "write-config"},
      {"-d", "127.0.0.2", "-p", port, "write-program"},
      {"-d", "127.0.0.2", "-p", port, "update"},
      {"-d", "127.0.0.2", "-p", port, "version", "extra"},
      {"-d", "127.0.0.256", "-p", port, "version"},
      {"-d", "127.0.0", "-p", port, "version"},
      {"-d", "127.0.0.2", "-p", "70000", "version"},
      {"-d", "127.0.0.2", "-p", "0", "version"},
      {"-d", "127.0.0.2", "-p", port, "--retries", "many", "version"},
      {"-d", "127.0.0.2", "-p", port, "-i"},
      {"-p", port, "version"},         // no device, no Settings.ini
      {"-d", "127.0.0.2", "version"},  // no port
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& arg : args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const auto result = Ctl(args, empty.path());
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_FALSE(result.err.empty());
    EXPECT_EQ(result.out, "");
  }
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.RequestLog().empty());
}

// Every option's bad value is bad usage that names the option; numbers are decimal whatever their
// form ("040000" is never octal), before or after the command, as --name=value too.
TEST(CliBasics, EachOptionsBadValueNamesTheOption) {
  SimProcess sim({"--version-number", "111"});
  TempFolder empty;
  const std::string port = std::to_string(sim.port());
  // Short options carry their value attached, long ones after "=": "-p0", "--port=70000".
  const std::string bad[] = {"-d127.0.0.256",
                             "--device=",
                             "--devices=missing",
                             "-p0",
                             "--port=70000",
                             "-p0x10",
                             "--port= 5",
                             "-i127.0.0",
                             "--jobs=0",
                             "--retries=many",
                             "--restart-wait=3601",
                             "--resend-ms=29",
                             "--window=33",
                             "--log=",
                             "--verify=maybe",
                             "--skip-current=maybe",
                             "--no-downgrade=perhaps",
                             "--check-version=new",
                             "--canary=0",
                             "--max-failed=101%",
                             "--max-failed=-3",
                             "--restart-poll=sometimes",
                             "--state-dir=",
                             "--force=always",
                             "--frobnicate",
                             "--port"};
  for (const std::string& option : bad) {
    SCOPED_TRACE(option);
    const std::string name = option[1] == '-'   ? option.substr(0, option.find('='))
                             : option[1] == 'd' ? "--device"
                             : option[1] == 'p' ? "--port"
                                                : "--interface";
    const auto result = Ctl(
        {"-d", SimProcess::kAddress, "-p", port, "-i", SimProcess::kToolAddress, "version", option},
        empty.path());
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find(name), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.RequestLog().empty());

  SimProcess device({"--version-number", "111"});
  const std::string zeros = "00" + std::to_string(device.port());
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-d", SimProcess::kAddress, "-p", zeros, "-i", SimProcess::kToolAddress, "version"},
           {"version", "--jobs=016", "--port=" + zeros,
            "--device=" + std::string(SimProcess::kAddress), "--interface",
            SimProcess::kToolAddress, "--restart-wait", "0029", "--canary=02", "--max-failed",
            "010%", "--restart-poll", "off"}}) {
    const auto result = Ctl(args, empty.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "1.11 (kind 0)\n");
  }
}

// The help of orvelctl and of each command: at most 80 columns, each command's own usage line and
// the options that serve it.
TEST(CliBasics, HelpOfTheToolAndOfEachCommandFitsEightyColumns) {
  struct Case {
    std::vector<std::string> args;
    std::string usage;
    std::vector<std::string> listed, unlisted;
  };
  const Case cases[] = {
      {{"--help"},
       "usage: orvelctl [options] <command> [file]",
       {"scan <addresses>", "--verify"},
       {}},
      {{"update", "--help"},
       "usage: orvelctl [options] update <in.update>",
       {"--verify", "--fresh-backup", "--restart-wait S", "--log FILE", "--skip-current",
        "--max-failed N|P%", "--restart-poll on|off", "--state-dir DIR", "--window N"},
       {"scan"}},
      {{"-p", "1", "scan", "-h"},
       "usage: orvelctl [options] scan <addresses>",
       {"-p, --port N", "-i, --interface A.B.C.D", "--json", "--trace"},
       {"--verify", "--device", "--log", "--jobs", "--window"}},
      {{"read-config", "--help"},
       "usage: orvelctl [options] read-config <out.bin>",
       {"--device LIST", "--log FILE"},
       {"--verify", "--fresh-backup", "--retries", "--canary", "--force"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.usage);
    const auto result = Ctl(c.args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind(c.usage + "\n", 0), 0u) << result.out;
    for (const std::string& text : c.listed) EXPECT_NE(result.out.find(text), std::string::npos);
    for (const std::string& text : c.unlisted) EXPECT_EQ(result.out.find(text), std::string::npos);
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST(CliBasics, HelpAndOwnVersion) {
  const auto help = Ctl({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("usage: orvelctl [options] <command> [file]"), std::string::npos);
  EXPECT_NE(help.out.find("write-program <in.hex>"), std::string::npos);
  const auto version = Ctl({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("orvelctl ", 0), 0u);
}

TEST(CliBasics, DeviceAndPortFromSettingsIni) {
  SimProcess sim({"--version-number", "111"});
  const std::string port = std::to_string(sim.port());
  TempFolder folder;
  // As the dialog reads it: leading zeros and white space allowed, no line end.
  WriteSettings(folder, "127.0.0.002: " + port);
  auto result = Ctl({"-i", SimProcess::kToolAddress, "version"}, folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "1.11 (kind 0)\n");

  // Options win over the file.
  WriteSettings(folder, "10.9.8.7:1");
  result = Ctl({"-i", SimProcess::kToolAddress, "-d", SimProcess::kAddress, "-p", port, "version"},
               folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;

  // A record without a port gives the address only.
  WriteSettings(folder, "127.0.0.2");
  result = Ctl({"-i", SimProcess::kToolAddress, "version"}, folder.path());
  EXPECT_EQ(result.exitCode, 2);
  result = Ctl({"-i", SimProcess::kToolAddress, "-p", port, "version"}, folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

// Progress is drawn on a terminal only; `script` gives orvelctl one.
TEST(CliBasics, ProgressLineOnATerminalOnly) {
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no /usr/bin/script for a terminal";
  SimProcess sim({"--version-number", "111"});
  TempFolder folder;
  const auto args = Connect(sim, {"read-config", (folder.path() / "plain.bin").string()});
  const auto plain = Ctl(args);
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.err, "");

  std::string line = ORVELCTL_PATH;
  for (const auto& arg : Connect(sim, {"read-config", (folder.path() / "tty.bin").string()}))
    line += " '" + arg + "'";
  const auto terminal = RunCommand("/usr/bin/script", {"-qec", line, "/dev/null"}, folder.path(),
                                   std::chrono::seconds(30));
  EXPECT_EQ(terminal.exitCode, 0) << terminal.out;
  // The device's line while it runs, then erased ("\x1b[1A": up one line, "\x1b[J": clear) for
  // its final line.
  const std::string device = std::string(SimProcess::kAddress) + ":" + std::to_string(sim.port());
  const auto running =
      terminal.out.find(device + std::string(21 - device.size(), ' ') + " read-config");
  const auto final = terminal.out.find("\x1b[1A\r\x1b[J" + device);
  ASSERT_NE(running, std::string::npos) << terminal.out;
  ASSERT_NE(final, std::string::npos) << terminal.out;
  EXPECT_LT(running, final);
  const std::string finalLine = terminal.out.substr(final, terminal.out.find('\n', final) - final);
  EXPECT_NE(finalLine.find(" ok "), std::string::npos) << finalLine;
  EXPECT_NE(finalLine.find(" resent 0"), std::string::npos) << finalLine;
  EXPECT_EQ(fs::file_size(folder.path() / "tty.bin"), 44916u);
}

TEST(CliBasics, APortTakenOnTheToolSideStopsTheRunBeforeItStarts) {
  SimProcess sim;
  // Someone else holds the tool's address and port.
  const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(blocker, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(sim.port());
  ::inet_pton(AF_INET, SimProcess::kToolAddress, &local.sin_addr);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  const auto result = Ctl(Connect(sim, {"version"}));
  ::close(blocker);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_NE(result.err.find("Ошибка инициализации подключения.: Выбранный порт используется "
                            "другой программой."),
            std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace orvel::test
