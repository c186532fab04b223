#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/Files.h"
#include "platform/Utf.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testsupport::TempDir;
namespace fs = std::filesystem;

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
  writer.Close();
  EXPECT_EQ(testsupport::ReadBytes(dir / "f"), "keep") << "a refused open must not empty the file";
  EXPECT_EQ(other.Open(dir.wide("f"), OpenMode::WriteTruncate, Sharing::Exclusive), ERROR_SUCCESS);
  EXPECT_EQ(testsupport::ReadBytes(dir / "f"), "");
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
