#include <gtest/gtest.h>

#include <functional>

#include "download/ProgressModel.h"
#include "platform/Utf.h"

namespace {

using namespace download;

std::string N(std::u16string_view s) { return platform::NarrowUtf8(s); }

filelist::CFileList List(std::vector<std::uint64_t> sizes) {
  filelist::CFileList list;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    list.m_vecFileInfo.push_back({"f" + std::to_string(i), sizes[i], "", {}});
    list.m_nTotalSize += sizes[i];
  }
  list.m_nTotalCount = static_cast<std::int32_t>(sizes.size());
  return list;
}

DownloadProgress Record(std::int32_t index, std::uint32_t start, std::uint64_t total, std::uint64_t received,
                        std::uint64_t resumedFrom = 0) {
  DownloadProgress p;
  p.nFileIndex = index;
  p.dwStartTime = start;
  p.dwTotal = total;
  p.dwReceived = received;
  p.dwResumedFrom = resumedFrom;
  return p;
}

// A stop and a new start in the middle of an entry: the entry's time goes on from where it stood,
// for its first record after the start and for the later ones, until the next entry begins.
TEST(ProgressModel, TimeLeftCarriesOnAcrossAStop) {
  const filelist::CFileList list = List({10000, 5000});
  CProgressModel model(list);
  const struct {
    const char* name;
    std::function<std::optional<ProgressFigures>()> step;
    const char* timeLeft;  // nullptr: no figures
  } steps[] = {
      {"2000 of 10000 bytes in 2 s: 8 s left", [&] { return model.Update(Record(0, 1000, 10000, 2000), 3000); },
       "00:00:08"},
      {"the user stops at 4000", [&] { model.OnStop(4000); return std::optional<ProgressFigures>(); }, nullptr},
      {"and starts again", [&] { model.OnStart(); return std::optional<ProgressFigures>(); }, nullptr},
      {"first record after the start: the 3 s the entry had run", [&] {
         return model.Update(Record(0, 9000, 10000, 3000, 2000), 9500);
       },
       "00:00:07"},
      {"a later record is timed from the shifted start (3 s again, not 1.5 s)", [&] {
         return model.Update(Record(0, 9000, 10000, 4000, 2000), 10500);
       },
       "00:00:04"},
      {"the next entry has its own time", [&] { return model.Update(Record(1, 11000, 5000, 1000), 12000); },
       "00:00:04"},
  };
  for (const auto& step : steps) {
    const std::optional<ProgressFigures> figures = step.step();
    if (step.timeLeft == nullptr) continue;
    ASSERT_TRUE(figures && figures->timeLeft) << step.name;
    EXPECT_EQ(N(*figures->timeLeft), step.timeLeft) << step.name;
  }
}

// The terminal's figures: network bytes only (a resumed part already on disk is no speed), the whole
// list's percentage with earlier entries counted as done, and its time left at the recent speed.
TEST(ProgressModel, TerminalSpeedCountsOnlyWhatCameOverTheNetwork) {
  const filelist::CFileList list = List({1000, 2000000});
  CProgressModel model(list);
  EXPECT_EQ(model.ListSecondsLeft(), std::nullopt) << "unmeasured before any record";
  model.Update(Record(0, 0, 1000, 1000), 100000);
  model.Update(Record(1, 0, 2000000, 1000500, 1000000), 101000);
  EXPECT_EQ(model.RecentSpeed(), 500u) << "500 new bytes in a second, not the million resumed";
  EXPECT_EQ(model.ListPercent(), 50);
  EXPECT_EQ(model.ListSecondsLeft(), std::optional<std::uint32_t>((2001000 - 1001500) / 500));
  EXPECT_EQ(model.CurrentIndex(), 1);
  EXPECT_EQ(model.CurrentReceived(), 1000500u);
  EXPECT_EQ(model.CurrentTotal(), 2000000u);
}

} // namespace

// Files that take less than a second each: records of one entry come closer together than a second,
// and each new entry's first record has no growth of its own to measure. The speed shown is then
// that of the last seconds over all files, never zero while bytes flow.
TEST(ProgressModel, FilesFasterThanASecondShowTheSpeedOfTheLastSeconds) {
  const std::uint64_t size = 24 * 1024 * 1024;
  const filelist::CFileList list = List({size, size, size, size});
  CProgressModel model(list);
  std::string shown;
  // 30 MB/s: each file takes 800 ms; a record at its first 8 KiB and one at 100 percent.
  for (std::int32_t i = 0; i < 4; ++i) {
    const std::uint32_t start = 1000 + 800 * static_cast<std::uint32_t>(i);
    const ProgressFigures first = model.Update(Record(i, start, size, 8192), start + 1);
    const ProgressFigures whole = model.Update(Record(i, start, size, size), start + 800);
    if (i >= 1) {
      ASSERT_TRUE(first.speed && whole.speed);
      EXPECT_EQ(N(*first.speed).find(" MB/sec"), N(*first.speed).size() - 7) << i << ": " << N(*first.speed);
      EXPECT_EQ(N(*whole.speed).find(" MB/sec"), N(*whole.speed).size() - 7) << i << ": " << N(*whole.speed);
    }
  }
}

// An entry resumed from a part an earlier session left: the time left is judged by what arrived in
// this session, not by the part that was already there.
TEST(ProgressModel, TimeLeftOfAPartFromAnEarlierSessionCountsOnlyThisSessionsBytes) {
  const filelist::CFileList list = List({100000});
  CProgressModel model(list);
  // 90000 bytes were on disk; 1000 more arrived in the first second: 9000 left at 1000 a second.
  const ProgressFigures f = model.Update(Record(0, 1000, 100000, 91000, 90000), 2000);
  ASSERT_TRUE(f.timeLeft);
  EXPECT_EQ(N(*f.timeLeft), "00:00:09");
}
