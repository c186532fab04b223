#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "WorkerFixture.h"
#include "download/FileSink.h"
#include "download/Patch.h"
#include "net/Wininet.h"
#include "platform/Clock.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"

namespace {

using namespace download;
using namespace testsupport;
namespace fs = std::filesystem;

const ::testing::Environment* const kLog = &LogEnvironment::Instance();

constexpr std::uint32_t kBlock = 1024;

std::string IndexBytes(const std::string& bytes) { return BlockIndexBytes(bytes, kBlock); }

// The bytes the last patch fetched, as the log says (index included); -1 when nothing was patched.
long long LastFetched(const std::string& log) {
  const std::size_t at = log.rfind("fetched ");
  return at == std::string::npos ? -1 : std::stoll(log.substr(at + 8));
}

class NginxPatch : public ::testing::Test {
 protected:
  NginxServer server;
  const std::string old = Pattern(300 * 1024, 1);
  void SetUp() override { ASSERT_TRUE(server.Started()); }
  // Publishes the new version with its index (or, given, other index bytes under its digest).
  filelist::CFileList Publish(const std::string& fresh, const std::string* index = nullptr) {
    const std::string own = IndexBytes(fresh);
    server.Put("files/game.pak", fresh);
    filelist::CFileList list = MakeList(server.Url("/files/"), {{"game.pak", fresh}});
    list.m_vecFileInfo[0].Blocks = BlockIndexEntry("game.pak", own);
    server.Put("files/.blocks/game.pak.blocks", index != nullptr ? *index : own);
    return list;
  }
};

// An old version on disk becomes the new one with only about the changed bytes fetched; the patch
// is built beside it and nothing of it is left. A shorter file that is the new version's start is an
// interrupted download, resumed as without an index.
TEST_F(NginxPatch, AChangedFileIsBuiltFromItsOldVersion) {
  const std::string other = Pattern(64 * 1024, 2);
  std::string changed = old;
  changed.replace(100000, 40000, other.substr(0, 40000));
  std::string inserted = old;
  inserted.insert(1000, other.substr(0, 100));
  inserted.replace(200000, 5000, other.substr(0, 5000));
  const std::size_t indexSize = IndexBytes(old).size();
  const struct {
    const char* name;
    std::string fresh;
    std::string onDisk;
    long long mostFetched;  // -1: resumed, not patched
  } rows[] = {
      {"40 KB changed in place", changed, old, static_cast<long long>(indexSize + 40000 + 2 * kBlock)},
      {"100 bytes inserted and 5 KB changed", inserted, old, static_cast<long long>(indexSize + 5100 + 4 * kBlock)},
      {"an old version longer than the new", changed.substr(0, 200000), changed, static_cast<long long>(indexSize)},
      {"the new version's first part", old, old.substr(0, 150 * 1024), -1},
  };
  for (const auto& row : rows) {
    const std::size_t logMark = LogText().size();
    const filelist::CFileList list = Publish(row.fresh);
    Worker worker(list);
    worker.Write("game.pak", row.onDisk);
    const RunRecord run = worker.Run();
    EXPECT_TRUE(run.success) << row.name << ": " << run.message;
    EXPECT_EQ(worker.Read("game.pak"), row.fresh) << row.name;
    EXPECT_FALSE(fs::exists(worker.folder / "game.pak.valdris-patch")) << row.name;
    const std::string log = LogText().substr(logMark);
    if (row.mostFetched < 0) {
      EXPECT_EQ(CountOf(log, "file patch success"), 0) << row.name;
      EXPECT_EQ(CountOf(log, "(100%) file download success"), 1) << row.name;
    } else {
      EXPECT_EQ(CountOf(log, "[INFO] (100%) file patch success - reused "), 1) << row.name << "\n" << log;
      EXPECT_GT(LastFetched(log), 0) << row.name;
      EXPECT_LE(LastFetched(log), row.mostFetched) << row.name;
      ASSERT_FALSE(run.progress.empty()) << row.name;
      EXPECT_EQ(run.progress.back().dwReceived, row.fresh.size()) << row.name << ": the last record shows it whole";
    }
  }
}

// An index the list's digest does not vouch for, or none on the server: the file is fetched whole,
// as without an index, and the run succeeds.
TEST_F(NginxPatch, AnIndexThatCannotBeTrustedMeansAWholeFetch) {
  std::string fresh = old;
  fresh.replace(1000, 10, "0123456789");
  const std::string swapped = IndexBytes(Pattern(300 * 1024, 9));
  const filelist::CFileList swappedList = Publish(fresh, &swapped);
  Worker worker(swappedList);
  worker.Write("game.pak", old);
  const std::size_t logBefore = LogText().size();
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("game.pak"), fresh);
  std::string log = LogText().substr(logBefore);
  EXPECT_EQ(CountOf(log, "[WARNING] block index does not match the file list so re-download"), 1) << log;
  EXPECT_EQ(CountOf(log, "(100%) file download success"), 1);

