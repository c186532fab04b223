// Several servers for one list: which addresses a list may name, a file's transfer moving to the next
// server when one fails, and large files fetched in segments over several connections and servers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "WorkerFixture.h"
#include "core/StringTable.h"
#include "download/DownloadThread.h"
#include "download/FileSink.h"
#include "download/Servers.h"
#include "platform/Files.h"
#include "support/FaultServer.h"

namespace {

using namespace download;
using namespace testsupport;

TEST(Servers, WhatAListMayNameAsItsMirrors) {
  struct Row {
    const char* name;
    std::vector<std::string> mirrors;
    bool valid;
    std::vector<std::u16string> servers;
  };
  const std::vector<Row> rows = {
      {"none", {}, true, {u"http://a/f/"}},
      {"two", {"https://b/f/", "HTTP://c:8080/f/"}, true, {u"http://a/f/", u"https://b/f/", u"HTTP://c:8080/f/"}},
      {"a missing slash is added", {"http://b/f"}, true, {u"http://a/f/", u"http://b/f/"}},
      {"the same server twice counts once", {"http://b/f/", "http://b/f/", "http://a/f/"}, true,
       {u"http://a/f/", u"http://b/f/"}},
      {"not http", {"ftp://b/f/"}, false, {}},
      {"a file path", {"/srv/game/"}, false, {}},
      {"no host", {"http:///f/"}, false, {}},
      {"a space", {"http://b/my game/"}, false, {}},
      {"a query", {"http://b/f/?x=1"}, false, {}},
      {"empty", {""}, false, {}},
      {"too many", {"http://1/", "http://2/", "http://3/", "http://4/", "http://5/", "http://6/", "http://7/", "http://8/"},
       false, {}},
  };
  for (const Row& row : rows) {
    filelist::CFileList list;
    list.m_strURL = "http://a/f/";
    list.m_vecMirrors = row.mirrors;
    std::vector<std::u16string> servers;
    std::u16string problem;
    EXPECT_EQ(ListServers(list, servers, problem), row.valid) << row.name;
    if (row.valid) EXPECT_EQ(servers, row.servers) << row.name;
    else EXPECT_FALSE(problem.empty()) << row.name;
  }
}

// A list served by two fault servers: the list's own ("URL") and a mirror.
class TwoServers : public ::testing::Test {
 protected:
  FaultServer first;
  FaultServer mirror;
  const std::string content = Pattern(300000, 11);
  filelist::CFileList List(const std::string& url = "") {
    filelist::CFileList list = MakeList(url.empty() ? first.Url("/f/") : url, {{"Data/x.pak", content}});
    list.m_vecMirrors = {mirror.Url("/f/")};
    return list;
  }
  FaultScript Plain(std::string body = "") {
    FaultScript script;
    script.body = body.empty() ? content : std::move(body);
    return script;
  }
};

// Whatever the first server does wrong, the mirror brings the file, with no message; the log names it.
TEST_F(TwoServers, AFailingServerHandsTheFileToTheNext) {
  struct Row {
    const char* name;
    std::function<void(FaultScript&)> breakIt;
    bool resumed;  // the mirror goes on from the bytes the first one sent
  };
  const std::vector<Row> rows = {
      {"reset mid-body", [](FaultScript& s) { s.cutAfter = 120000, s.reset = true; }, true},
      {"cut short", [](FaultScript& s) { s.cutAfter = 70000; }, true},
      {"503", [](FaultScript& s) { s.status = 503; }, false},
      {"429", [](FaultScript& s) { s.status = 429; }, false},
      {"404", [](FaultScript& s) { s.status = 404; }, false},
      {"wrong length", [this](FaultScript& s) { s.body = content.substr(0, 1000); }, false},
      {"wrong bytes", [](FaultScript& s) { s.body = Pattern(300000, 99); }, false},
      {"time-out", [](FaultScript& s) { s.stallBeforeHeaders = true, s.stallMs = 3000; }, false},
  };
  for (const Row& row : rows) {
    FaultScript broken = Plain();
    row.breakIt(broken);
    first.Script("/f/Data/x.pak", broken);
    mirror.Script("/f/Data/x.pak", Plain());
    const std::size_t before = mirror.Requests().size();
    const std::string logBefore = LogText();
    Worker worker(List());
    const RunRecord run = worker.Run();
    EXPECT_TRUE(run.success) << row.name << ": " << run.message;
    EXPECT_EQ(run.message, "") << row.name;
    EXPECT_EQ(worker.Read("Data/x.pak"), content) << row.name;
    const std::vector<std::string> asked = mirror.Requests();
    ASSERT_EQ(asked.size(), before + 1) << row.name;
    EXPECT_EQ(asked.back().find("Range:") != std::string::npos, row.resumed) << row.name << ": " << asked.back();
    const std::string log = LogText().substr(logBefore.size());
    EXPECT_NE(log.find("file download from server - " + mirror.Url("/f/")), std::string::npos) << row.name;
    EXPECT_EQ(log.find("failed to"), std::string::npos) << row.name << ": " << log;
  }
}

TEST_F(TwoServers, AServerThatRefusesConnectionsIsPassedBy) {
  mirror.Script("/f/Data/x.pak", Plain());
  Worker worker(List("http://127.0.0.1:1/f/"));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
}

// When every server fails, the run ends with the last failure's message; what arrived stays.
TEST_F(TwoServers, WhenEveryServerFailsTheLastFailureIsTheMessage) {
  FaultScript cut = Plain();
  cut.cutAfter = 50000;
  cut.reset = true;
  first.Script("/f/Data/x.pak", cut);
  FaultScript busy = Plain();
  busy.status = 503;
  mirror.Script("/f/Data/x.pak", busy);
  Worker worker(List());
  const RunRecord run = worker.Run();
  ASSERT_TRUE(run.gotResult);
  EXPECT_FALSE(run.success);
  EXPECT_NE(run.message.find("(503)"), std::string::npos) << run.message;
  const std::string kept = worker.Read("Data/x.pak");
  EXPECT_EQ(kept, content.substr(0, kept.size()));
  EXPECT_GT(kept.size(), 0u);
}

// Large files in segments: every piece asked for with its own range, from both servers.
class Segments : public TwoServers {
 protected:
  const std::string large = Pattern(2 * 1024 * 1024 + 12345, 5);
  filelist::CFileList LargeList() {
    filelist::CFileList list = MakeList(first.Url("/f/"), {{"big.pak", large}, {"small.pak", content}});
    list.m_vecMirrors = {mirror.Url("/f/")};
    return list;
  }
  static void Segmented(Worker& worker, bool probeFirst = false) {
    worker.thread.SetConnections(4);
    worker.thread.SetSegmentThreshold(1024 * 1024, probeFirst);
  }
  static std::size_t RangedRequests(const FaultServer& server) {
    std::size_t n = 0;
    for (const std::string& head : server.Requests()) n += head.find("Range: bytes=") != std::string::npos ? 1 : 0;
    return n;
  }
  // The list of the large and the small file on the first server alone, the large one as scripted.
  filelist::CFileList OneServer(const FaultScript& big) {
    first.Script("/f/big.pak", big);
    first.Script("/f/small.pak", Plain());
    filelist::CFileList list = LargeList();
    list.m_vecMirrors.clear();
    return list;
  }
  bool PartLeft(const Worker& worker) const {
    return std::filesystem::exists(worker.folder / "big.pak.valdris-part") ||
           std::filesystem::exists(worker.folder / "big.pak.valdris-part.record");
  }
};

// However the servers answer the pieces, the file arrives whole and verified, and no part is left.
TEST_F(Segments, ALargeFileComesInPiecesWhateverTheServersDo) {
  struct Row {
    const char* name;
    std::function<void(FaultScript&)> first;
    std::function<void(FaultScript&)> mirror;
    bool bothServe;  // pieces came from both servers
  };
  const auto fine = [](FaultScript&) {};
  const std::vector<Row> rows = {
      {"both take ranges", fine, fine, true},
      {"the first dies mid-segment", [](FaultScript& s) { s.cutAfter = 20000, s.reset = true; }, fine, true},
      {"the first is too busy", [](FaultScript& s) { s.status = 503; }, fine, false},
      {"the first sends short pieces", [](FaultScript& s) { s.cutAfter = 30000; }, fine, true},
      {"the mirror sends wrong bytes", fine, [this](FaultScript& s) { s.body = Pattern(large.size(), 99); }, true},
      {"neither takes ranges: the file comes whole", [](FaultScript& s) { s.honourRange = false; },
       [](FaultScript& s) { s.honourRange = false; }, false},
  };
  for (const Row& row : rows) {
    FaultScript firstScript = Plain(large);
    FaultScript mirrorScript = Plain(large);
    row.first(firstScript);
    row.mirror(mirrorScript);
    first.Script("/f/big.pak", firstScript);
    mirror.Script("/f/big.pak", mirrorScript);
    first.Script("/f/small.pak", Plain());
    const std::size_t firstBefore = RangedRequests(first);
    const std::size_t mirrorBefore = RangedRequests(mirror);
    Worker worker(LargeList());
    Segmented(worker);
    const RunRecord run = worker.Run();
    EXPECT_TRUE(run.success) << row.name << ": " << run.message;
    EXPECT_EQ(worker.Read("big.pak"), large) << row.name;
    EXPECT_EQ(worker.Read("small.pak"), content) << row.name;
    EXPECT_FALSE(PartLeft(worker)) << row.name;
    if (row.bothServe) {
      EXPECT_GT(RangedRequests(first), firstBefore) << row.name;
      EXPECT_GT(RangedRequests(mirror), mirrorBefore) << row.name;
    }
    // Records stay per entry and in order: the large file's come before the small one's.
    ASSERT_FALSE(run.progress.empty()) << row.name;
    EXPECT_EQ(run.progress.front().nFileIndex, 0) << row.name;
    EXPECT_EQ(run.progress.back().nFileIndex, 1) << row.name;
  }
}

// Every piece is asked for once with its own range when nothing goes wrong.
TEST_F(Segments, EachPieceIsAskedForOnce) {
  first.Script("/f/big.pak", Plain(large));
  mirror.Script("/f/big.pak", Plain(large));
  first.Script("/f/small.pak", Plain());
  Worker worker(LargeList());
  Segmented(worker);
  EXPECT_TRUE(worker.Run().success);
  EXPECT_EQ(RangedRequests(first) + RangedRequests(mirror), large.size() / PieceSizeFor(large.size()) + 1);
}

// A large file starts as one stream; a slow one goes on in segments, and what it brought stays.
TEST_F(Segments, ASlowStreamGoesOnInSegments) {
  FaultScript slow = Plain(large);
  slow.dripBytes = 32 * 1024;
  slow.dripDelayMs = 20;
  Worker worker(OneServer(slow));
  Segmented(worker, true);
  const std::string before = LogText();
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("big.pak"), large);
  EXPECT_FALSE(PartLeft(worker));
  EXPECT_EQ(CountOf(LogText().substr(before.size()), "file download segment mode"), 1);
  const std::vector<std::string> heads = first.Requests();
  ASSERT_GT(heads.size(), 2u);
  EXPECT_EQ(heads[0].find("Range:"), std::string::npos) << "one stream first";
  for (std::size_t i = 1; i < heads.size(); ++i)
    EXPECT_EQ(heads[i].find("Range: bytes=0-"), std::string::npos) << "what the stream brought is kept: " << heads[i];
}

