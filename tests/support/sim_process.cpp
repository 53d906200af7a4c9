#include "support/sim_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "common/address_list.h"

namespace orvel::test {
namespace {

using Clock = std::chrono::steady_clock;

// Below the ephemeral range, so that no socket bound to port 0 takes it from under us.
constexpr std::uint16_t kFirstPort = 20000;
constexpr std::uint16_t kPortCount = 12000;
constexpr int kAttempts = 20;
constexpr auto kReadyLimit = std::chrono::seconds(5);
constexpr auto kStopLimit = std::chrono::seconds(5);

// Waits for the child to end, at most until the deadline; true with its status when it did.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& status) {
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return true;
    if (done < 0) {
      status = 0;
      return true;  // not our child any more; nothing to wait for
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int Decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

}  // namespace

bool UdpPortFree(const char* address, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &endpoint.sin_addr);
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&endpoint), sizeof endpoint) == 0;
  ::close(fd);
  return free;
}

SimProcess::SimProcess(std::vector<std::string> extraArgs, const std::string& simPath) {
  StartOnFreePort(simPath, extraArgs);
}

SimProcess::SimProcess(std::vector<std::string> extraArgs, const Site& site,
                       const std::string& simPath)
    : m_addresses(site.addresses) {
  StartOnFreePort(simPath, extraArgs);
}

void SimProcess::StartOnFreePort(const std::string& simPath,
                                 const std::vector<std::string>& extraArgs) {
  if (simPath.empty()) throw std::runtime_error("the path of orvel-sim is not known");
  m_stateDir = m_root.path() / "state";
  std::string error;
  const auto devices = ParseAddressList(m_addresses, error);
  if (!devices) throw std::runtime_error("bad device list: " + error);
  std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                      static_cast<unsigned>(Clock::now().time_since_epoch().count()));
  const auto portFree = [&devices](std::uint16_t port) {
    for (const DeviceEntry& device : *devices) {
      if (!UdpPortFree(FormatIPv4(device.address).c_str(), port)) return false;
    }
    return UdpPortFree(kToolAddress, port);
  };
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const auto port = static_cast<std::uint16_t>(kFirstPort + random() % kPortCount);
    if (portFree(port) && TryStart(simPath, extraArgs, port)) return;
  }
  throw std::runtime_error("orvel-sim did not start (" + simPath + ")");
}

SimProcess::SimProcess(std::vector<std::string> extraArgs, const Site& site, std::uint16_t port,
                       const std::string& simPath)
    : SimProcess(std::move(extraArgs), port, simPath, site.addresses) {}

SimProcess::SimProcess(std::vector<std::string> extraArgs, std::uint16_t port,
                       const std::string& simPath)
    : SimProcess(std::move(extraArgs), port, simPath, kAddress) {}

SimProcess::SimProcess(std::vector<std::string> extraArgs, std::uint16_t port,
                       const std::string& simPath, const std::string& addresses)
    : m_addresses(addresses) {
  if (simPath.empty()) throw std::runtime_error("the path of orvel-sim is not known");
  m_stateDir = m_root.path() / "state";
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (TryStart(simPath, extraArgs, port)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("orvel-sim did not start on port " + std::to_string(port));
}

bool SimProcess::TryStart(const std::string& simPath, const std::vector<std::string>& extraArgs,
                          std::uint16_t port) {
  std::error_code ignored;
  std::filesystem::remove_all(m_stateDir, ignored);
  std::vector<std::string> args = {
      simPath,   "--address",        m_addresses, "--port", std::to_string(port),
      "--state", m_stateDir.string()};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }

  const auto deadline = Clock::now() + kReadyLimit;
  const auto readyFile = m_stateDir / "ready";
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      // Usage errors are ours: no other port will mend them.
      if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        throw std::runtime_error("orvel-sim refused its arguments");
      return false;  // most likely the port was taken in the meantime
    }
    if (std::filesystem::exists(readyFile)) break;
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      WaitUntil(pid, Clock::now() + kStopLimit, status);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_pid = pid;
  m_port = port;
  return true;
}

SimProcess::~SimProcess() { Stop(); }

int SimProcess::Stop() {
  if (m_pid <= 0) return m_exitStatus;
  int status = 0;
  ::kill(m_pid, SIGTERM);
  if (!WaitUntil(m_pid, Clock::now() + kStopLimit, status)) {
    ::kill(m_pid, SIGKILL);
    WaitUntil(m_pid, Clock::now() + kStopLimit, status);
  }
  m_pid = -1;
  m_exitStatus = Decode(status);
  return m_exitStatus;
}

std::vector<std::uint8_t> SimProcess::ReadState(const std::string& name) const {
  return ReadBytes(m_stateDir / name);
}

std::string SimProcess::ReadStateText(const std::string& name) const {
  const auto bytes = ReadState(name);
  return {bytes.begin(), bytes.end()};
}

std::vector<std::string> SimProcess::RequestLog() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadStateText("requests.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace orvel::test
