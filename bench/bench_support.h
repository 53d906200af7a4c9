#pragma once
// What the benchmark's two modes share: a desktop that prints boxes, a free port on both loopback
// addresses, the program-sized image, an orvel-sim of its own and the counts of its request log.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/child_process.h"
#include "common/desktop.h"

namespace orvel::bench {

constexpr const char* kDeviceAddress = "127.0.0.2";
constexpr const char* kToolAddress = "127.0.0.1";

// Boxes go to stderr; a box during the run means the run failed.
class BenchDesktop final : public IDesktop {
 public:
  int ShowMessage(WindowHandle, const std::wstring& text, const std::wstring& caption,
                  unsigned) override;
  std::optional<std::wstring> ChooseFile(const FileChoice&) override { return {}; }
  void SetProgressRange(WindowHandle, std::uint16_t) override {}
  void SetProgressPos(WindowHandle, std::uint16_t) override {}
  void SetStatusText(WindowHandle, const std::wstring&) override {}
  int boxes = 0;
};

// A port free on both loopback addresses; throws when none is found.
std::uint16_t PickPort(std::mt19937& random);

// size bytes of a fixed pattern.
std::vector<std::uint8_t> Image(std::size_t size);

// orvel-sim on kDeviceAddress:port with its state in a folder of its own and the given further
// options, ready to answer once constructed; the folder goes with it.
class SimDevice {
 public:
  SimDevice(const std::string& program, std::uint16_t port, std::mt19937& random,
            const std::vector<std::string>& options = {});
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // Stops the device (which then saves its state); true when it ended cleanly.
  bool Stop() { return m_process.Stop(); }
  const std::filesystem::path& State() const { return m_state; }
  // Lines of the request log (read after Stop) that hold text.
  std::size_t LogLinesWith(const std::string& text) const;
  // Whether a file of the state folder (read after Stop) holds exactly size bytes of data.
  bool StateIs(const std::string& name, const std::uint8_t* data, std::size_t size) const;

 private:
  static std::filesystem::path NewFolder(std::mt19937& random);
  std::filesystem::path m_state;
  ChildProcess m_process;
};

// orvel-bench --link: one program transfer through the session's engine against orvel-sim.
int LinkBenchMain(const std::string& simProgram, const std::vector<std::string>& args);

}  // namespace orvel::bench
