// orvelctl against careless surroundings: output and input paths that are not plain files,
// oversized inputs, leftovers of killed runs, odd names, a bad Settings.ini and an output stream
// that refuses the results. Each ends in a clear refusal or in the data where it was asked for,
// never in a silent loss or a hang.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_command.h"
#include "support/sim_process.h"
#include "support/test_files.h"

namespace orvel::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::size_t kConfigSize = 44916;  // the sim's default firmware 1.11
const char kCannotOpen[] = "Внимание!: Не удается открыть файл(ы):";

std::vector<std::string> Connect(const SimProcess& sim, std::vector<std::string> more) {
  std::vector<std::string> args = {"-d", SimProcess::kAddress,    "-p", std::to_string(sim.port()),
                                   "-i", SimProcess::kToolAddress};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

CommandResult Ctl(const std::vector<std::string>& args, const fs::path& workDir = {},
                  milliseconds limit = seconds(30)) {
  return RunCommand(ORVELCTL_PATH, args, workDir, limit);
}

// orvelctl through bash, for redirections and for signals sent while it runs.
CommandResult Shell(const std::string& script, const fs::path& workDir = {},
                    milliseconds limit = seconds(30)) {
  return RunCommand("/bin/bash", {"-c", script, "orvelctl", ORVELCTL_PATH}, workDir, limit);
}

std::string Quoted(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) line += " '" + arg + "'";
  return line;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end - from));
    from = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// Shell words that wait (at most 5 s) until the tool's temporary output file is there.
constexpr const char* kAwaitTemporary =
    "for i in $(seq 100); do ls -A | grep -q '^[.]orvel-' && break; sleep 0.05; done;";

// A character device node like /dev/null (1,3), /dev/zero (1,5) or /dev/full (1,7), made in a test
// folder so that a faulty tool can only ever replace this node, never the system's own.
bool MakeDeviceNode(const fs::path& path, unsigned minor) {
  return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

bool IsCharacterDevice(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

TEST(HostileCli, OutputPathsThatAreNotPlainFiles) {
  SimProcess sim;
  TempFolder folder;
  const fs::path dir = folder.path();
  const auto read = [&](const std::string& path) {
    return Ctl(Connect(sim, {"read-config", path}), dir);
  };
  const auto checkArea = [&](const std::string& bytes) {
    EXPECT_EQ(bytes.size(), kConfigSize);
    const Bytes area = sim.ReadState("config.bin");
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), area);
  };

  // Standard output, by name and as "-": the results stream, nothing else goes there.
  for (const char* path : {"-", "/proc/self/fd/1"}) {
    SCOPED_TRACE(path);
    const CommandResult result = read(path);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    checkArea(result.out);
  }
  EXPECT_FALSE(fs::exists(dir / "-"));

  // A FIFO gets the data straight through and stays a FIFO.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
  std::string piped;
  std::thread reader([&] {
    std::ifstream in(dir / "pipe", std::ios::binary);
    piped.assign(std::istreambuf_iterator<char>(in), {});
  });
  const CommandResult toFifo = read((dir / "pipe").string());
  reader.join();
  EXPECT_EQ(toFifo.exitCode, 0) << toFifo.err;
  checkArea(piped);
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir / "pipe")));

  // A chain of symbolic links: the file at its end is replaced in its own folder, the links stay.
  fs::create_directory(dir / "real");
  WriteBytes(dir / "real" / "config.bin", {1, 2, 3});
  fs::create_symlink("real/config.bin", dir / "hop");
  fs::create_symlink(dir / "hop", dir / "link.bin");
  const CommandResult viaLink = read((dir / "link.bin").string());
  EXPECT_EQ(viaLink.exitCode, 0) << viaLink.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_TRUE(fs::is_symlink(dir / "hop"));
  const Bytes linked = ReadBytes(dir / "real" / "config.bin");
  checkArea(std::string(linked.begin(), linked.end()));
  // A link to a file that does not exist yet creates it.
  fs::create_symlink("real/new.bin", dir / "dangling.bin");
  EXPECT_EQ(read((dir / "dangling.bin").string()).exitCode, 0);
  EXPECT_EQ(fs::file_size(dir / "real" / "new.bin"), kConfigSize);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.bin"));

  // Device files: a sink takes everything, a full one is a write error. Nodes of our own (root
  // only), so that the test can never touch the system's.
  if (!MakeDeviceNode(dir / "null", 3) || !MakeDeviceNode(dir / "full", 7)) {
    GTEST_SKIP() << "device nodes need root";
  }
  const CommandResult toNull = read((dir / "null").string());
  EXPECT_EQ(toNull.exitCode, 0) << toNull.err;
  EXPECT_TRUE(IsCharacterDevice(dir / "null"));
  const CommandResult toFull = read((dir / "full").string());
  EXPECT_EQ(toFull.exitCode, 1);
  EXPECT_TRUE(Contains(toFull.err, "Ошибка записи файла!: Не удаётся записать файл(ы):"))
      << toFull.err;
  EXPECT_TRUE(IsCharacterDevice(dir / "full"));
  // Nothing was left behind in the folder: no temporary file, no replaced node.
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"dangling.bin", "full", "hop", "link.bin",
                                                      "null", "pipe", "real"}));
}

