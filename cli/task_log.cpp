#include "cli/task_log.h"

#include <cstdio>

#include "platform/file_io.h"

namespace orvel::cli {

bool AppendTaskLog(const std::wstring& path, const std::string& line) {
  FileHandle file = OpenFile(path, L"ab");
  if (!file) return false;
  const bool written = std::fprintf(file.get(), "%s\n", line.c_str()) >= 0;
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace orvel::cli