  filelist::CFileList missing = swappedList;
  missing.m_vecFileInfo[0].Blocks.Name = ".blocks/none.blocks";
  Worker second(missing);
  second.Write("game.pak", old);
  const RunRecord again = second.Run();
  EXPECT_TRUE(again.success) << again.message;
  EXPECT_EQ(second.Read("game.pak"), fresh);
  log = LogText().substr(logBefore + log.size());
  EXPECT_EQ(CountOf(log, "[WARNING] failed to get block index so re-download - (404)"), 1) << log;
}

class FaultPatch : public ::testing::Test {
 protected:
  FaultServer server;
  const std::string old = Pattern(200 * 1024, 3);
  std::string fresh;
  filelist::CFileList list;
  void SetUp() override {
    fresh = old;
    for (std::size_t at : {20000u, 90000u, 150000u}) fresh.replace(at, 8000, Pattern(8000, static_cast<unsigned>(at)));
    const std::string index = IndexBytes(fresh);
    FaultScript indexScript;
    indexScript.body = index;
    server.Script("/files/.blocks/game.pak.blocks", indexScript);
    list = MakeList(server.Url("/files/"), {{"game.pak", fresh}});
    list.m_vecFileInfo[0].Blocks = BlockIndexEntry("game.pak", index);
  }
  void Serve(FaultScript script) {
    script.body = fresh;
    server.Script("/files/game.pak", std::move(script));
  }
};

TEST_F(FaultPatch, AServerThatIgnoresRangesGivesTheWholeFile) {
  FaultScript ignoring;
  ignoring.honourRange = false;
  Serve(ignoring);
  Worker worker(list);
  worker.Write("game.pak", old);
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("game.pak"), fresh);
  EXPECT_FALSE(fs::exists(worker.folder / "game.pak.valdris-patch"));
  EXPECT_EQ(CountOf(LogText(), "[WARNING] server does not take ranges so re-download"), 1);
}