TEST(HostileCli, InputsThatAreNotPlainFilesAreRefusedBeforeTheyAreRead) {
  SimProcess sim;
  TempFolder folder;
  const fs::path dir = folder.path();
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
  for (const char* command : {"write-config", "write-program", "update"}) {
    SCOPED_TRACE(command);
    // Nobody writes into the FIFO: opening it as a file would wait for ever.
    const CommandResult result = Ctl(Connect(sim, {command, (dir / "pipe").string()}), dir);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 3);  // the run could not start
    EXPECT_TRUE(Contains(result.err, kCannotOpen)) << result.err;
    EXPECT_TRUE(Contains(result.err, "pipe (")) << result.err;
    EXPECT_LT(result.elapsed, seconds(5));
  }
  if (MakeDeviceNode(dir / "zero", 5)) {
    const CommandResult zero = Ctl(Connect(sim, {"write-program", (dir / "zero").string()}), dir);
    EXPECT_EQ(zero.exitCode, 3);
    EXPECT_TRUE(Contains(zero.err, kCannotOpen)) << zero.err;
  }

  // "-" is standard input.
  const Bytes image = PatternBytes(kConfigSize, 9);
  WriteBytes(dir / "in.bin", image);
  const CommandResult fromStdin =
      Shell("\"$1\"" + Quoted(Connect(sim, {"write-config", "-"})) + " < in.bin", dir);
  EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.ReadState("config.bin"), image);
}

