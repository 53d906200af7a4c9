#pragma once
// Files on wide paths: opened with the wide calls on Windows and through the path's bytes elsewhere
// (see PathToBytes). A plain file that replaces another is written beside it first and put in place
// only when it is complete, so the earlier content survives every failure. The path "-" stands for
// the standard streams: standard input where a file is read, standard output where one is written.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvel {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// fopen on a wide path; null when the file cannot be opened.
FileHandle OpenFile(const std::wstring& path, const wchar_t* mode);

inline constexpr wchar_t kStandardStream[] = L"-";
inline constexpr std::uint64_t kAnySize = std::numeric_limits<std::uint64_t>::max();

enum class ReadStatus {
  Ok,
  Missing,     // nothing of that name (or a folder on its way is missing)
  NotAFile,    // a folder, a FIFO, a device: neither a plain file nor "-"
  CannotOpen,  // there, but it may not be read
  ShortRead,   // opened, but fewer bytes came than the file's size
  TooLarge,    // longer than the caller takes; nothing was read
};
// Replaces out with the whole file. Its size is measured before anything is allocated or read, so a
// file longer than maxSize costs nothing; "-" reads standard input up to its end, and at most
// maxSize bytes of it. A FIFO, a device or a folder is refused without being opened for reading.
ReadStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out,
                         std::uint64_t maxSize = kAnySize);
// As ReadWholeFile, but a pipe, a FIFO or a character device is read to its end as a stream (at
// most maxSize bytes), without being measured first: a list that comes from another program
// through process substitution (/dev/fd/N). A FIFO without a writer reads as empty, without
// waiting. A folder is refused.
ReadStatus ReadWholeFileOrStream(const std::wstring& path, std::vector<std::uint8_t>& out,
                                 std::uint64_t maxSize = kAnySize);
// The system's words for why the file cannot be opened now, for reading or for writing ("No such
// file or directory", "Permission denied", "Is a directory"); empty when it can be.
std::string OpenFailureReason(const std::wstring& path, bool forWriting);
// True for the three ways a file cannot be opened at all.
constexpr bool CannotBeOpened(ReadStatus status) {
  return status == ReadStatus::Missing || status == ReadStatus::NotAFile ||
         status == ReadStatus::CannotOpen;
}
// Why a read failed, in words for a message after the file's name: "no such file", "not a plain
// file", "cannot be opened", "could not be read whole", "larger than <maxSize> bytes".
std::string ReadFailureText(ReadStatus status, std::uint64_t maxSize);

enum class WriteStatus {
  Ok,
  CannotCreate,  // the output could not be opened (nothing was changed)
  WriteFailed,   // the data did not reach the disk in full, or the file could not be put in place
};

// Where a task's output goes, opened before the task's work so that a path that cannot be written
// is refused before anything else happens, and written once the data is complete:
// - a plain file, new or existing: a temporary file with a short random name in the folder of the
//   file (symbolic links are followed to their end first), renamed over it by Commit. Until then
//   the earlier file is untouched, and the temporary file is removed on every way out, including
//   SIGINT and SIGTERM in a program that calls RemovePendingTemporaryFile from its handler;
// - "-" (standard output) and anything that is no plain file (a character device, a FIFO, a
//   socket): written straight through by Commit, as a stream.
class OutputFile {
 public:
  explicit OutputFile(const std::wstring& target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  // Writes all of data; once only.
  WriteStatus Commit(const std::uint8_t* data, std::size_t size);

 private:
  void Discard();

  int m_fd = -1;
  bool m_ownsFd = true;  // false for standard output
  bool m_viaTemporary = false;
  int m_pendingSlot = -1;  // where a signal finds the temporary file to remove, if anywhere
#ifdef _WIN32
  std::wstring m_temporary;
  std::wstring m_target;
#else
  std::string m_temporary;
  std::string m_target;
#endif
};

// Writes data to target through an OutputFile.
WriteStatus WriteFileAtomically(const std::wstring& target, const std::uint8_t* data,
                                std::size_t size);

// Removes the temporary files of the OutputFiles that are still pending, if any. Only
// async-signal-safe calls: meant for the handlers of the signals that stop a program.
void RemovePendingTemporaryFile() noexcept;

// The character that ends a folder's name in a path the system takes.
#ifdef _WIN32
inline constexpr wchar_t kFolderSeparator = L'\\';
#else
inline constexpr wchar_t kFolderSeparator = L'/';
#endif

// Creates a folder: 0 when it was created or was there already, else the system's error code.
unsigned long CreateFolder(const std::wstring& path);
// Creates a folder and every folder on its way that is missing: 0 when they are all there
// afterwards, else the system's error code of the first that could not be created.
unsigned long CreateFolders(const std::wstring& path);
// The file's modification time; nothing when there is no file.
std::optional<std::time_t> ModifiedAt(const std::wstring& path);
// Removes a file, if there is one.
void RemoveFile(const std::wstring& path);

}  // namespace orvel
