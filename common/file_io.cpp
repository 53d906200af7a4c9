#include "common/file_io.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "common/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvel {
namespace {

#ifdef _WIN32
using FileOffset = long long;
FileOffset TellEnd(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  const FileOffset size = _ftelli64(file);
  if (_fseeki64(file, 0, SEEK_SET) != 0) return -1;
  return size;
}
bool IsPlainFile(std::FILE*) { return true; }  // _wfopen refuses folders already

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
int CreateNew(const std::wstring& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
void KeepModeOf(const std::wstring&, int) {}
int WriteSome(int fd, const std::uint8_t* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 20)));
}
bool FlushToDisk(int fd) { return _commit(fd) == 0; }
bool CloseFd(int fd) { return _close(fd) == 0; }
bool Replace(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
void Remove(const std::wstring& path) { DeleteFileW(path.c_str()); }
#else
using FileOffset = off_t;
FileOffset TellEnd(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  const FileOffset size = ftello(file);
  if (fseeko(file, 0, SEEK_SET) != 0) return -1;
  return size;
}
// fopen opens a folder for reading here; its "size" is no byte count.
bool IsPlainFile(std::FILE* file) {
  struct stat info {};
  return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool Exists(const std::wstring& path) {
  struct stat info {};
  return stat(ToUtf8(path).c_str(), &info) == 0;
}
int CreateNew(const std::wstring& path) {
  return open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
// A replaced file keeps its permissions.
void KeepModeOf(const std::wstring& target, int fd) {
  struct stat info {};
  if (stat(ToUtf8(target).c_str(), &info) == 0) fchmod(fd, info.st_mode & 07777);
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
bool Replace(const std::wstring& from, const std::wstring& to) {
  return std::rename(ToUtf8(from).c_str(), ToUtf8(to).c_str()) == 0;
}
void Remove(const std::wstring& path) { unlink(ToUtf8(path).c_str()); }
#endif

// A new file beside the target; removed again unless it was put in place.
class TempFile {
 public:
  explicit TempFile(const std::wstring& target) {
    // A handful of names, in case an earlier run left one behind.
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
      m_path = target + L".~" + std::to_wstring(attempt) + L".tmp";
      m_fd = CreateNew(m_path);
      if (m_fd < 0 && errno != EEXIST) break;
    }
    m_created = m_fd >= 0;
  }
  ~TempFile() {
    if (m_fd >= 0) CloseFd(m_fd);
    if (m_created && !m_placed) Remove(m_path);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  bool Close() { return CloseFd(std::exchange(m_fd, -1)); }
  bool PutInPlaceOf(const std::wstring& target) {
    m_placed = Replace(m_path, target);
    return m_placed;
  }

 private:
  std::wstring m_path;
  int m_fd = -1;
  bool m_created = false;
  bool m_placed = false;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const int n = WriteSome(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FileHandle OpenFile(const std::wstring& path, const wchar_t* mode) {
#ifdef _WIN32
  return FileHandle(_wfopen(path.c_str(), mode));
#else
  return FileHandle(std::fopen(ToUtf8(path).c_str(), ToUtf8(mode).c_str()));
#endif
}

ReadStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out) {
  const FileHandle file = OpenFile(path, L"rb");
  if (!file || !IsPlainFile(file.get())) return ReadStatus::CannotOpen;
  const FileOffset size = TellEnd(file.get());
  if (size < 0 || static_cast<unsigned long long>(size) > out.max_size()) {
    return ReadStatus::ShortRead;
  }
  out.assign(static_cast<std::size_t>(size), 0);
  const std::size_t read = std::fread(out.data(), 1, out.size(), file.get());
  return read == out.size() ? ReadStatus::Ok : ReadStatus::ShortRead;
}

bool CanWriteBeside(const std::wstring& target) {
  // An existing target must take writing as it is ("ab" neither empties nor moves anything).
  if (Exists(target) && !OpenFile(target, L"ab")) return false;
  TempFile probe(target);
  return probe.IsOpen();
}

WriteStatus WriteFileAtomically(const std::wstring& target, const std::uint8_t* data,
                                std::size_t size) {
  TempFile temp(target);
  if (!temp.IsOpen()) return WriteStatus::CannotCreate;
  KeepModeOf(target, temp.Fd());
  const bool written = WriteAll(temp.Fd(), data, size) && FlushToDisk(temp.Fd());
  if (!temp.Close() || !written || !temp.PutInPlaceOf(target)) return WriteStatus::WriteFailed;
  return WriteStatus::Ok;
}

}  // namespace orvel