TEST(HostileCli, SizesAreCheckedBeforeTheContents) {
  SimProcess sim;
  TempFolder folder;
  const fs::path dir = folder.path();
  // A sparse terabyte: measured, never read nor allocated.
  std::ofstream(dir / "huge").close();
  fs::resize_file(dir / "huge", std::uintmax_t{1} << 40);
  struct Case {
    const char* command;
    const char* box;
  };
  const Case cases[] = {
      {"write-config", "Ошибка.: Размер файла конфигурации не верен."},
      {"update", "Ошибка.: Размер файла обновления не верен."},
      {"write-program", "Внимание!: Размер файла программы не верен."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const CommandResult result = Ctl(Connect(sim, {c.command, (dir / "huge").string()}), dir);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(Contains(result.err, c.box)) << result.err;
    EXPECT_LT(result.elapsed, seconds(5));
  }
  // Standard input is bounded the same way.
  WriteBytes(dir / "long.bin", PatternBytes(kConfigSize + 1, 1));
  const CommandResult piped =
      Shell("cat long.bin long.bin | \"$1\"" + Quoted(Connect(sim, {"write-config", "-"})), dir);
  EXPECT_EQ(piped.exitCode, 1);
  EXPECT_TRUE(Contains(piped.err, "Ошибка.: Размер файла конфигурации не верен.")) << piped.err;
}

TEST(HostileCli, TemporaryFilesNeverPileUpNorOutliveTheRun) {
  TempFolder folder;
  const fs::path dir = folder.path();
  {
    SimProcess sim;
    // Leftovers of killed runs under every name an earlier version used.
    for (int i = 0; i < 20; ++i) {
      WriteBytes(dir / ("target.bin.~" + std::to_string(i) + ".tmp"), {7});
    }
    const CommandResult result = Ctl(Connect(sim, {"read-config", "target.bin"}), dir);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(fs::file_size(dir / "target.bin"), kConfigSize);
    for (int i = 0; i < 20; ++i) fs::remove(dir / ("target.bin.~" + std::to_string(i) + ".tmp"));

    // The longest name a folder entry may have.
    const std::string longest(250, 'n');
    const CommandResult longName = Ctl(Connect(sim, {"read-config", longest + ".bin"}), dir);
    EXPECT_EQ(longName.exitCode, 0) << longName.err;
    EXPECT_EQ(fs::file_size(dir / (longest + ".bin")), kConfigSize);
    fs::remove(dir / (longest + ".bin"));
  }

  // Stopped during the read by any signal that ends a program: the earlier file stays, nothing
  // else remains. The signal comes once the temporary file is there.
  WriteBytes(dir / "target.bin", {1, 2, 3});
  struct Stop {
    const char* signal;
    int status;
  };
  // SIGINT and SIGTERM stop the run as a request to stop: its own exit status 130.
  for (const Stop& stop : {Stop{"INT", 130}, Stop{"TERM", 130}, Stop{"HUP", 129}, Stop{"QUIT", 131},
                           Stop{"USR1", 138}, Stop{"ALRM", 142}}) {
    SCOPED_TRACE(stop.signal);
    SimProcess sim({"--silent-after", "20"});
    const std::string script =
        "set -m; ulimit -c 0; \"$1\"" + Quoted(Connect(sim, {"read-config", "target.bin"})) +
        " & " + kAwaitTemporary + " kill -" + stop.signal + " $!; wait $!; echo status $?";
    const CommandResult result = Shell(script, dir);
    EXPECT_TRUE(Contains(result.out, "status " + std::to_string(stop.status)))
        << result.out << result.err;
    EXPECT_EQ(ReadBytes(dir / "target.bin"), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"target.bin"});
  }

  // Several devices, each writing its own file at the same time: a signal leaves none behind.
  SimProcess site({"--silent-after", "20"}, SimProcess::Site{"127.0.0.2-127.0.0.4"});
  const std::string script =
      "set -m; \"$1\"" +
      Quoted({"-d", "127.0.0.2-127.0.0.4", "-p", std::to_string(site.port()), "-i",
              SimProcess::kToolAddress, "read-config", "cfg-{device}.bin"}) +
      " & " + kAwaitTemporary + " kill -TERM $!; wait $!; echo status $?";
  const CommandResult result = Shell(script, dir);
  EXPECT_TRUE(Contains(result.out, "status 130")) << result.out << result.err;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"target.bin"});
}

TEST(HostileCli, PathsReachTheFileSystemAsTheBytesGiven) {
  SimProcess sim;
  TempFolder folder;
  const std::string name = "cfg\xff.bin";  // not UTF-8
  const CommandResult read = Ctl(Connect(sim, {"read-config", name}), folder.path());
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  const CommandResult write = Ctl(Connect(sim, {"write-config", name}), folder.path());
  EXPECT_EQ(write.exitCode, 0) << write.err;
}

