#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/ConcurrentChecksum.h"
#include "download/DownloadThread.h"
#include "download/EntryDecision.h"
#include "download/LocalFiles.h"
#include "download/Messages.h"
#include "download/Thread.h"
#include "platform/Files.h"
#include "support/TempDir.h"

namespace {

using namespace download;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;

class PollingBody : public CThread {
 public:
  ~PollingBody() override { Stop(); }
  std::atomic<int> runs{0};
  std::atomic<bool> endByItself{false};

 protected:
  bool Run() override {
    ++runs;
    while (IsRunning() && !endByItself) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
  }
};

TEST(Thread, StartStopAndRestart) {
  PollingBody body;
  body.Stop();  // idle: nothing to do
  EXPECT_FALSE(body.IsRunning());

  ASSERT_TRUE(body.Start());
  EXPECT_TRUE(body.IsRunning());
  const auto start = Clock::now();
  body.Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200)) << "a polling body ends long before 1000 ms";
  EXPECT_FALSE(body.IsRunning());

  body.endByItself = true;
  ASSERT_TRUE(body.Start());
  for (int i = 0; i < 200 && body.IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(body.IsRunning()) << "a body that returns leaves the object idle";
  body.Stop();
  EXPECT_EQ(body.runs.load(), 2);
}

TEST(Thread, BodyThatEndsAtOnceNeverRaces) {
  PollingBody body;
  body.endByItself = true;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(body.Start());
    if (i % 2 == 0) body.Stop();
  }
  body.Stop();
  EXPECT_EQ(body.runs.load(), 200);
}

struct CountedRecord : MessageRecord {
  static inline std::atomic<int> alive{0};
  CountedRecord() { ++alive; }
  ~CountedRecord() override { --alive; }
};

TEST(Messages, OwnershipPassesAndGoneTargetsGetNothing) {
  TargetHandle gone;
  {
    CMessageQueue queue;
    gone = queue.Handle();
    EXPECT_TRUE(IsTargetAlive(gone));
    EXPECT_TRUE(PostToTarget(gone, 7, std::make_unique<CountedRecord>()));
    CMessageQueue::Message message;
    ASSERT_TRUE(queue.Wait(message, 1000));
    EXPECT_EQ(message.id, 7u);
    EXPECT_EQ(CountedRecord::alive.load(), 1);
    message.record.reset();
    EXPECT_TRUE(PostToTarget(gone, 8, std::make_unique<CountedRecord>()));  // left in the queue
  }
  EXPECT_EQ(CountedRecord::alive.load(), 0) << "a queue that goes frees what it still holds";
  EXPECT_FALSE(IsTargetAlive(gone));
  EXPECT_FALSE(PostToTarget(gone, 7, std::make_unique<CountedRecord>()));
  EXPECT_EQ(CountedRecord::alive.load(), 0);
  EXPECT_FALSE(IsTargetAlive(0));
}

TEST(Messages, ResultTextIsCutAt255AndNotPostedToAGoneWindow) {
  const struct {
    std::u16string text;
    std::size_t expected;
  } rows[] = {{std::u16string(300, u'x'), 255}, {std::u16string(255, u'y'), 255}, {u"", 0}};
  for (const auto& row : rows) {
    const auto record = MakeResultRecord(false, row.text);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::u16string(record->szMessage), row.text.substr(0, row.expected));
  }
  CMessageQueue queue;
  CDownloadThread worker(queue.Handle());
  ASSERT_TRUE(worker.PostResult(false));
  CMessageQueue::Message posted;
  ASSERT_TRUE(queue.Wait(posted, 1000));
  worker.SetTarget(0);
  EXPECT_TRUE(worker.PostResult(true));
  CMessageQueue::Message message;
  EXPECT_FALSE(queue.Wait(message, 100)) << "no result for a window that is gone";
}

