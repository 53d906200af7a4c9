#include "platform/user_folders.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/utf8.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orvel {

#ifdef _WIN32

std::optional<std::wstring> UserStateFolder(const std::wstring&, const std::wstring& windowsName) {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || *local == L'\0') return std::nullopt;
  std::wstring folder = local;
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder + windowsName;
}

std::optional<std::wstring> AbsolutePath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::nullopt;
  std::wstring full(size, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (written == 0 || written >= size) return std::nullopt;
  full.resize(written);
  return full;
}

#else

namespace {

// A variable's value as a path, when it is set to an absolute one.
std::optional<std::wstring> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return std::nullopt;
  std::wstring folder = PathFromBytes(value);
  while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
  return folder;
}

std::wstring Joined(std::wstring folder, const std::wstring& name) {
  if (folder.back() != L'/') folder += L'/';
  return folder + name;
}

}  // namespace

std::optional<std::wstring> UserStateFolder(const std::wstring& name, const std::wstring&) {
  if (const auto state = AbsoluteFromEnvironment("XDG_STATE_HOME")) return Joined(*state, name);
  if (const auto home = AbsoluteFromEnvironment("HOME")) {
    return Joined(*home, L".local/state/" + name);
  }
  return std::nullopt;
}

std::optional<std::wstring> AbsolutePath(const std::wstring& path) {
  if (!path.empty() && path[0] == L'/') return path;
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  return Joined(PathFromBytes(buffer.data()), path);
}

#endif

}  // namespace orvel
