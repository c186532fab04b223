#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/SystemQueries.h"
#include "platform/Utf.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testsupport::TempDir;
namespace fs = std::filesystem;

TEST(SystemQueries, FreeSpaceOfTheNearestExistingFolder) {
  TempDir dir;
  const std::uint64_t here = core::GetDiskFreeBytes(dir.wide());
  EXPECT_GT(here, 0u);
  // A folder that does not exist yet is answered by its nearest existing ancestor.
  const std::uint64_t later = core::GetDiskFreeBytes(dir.wide("not/yet/made"));
  EXPECT_GT(later, 0u);
  EXPECT_NEAR(static_cast<double>(later), static_cast<double>(here), 64.0 * 1024 * 1024);
  EXPECT_EQ(core::GetDiskFreeBytes(u""), 0u);
  EXPECT_EQ(core::GetDiskFreeBytes(u"relative/folder"), 0u);
  EXPECT_EQ(core::GetDiskFreeBytes(u"x"), 0u);
}

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
