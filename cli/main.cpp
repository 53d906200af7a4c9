// orvelctl: the command-line front end over the same core as the dialog.
//   orvelctl [options] <command> [file]
// Exit status: 0 success, 1 the task failed (its boxes are on stderr), 2 bad usage.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli/commands.h"
#include "common/text.h"
#include "platform/clock.h"

namespace {

constexpr const char* kToolVersion = "1.0.0";
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: orvelctl [options] <command> [file]\n"
    "commands:\n"
    "  version                 print the device version: <major>.<minor> (kind <k>)\n"
    "  read-config <out.bin>   read the configuration into a file\n"
    "  write-config <in.bin>   write a configuration file, then ask for a restart\n"
    "  write-program <in.hex>  write a program image\n"
    "  update <in.update>      run the whole device update\n"
    "  restart                 ask the device to restart\n"
    "options:\n"
    "  -d, --device A.B.C.D    device address (default: from Settings.ini)\n"
    "  -p, --port N            device service port (default: from Settings.ini)\n"
    "  -i, --interface A.B.C.D local interface to bind (default: any)\n"
    "  --retries N             how often the update may retry a failed part without asking\n"
    "  --restart-wait S        seconds to wait for the device after its restart (default 29)\n"
    "  -h, --help              this text\n"
    "  --version               the version of orvelctl\n";

struct Command {
  const char* name;
  bool takesFile;
  int (*run)(orvel::cli::CliContext&);
};

constexpr Command kCommands[] = {
    {"version", false, orvel::cli::CmdVersion},
    {"read-config", true, orvel::cli::CmdReadConfig},
    {"write-config", true, orvel::cli::CmdWriteConfig},
    {"write-program", true, orvel::cli::CmdWriteProgram},
    {"update", true, orvel::cli::CmdUpdate},
    {"restart", false, orvel::cli::CmdRestart},
};

struct Arguments {
  std::optional<std::uint32_t> device;
  std::optional<std::uint16_t> port;
  std::uint32_t interfaceAddress = 0;
  std::optional<unsigned> retries;
  unsigned restartWait = 29;
  const Command* command = nullptr;
  std::optional<std::string> file;
  bool help = false;
  bool version = false;
};

// Strict A.B.C.D with every field 0..255; host order, first field in the most significant byte.
std::optional<std::uint32_t> ParseAddress(std::string_view text) {
  std::uint32_t address = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    address = (address << 8) | value;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return address;
}

std::optional<unsigned long> ParseNumber(std::string_view text, unsigned long max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// "Settings.ini" of the current directory, read as the dialog reads it: one record
// "%hu.%hu.%hu.%hu:%hu", each address field taken modulo 256. The address counts only when all
// four fields were read, the port only when it was read too.
void ReadSettings(std::optional<std::uint32_t>& device, std::optional<std::uint16_t>& port) {
  std::FILE* file = std::fopen("Settings.ini", "rb");
  if (!file) return;
  char text[128] = {};
  const std::size_t size = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[size] = '\0';
  unsigned short a = 0, b = 0, c = 0, d = 0, p = 0;
  const int fields = std::sscanf(text, "%hu.%hu.%hu.%hu:%hu", &a, &b, &c, &d, &p);
  if (fields >= 4 && !device) {
    device = (std::uint32_t{a} % 256) << 24 | (std::uint32_t{b} % 256) << 16 |
             (std::uint32_t{c} % 256) << 8 | (std::uint32_t{d} % 256);
  }
  if (fields == 5 && !port && p != 0) port = p;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvelctl: %s\nTry 'orvelctl --help'.\n", message.c_str());
  return kUsageError;
}

// Fills arguments; returns 0, or the exit status of a usage error (already reported).
int ParseArguments(const std::vector<std::string>& args, Arguments& out) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.starts_with("--") && name.find('=') != std::string::npos) {
      inlineValue = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };

    if (name == "-h" || name == "--help") {
      out.help = true;
    } else if (name == "--version") {
      out.version = true;
    } else if (name == "-d" || name == "--device" || name == "-i" || name == "--interface") {
      const auto text = value();
      if (!text) return UsageError(name + " needs an address");
      const auto address = ParseAddress(*text);
      if (!address) return UsageError("not an IPv4 address: " + *text);
      if (name == "-d" || name == "--device") {
        out.device = *address;
      } else {
        out.interfaceAddress = *address;
      }
    } else if (name == "-p" || name == "--port") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a port");
      const auto port = ParseNumber(*text, 65535);
      if (!port || *port == 0) return UsageError("not a port (1..65535): " + *text);
      out.port = static_cast<std::uint16_t>(*port);
    } else if (name == "--retries" || name == "--restart-wait") {
      const auto text = value();
      if (!text) return UsageError(name + " needs a number");
      const auto number = ParseNumber(*text, name == "--retries" ? 1000000 : 3600);
      if (!number) return UsageError("bad value for " + name + ": " + *text);
      if (name == "--retries") {
        out.retries = static_cast<unsigned>(*number);
      } else {
        out.restartWait = static_cast<unsigned>(*number);
      }
    } else if (name.size() > 1 && name[0] == '-') {
      return UsageError("unknown option " + name);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (out.help || out.version) return 0;

  if (positional.empty()) return UsageError("no command given");
  for (const Command& command : kCommands) {
    if (positional[0] == command.name) out.command = &command;
  }
  if (!out.command) return UsageError("unknown command " + positional[0]);
  const std::size_t expected = out.command->takesFile ? 2 : 1;
  if (positional.size() < expected)
    return UsageError(std::string(out.command->name) + " needs a file");
  if (positional.size() > expected)
    return UsageError("unexpected argument " + positional[expected]);
  if (out.command->takesFile) out.file = positional[1];

  ReadSettings(out.device, out.port);
  if (!out.device) return UsageError("no device address: give -d or put it in Settings.ini");
  if (!out.port) return UsageError("no device port: give -p or put it in Settings.ini");
  return 0;
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

// A path from the command line as the wide string that the tasks open.
std::wstring WidePath(const std::string& path) {
#ifdef _WIN32
  const int size =
      ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), size);
  return wide;
#else
  return orvel::FromUtf8(path);
#endif
}

int Run(const Arguments& arguments) {
  orvel::ConsoleDesktop::Options options;
  options.errIsTerminal = IsTerminal(stderr);
  options.inIsTerminal = IsTerminal(stdin);
  options.retries = arguments.retries;
  orvel::ConsoleDesktop desktop(options);
  orvel::SteadyClock clock;
  CDeviceSession session(desktop, clock);

  // What the dialog's PrepareConnection does before every task.
  session.m_timeLimit = 40;
  session.m_deviceAddress = *arguments.device;
  session.m_port = *arguments.port;
  session.m_localAddress = arguments.interfaceAddress;
  session.m_restartWaitSteps = arguments.restartWait;
  session.BeginTask();

  orvel::cli::CliContext context{session, desktop, std::nullopt};
  if (arguments.file) context.file = WidePath(*arguments.file);
  try {
    return arguments.command->run(context);
  } catch (const CMBoxExeption& box) {
    session.ShowBox(box);
  } catch (const std::exception&) {
    session.ShowBox(CMBoxExeption(L"Ошибка потока:0x000A", L"Ошибка.", mbox::kIconError));
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  Arguments arguments;
  if (const int status = ParseArguments(args, arguments); status != 0) return status;
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arguments.version) {
    std::printf("orvelctl %s\n", kToolVersion);
    return 0;
  }
  return Run(arguments);
}