TEST(HostileCli, SettingsRecordsOutOfRangeAreBad) {
  SimProcess sim;
  TempFolder folder;
  const std::string port = std::to_string(sim.port());
  const std::vector<std::string> explicitArgs = {"-d", SimProcess::kAddress,     "-p",     port,
                                                 "-i", SimProcess::kToolAddress, "version"};
  const std::vector<std::string> records = {"999.1.1.1:99999", "127.0.0.2:109336",
                                            "300.1.2.3:" + port, "127.0.0.2:70000"};
  for (const std::string& record : records) {
    SCOPED_TRACE(record);
    WriteBytes(folder.path() / "Settings.ini", Bytes(record.begin(), record.end()));
    const CommandResult fromFile = Ctl({"-i", SimProcess::kToolAddress, "version"}, folder.path());
    EXPECT_EQ(fromFile.exitCode, 2) << fromFile.out;
    EXPECT_TRUE(Contains(fromFile.err, "Settings.ini")) << fromFile.err;
    const CommandResult given = Ctl(explicitArgs, folder.path());
    EXPECT_EQ(given.exitCode, 0) << given.err;
  }
  // A FIFO named Settings.ini is not opened: nobody will ever write into it.
  fs::remove(folder.path() / "Settings.ini");
  ASSERT_EQ(::mkfifo((folder.path() / "Settings.ini").c_str(), 0666), 0);
  const CommandResult fifo =
      Ctl({"-i", SimProcess::kToolAddress, "version"}, folder.path(), seconds(5));
  EXPECT_FALSE(fifo.timedOut);
  EXPECT_EQ(fifo.exitCode, 2);
  const CommandResult fifoGiven = Ctl(explicitArgs, folder.path(), seconds(5));
  EXPECT_EQ(fifoGiven.exitCode, 0) << fifoGiven.err;
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.RequestLog().size(), 5u);  // only the runs with -d and -p asked the device
}

TEST(HostileCli, ResultsThatCannotBeWrittenAreAFailure) {
  SimProcess sim;
  for (const std::string& command : {Quoted(Connect(sim, {"version"})), std::string(" --help")}) {
    // A full disk, and a pipe whose reader is gone before the tool starts.
    for (const std::string& script :
         {"\"$1\"" + command + " > /dev/full",
          "{ sleep 0.2; exec \"$1\"" + command + "; } | true; exit ${PIPESTATUS[0]}"}) {
      SCOPED_TRACE(script);
      const CommandResult result = Shell(script);
      EXPECT_EQ(result.exitCode, 1);
      EXPECT_TRUE(Contains(result.err, "could not be written")) << result.err;
    }
  }
}

// Messages into a pipe that closed early (a trace cut short by head): the tasks run to their end,
// whatever could not be written fails the run, and no temporary file is left behind.
TEST(HostileCli, MessagesIntoAClosedPipeFailTheRunButLeaveNoTemporary) {
  SimProcess site({}, SimProcess::Site{"127.0.0.2-127.0.0.4"});
  TempFolder folder;
  const std::string script =
      "\"$1\"" +
      Quoted({"-d", "127.0.0.2-127.0.0.4", "-p", std::to_string(site.port()), "-i",
              SimProcess::kToolAddress, "--trace", "read-config", "cfg-{device}.bin"}) +
      " 2>&1 | head -2 > /dev/null; echo status ${PIPESTATUS[0]}";
  const CommandResult result = Shell(script, folder.path());
  EXPECT_EQ(result.out, "status 1\n") << result.err;
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"cfg-127.0.0.2.bin", "cfg-127.0.0.3.bin",
                                                      "cfg-127.0.0.4.bin"}));
  for (const std::string& name : folder.Names()) {
    EXPECT_EQ(fs::file_size(folder.path() / name), kConfigSize) << name;
  }
}

