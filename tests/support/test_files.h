#pragma once
// Small file helpers for tests: a scratch folder removed at the end, whole-file reads and writes,
// deterministic filler bytes and a scoped current directory.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace orvel::test {

using Bytes = std::vector<std::uint8_t>;

// Deterministic filler bytes: (seed + i * 7 + i / 251) mod 256. Different seeds give contents
// that differ at every position.
Bytes PatternBytes(std::size_t size, std::uint8_t seed);

// Both throw std::runtime_error when the file cannot be opened or written.
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadBytes(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  // The wide path of an entry in the folder, as the tool's file choices carry it.
  std::wstring File(const std::filesystem::path& name) const { return (m_path / name).wstring(); }
  // The names in the folder, sorted, to see that nothing was left behind.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path m_path;
};

// Makes a folder the process's current directory for its lifetime (the update keeps its backup
// under the current directory).
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& folder);
  ~CurrentDirectory();
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::filesystem::path m_previous;
};

#ifndef _WIN32
// Limits the size of files this process writes for its lifetime, so that the disk refuses data
// half-way as a full disk would; SIGXFSZ is ignored meanwhile so the write fails instead.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_saved{};
  void (*m_savedHandler)(int) = nullptr;
};
#endif

}  // namespace orvel::test