// One server that dies mid-segment ends the run (nothing is asked again by itself); the next run
// keeps the pieces that arrived and asks only for the rest.
TEST_F(Segments, WithOneServerAFailureEndsTheRunAndTheNextKeepsThePieces) {
  FaultScript dying = Plain(large);
  dying.cutAfter = 100000;
  dying.reset = true;
  Worker worker(OneServer(dying));
  Segmented(worker);
  const RunRecord failed = worker.Run();
  ASSERT_TRUE(failed.gotResult);
  EXPECT_FALSE(failed.success);
  EXPECT_FALSE(std::filesystem::exists(worker.folder / "big.pak"));
  EXPECT_TRUE(PartLeft(worker));

  first.Script("/f/big.pak", Plain(large));
  const std::size_t before = first.Requests().size();
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("big.pak"), large);
  EXPECT_FALSE(PartLeft(worker));
  // The pieces of the first run were not asked for again, whole.
  std::uint64_t asked = 0;
  const std::vector<std::string> heads = first.Requests();
  for (std::size_t i = before; i < heads.size(); ++i) {
    const std::size_t at = heads[i].find("Range: bytes=");
    if (at == std::string::npos) continue;
    const std::uint64_t from = std::stoull(heads[i].substr(at + 13));
    const std::uint64_t to = std::stoull(heads[i].substr(heads[i].find('-', at + 13) + 1));
    asked += to + 1 - from;
  }
  EXPECT_LT(asked, large.size());
}