// The connection dies while the ranges come: the old file stays as it was, the ranges that came stay
// in the patch's file beside it, and the next run (even with bytes after that file's end, as a kill
// can leave) fetches only what was not there yet.
TEST_F(FaultPatch, AnInterruptedPatchGoesOnWithoutFetchingAgain) {
  FaultScript dying;
  dying.cutAfter = 12000;  // into the second range
  dying.reset = true;
  Serve(dying);
  Worker worker(list);
  worker.Write("game.pak", old);
  const RunRecord first = worker.Run();
  EXPECT_FALSE(first.success);
  EXPECT_EQ(worker.Read("game.pak"), old) << "the old file is never touched before the new one is whole";
  const fs::path part = worker.folder / "game.pak.valdris-patch";
  ASSERT_TRUE(fs::exists(part));
  {
    const std::string bytes = ReadBytes(part);
    const std::size_t firstRange = 20000 / kBlock * kBlock;
    ASSERT_GE(bytes.size(), 28000u);
    EXPECT_EQ(bytes.substr(firstRange, 28000 - firstRange), fresh.substr(firstRange, 28000 - firstRange))
        << "the first range stays where it belongs";
    WriteBytes(part, bytes + Pattern(5000, 77));
  }
  Serve(FaultScript{});
  const std::size_t before = server.Requests().size();
  const RunRecord second = worker.Run();
  EXPECT_TRUE(second.success) << second.message;
  EXPECT_EQ(worker.Read("game.pak"), fresh);
  EXPECT_FALSE(fs::exists(part));
  const std::vector<std::string> requests = server.Requests();
  const std::string firstRange = "=" + std::to_string(20000 / kBlock * kBlock) + "-";
  int asked = 0;
  for (std::size_t i = before; i < requests.size(); ++i) {
    if (requests[i].find("GET /files/game.pak ") == std::string::npos) continue;
    ++asked;
    EXPECT_EQ(requests[i].find(firstRange), std::string::npos) << "the first range is not asked for again";
  }
  EXPECT_EQ(asked, 1);
  EXPECT_LT(LastFetched(LogText()), static_cast<long long>(list.m_vecFileInfo[0].Blocks.Size + 3 * 8000 + 4 * kBlock));
}

// Changes far apart in a larger file, patched by the patcher alone: the ranges go over several
// connections at once, every block is either reused or fetched once, and the bytes at hand shown
// while it builds never go back.
TEST(Patch, RangesGoOverSeveralConnectionsAtOnce) {
  const std::string old = Pattern(1024 * 1024, 5);
  std::string fresh = old;
  for (std::size_t at : {100000u, 400000u, 700000u, 900000u}) fresh.replace(at, 40000, Pattern(40000, static_cast<unsigned>(at)));
  FaultServer server;
  const std::string index = IndexBytes(fresh);
  FaultScript indexScript;
  indexScript.body = index;
  server.Script("/files/.blocks/game.pak.blocks", indexScript);
  FaultScript slow;  // each answer waits a moment, so requests sent together are open together
  slow.body = fresh;
  slow.stallAfter = 0;
  slow.stallMs = 1000;
  server.Script("/files/game.pak", slow);
  TempDir dir;
  const fs::path file = dir / "game.pak";
  WriteBytes(file, old);

  const std::atomic<bool> running{true};
  net::CWininet::AllowConnectionsPerServer(4);
  net::CHttpClient client;
  std::vector<std::unique_ptr<CFileSink>> sinks;  // each outlives its client, which closes it
  std::vector<std::unique_ptr<net::CHttpClient>> clients;
  std::vector<CSegmentedFetch::Connection> connections;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<net::CHttpClient>());
    sinks.push_back(std::make_unique<CFileSink>());
    connections.push_back({clients.back().get(), sinks.back().get()});
  }
  CServerSet servers({platform::WidenUtf8(server.Url("/files/"))}, &platform::TickCount32);
  CConcurrentChecksum hasher(&running);
  CFileSink writer;
  PatchJob job{u"game.pak", platform::WidenUtf8(file.u8string()), fresh.size(), platform::WidenUtf8(Md5Of(fresh)),
               BlockIndexEntry("game.pak", index), old.size(), std::uint64_t{1} << 40};
  std::uint64_t atHand = 0;
  bool forward = true;
  CPatcher patcher(std::move(job), client, servers, hasher, std::move(connections), writer, running,
                   &platform::TickCount32, [&](bool, std::uint64_t now, std::uint64_t) {
                     forward = forward && now >= atHand;
                     atHand = now;
                     return true;
                   });
  const PatchResult result = patcher.Run();
  ASSERT_EQ(result.end, PatchEnd::Patched) << (result.failure ? result.failure->code : 0);
  EXPECT_EQ(ReadBytes(file), fresh);
  EXPECT_EQ(result.reused + result.fetched - index.size(), fresh.size()) << "each block reused or fetched, once";
  EXPECT_LE(result.fetched - index.size(), 4 * 40000 + 8 * kBlock);
  EXPECT_GE(server.MostOpenAtOnce(), 2);
  EXPECT_TRUE(forward);
  EXPECT_EQ(atHand, fresh.size());
}

