// The file helpers behind the configuration files: whole-file reads and the atomic replace that
// keeps a file's earlier content on every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/file_io.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "orvel-fileio-XXXXXX").string();
    m_path = mkdtemp(pattern.data());
  }
  ~ScratchFolder() { fs::remove_all(m_path); }
  const fs::path& Path() const { return m_path; }
  // Every name in the folder, to see that nothing was left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path m_path;
};

Bytes Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void Put(const fs::path& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
std::wstring Wide(const fs::path& path) { return path.wstring(); }

Bytes Pattern(std::size_t size) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return data;
}

TEST(ConfigurationFileIo, AtomicWriteCreatesAndReplacesWithoutLeftovers) {
  ScratchFolder folder;
  const fs::path target = folder.Path() / "config.bin";
  const Bytes first = Pattern(44916);
  ASSERT_EQ(orvel::WriteFileAtomically(Wide(target), first.data(), first.size()),
            orvel::WriteStatus::Ok);
  EXPECT_EQ(Slurp(target), first);

  const Bytes second(44660, 0x5A);
  ASSERT_EQ(orvel::WriteFileAtomically(Wide(target), second.data(), second.size()),
            orvel::WriteStatus::Ok);
  EXPECT_EQ(Slurp(target), second);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
}

TEST(ConfigurationFileIo, AtomicWriteFailuresKeepTheTarget) {
  ScratchFolder folder;
  const Bytes data = Pattern(1000);

  // No folder to write into.
  const fs::path missing = folder.Path() / "no-such-folder" / "config.bin";
  EXPECT_EQ(orvel::WriteFileAtomically(Wide(missing), data.data(), data.size()),
            orvel::WriteStatus::CannotCreate);
  EXPECT_FALSE(orvel::CanWriteBeside(Wide(missing)));

  // A folder in the target's place cannot be replaced by a file.
  const fs::path taken = folder.Path() / "taken.bin";
  fs::create_directory(taken);
  Put(taken / "inside", {1, 2, 3});
  EXPECT_FALSE(orvel::CanWriteBeside(Wide(taken)));
  EXPECT_EQ(orvel::WriteFileAtomically(Wide(taken), data.data(), data.size()),
            orvel::WriteStatus::WriteFailed);
  EXPECT_TRUE(fs::is_directory(taken));
  EXPECT_EQ(Slurp(taken / "inside"), (Bytes{1, 2, 3}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.bin"});
}

TEST(ConfigurationFileIo, ProbeChangesNothing) {
  ScratchFolder folder;
  const fs::path fresh = folder.Path() / "fresh.bin";
  EXPECT_TRUE(orvel::CanWriteBeside(Wide(fresh)));
  EXPECT_FALSE(fs::exists(fresh));

  const fs::path existing = folder.Path() / "existing.bin";
  Put(existing, {9, 8, 7});
  EXPECT_TRUE(orvel::CanWriteBeside(Wide(existing)));
  EXPECT_EQ(Slurp(existing), (Bytes{9, 8, 7}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"existing.bin"});
}

#ifndef _WIN32
// A file-size limit makes the disk refuse the data half-way, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_savedHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    signal(SIGXFSZ, m_savedHandler);
  }

 private:
  rlimit m_saved{};
  void (*m_savedHandler)(int) = nullptr;
};

TEST(ConfigurationFileIo, ShortWriteIsAFailureAndKeepsTheTarget) {
  ScratchFolder folder;
  const fs::path target = folder.Path() / "config.bin";
  Put(target, {1, 2, 3, 4});
  const Bytes data = Pattern(44916);
  {
    FileSizeLimit limit(4096);
    EXPECT_EQ(orvel::WriteFileAtomically(Wide(target), data.data(), data.size()),
              orvel::WriteStatus::WriteFailed);
  }
  EXPECT_EQ(Slurp(target), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
}
#endif

TEST(ConfigurationFileIo, ReadWholeFile) {
  ScratchFolder folder;
  // A name outside ASCII reaches the file system as UTF-8.
  const fs::path named = folder.Path() / u8"конфигурация.bin";
  const Bytes data = Pattern(44660);
  Put(named, data);
  Bytes out{0xEE};
  ASSERT_EQ(orvel::ReadWholeFile(Wide(folder.Path()) + L"/конфигурация.bin", out),
            orvel::ReadStatus::Ok);
  EXPECT_EQ(out, data);

  const fs::path empty = folder.Path() / "empty.bin";
  Put(empty, {});
  ASSERT_EQ(orvel::ReadWholeFile(Wide(empty), out), orvel::ReadStatus::Ok);
  EXPECT_TRUE(out.empty());

  EXPECT_EQ(orvel::ReadWholeFile(Wide(folder.Path() / "missing.bin"), out),
            orvel::ReadStatus::CannotOpen);
  EXPECT_EQ(orvel::ReadWholeFile(Wide(folder.Path()), out), orvel::ReadStatus::CannotOpen);
}

}  // namespace