TEST_F(Segments, AStopKeepsThePiecesForTheNextRun) {
  FaultScript slow = Plain(large);
  slow.dripBytes = 16384;
  slow.dripDelayMs = 20;
  Worker worker(OneServer(slow));
  Segmented(worker);
  ASSERT_TRUE(worker.thread.Start());
  download::CMessageQueue::Message message;
  ASSERT_TRUE(worker.queue.Wait(message, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  worker.thread.Stop();
  const RunRecord stopped = Collect(worker.queue, 5000);
  ASSERT_TRUE(stopped.gotResult);
  EXPECT_FALSE(stopped.success);
  EXPECT_EQ(stopped.message, "");
  EXPECT_TRUE(PartLeft(worker));
  const std::string record = ReadBytes(worker.folder / "big.pak.valdris-part.record");
  EXPECT_EQ(record.substr(0, 14), "valdris-part 1");

  first.Script("/f/big.pak", Plain(large));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("big.pak"), large);
  // The first record of the second run starts from what the first one kept.
  ASSERT_FALSE(run.progress.empty());
  EXPECT_GT(run.progress.front().dwResumedFrom, 0u);
}

// A disk that fills during a segmented file says so; the pieces written stay for later.
TEST_F(Segments, AFullDiskMidSegmentSaysSo) {
  first.Script("/f/big.pak", Plain(large));
  mirror.Script("/f/big.pak", Plain(large));
  Worker worker(LargeList());
  Segmented(worker);
  worker.FillDiskAfter(600000);
  const RunRecord run = worker.Run();
  ASSERT_TRUE(run.gotResult);
  EXPECT_FALSE(run.success);
  EXPECT_EQ(run.message, platform::NarrowUtf8(core::LoadResString(core::IDS_INSUFFICIENT_SPACE)));
  EXPECT_FALSE(std::filesystem::exists(worker.folder / "big.pak"));
  EXPECT_TRUE(PartLeft(worker));
}

} // namespace
