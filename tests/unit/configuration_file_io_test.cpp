// The file helpers behind the configuration files: whole-file reads and the atomic replace that
// keeps a file's earlier content on every failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/utf8.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using orvel::test::Bytes;
using orvel::test::PatternBytes;
using orvel::test::ReadBytes;
using orvel::test::TempFolder;
using orvel::test::WriteBytes;

std::wstring Wide(const fs::path& path) { return path.wstring(); }

TEST(ConfigurationFileIo, AtomicWriteCreatesAndReplacesWithoutLeftovers) {
  TempFolder folder;
  const fs::path target = folder.path() / "config.bin";
  const Bytes first = PatternBytes(44916, 3);
  ASSERT_EQ(orvel::WriteFileAtomically(Wide(target), first.data(), first.size()),
            orvel::WriteStatus::Ok);
  EXPECT_EQ(ReadBytes(target), first);

  const Bytes second(44660, 0x5A);
  ASSERT_EQ(orvel::WriteFileAtomically(Wide(target), second.data(), second.size()),
            orvel::WriteStatus::Ok);
  EXPECT_EQ(ReadBytes(target), second);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
}

TEST(ConfigurationFileIo, AtomicWriteFailuresKeepTheTarget) {
  TempFolder folder;
  const Bytes data = PatternBytes(1000, 3);

  // No folder to write into.
  const fs::path missing = folder.path() / "no-such-folder" / "config.bin";
  EXPECT_EQ(orvel::WriteFileAtomically(Wide(missing), data.data(), data.size()),
            orvel::WriteStatus::CannotCreate);
  EXPECT_FALSE(orvel::OutputFile(Wide(missing)).IsOpen());

  // A folder in the target's place cannot be replaced by a file.
  const fs::path taken = folder.path() / "taken.bin";
  fs::create_directory(taken);
  WriteBytes(taken / "inside", {1, 2, 3});
  EXPECT_FALSE(orvel::OutputFile(Wide(taken)).IsOpen());
  EXPECT_EQ(orvel::WriteFileAtomically(Wide(taken), data.data(), data.size()),
            orvel::WriteStatus::CannotCreate);
  EXPECT_TRUE(fs::is_directory(taken));
  EXPECT_EQ(ReadBytes(taken / "inside"), (Bytes{1, 2, 3}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.bin"});
}

TEST(ConfigurationFileIo, OutputNeverCommittedChangesNothing) {
  TempFolder folder;
  const fs::path fresh = folder.path() / "fresh.bin";
  EXPECT_TRUE(orvel::OutputFile(Wide(fresh)).IsOpen());
  EXPECT_FALSE(fs::exists(fresh));

  const fs::path existing = folder.path() / "existing.bin";
  WriteBytes(existing, {9, 8, 7});
  {
    orvel::OutputFile output(Wide(existing));
    EXPECT_TRUE(output.IsOpen());
    EXPECT_EQ(folder.Names().size(), 2u);  // the temporary file beside it, while it is open
  }
  EXPECT_EQ(ReadBytes(existing), (Bytes{9, 8, 7}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"existing.bin"});
}

#ifndef _WIN32
// A file-size limit makes the disk refuse the data half-way, as a full disk would.
TEST(ConfigurationFileIo, ShortWriteIsAFailureAndKeepsTheTarget) {
  TempFolder folder;
  const fs::path target = folder.path() / "config.bin";
  WriteBytes(target, {1, 2, 3, 4});
  const Bytes data = PatternBytes(44916, 3);
  {
    orvel::test::FileSizeLimit limit(4096);
    EXPECT_EQ(orvel::WriteFileAtomically(Wide(target), data.data(), data.size()),
              orvel::WriteStatus::WriteFailed);
  }
  EXPECT_EQ(ReadBytes(target), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"config.bin"});
}
#endif

TEST(ConfigurationFileIo, ReadWholeFile) {
  TempFolder folder;
  // A name outside ASCII reaches the file system as UTF-8.
  const fs::path named = folder.path() / u8"конфигурация.bin";
  const Bytes data = PatternBytes(44660, 3);
  WriteBytes(named, data);
  Bytes out{0xEE};
  ASSERT_EQ(orvel::ReadWholeFile(Wide(folder.path()) + L"/конфигурация.bin", out),
            orvel::ReadStatus::Ok);
  EXPECT_EQ(out, data);

  const fs::path empty = folder.path() / "empty.bin";
  WriteBytes(empty, {});
  ASSERT_EQ(orvel::ReadWholeFile(Wide(empty), out), orvel::ReadStatus::Ok);
  EXPECT_TRUE(out.empty());

  // Why a file cannot be read, so that the message can say it.
  EXPECT_EQ(orvel::ReadWholeFile(Wide(folder.path() / "missing.bin"), out),
            orvel::ReadStatus::Missing);
  EXPECT_EQ(orvel::ReadWholeFile(Wide(folder.path() / "missing" / "a.bin"), out),
            orvel::ReadStatus::Missing);
  EXPECT_EQ(orvel::ReadWholeFile(Wide(folder.path()), out), orvel::ReadStatus::NotAFile);

  // Measured before it is read: a file longer than the caller takes is refused, nothing read.
  out = {0xEE};
  const std::wstring path = Wide(folder.path()) + L"/конфигурация.bin";
  EXPECT_EQ(orvel::ReadWholeFile(path, out, 44659), orvel::ReadStatus::TooLarge);
  EXPECT_EQ(out, Bytes{0xEE});
  EXPECT_EQ(orvel::ReadWholeFile(path, out, 44660), orvel::ReadStatus::Ok);
}

#ifndef _WIN32
// The path's bytes reach the file system as they came, UTF-8 or not.
TEST(ConfigurationFileIo, PathsAreTheBytesGiven) {
  TempFolder folder;
  const std::string name = "cfg\xff\xc3(.bin";
  const std::wstring path = orvel::PathFromBytes(folder.path().string() + "/" + name);
  const Bytes data = PatternBytes(100, 1);
  ASSERT_EQ(orvel::WriteFileAtomically(path, data.data(), data.size()), orvel::WriteStatus::Ok);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  Bytes back;
  EXPECT_EQ(orvel::ReadWholeFile(path, back), orvel::ReadStatus::Ok);
  EXPECT_EQ(back, data);
}
#endif

}  // namespace
