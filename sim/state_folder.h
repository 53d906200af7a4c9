#pragma once
// The folder in which orvel-sim leaves what it holds, for the tests to read:
//   config.bin        the whole configuration area
//   program.bin       the program area (0x3C000 bytes)
//   checksum.bin      the 4 bytes of the checksum word
//   parts/part-N.bin  the blocks of update part N, joined in index order
//   parts/part-N.desc the 20 descriptor bytes of part N
//   requests.log      one line per request received (see RequestLog)
// With several devices each has a folder of its own, DIR/A.B.C.D/. The folder given on the command
// line gets "ready" (the bound port), written once, last, after every device's first save.
// Every file is replaced whole (temporary file, then rename), so a reader never sees half of one.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace orvel::sim {

// Lines "<sequence> <command hex> <address hex> <length> <yes|no> [notes]", for example
// "12 01 00180000 256 yes" or "13 06 00000002 254 no bad-sum". Sequence counts from 1; notes are
// comma-separated: malformed, stray, bad-sum, no-part, no-version, unknown-command, silent,
// restarting, dropped, duplicate, late, wrong-echo, wrong-port, stranger, short, delayed, jitter,
// slow, copied, lost (the request never reached the device), corrupted (a write that stored a
// wrong byte), and data=XX (the data byte of a ProgramStart request).
class RequestLog {
 public:
  void Add(std::uint64_t sequence, const Reply& reply, bool answered, const std::string& notes);
  std::string Text() const;

 private:
  std::vector<std::string> m_lines;
};

class StateFolder {
 public:
  // Creates the folder and its parts/ subfolder; throws std::filesystem::filesystem_error.
  explicit StateFolder(std::filesystem::path dir);

  // Throws std::runtime_error when a file cannot be written.
  void Save(const DeviceModel& device, const RequestLog& log) const;

 private:
  std::filesystem::path m_dir;
};

// Writes dir/ready; throws std::runtime_error when it cannot.
void MarkReady(const std::filesystem::path& dir, std::uint16_t port);

}  // namespace orvel::sim
