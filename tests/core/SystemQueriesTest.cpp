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

} // namespace
