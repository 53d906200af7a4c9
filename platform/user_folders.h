#pragma once
// Where a program keeps what it must find again from any folder it is started in, and the full
// path of a file named relative to the current directory.

#include <optional>
#include <string>

namespace orvel {

// The user's folder for a program's state: on Windows %LOCALAPPDATA%\<windowsName>; elsewhere
// $XDG_STATE_HOME/<name> when that variable holds an absolute path, else $HOME/.local/state/<name>.
// Nothing when the environment names no such place. The folder is not created here.
std::optional<std::wstring> UserStateFolder(const std::wstring& name,
                                            const std::wstring& windowsName);

// path as an absolute path: as it stands when it is one already, else joined to the current
// directory. Nothing when the current directory cannot be told.
std::optional<std::wstring> AbsolutePath(const std::wstring& path);

}  // namespace orvel
