#include "bench/child_process.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace orvel::bench {

#ifdef _WIN32

namespace {
// Quotes one argument for CreateProcess's command line.
std::string Quote(const std::string& arg) {
  std::string quoted = "\"";
  for (char c : arg) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}
}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  std::string commandLine = Quote(program);
  for (const auto& arg : args) commandLine += " " + Quote(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
    throw std::runtime_error("cannot start " + program);
  ::CloseHandle(info.hThread);
  m_process = info.hProcess;
}

ChildProcess::~ChildProcess() {
  Stop();
  if (m_process) ::CloseHandle(m_process);
}

bool ChildProcess::Running() {
  return !m_stopped && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::Stop() {
  if (m_stopped) return m_clean;
  m_stopped = true;
  // No console signal can reach a single child here: it is ended outright.
  ::TerminateProcess(m_process, 0);
  ::WaitForSingleObject(m_process, 5000);
  m_clean = false;
  return m_clean;
}

#else

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  m_pid = ::fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Running() {
  if (m_stopped) return false;
  int status = 0;
  if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return true;
  m_stopped = true;
  m_clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return false;
}

bool ChildProcess::Stop() {
  if (!Running()) return m_clean;
  m_stopped = true;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
      return m_clean = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m_clean;
}

#endif

}  // namespace orvel::bench