// The first server dies while the ranges come: a mirror sends the rest, and the patch is whole.
TEST_F(FaultPatch, AMirrorTakesOverTheRangesOfADyingServer) {
  FaultScript dying;
  dying.cutAfter = 12000;
  dying.reset = true;
  Serve(dying);
  FaultServer mirror;
  FaultScript mirrored;
  mirrored.body = fresh;
  mirror.Script("/files/game.pak", mirrored);
  list.m_vecMirrors = {mirror.Url("/files/")};
  Worker worker(list);
  worker.Write("game.pak", old);
  const std::string before = LogText();
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("game.pak"), fresh);
  const std::string log = LogText().substr(before.size());
  EXPECT_EQ(CountOf(log, "file patch success"), 1) << log;
  EXPECT_EQ(CountOf(log, "failed to"), 0) << log;
  ASSERT_FALSE(mirror.Requests().empty());
  EXPECT_EQ(mirror.Requests()[0].find("=" + std::to_string(20000 / kBlock * kBlock) + "-"), std::string::npos)
      << "what the first server sent is not asked for again";
}

// Names a list gives to the patch's own files: an index outside the list's base is refused as an
// The disk fills while the patch is built (the ranges, then the old file's blocks, all go through
// the sink): the player is told it is the disk, and the old file stays as it was.
TEST_F(FaultPatch, AFullDiskWhileBuildingSaysSoAndKeepsTheOldFile) {
  Serve(FaultScript{});
  for (const std::int64_t room : {std::int64_t{10000}, std::int64_t{100000}}) {
    Worker worker(list);
    worker.Write("game.pak", old);
    worker.FillDiskAfter(room);
    const RunRecord run = worker.Run();
    EXPECT_FALSE(run.success) << room;
    EXPECT_EQ(run.message, "Insufficient free space in storage.") << room;
    EXPECT_EQ(worker.Read("game.pak"), old) << room;
  }
}

// entry's name is, and a listed file named like a patch's file is never overwritten by one.
TEST_F(FaultPatch, NamesThatWouldMisleadAPatch) {
  {
    filelist::CFileList hostile = list;
    hostile.m_vecFileInfo[0].Blocks.Name = "../secret.blocks";
    Serve(FaultScript{});
    Worker worker(hostile);
    worker.Write("game.pak", old);
    const RunRecord run = worker.Run();
    EXPECT_FALSE(run.success);
    EXPECT_NE(run.message.find("(123)"), std::string::npos) << run.message;
    EXPECT_EQ(worker.Read("game.pak"), old);
  }
  {
    const std::string own = Pattern(3000, 9);
    filelist::CFileList both = MakeList(server.Url("/files/"), {{"game.pak", fresh}, {"game.pak.valdris-patch", own}});
    both.m_vecFileInfo[0].Blocks = list.m_vecFileInfo[0].Blocks;
    FaultScript ownScript;
    ownScript.body = own;
    server.Script("/files/game.pak.valdris-patch", ownScript);
    Serve(FaultScript{});
    Worker worker(both);
    worker.Write("game.pak", old);
    worker.Write("game.pak.valdris-patch", own);
    const std::string before = LogText();
    const RunRecord run = worker.Run();
    EXPECT_TRUE(run.success) << run.message;
    EXPECT_EQ(worker.Read("game.pak"), fresh);
    EXPECT_EQ(worker.Read("game.pak.valdris-patch"), own);
    EXPECT_EQ(CountOf(LogText().substr(before.size()), "file patch mode"), 0);
  }
}

} // namespace
