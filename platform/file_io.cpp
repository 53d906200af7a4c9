#include "platform/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <random>
#include <utility>

#include "platform/utf8.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvel {
namespace {

#ifdef _WIN32
using PathString = std::wstring;
using PathChar = wchar_t;
PathString NativePath(const std::wstring& path) { return path; }

constexpr int kStdin = 0;
constexpr int kStdout = 1;
int OpenForReading(const PathString& path) {
  return _wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
// Reads wait for data: descriptors here never skip a wait.
void WaitOnReads(int) {}
bool IsPlainFile(int fd, std::uint64_t& size) {
  struct _stati64 info {};
  if (_fstati64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}
// What stands at path: 0 nothing, 1 a plain file, 2 a folder, 3 anything else.
int KindOf(const PathString& path) {
  struct _stati64 info {};
  if (_wstati64(path.c_str(), &info) != 0) return 0;
  const int type = info.st_mode & _S_IFMT;
  return type == _S_IFREG ? 1 : type == _S_IFDIR ? 2 : 3;
}
void UseBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
int OpenForWriting(const PathString& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}
int CreateNew(const PathString& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
// Links are replaced themselves here, as the file dialogs of this platform expect.
PathString FollowLinks(const PathString& path) { return path; }
void KeepModeOf(const PathString&, int) {}
int ReadSome(int fd, std::uint8_t* data, std::size_t size) {
  return _read(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 20)));
}
int WriteSome(int fd, const std::uint8_t* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 20)));
}
bool FlushToDisk(int fd) { return _commit(fd) == 0; }
bool CloseFd(int fd) { return _close(fd) == 0; }
bool Replace(const PathString& from, const PathString& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
void Remove(const PathChar* path) { DeleteFileW(path); }
unsigned long MakeFolder(const PathString& path) {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  if (CreateDirectoryW(path.c_str(), &attributes)) return 0;
  const unsigned long error = GetLastError();
  return error == ERROR_ALREADY_EXISTS ? 0 : error;
}
std::optional<std::time_t> ModificationTime(const PathString& path) {
  struct _stat64 info {};
  if (_wstat64(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::time_t>(info.st_mtime);
}
bool IsSeparator(PathChar c) { return c == L'\\' || c == L'/'; }
PathString Widen(const std::string& ascii) { return PathString(ascii.begin(), ascii.end()); }
#else
using PathString = std::string;
using PathChar = char;
PathString NativePath(const std::wstring& path) { return PathToBytes(path); }

constexpr int kStdin = STDIN_FILENO;
constexpr int kStdout = STDOUT_FILENO;
// Without waiting: opening a FIFO for reading would wait for a writer before the type is known.
int OpenForReading(const PathString& path) {
  return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}
// Reads wait for data again on a descriptor opened without waiting.
void WaitOnReads(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}
bool IsPlainFile(int fd, std::uint64_t& size) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}
int KindOf(const PathString& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return S_ISREG(info.st_mode) ? 1 : S_ISDIR(info.st_mode) ? 2 : 3;
}
void UseBinaryMode(int) {}
int OpenForWriting(const PathString& path) {
  return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
}
int CreateNew(const PathString& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
bool IsSeparator(PathChar c) { return c == '/'; }
PathString Widen(const std::string& ascii) { return ascii; }

PathString FolderOf(const PathString& path);
PathString Join(const PathString& folder, const PathString& name);

// The path of the file at the end of a chain of symbolic links (it may not exist yet); empty when
// the chain does not end.
PathString FollowLinks(PathString path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    PathString link(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return {};
    link.resize(static_cast<std::size_t>(n));
    path = link[0] == '/' ? link : Join(FolderOf(path), link);
  }
  return {};
}
// A replaced file keeps its permissions.
void KeepModeOf(const PathString& target, int fd) {
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) fchmod(fd, info.st_mode & 07777);
}
int ReadSome(int fd, std::uint8_t* data, std::size_t size) {
  ssize_t n;
  do {
    n = read(fd, data, std::min<std::size_t>(size, 1u << 20));
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}
int WriteSome(int fd, const std::uint8_t* data, std::size_t size) {
  ssize_t n;
  do {
    n = write(fd, data, std::min<std::size_t>(size, 1u << 20));
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}
bool FlushToDisk(int fd) { return fsync(fd) == 0; }
bool CloseFd(int fd) { return close(fd) == 0; }
bool Replace(const PathString& from, const PathString& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
void Remove(const PathChar* path) { unlink(path); }
unsigned long MakeFolder(const PathString& path) {
  if (mkdir(path.c_str(), 0777) == 0) return 0;
  const int error = errno;
  return error == EEXIST ? 0 : static_cast<unsigned long>(error);
}
std::optional<std::time_t> ModificationTime(const PathString& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::time_t>(info.st_mtime);
}
#endif

PathString FolderOf(const PathString& path) {
  std::size_t slash = path.size();
  while (slash > 0 && !IsSeparator(path[slash - 1])) --slash;
  if (slash == 0) return {};
  return path.substr(0, slash);  // keeps the separator, so that the root stays the root
}

PathString Join(const PathString& folder, const PathString& name) { return folder + name; }

// Closes a descriptor it owns when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) CloseFd(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// Reads to the end of a stream, at most maxSize bytes of it.
ReadStatus ReadStream(int fd, std::vector<std::uint8_t>& out, std::uint64_t maxSize) {
  out.clear();
  std::uint8_t chunk[64 * 1024];
  for (;;) {
    const int n = ReadSome(fd, chunk, sizeof chunk);
    if (n < 0) return ReadStatus::ShortRead;
    if (n == 0) return ReadStatus::Ok;
    if (out.size() + static_cast<std::size_t>(n) > maxSize) return ReadStatus::TooLarge;
    out.insert(out.end(), chunk, chunk + n);
  }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const int n = WriteSome(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A name that fits in any folder and that no other run picks: 23 characters, 48 random bits.
PathString TemporaryName() {
  std::uint64_t bits =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  try {
    std::random_device device;
    bits ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // The clock alone still differs between runs; the exclusive create settles the rest.
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = ".orvel-";
  for (int i = 0; i < 12; ++i) name.push_back(kDigits[(bits >> (4 * i)) & 0xF]);
  return Widen(name + ".tmp");
}

// The paths of the temporary files that SIGINT or SIGTERM must not leave behind: one slot for each
// output being written, since orvelctl writes one per device when several run at once. A signal
// handler may neither allocate nor lock, so the paths wait in fixed buffers of their own (which
// cost no memory until used); an output beyond the slots is simply not removed by a signal.
#ifdef _WIN32
constexpr std::size_t kPendingPathSize = 32768;
#else
constexpr std::size_t kPendingPathSize = PATH_MAX;
#endif
constexpr std::size_t kPendingSlots = 64;
struct PendingSlot {
  PathChar path[kPendingPathSize];
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
};
PendingSlot g_pending[kPendingSlots];
static_assert(std::atomic<int>::is_always_lock_free);

// The slot now holding path, or -1.
int RegisterPending(const PathString& path) {
  if (path.size() >= kPendingPathSize) return -1;
  for (std::size_t i = 0; i < kPendingSlots; ++i) {
    int expected = 0;
    if (!g_pending[i].state.compare_exchange_strong(expected, 1)) continue;
    std::copy(path.begin(), path.end(), g_pending[i].path);
    g_pending[i].path[path.size()] = PathChar{};
    g_pending[i].state.store(2);
    return static_cast<int>(i);
  }
  return -1;
}

void ReleasePending(int& slot) {
  if (slot >= 0) g_pending[slot].state.store(0);
  slot = -1;
}

}  // namespace

FileHandle OpenFile(const std::wstring& path, const wchar_t* mode) {
#ifdef _WIN32
  return FileHandle(_wfopen(path.c_str(), mode));
#else
  return FileHandle(std::fopen(NativePath(path).c_str(), ToUtf8(mode).c_str()));
#endif
}

namespace {

// The whole of an open file: a plain file measured first, a stream (when allowed) to its end.
ReadStatus ReadOpened(const PathString& native, int fd, std::vector<std::uint8_t>& out,
                      std::uint64_t maxSize, bool streams) {
  const Descriptor file(fd);
  std::uint64_t size = 0;
  if (file.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ReadStatus::Missing;
    // Windows refuses to open a folder at all.
    return KindOf(native) > 1 ? ReadStatus::NotAFile : ReadStatus::CannotOpen;
  }
  if (!IsPlainFile(file.Get(), size)) {
    if (!streams || KindOf(native) != 3) return ReadStatus::NotAFile;
    // A pipe's writer is there already; a FIFO that no program writes to reads as empty at once
    // instead of waiting for one that may never come.
    WaitOnReads(file.Get());
    return ReadStream(file.Get(), out, maxSize);
  }
  if (size > maxSize) return ReadStatus::TooLarge;
  if (size > out.max_size()) return ReadStatus::ShortRead;
  out.assign(static_cast<std::size_t>(size), 0);
  std::size_t done = 0;
  while (done < out.size()) {
    const int n = ReadSome(file.Get(), out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done == out.size() ? ReadStatus::Ok : ReadStatus::ShortRead;
}

}  // namespace

ReadStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out,
                         std::uint64_t maxSize) {
  if (path == kStandardStream) {
    UseBinaryMode(kStdin);
    return ReadStream(kStdin, out, maxSize);
  }
  const PathString native = NativePath(path);
  return ReadOpened(native, OpenForReading(native), out, maxSize, false);
}

ReadStatus ReadWholeFileOrStream(const std::wstring& path, std::vector<std::uint8_t>& out,
                                 std::uint64_t maxSize) {
  if (path == kStandardStream) return ReadWholeFile(path, out, maxSize);
  const PathString native = NativePath(path);
  return ReadOpened(native, OpenForReading(native), out, maxSize, true);
}

std::string OpenFailureReason(const std::wstring& path, bool forWriting) {
  const PathString native = NativePath(path);
  const int kind = KindOf(native);
  int error = 0;
  if (kind == 2) {
    error = EISDIR;
  } else if (forWriting && kind == 0) {
    // A new file: its folder decides.
    PathString folder = FolderOf(native);
    if (folder.empty()) folder = Widen(".");
#ifdef _WIN32
    if (_waccess(folder.c_str(), 2) != 0) error = errno;
#else
    if (access(folder.c_str(), W_OK | X_OK) != 0) error = errno;
#endif
  } else {
    const int fd = forWriting ? OpenForWriting(native) : OpenForReading(native);
    if (fd < 0) {
      error = errno;
    } else {
      CloseFd(fd);
    }
  }
  if (error == 0) return kind == 3 && !forWriting ? "not a plain file" : "";
  return std::strerror(error);
}

std::string ReadFailureText(ReadStatus status, std::uint64_t maxSize) {
  switch (status) {
    case ReadStatus::Ok:
      break;
    case ReadStatus::Missing:
      return "no such file";
    case ReadStatus::NotAFile:
      return "not a plain file";
    case ReadStatus::CannotOpen:
      return "cannot be opened";
    case ReadStatus::ShortRead:
      return "could not be read whole";
    case ReadStatus::TooLarge:
      return "larger than " + std::to_string(maxSize) + " bytes";
  }
  return {};
}

OutputFile::OutputFile(const std::wstring& target) {
  if (target == kStandardStream) {
    std::fflush(stdout);  // whatever stdio holds goes first
    UseBinaryMode(kStdout);
    m_fd = kStdout;
    m_ownsFd = false;
    return;
  }
  const PathString path = NativePath(target);
  switch (KindOf(path)) {
    case 2:
      return;  // a folder cannot be replaced by a file
    case 3:
      m_fd = OpenForWriting(path);
      return;
    default:
      break;
  }
  m_target = FollowLinks(path);
  if (m_target.empty()) return;
  // An existing file must take writing as it is (opened without truncation, nothing changes).
  if (KindOf(m_target) == 1 && Descriptor(OpenForWriting(m_target)).Get() < 0) return;
  const PathString folder = FolderOf(m_target);
  for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
    m_temporary = Join(folder, TemporaryName());
    m_fd = CreateNew(m_temporary);
    if (m_fd < 0 && errno != EEXIST) break;
  }
  if (m_fd < 0) return;
  m_viaTemporary = true;
  m_pendingSlot = RegisterPending(m_temporary);
  KeepModeOf(m_target, m_fd);
}

OutputFile::~OutputFile() {
  if (m_fd >= 0 && m_ownsFd) CloseFd(m_fd);
  m_fd = -1;
  Discard();
}

void OutputFile::Discard() {
  if (!m_viaTemporary) return;
  m_viaTemporary = false;
  // Removed before it is forgotten: a signal in between removes a name that is already gone.
  Remove(m_temporary.c_str());
  ReleasePending(m_pendingSlot);
}

WriteStatus OutputFile::Commit(const std::uint8_t* data, std::size_t size) {
  if (m_fd < 0) return WriteStatus::CannotCreate;
  bool written = WriteAll(m_fd, data, size);
  if (!m_viaTemporary) {
    if (m_ownsFd && !CloseFd(m_fd)) written = false;
    m_fd = -1;
    return written ? WriteStatus::Ok : WriteStatus::WriteFailed;
  }
  written = written && FlushToDisk(m_fd);
  const bool closed = CloseFd(std::exchange(m_fd, -1));
  if (!written || !closed || !Replace(m_temporary, m_target)) {
    Discard();
    return WriteStatus::WriteFailed;
  }
  m_viaTemporary = false;
  ReleasePending(m_pendingSlot);
  return WriteStatus::Ok;
}

WriteStatus WriteFileAtomically(const std::wstring& target, const std::uint8_t* data,
                                std::size_t size) {
  OutputFile file(target);
  return file.Commit(data, size);
}

unsigned long CreateFolder(const std::wstring& path) { return MakeFolder(NativePath(path)); }

unsigned long CreateFolders(const std::wstring& path) {
  const PathString native = NativePath(path);
  // Each folder on the way, from the first below the root to the last. Only the last one's error
  // counts: one on the way may exist without our being allowed to look at it (a share's name, a
  // drive), and whatever is truly missing shows in the last.
  unsigned long error = 0;
  for (std::size_t end = 1; end <= native.size(); ++end) {
    if (end < native.size() && !IsSeparator(native[end])) continue;
    if (IsSeparator(native[end - 1])) continue;
    error = MakeFolder(native.substr(0, end));
  }
  return error;
}

std::optional<std::time_t> ModifiedAt(const std::wstring& path) {
  return ModificationTime(NativePath(path));
}

void RemoveFile(const std::wstring& path) { Remove(NativePath(path).c_str()); }

void RemovePendingTemporaryFile() noexcept {
  for (PendingSlot& slot : g_pending) {
    if (slot.state.load() == 2) Remove(slot.path);
  }
}

}  // namespace orvel
