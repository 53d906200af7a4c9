#include "support/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace orvel::test {
namespace {

// Closes its descriptor when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

bool MakePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.Reset(fds[0]);
  writeEnd.Reset(fds[1]);
  return true;
}

}  // namespace

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, std::chrono::milliseconds timeLimit,
                         const std::vector<std::string>& environment) {
  using Clock = std::chrono::steady_clock;
  CommandResult result;
  const auto start = Clock::now();

  // Everything the child needs is prepared before the fork: after it only async-signal-safe calls.
  std::vector<std::string> argvStrings;
  argvStrings.push_back(program);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string dir = workDir.string();
  // The inherited environment; an entry put later replaces one of the same name.
  std::vector<std::string> envStrings;
  for (char** entry = environ; *entry; ++entry) envStrings.emplace_back(*entry);
  const auto put = [&envStrings](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(envStrings,
                  [&](const std::string& old) { return old.compare(0, name.size(), name) == 0; });
    envStrings.push_back(entry);
  };
  put("XDG_STATE_HOME=" +
      (std::filesystem::absolute(workDir.empty() ? "." : workDir) / ".orvel-state").string());
  for (const std::string& entry : environment) put(entry);
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  Fd outRead, outWrite, errRead, errWrite;
  if (!MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite)) {
    result.err = "pipe: " + std::string(std::strerror(errno));
    return result;
  }

  const pid_t child = ::fork();
  if (child < 0) {
    result.err = "fork: " + std::string(std::strerror(errno));
    return result;
  }
  if (child == 0) {
    // A group of its own, so that a time-out ends whatever the program started too.
    ::setpgid(0, 0);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(outWrite.Get(), 1) < 0 ||
        ::dup2(errWrite.Get(), 2) < 0)
      ::_exit(126);
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  outWrite.Reset();
  errWrite.Reset();
  result.started = true;

  const auto deadline = start + timeLimit;
  bool outOpen = true, errOpen = true;
  char buffer[4096];
  while (outOpen || errOpen) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? outRead.Get() : -1, POLLIN, 0},
                     {errOpen ? errRead.Get() : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }

  // The pipes may close before the program ends (it can close its own stdout): wait for it, still
  // within the time limit.
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) break;
    if (Clock::now() >= deadline && !result.timedOut) {
      result.timedOut = true;
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
    }
    ::usleep(2000);
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (result.exitCode == 127 && result.out.empty() && result.err.empty()) result.started = false;
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return result;
}

}  // namespace orvel::test
