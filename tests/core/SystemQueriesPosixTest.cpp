// Well-known folders as a POSIX system finds them: $HOME and the XDG variables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/SystemQueries.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;
namespace fs = std::filesystem;

TEST(SystemQueries, WellKnownFolders) {
  TempDir home;
  const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.path().c_str(), 1);
  unsetenv("XDG_STATE_HOME");
  std::u16string folder = u"unchanged";
  EXPECT_TRUE(core::GetProgramFilesFolder(folder));
  EXPECT_EQ(folder, home.wide());
  EXPECT_TRUE(core::GetRoamingAppDataFolder(folder));
  EXPECT_EQ(folder, home.wide(".local/state"));
  EXPECT_TRUE(fs::is_directory(home / ".local/state")) << "the base exists so one more level can be made";
  setenv("HOME", saved.c_str(), 1);
  EXPECT_TRUE(core::IsVistaOrLater());
  EXPECT_EQ(core::IsWow64(), false) << "tests run as a native 64-bit build";
}

} // namespace
