#pragma once
// A child process held by scope, for the benchmark's own orvel-sim: started with arguments,
// asked to stop (SIGTERM; on Windows it is terminated) and waited for when it goes.

#include <string>
#include <vector>

namespace orvel::bench {

class ChildProcess {
 public:
  // Throws std::runtime_error when the program cannot be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running();
  // Asks the process to end and waits for it; true when it ended cleanly (exit status 0).
  bool Stop();

 private:
#ifdef _WIN32
  void* m_process = nullptr;
#else
  int m_pid = -1;
#endif
  bool m_stopped = false;
  bool m_clean = false;
};

}  // namespace orvel::bench
