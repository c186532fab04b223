#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "core/AllocationCounter.h"
#include "core/Log.h"
#include "core/SystemQueries.h"
#include "platform/Clock.h"
#include "platform/Utf.h"
#include "support/Environment.h"
#include "support/TempDir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
namespace fs = std::filesystem;

// Decodes UTF-16LE bytes (ASCII content) so lines can be compared as text.
std::string DecodeAscii16(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i + 1], '\0') << "non-ASCII or big-endian unit at " << i;
    text.push_back(bytes[i]);
  }
  return text;
}

platform::LocalTime g_now;
platform::LocalTime FixedClock() { return g_now; }

platform::LocalTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  platform::LocalTime t;
  t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s; t.millisecond = ms;
  return t;
}

// A log configured like the program's, on a fixed clock.
struct LogFixture {
  TempDir dir;
  fs::path folder = dir / "logs";
  core::CLog log;
  LogFixture() {
    g_now = At(2026, 3, 4, 9, 5, 3, 42);
    log.SetClock(&FixedClock);
    log.SetFolder(platform::WidenUtf8(folder.string()));
    log.SetName(u"Mervo_Downloader");
    log.m_nFileMode = core::LOG_FILE_DAILY;
    log.m_nFolderMode = core::LOG_FOLDER_FLAT;
    log.m_bLinePrefix = true;
  }
  std::string Day(const char* date) { return DecodeAscii16(ReadBytes(folder / (std::string("Mervo_Downloader_") + date + ".txt"))); }
};

TEST(Log, InitLogWritesSeparatorAndFirstLineInUtf16le) {
  // A private state folder where the system lets the environment name one (on Windows the log goes
  // to the roaming AppData folder, which may hold earlier lines of the day).
  TempDir state;
  testsupport::SetEnvironment("XDG_STATE_HOME", state.path().string());
  core::InitLog();
  std::u16string base;
  ASSERT_TRUE(core::GetRoamingAppDataFolder(base));
  const platform::LocalTime today = platform::GetLocalTimeNow();
  const std::string name = platform::NarrowUtf8(
      core::Format(u"Mervo_Downloader_%04d%02d%02d.txt", today.year, today.month, today.day));
  const std::string bytes = ReadBytes(fs::u8path(platform::NarrowUtf8(base)) / "Mervo_Downloader" / name);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\r\0\n\0", 4)) << "starts with an empty line, no byte-order mark";
  // An empty line, then "[hh:mm:ss,mmm] [INFO] log initialize success " (other programs may write
  // the same file on Windows, so any such pair counts).
  const std::string text = DecodeAscii16(bytes);
  const std::string line = "] [INFO] log initialize success \r\n";
  bool found = false;
  for (std::size_t at = text.find("\r\n["); at != std::string::npos && !found; at = text.find("\r\n[", at + 1)) {
    const bool afterEmptyLine = at == 0 || (at >= 2 && text.compare(at - 2, 2, "\r\n") == 0);
    found = afterEmptyLine && text.compare(at + 15, line.size(), line) == 0 &&
            std::regex_match(text.substr(at + 3, 12), std::regex("\\d\\d:\\d\\d:\\d\\d,\\d\\d\\d"));
  }
  EXPECT_TRUE(found) << text;
}

TEST(Log, LineFormatsAndLevels) {
  LogFixture f;
  f.log.Write(core::LOG_INFO, u"file list download success");
  f.log.Write(core::LOG_ERROR, u"failed to connect server - (%ld)", 12029u);
  f.log.Write(7, u"odd level");
  f.log.Write(core::LOG_WARNING, u"%s", u"100% sure %d");
  f.log.m_bLinePrefix = false;
  f.log.Write(core::LOG_INFO, u"bare");
  EXPECT_EQ(f.Day("20260304"),
            "[09:05:03,042] [INFO] file list download success \r\n"
            "[09:05:03,042] [ERROR] failed to connect server - (12029) \r\n"
            "[09:05:03,042] [] odd level \r\n"
            "[09:05:03,042] [WARNING] 100% sure %d \r\n"
            "bare\r\n");
}

TEST(Log, NewFileAtMidnight) {
  LogFixture f;
  g_now = At(2026, 12, 31, 23, 59, 59, 999);
  f.log.Write(core::LOG_INFO, u"last of the year");
  g_now = At(2027, 1, 1, 0, 0, 0, 0);
  f.log.Write(core::LOG_INFO, u"first of the year");
  EXPECT_EQ(f.Day("20261231"), "[23:59:59,999] [INFO] last of the year \r\n");
  EXPECT_EQ(f.Day("20270101"), "[00:00:00,000] [INFO] first of the year \r\n");
}

TEST(Log, OverlongLineIsCutAt8191CodeUnits) {
  LogFixture f;
  const std::u16string message(8191, u'x');
  f.log.Write(core::LOG_INFO, u"%s", message);
  const std::string bytes = ReadBytes(f.folder / "Mervo_Downloader_20260304.txt");
  EXPECT_EQ(bytes.size(), 8191u * 2);
  EXPECT_EQ(DecodeAscii16(bytes).substr(0, 22), "[09:05:03,042] [INFO] ");
  EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string("x\0", 2)) << "no CR LF after a cut line";
}

TEST(Log, DeletedFolderIsRecreatedOnlyInFlatMode) {
  LogFixture f;
  f.log.Write(core::LOG_INFO, u"one");
  fs::remove_all(f.folder);
  f.log.Write(core::LOG_INFO, u"two");
  EXPECT_EQ(f.Day("20260304"), "[09:05:03,042] [INFO] two \r\n");

  f.log.m_nFolderMode = core::LOG_FOLDER_DAILY;
  fs::remove_all(f.folder);
  f.log.Write(core::LOG_INFO, u"dropped");  // the dated folder's parent is gone
  EXPECT_FALSE(fs::exists(f.folder));
}

TEST(Log, WritesAllocateNothing) {
  LogFixture f;
  f.log.Write(core::LOG_INFO, u"warm up %d", 1);
  const long before = testsupport::AllocationCount();
  for (int i = 0; i < 100; ++i)
    f.log.Write(core::LOG_INFO, u"download file : (%d) %s %I64u", i, u"Data/a.pak", 123ULL);
  EXPECT_EQ(testsupport::AllocationCount() - before, 0);
}

TEST(Log, TwoThreadsWriteWholeLines) {
  LogFixture f;
  constexpr int kLines = 10000;
  auto writer = [&f](const char16_t* who) {
    for (int i = 0; i < kLines; ++i) f.log.Write(core::LOG_INFO, u"%s line %d", who, i);
  };
  std::thread a(writer, u"thread-a");
  std::thread b(writer, u"thread-b");
  a.join();
  b.join();
  const std::string text = f.Day("20260304");
  const std::regex line("\\[09:05:03,042\\] \\[INFO\\] thread-[ab] line \\d+ ");
  int count = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    ASSERT_TRUE(std::regex_match(text.substr(start, end - start), line)) << text.substr(start, end - start);
    ++count;
  }
  EXPECT_EQ(start, text.size());
  EXPECT_EQ(count, 2 * kLines);
}

} // namespace
