#include "support/interactive_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace orvel::test {
namespace {

class Fd {
 public:
  Fd() = default;
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

}  // namespace

CommandResult RunInteractive(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workDir, const InteractiveRun& run) {
  using Clock = std::chrono::steady_clock;
  CommandResult result;
  const auto start = Clock::now();

  // Everything the child needs is prepared before the fork: after it only async-signal-safe calls.
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
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
  for (const std::string& entry : run.environment) put(entry);
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string dir = workDir.string();

  Fd outRead, outWrite, errRead, errWrite;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    result.err = "pipe: " + std::string(std::strerror(errno));
    return result;
  }
  outRead.Reset(fds[0]);
  outWrite.Reset(fds[1]);
  if (run.columns > 0) {
    winsize size{};
    size.ws_col = static_cast<unsigned short>(run.columns);
    size.ws_row = static_cast<unsigned short>(run.rows);
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return result;
    errRead.Reset(master);
    errWrite.Reset(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  } else {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      result.err = "pipe: " + std::string(std::strerror(errno));
      return result;
    }
    errRead.Reset(fds[0]);
    errWrite.Reset(fds[1]);
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

  const auto deadline = start + run.timeLimit;
  std::size_t nextSignal = 0;
  std::size_t searchFrom = 0;  // a signal's text is looked for after the previous one's
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
    pollfd polled[2] = {{outOpen ? outRead.Get() : -1, POLLIN, 0},
                        {errOpen ? errRead.Get() : -1, POLLIN, 0}};
    const int ready = ::poll(polled, 2, static_cast<int>(std::min<long long>(left, 100)));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (!(polled[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(polled[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        // A pseudo-terminal whose last user is gone reads EIO: the end, as a pipe's 0.
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
    if (nextSignal < run.signals.size()) {
      const std::size_t at = result.err.find(run.signals[nextSignal].text, searchFrom);
      if (at != std::string::npos) {
        ::kill(child, run.signals[nextSignal].signal);
        searchFrom = at + run.signals[nextSignal].text.size();
        ++nextSignal;
      }
    }
  }

  // The outputs may close before the program ends (it can close its own stdout): wait for it,
  // still within the time limit.
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
