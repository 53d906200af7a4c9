// Where orvelctl keeps its state, from the environment, and full paths from the current directory.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/user_folders.h"
#include "support/test_files.h"

namespace {

// Sets (or, with nothing, unsets) a variable for its lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(UserFolders, StateFolderFollowsXdgThenHome) {
  struct Case {
    std::optional<std::string> xdg, home;
    std::optional<std::wstring> folder;
  };
  const Case cases[] = {
      {"/x/state", "/home/t", L"/x/state/orvelctl"},
      {"/x/state/", "/home/t", L"/x/state/orvelctl"},
      {"relative/state", "/home/t", L"/home/t/.local/state/orvelctl"},  // only absolute counts
      {"", "/home/t/", L"/home/t/.local/state/orvelctl"},
      {std::nullopt, "/home/t", L"/home/t/.local/state/orvelctl"},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xdg.value_or("-") + " " + c.home.value_or("-"));
    const ScopedVariable xdg("XDG_STATE_HOME", c.xdg);
    const ScopedVariable home("HOME", c.home);
    EXPECT_EQ(orvel::UserStateFolder(L"orvelctl", L"OrvelTools"), c.folder);
  }
}

TEST(UserFolders, RelativePathsJoinTheCurrentDirectory) {
  orvel::test::TempFolder folder;
  const orvel::test::CurrentDirectory cwd(folder.path());
  const std::wstring here = std::filesystem::current_path().wstring();
  EXPECT_EQ(orvel::AbsolutePath(L"Temp/ConfBackup.bin"), here + L"/Temp/ConfBackup.bin");
  EXPECT_EQ(orvel::AbsolutePath(L"/elsewhere/a.bin"), L"/elsewhere/a.bin");
}

}  // namespace