TEST(EntryDecision, TableOfTheLocalFile) {
  using core::LOG_ERROR;
  using core::LOG_INFO;
  using core::LOG_WARNING;
  const std::u16string listed = u"0CC175B9C0F1B6A831C399E269772661";
  struct Row {
    const char* name;
    LocalFileState local;
    bool sentWholeBefore;
    platform::ErrorCode checksumResult;
    std::u16string checksumText;
    EntryAction action;
    std::uint64_t resumeFrom;
    std::uint16_t level;
    std::u16string_view log;
    platform::ErrorCode code;
    int checksums;  // how often the digest was computed
  };
  const Row rows[] = {
      {"missing", {false, true, 0, 0}, false, 0, u"", EntryAction::Download, 0, LOG_INFO, u"", 0, 0},
      {"a FIFO or folder", {true, false, 0, 0}, false, 0, u"", EntryAction::Refuse, 0, LOG_ERROR,
       u"local path is not a regular file so download stop - (%ld)", 5, 0},
      {"size unreadable", {true, true, 5, 0}, false, 0, u"", EntryAction::Download, 0, LOG_ERROR,
       u"failed to get file size so re-download", 0, 0},
      {"shorter: resumed", {true, true, 0, 1000}, false, 0, u"", EntryAction::Resume, 1000, LOG_INFO,
       u"file download relay mode", 0, 0},
      {"shorter after a whole transfer", {true, true, 0, 1000}, true, 0, u"", EntryAction::Download, 0, LOG_WARNING,
       u"local file is smaller so re-download", 0, 0},
      {"bigger", {true, true, 0, 5001}, false, 0, u"", EntryAction::Download, 0, LOG_WARNING,
       u"local file is bigger so re-download", 0, 0},
      {"same size, checksum stopped", {true, true, 0, 5000}, false, CHECKSUM_STOPPED, u"", EntryAction::Download, 0,
       LOG_INFO, u"", 0, 1},
      {"same size, checksum failed", {true, true, 0, 5000}, false, 5, u"", EntryAction::Download, 0, LOG_ERROR,
       u"failed to get file checksum so re-download - (%ld)", 5, 1},
      {"same size, digest matches", {true, true, 0, 5000}, false, 0, listed, EntryAction::Verified, 0, LOG_INFO,
       u"file checksum is valid so download skip", 0, 1},
      {"same size, digest differs only in case", {true, true, 0, 5000}, false, 0, u"0cc175b9c0f1b6a831c399e269772661",
       EntryAction::Download, 0, LOG_WARNING, u"invalid file checksum so re-download", 0, 1},
  };
  for (const Row& row : rows) {
    int checksums = 0;
    const EntryDecision decision =
        DecideEntry(row.local, 5000, listed, row.sentWholeBefore, [&](std::u16string& text) {
          ++checksums;
          text = row.checksumText;
          return row.checksumResult;
        });
    EXPECT_EQ(decision.action, row.action) << row.name;
    EXPECT_EQ(decision.resumeFrom, row.resumeFrom) << row.name;
    EXPECT_EQ(decision.logFormat, row.log) << row.name;
    if (!row.log.empty()) {
      EXPECT_EQ(decision.logLevel, row.level) << row.name;
    }
    EXPECT_EQ(decision.logWithCode, row.code != 0) << row.name;
    EXPECT_EQ(decision.code, row.code) << row.name;
    EXPECT_EQ(checksums, row.checksums) << row.name;
  }
}

