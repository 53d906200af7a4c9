#pragma once
// A running orvel-sim for an integration test, held by scope.
//
//   orvel::test::SimProcess sim({"--version-number", "111", "--drop", "0.02"});
//   // the device listens on SimProcess::kAddress (127.0.0.2), port sim.port();
//   // the tool side binds 127.0.0.1 with the same port
//   ...
//   sim.Stop();                                  // the state is written on a clean shutdown
//   auto config = sim.ReadState("config.bin");   // bytes of a file in the state folder
//
// The constructor picks a free port (a quick bind on both loopback addresses), starts the sim with
// --address 127.0.0.2 --port P --state <fresh temporary folder> plus the extra arguments, and waits
// (at most 5 s) for its "ready" file; a port taken in the meantime is retried with another. It
// throws std::runtime_error when the sim cannot be started.
//
// The sim writes its state folder at start, after every Restart request and when it is stopped;
// ReadState before Stop() sees the last of these. The files: config.bin, program.bin,
// checksum.bin, parts/part-N.bin, parts/part-N.desc, requests.log (one line per request:
// "<seq> <command hex> <address hex> <length> <yes|no> [notes]"; the note "stray" marks a write
// outside every known area, "data=XX" the data byte of ProgramStart; the full list of notes is in
// sim/state_folder.h), ready.
//
// SimProcess({...}, SimProcess::Site{"127.0.0.2-127.0.0.5"}) starts one sim with a device on every
// address of the list (orvel-sim's --address forms), all on one free port; device A.B.C.D keeps its
// state in stateDir("A.B.C.D").
//
// The destructor stops the sim (SIGTERM, then SIGKILL after 5 s) and removes the folder.
// POSIX only. The sim's path is the compile definition ORVEL_SIM_PATH of the test target.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

#ifdef ORVEL_SIM_PATH
#define ORVEL_TEST_SIM_PATH ORVEL_SIM_PATH
#else
#define ORVEL_TEST_SIM_PATH ""
#endif

namespace orvel::test {

class SimProcess {
 public:
  static constexpr const char* kAddress = "127.0.0.2";
  static constexpr std::uint32_t kDeviceAddress =
      0x7F000002;  // host order, as the session holds it
  static constexpr const char* kToolAddress = "127.0.0.1";
  static constexpr std::uint32_t kToolAddressValue = 0x7F000001;

  explicit SimProcess(std::vector<std::string> extraArgs = {},
                      const std::string& simPath = ORVEL_TEST_SIM_PATH);
  struct Site {
    std::string addresses;
  };
  SimProcess(std::vector<std::string> extraArgs, const Site& site,
             const std::string& simPath = ORVEL_TEST_SIM_PATH);
  // A site on a given port: devices beside those of another SimProcess on the same port, with
  // faults of their own.
  SimProcess(std::vector<std::string> extraArgs, const Site& site, std::uint16_t port,
             const std::string& simPath = ORVEL_TEST_SIM_PATH);
  // On a given port, as the same device again after an earlier SimProcess on it has stopped.
  SimProcess(std::vector<std::string> extraArgs, std::uint16_t port,
             const std::string& simPath = ORVEL_TEST_SIM_PATH);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  std::uint16_t port() const { return m_port; }
  const std::filesystem::path& stateDir() const { return m_stateDir; }
  // The folder of one device of a site.
  std::filesystem::path stateDir(const std::string& address) const { return m_stateDir / address; }
  bool running() const { return m_pid > 0; }

  // The bytes of a file of the state folder (a path relative to it); throws std::runtime_error
  // when it is missing.
  std::vector<std::uint8_t> ReadState(const std::string& name) const;
  std::string ReadStateText(const std::string& name) const;
  // The lines of requests.log.
  std::vector<std::string> RequestLog() const;

  // SIGTERM and wait (5 s at most, then SIGKILL). Returns the exit status, or -signal when the sim
  // was killed; repeated calls return the first result.
  int Stop();

 private:
  SimProcess(std::vector<std::string> extraArgs, std::uint16_t port, const std::string& simPath,
             const std::string& addresses);
  void StartOnFreePort(const std::string& simPath, const std::vector<std::string>& extraArgs);
  bool TryStart(const std::string& simPath, const std::vector<std::string>& extraArgs,
                std::uint16_t port);

  std::string m_addresses = kAddress;  // orvel-sim's --address
  pid_t m_pid = -1;
  int m_exitStatus = 0;
  std::uint16_t m_port = 0;
  TempFolder m_root;                 // removed with everything in it after the sim has stopped
  std::filesystem::path m_stateDir;  // m_root / "state"
};

// True when nothing is bound to (address, port) for UDP right now.
bool UdpPortFree(const char* address, std::uint16_t port);

}  // namespace orvel::test
