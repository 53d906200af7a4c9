#pragma once
// Plain files on wide paths: opened with _wfopen on Windows and through the UTF-8 form of the path
// elsewhere. A file that replaces another is written beside it first and put in place only when it
// is complete, so the earlier content survives every failure.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace orvel {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// fopen on a wide path; null when the file cannot be opened.
FileHandle OpenFile(const std::wstring& path, const wchar_t* mode);

enum class ReadStatus {
  Ok,
  CannotOpen,  // missing, not a plain file, or not readable
  ShortRead,   // opened, but fewer bytes came than the file's size
};
// Replaces out with the whole file: measures it, then reads it in one read.
ReadStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& out);

// True when target could be written by WriteFileAtomically: an existing target can be opened for
// writing and a new file can be created beside it. Leaves nothing behind and changes nothing.
bool CanWriteBeside(const std::wstring& target);

enum class WriteStatus {
  Ok,
  CannotCreate,  // no file could be created beside the target
  WriteFailed,   // the data did not reach the disk in full, or the file could not be put in place
};
// Writes data into a new file beside target, flushes it to the disk and then renames it over
// target. On any failure the new file is removed and target keeps its earlier content (or stays
// absent).
WriteStatus WriteFileAtomically(const std::wstring& target, const std::uint8_t* data,
                                std::size_t size);

}  // namespace orvel