TEST(EntryDecision, WhenAFileIsPatched) {
  EntryDecision fetch;
  fetch.action = EntryAction::Download;
  EntryDecision resume;
  resume.action = EntryAction::Resume;
  EntryDecision valid;
  valid.action = EntryAction::Verified;
  const LocalFileState there{true, true, 0, 4000};
  const struct {
    const char* name;
    EntryDecision decision;
    LocalFileState local;
    bool listedIndex, sentWholeBefore, helperNamesFree, patched;
  } rows[] = {
      {"an invalid file with an index", fetch, there, true, false, true, true},
      {"a shorter file (perhaps another version)", resume, there, true, false, true, true},
      {"no index listed", fetch, there, false, false, true, false},
      {"a valid file", valid, there, true, false, true, false},
      {"no file", fetch, {false, true, 0, 0}, true, false, true, false},
      {"an empty file", fetch, {true, true, 0, 0}, true, false, true, false},
      {"a folder", fetch, {true, false, 0, 4000}, true, false, true, false},
      {"a size that cannot be read", fetch, {true, true, 5, 0}, true, false, true, false},
      {"after a whole transfer that did not match", fetch, there, true, true, true, false},
      {"a listed file named as the patch's own", fetch, there, true, false, false, false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ShouldPatch(row.decision, row.local, row.listedIndex, row.sentWholeBefore, row.helperNamesFree), row.patched)
        << row.name;
}

TEST(LocalFiles, ChecksumAndSize) {
  TempDir dir;
  testsupport::WriteBytes(dir / "empty", "");
  testsupport::WriteBytes(dir / "abc", "abc");
  testsupport::WriteBytes(dir / "big", std::string(3 * 1024 * 1024, 'z'));
  std::u16string sum = u"old";
  EXPECT_EQ(ComputeFileChecksum(dir.wide("empty"), nullptr, sum), 0u);
  EXPECT_EQ(sum, u"D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(ComputeFileChecksum(dir.wide("abc"), nullptr, sum), 0u);
  EXPECT_EQ(sum, u"900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(ComputeFileChecksum(dir.wide("missing"), nullptr, sum), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(sum, u"");
  const std::atomic<bool> stopped{false};
  EXPECT_EQ(ComputeFileChecksum(dir.wide("big"), &stopped, sum), CHECKSUM_STOPPED);
  EXPECT_EQ(sum, u"");

  std::uint64_t size = 9;
  EXPECT_EQ(GetLocalFileSize(dir.wide("abc"), nullptr), platform::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLocalFileSize(dir.wide("missing"), &size), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(GetLocalFileSize(dir.wide("big"), &size), 0u);
  EXPECT_EQ(size, 3u * 1024 * 1024);
}

TEST(LocalFiles, SubDirectoriesOfEveryLevel) {
  TempDir dir;
  CDownloadThread worker(0);
  worker.SetDownloadPath(dir.wide());
  std::u16string name = u"Data/a.pak";
  std::u16string directory = u"unchanged";
  EXPECT_TRUE(worker.MakeSubDirectory(name, directory));
  EXPECT_EQ(name, u"a.pak");
  EXPECT_EQ(directory, dir.wide("Data"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Data"));

  name = u"Maps/World/x.map";
  EXPECT_TRUE(worker.MakeSubDirectory(name, directory));
  EXPECT_EQ(name, u"x.map");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Maps/World"));

  name = u"a.pak";
  directory = u"unchanged";
  EXPECT_FALSE(worker.MakeSubDirectory(name, directory));
  EXPECT_EQ(name, u"a.pak");
  EXPECT_EQ(directory, u"unchanged");
}

TEST(LocalFiles, NamesThatStayInsideTheInstallFolder) {
  const struct {
    const char16_t* name;
    bool safe;
  } rows[] = {
      {u"a.pak", true},          {u"Data/a.pak", true},    {u"a/b/c.pak", true},   {u"..a/b..c", true},
      {u"", false},              {u"../a.pak", false},     {u"Data/../../x", false}, {u"/etc/passwd", false},
      {u"Data\\a.pak", false},   {u"Data//a.pak", false},  {u"Data/", false},      {u"./a.pak", false},
      {u"a/\u0001b", false},     {u"..", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsSafeEntryName(row.name), row.safe) << platform::NarrowUtf8(row.name);
}

} // namespace

namespace {

TEST(ConcurrentChecksum, HashesAGrowingFileAsItIsWritten) {
  TempDir dir;
  std::string bytes(5 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + (i >> 9));
  testsupport::WriteBytes(dir / "whole", bytes);
  std::u16string expected;
  ASSERT_EQ(ComputeFileChecksum(dir.wide("whole"), nullptr, expected), 0u);

  std::atomic<bool> running{true};
  CConcurrentChecksum hasher(&running);
  for (int round = 0; round < 2; ++round) {
    // A file that was dropped half-way leaves nothing behind for the next one.
    testsupport::WriteBytes(dir / "dropped", bytes.substr(0, 1000));
    hasher.Begin(dir.wide("dropped"), 1000);
    hasher.Abandon();

    const std::size_t prefix = round == 0 ? 0 : 123457;  // a resumed file starts with bytes on disk
    testsupport::WriteBytes(dir / "growing", bytes.substr(0, prefix));
    hasher.Begin(dir.wide("growing"), prefix);
    platform::CFileHandle file;
    ASSERT_EQ(file.Open(dir.wide("growing"), platform::OpenMode::AppendAlways), 0u);
    for (std::size_t at = prefix; at < bytes.size(); at += 8192) {
      const std::size_t n = std::min<std::size_t>(8192, bytes.size() - at);
      ASSERT_EQ(file.Write(bytes.data() + at, n), 0u);
      hasher.Advance(at + n);
    }
    std::u16string sum;
    EXPECT_EQ(hasher.Finish(bytes.size(), sum), 0u);
    EXPECT_EQ(sum, expected) << "round " << round;
  }

  running = false;
  hasher.Begin(dir.wide("whole"), bytes.size());
  std::u16string sum = u"x";
  EXPECT_EQ(hasher.Finish(bytes.size(), sum), CHECKSUM_STOPPED);
  EXPECT_EQ(sum, u"");
}

} // namespace