// The tool's own address is no device: a request sent there comes back as its own "answer". Left
// out of a list with one line on stderr; given alone, bad usage.
TEST(HostileCli, AddressesOfThisComputerAreNoDevices) {
  TempFolder folder;
  WriteBytes(folder.path() / "Settings.ini",
             Bytes{'1', '2', '7', '.', '0', '.', '0', '.', '1', ':', '4', '0', '0', '0', '0'});
  const std::vector<std::vector<std::string>> alone = {
      {"-d", "127.0.0.1", "-i", "127.0.0.1", "-p", "40000", "version"},
      {"-d", "127.0.0.1", "-p", "40000", "version"},  // bound to every interface
      {"-i", "127.0.0.1", "version"},                 // from Settings.ini
      {"-i", "127.0.0.1", "-p", "40000", "scan", "127.0.0.1"},
  };
  for (const auto& args : alone) {
    SCOPED_TRACE(Quoted(args));
    const CommandResult result = Ctl(args, folder.path(), seconds(10));
    EXPECT_EQ(result.exitCode, 2) << result.out;
    EXPECT_TRUE(Contains(result.err, "127.0.0.1")) << result.err;
    EXPECT_TRUE(Contains(result.err, "this computer")) << result.err;
    EXPECT_EQ(result.out, "");
  }

  // A network that holds the tool's address: the other five devices are served.
  SimProcess site({}, SimProcess::Site{"127.0.0.2-127.0.0.6"});
  const CommandResult result =
      Ctl({"-d", "127.0.0.0/29", "-i", "127.0.0.1", "-p", std::to_string(site.port()), "version"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  // One message, and then each device's line as it ends.
  const std::vector<std::string> errors = Lines(result.err);
  ASSERT_EQ(errors.size(), 6u) << result.err;
  EXPECT_TRUE(Contains(errors[0], "127.0.0.1")) << result.err;
  EXPECT_TRUE(Contains(errors[0], "this computer")) << result.err;
  EXPECT_EQ(Count(result.err, " ok "), 5u) << result.err;
  EXPECT_EQ(Lines(result.out).size(), 6u) << result.out;
  EXPECT_FALSE(Contains(result.out, "127.0.0.1:")) << result.out;
  EXPECT_EQ(Count(result.out, " ok "), 5u) << result.out;
}

// A request that cannot be sent at all (from the loopback interface to another network) is told
// once per device, and the results table keeps one line per device.
TEST(HostileCli, ASendThatFailsIsToldOncePerDevice) {
  SimProcess sim;  // for a free port
  const CommandResult result =
      Ctl({"-d", "10.255.255.1,10.255.255.2", "-i", SimProcess::kToolAddress, "-p",
           std::to_string(sim.port()), "version"});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  const char kSendFailed[] = "Ошибка отправки пакета.";
  for (const char* device : {"10.255.255.1:", "10.255.255.2:"}) {
    EXPECT_EQ(
        Count(result.err, std::string(device) + std::to_string(sim.port()) + ": " + kSendFailed),
        1u)
        << result.err;
  }
  const std::vector<std::string> table = Lines(result.out);
  ASSERT_EQ(table.size(), 3u) << result.out;
  for (std::size_t row = 1; row < table.size(); ++row) {
    EXPECT_EQ(Count(table[row], kSendFailed), 1u) << table[row];
  }
}

// The same device with and without its port (the port of -p) is one device; the same address with
// two ports is still refused.
TEST(HostileCli, OneDeviceWrittenTwoWaysIsOneDevice) {
  SimProcess sim;
  TempFolder folder;
  const std::string port = std::to_string(sim.port());
  const std::string other = std::to_string(sim.port() + 1);
  struct Case {
    std::string file;
    std::vector<std::string> args;
    int exitCode;
  };
  const Case cases[] = {
      {"127.0.0.2\n127.0.0.2:" + port + "\n", {}, 0},
      {"127.0.0.2:" + port + "\n", {"-d", "127.0.0.2"}, 0},
      {"127.0.0.2:" + port + "\n127.0.0.2\n", {"-d", "127.0.0.2"}, 0},
      {"127.0.0.2\n127.0.0.2:" + other + "\n", {}, 2},
      {"127.0.0.2:" + other + "\n", {"-d", "127.0.0.2"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + Quoted(c.args));
    WriteBytes(folder.path() / "devices.txt", Bytes(c.file.begin(), c.file.end()));
    std::vector<std::string> args = {"--devices", "devices.txt", "-p",
                                     port,        "-i",          SimProcess::kToolAddress};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("version");
    const CommandResult result = Ctl(args, folder.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(result.out, "1.11 (kind 0)\n");  // one device: no table
    } else {
      EXPECT_TRUE(Contains(result.err, "127.0.0.2")) << result.err;
      EXPECT_TRUE(Contains(result.err, other)) << result.err;
    }
  }
}

// A devices file that cannot be read says why.
TEST(HostileCli, DevicesFileThatCannotBeReadSaysWhy) {
  TempFolder folder;
  const fs::path dir = folder.path();
  fs::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
  std::ofstream(dir / "huge").close();
  fs::resize_file(dir / "huge", (std::uintmax_t{4} << 20) + 1);  // sparse: 4 MiB and a byte
  struct Case {
    const char* file;
    const char* why;
  };
  for (const Case& c :
       {Case{"missing.txt", "no such file"}, Case{"folder", "not a plain file"},
        // A FIFO is read as a stream; without a writer it is empty at once, never waited on.
        Case{"pipe", "no device listed"}, Case{"huge", "larger than 4194304 bytes"}}) {
    SCOPED_TRACE(c.file);
    const CommandResult result =
        Ctl({"--devices", c.file, "-p", "40000", "-i", "127.0.0.1", "version"}, dir, seconds(10));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(Contains(result.err, std::string(c.file) + ": " + c.why)) << result.err;
    EXPECT_LT(result.elapsed, seconds(5));
  }
}

// Control bytes from arguments and files are shown escaped on the terminal, in usage errors, boxes
// and the results table alike, never as they are.
TEST(HostileCli, ControlBytesReachTheTerminalEscaped) {
  SimProcess site({}, SimProcess::Site{"127.0.0.2-127.0.0.3"});
  TempFolder folder;
  WriteBytes(folder.path() / "devices.txt", Bytes{0x1B, ']', '0', ';', 'x', 0x07, '\n'});
  const std::string port = std::to_string(site.port());
  struct Case {
    std::string script;
    int exitCode;
    std::string shown;
  };
  const Case cases[] = {
      {"\"$1\" -d $'\\x1b[2J127.0.0.2' version", 2, "\\x1b[2J127.0.0.2"},
      {"\"$1\" --devices devices.txt -p 1 version", 2,
       "line 1: not an IPv4 address: \\x1b]0;x\\x07"},
      // Files that cannot be written whole (a limit of 1 KiB on the files the tool writes): both
      // boxes, on stderr and in the table, name the file.
      {"trap '' XFSZ; ulimit -f 1; \"$1\" -d 127.0.0.2-127.0.0.3 -i 127.0.0.1 -p " + port +
           " read-config $'\\x1b[2J\\x01{device}.bin'",
       1, "\\x1b[2J\\x01127.0.0.3.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const CommandResult result = Shell(c.script, folder.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_TRUE(Contains(result.err, c.shown)) << result.err;
    if (c.exitCode == 1) {
      EXPECT_TRUE(Contains(result.out, c.shown)) << result.out;
      EXPECT_EQ(Lines(result.out).size(), 3u) << result.out;
    }
    for (const std::string* stream : {&result.out, &result.err}) {
      EXPECT_EQ(
          std::count_if(stream->begin(), stream->end(),
                        [](char b) { return (b >= 0 && b < 0x20 && b != '\n') || b == 0x7F; }),
          0)
          << *stream;
    }
  }
}

TEST(HostileCli, DoubleDashEndsTheOptions) {
  SimProcess sim;
  TempFolder folder;
  const CommandResult result = Ctl(Connect(sim, {"read-config", "--", "-d"}), folder.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(fs::file_size(folder.path() / "-d"), kConfigSize);
  EXPECT_EQ(Ctl(Connect(sim, {"--", "version", "-p"}), folder.path()).exitCode, 2);
}

}  // namespace
}  // namespace orvel::test
