#include <gtest/gtest.h>

#include <cerrno>
#include <curl/curl.h>
#include <filesystem>
#include <string>

#include "core/SystemQueries.h"
#include "platform/ErrorCodes.h"
#include "platform/Files.h"
#include "platform/Utf.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testsupport::TempDir;
namespace fs = std::filesystem;

TEST(ErrorCodes, OneTableForSystemAndHttpResults) {
  const struct {
    const char* name;
    ErrorCode actual;
    ErrorCode expected;
  } rows[] = {
      {"missing file", ErrorFromErrno(ENOENT), 2},
      {"access denied", ErrorFromErrno(EACCES), 5},
      {"disk full", ErrorFromErrno(ENOSPC), 112},
      {"invalid parameter", ErrorFromErrno(EINVAL), 87},
      {"unknown errno", ErrorFromErrno(12345), ERROR_GEN_FAILURE},
      {"refused", ErrorFromCurl(CURLE_COULDNT_CONNECT), 12029},
      {"not resolved", ErrorFromCurl(CURLE_COULDNT_RESOLVE_HOST), 12007},
      {"time-out", ErrorFromCurl(CURLE_OPERATION_TIMEDOUT), 12002},
      {"reset", ErrorFromCurl(CURLE_RECV_ERROR), 12031},
      {"answer that is not HTTP", ErrorFromCurl(CURLE_UNSUPPORTED_PROTOCOL), 12152},
      {"short body", ErrorFromCurl(CURLE_PARTIAL_FILE), 12030},
      {"unknown curl result", ErrorFromCurl(CURLE_FTP_WEIRD_PASV_REPLY), 12004},
  };
  for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << row.name;
}

TEST(Files, WindowsStyleResults) {
  TempDir dir;
  CFileHandle file;
  EXPECT_EQ(file.Open(dir.wide("missing.bin"), OpenMode::ReadExisting), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateOneDirectory(dir.wide("a/b")), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateOneDirectory(dir.wide("a")), ERROR_SUCCESS);
  EXPECT_EQ(CreateOneDirectory(dir.wide("a")), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectoryTree(dir.wide("x/y/z")), ERROR_SUCCESS);
  EXPECT_TRUE(IsDirectory(dir.wide("x/y/z")));
  EXPECT_EQ(file.Open(dir.wide("x"), OpenMode::WriteAlways), ERROR_ACCESS_DENIED);

  std::uint64_t size = 7;
  EXPECT_EQ(GetFileSizeOf(dir.wide("missing.bin"), size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);
  testsupport::WriteBytes(dir / "f", "hello");
  EXPECT_EQ(GetFileSizeOf(dir.wide("f"), size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(CreateDirectoryTree(dir.wide("f")), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectoryTree(dir.wide("f/sub")), ERROR_PATH_NOT_FOUND);
}

TEST(Files, ExclusiveHolderKeepsOthersOut) {
  TempDir dir;
  testsupport::WriteBytes(dir / "f", "keep");
  CFileHandle writer;
  ASSERT_EQ(writer.Open(dir.wide("f"), OpenMode::WriteAlways, Sharing::Exclusive), ERROR_SUCCESS);
  CFileHandle other;
  EXPECT_EQ(other.Open(dir.wide("f"), OpenMode::ReadExisting, Sharing::ReadShared), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(other.Open(dir.wide("f"), OpenMode::WriteTruncate, Sharing::Exclusive), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(testsupport::ReadBytes(dir / "f"), "keep") << "a refused open must not empty the file";
  writer.Close();
  EXPECT_EQ(other.Open(dir.wide("f"), OpenMode::WriteTruncate, Sharing::Exclusive), ERROR_SUCCESS);
  EXPECT_EQ(testsupport::ReadBytes(dir / "f"), "");
}

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

TEST(Utf, ConversionsAndBadInput) {
  EXPECT_EQ(WidenUtf8("Data/a.pak"), u"Data/a.pak");
  EXPECT_EQ(WidenUtf8("\xea\xb2\x8c\xec\x9e\x84"), u"게임");
  EXPECT_EQ(WidenUtf8("\xf0\x9f\x8e\xae"), u"\U0001F3AE");
  EXPECT_EQ(WidenUtf8("ok\xff"), u"") << "a text that does not decode becomes empty";
  EXPECT_EQ(WidenUtf8("\xc0\xaf"), u"") << "overlong form";
  EXPECT_EQ(WidenUtf8("\xe0\x80"), u"") << "cut sequence";
  EXPECT_EQ(NarrowUtf8(u"게임/\U0001F3AE"), "\xea\xb2\x8c\xec\x9e\x84/\xf0\x9f\x8e\xae");
  char small[4];
  EXPECT_FALSE(NarrowUtf8To(u"abcd", small, sizeof small));
  EXPECT_TRUE(NarrowUtf8To(u"abc", small, sizeof small));
  EXPECT_STREQ(small, "abc");
}

} // namespace
