#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "WorkerFixture.h"
#include "core/StringTable.h"
#include "download/DownloadThread.h"
#include "download/FileListFetch.h"
#include "download/FileSink.h"
#include "platform/Files.h"
#include "support/Environment.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/SpecialFiles.h"

namespace {

using namespace download;
using namespace testsupport;
namespace fs = std::filesystem;

const ::testing::Environment* const kLog = &LogEnvironment::Instance();

std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }


// The Range header as it reaches the server: as the worker writes it, or in WinINet's own form
// with a space after the colon.
std::string RangeOnTheWire(std::uint64_t from) {
  return (kIsWindows ? "Range: bytes=" : "Range:bytes=") + std::to_string(from) + "-";
}

class NginxWorker : public ::testing::Test {
 protected:
  NginxServer server;
  std::vector<std::pair<std::string, std::string>> files = {
      {"Data/a.pak", Pattern(300000, 1)},      // several chunks
      {"b.bin", Pattern(5000, 2)},             // one chunk
      {"Maps/World/c.map", Pattern(70000, 3)}, // two levels of folders
  };
  void SetUp() override {
    ASSERT_TRUE(server.Started());
    for (const auto& [name, bytes] : files) server.Put("files/" + name, bytes);
  }
  filelist::CFileList List() { return MakeList(server.Url("/files/"), files); }
};

TEST_F(NginxWorker, FullRunThenAVerifyingRunWithoutNetwork) {
  Worker worker(List());
  const RunRecord first = worker.Run();
  ASSERT_TRUE(first.gotResult);
  EXPECT_TRUE(first.success) << first.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
  // Every entry ends with a record at 100 percent; the one-chunk entry has exactly that one.
  int forB = 0;
  for (const auto& p : first.progress) {
    EXPECT_FALSE(p.bVerified);
    forB += p.nFileIndex == 1;
    if (p.nFileIndex == 1) {
      EXPECT_EQ(p.dwReceived, p.dwTotal);
    }
  }
  EXPECT_EQ(forB, 1);
  EXPECT_EQ(worker.thread.FileIndex(), 2u) << "a complete run leaves the last index";

  // The next run starts at the first entry and only verifies: with the server gone, any request
  // would fail the run.
  server.Stop();
  const RunRecord second = worker.Run();
  EXPECT_TRUE(second.success) << second.message;
  ASSERT_EQ(second.progress.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(second.progress[i].bVerified);
    EXPECT_EQ(second.progress[i].nFileIndex, static_cast<std::int32_t>(i));
    EXPECT_EQ(second.progress[i].dwTotal, files[i].second.size());
    EXPECT_EQ(second.progress[i].dwReceived, files[i].second.size());
  }
  EXPECT_EQ(CountOf(LogText(), "file checksum is valid so download skip"), 3);
}

TEST_F(NginxWorker, DecisionTableForExistingFiles) {
  Worker worker(List());
  worker.Write("Data/a.pak", files[0].second.substr(0, 1000));           // shorter: resumed
  worker.Write("b.bin", files[1].second + "extra");                        // bigger: fetched again
  std::string corrupt = files[2].second;
  corrupt[100] ^= 0x55;
  worker.Write("Maps/World/c.map", corrupt);                               // same size, wrong digest
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "] file is exist"), 3);
  EXPECT_EQ(CountOf(log, "[INFO] file download relay mode"), 1);
  EXPECT_EQ(CountOf(log, "[WARNING] local file is bigger so re-download"), 1);
  EXPECT_EQ(CountOf(log, "[WARNING] invalid file checksum so re-download"), 1);
  EXPECT_EQ(CountOf(log, "[INFO] (100%) file download success"), 3);
  EXPECT_EQ(CountOf(log, "[INFO] download file : (2) Maps/World/c.map"), 1);
  // The resumed entry counted its first 1000 bytes from its first record on.
  ASSERT_FALSE(run.progress.empty());
  EXPECT_EQ(run.progress.front().nFileIndex, 0);
  EXPECT_EQ(run.progress.front().dwTotal, files[0].second.size());
  EXPECT_GE(run.progress.front().dwReceived, 1000u);
}

TEST_F(NginxWorker, FailuresEndTheRunWithTheirMessage) {
  struct Row {
    const char* name;
    std::function<void(Worker&, filelist::CFileList&)> arrange;
    std::string message;
    std::uint32_t index;
    std::function<bool(const fs::path&)> leftAlone = nullptr;
  };
  const std::string reach = "Currently you are not able to reach the server. (";
  std::vector<Row> rows = {
      {"missing on the server",
       [](Worker&, filelist::CFileList& l) { l.m_vecFileInfo[1].Name = "gone.bin"; }, reach + "404)", 1},
      {"range the server cannot serve",
       [](Worker& w, filelist::CFileList& l) {
         l.m_vecFileInfo[1].Size = 900000;  // the list promises more than the server has
         w.Write("b.bin", std::string(6000, 'x'));
       },
       reach + "416)", 1},
      {"hostile name",
       [](Worker&, filelist::CFileList& l) { l.m_vecFileInfo[1].Name = "../escape.bin"; },
       "Failed to create file. (123)", 1},
      {"absolute name",
       [](Worker&, filelist::CFileList& l) { l.m_vecFileInfo[1].Name = "/tmp/escape.bin"; },
       "Failed to create file. (123)", 1},
      {"count beyond the entries", [](Worker&, filelist::CFileList& l) { l.m_nTotalCount = 5; },
       "Invalid File List.", 3},
      {"install folder cannot be made",
       [](Worker& w, filelist::CFileList&) {
         WriteBytes(w.dir / "file", "x");
         w.thread.SetDownloadPath(W((w.dir / "file" / "VALDRIS").string()));
       },
       "Failed to proceed due to download directory creation fail.", 0},
      {"a file stands where a folder must be",
       [](Worker& w, filelist::CFileList&) { w.Write("Maps", "not a folder"); }, "Failed to create file. (3)", 2},
      {"a folder stands where a file must be",
       [](Worker& w, filelist::CFileList&) { fs::create_directories(w.folder / "b.bin"); },
       "Failed to create file. (5)", 1, [](const fs::path& p) { return fs::is_directory(p); }},
  };
  if (testsupport::SystemHasFifos()) {
    rows.push_back({"a FIFO stands where a file must be",
                    [](Worker& w, filelist::CFileList&) {
                      fs::create_directories(w.folder);
                      ASSERT_TRUE(testsupport::MakeFifo(w.folder / "b.bin"));
                    },
                    "Failed to create file. (5)", 1, [](const fs::path& p) { return fs::is_fifo(p); }});
  }
  for (const Row& row : rows) {
    filelist::CFileList list = List();
    Worker worker(list);
    row.arrange(worker, list);
    worker.thread.SetFileList(list);
    const RunRecord run = worker.Run();
    ASSERT_TRUE(run.gotResult) << row.name;
    EXPECT_FALSE(run.success) << row.name;
    EXPECT_EQ(run.message, row.message) << row.name;
    EXPECT_EQ(worker.thread.FileIndex(), row.index) << row.name;
    if (row.leftAlone) {
      EXPECT_TRUE(row.leftAlone(worker.folder / "b.bin")) << row.name << ": left as it was";
    }
  }
  EXPECT_FALSE(fs::exists("/tmp/escape.bin"));
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "[ERROR] failed to connect server - (404)"), 1);
  EXPECT_EQ(CountOf(log, "[ERROR] invalid file name so download stop - (123)"), 2);
  EXPECT_EQ(CountOf(log, "[ERROR] download sub directory create is failed"), 1);
  EXPECT_EQ(CountOf(log, "[ERROR] local path is not a regular file so download stop - (5)"),
            testsupport::SystemHasFifos() ? 2 : 1);
}

TEST_F(NginxWorker, FreeSpaceMustExceedWhatTheRunStillNeeds) {
  const filelist::CFileList list = List();
  const std::uint64_t total = list.m_nTotalSize;
  const std::uint64_t half = files[0].second.size() / 2;
  // What is already on disk counts: a complete install needs no room, a partial one only the rest.
  const struct {
    const char* name;
    std::uint64_t free;
    bool success;
    std::function<void(Worker&)> arrange;
  } rows[] = {
      {"empty folder, exactly the list's size", total, false, [](Worker&) {}},
      {"empty folder, one byte more", total + 1, true, [](Worker&) {}},
      {"complete install, a disk without room", 0, true,
       [&](Worker& w) {
         for (const auto& [name, bytes] : files) w.Write(name, bytes);
       }},
      {"half of the first file, exactly the rest", total - half, false,
       [&](Worker& w) { w.Write(files[0].first, files[0].second.substr(0, half)); }},
      {"half of the first file, one byte more than the rest", total - half + 1, true,
       [&](Worker& w) { w.Write(files[0].first, files[0].second.substr(0, half)); }},
      {"a longer file is fetched again whole", total, false,
       [&](Worker& w) { w.Write(files[0].first, files[0].second + "xx"); }},
  };
  for (const auto& row : rows) {
    Worker worker(list);
    row.arrange(worker);
    WorkerMediator mediator = DefaultWorkerMediator(2000);
    mediator.freeSpace = [&row](std::u16string_view) { return row.free; };
    worker.thread.SetMediator(mediator);
    const RunRecord run = worker.Run();
    EXPECT_EQ(run.success, row.success) << row.name;
    if (!row.success) {
      EXPECT_EQ(run.message, "Insufficient free space in storage.") << row.name;
    }
  }
}

TEST(Worker, EmptyListCreatesTheFolderAndSucceeds) {
  Worker worker(MakeList("http://127.0.0.1:1/", {}));
  worker.folder = worker.dir / "a" / "b" / "VALDRIS";
  worker.thread.SetDownloadPath(W(worker.folder.string()));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success);
  EXPECT_TRUE(run.progress.empty());
  EXPECT_TRUE(fs::is_directory(worker.folder));
}

class FaultWorker : public ::testing::Test {
 protected:
  FaultServer server;
  const std::string content = Pattern(200000, 7);
  filelist::CFileList List(const std::string& checksum = "") {
    filelist::CFileList list = MakeList(server.Url("/f/"), {{"Data/x.pak", content}});
    if (!checksum.empty()) list.m_vecFileInfo[0].CheckSum = checksum;
    return list;
  }
  FaultScript Plain() {
    FaultScript script;
    script.body = content;
    return script;
  }
};

TEST_F(FaultWorker, ResumeSendsTheExactRangeHeader) {
  server.Script("/f/Data/x.pak", Plain());
  Worker worker(List());
  worker.Write("Data/x.pak", content.substr(0, 1000));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string head = server.Requests()[0];
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /f/Data/x.pak HTTP/1.1");
  EXPECT_NE(head.find("\r\n" + RangeOnTheWire(1000) + "\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Mervo_Downloader\r\n"), std::string::npos) << head;
}

// The next missing file is asked for while the current one's checksum finishes: every request the
// run makes is used, over one connection, and nothing changes in what is fetched or logged.
TEST_F(FaultWorker, EachFileIsAskedForOnceOverOneConnection) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.pak", Pattern(150000, 1)},       // missing
      {"b.pak", Pattern(90000, 2)},        // already valid: never asked for
      {"Sub/c.pak", Pattern(120000, 3)},   // missing, in a folder not made yet
      {"d.pak", Pattern(80000, 4)},        // partial: resumed with a range
      {"e.pak", Pattern(60000, 5)},        // missing, after a resumed one
  };
  for (const auto& [name, bytes] : files) {
    FaultScript script;
    script.body = bytes;
    server.Script("/f/" + name, script);
  }
  Worker worker(MakeList(server.Url("/f/"), files));
  worker.Write("b.pak", files[1].second);
  worker.Write("d.pak", files[3].second.substr(0, 5000));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
  std::vector<std::string> lines;
  for (const auto& head : server.Requests()) lines.push_back(head.substr(0, head.find("\r\n")));
  EXPECT_EQ(lines, (std::vector<std::string>{"GET /f/a.pak HTTP/1.1", "GET /f/Sub/c.pak HTTP/1.1",
                                             "GET /f/d.pak HTTP/1.1", "GET /f/e.pak HTTP/1.1"}));
  EXPECT_NE(server.Requests()[2].find("\r\n" + RangeOnTheWire(5000) + "\r\n"), std::string::npos);
  EXPECT_EQ(server.Connections(), 1);
}

// The disk fills up during a transfer (another program took the space after the check): the user is
// told it is the disk, not the network; what was written stays, and once there is room again the
// next run asks only for the rest.
TEST_F(FaultWorker, AFullDiskSaysSoAndTheNextRunResumesWhereItStopped) {
  server.Script("/f/Data/x.pak", Plain());
  Worker worker(List());
  worker.FillDiskAfter(70000);
  const int fullBefore = CountOf(LogText(), "[ERROR] failed to download file - (112)");
  const RunRecord full = worker.Run();
  EXPECT_FALSE(full.success);
  EXPECT_EQ(full.message, "Insufficient free space in storage.");
  EXPECT_EQ(CountOf(LogText(), "[ERROR] failed to download file - (112)"), fullBefore + 1);
  const std::string part = worker.Read("Data/x.pak");
  EXPECT_GT(part.size(), 0u);
  EXPECT_LE(part.size(), 70000u);
  EXPECT_EQ(part, content.substr(0, part.size()));

  worker.thread.SetMediator(DefaultWorkerMediator(2000));
  const RunRecord resumed = worker.Run();
  EXPECT_TRUE(resumed.success) << resumed.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_NE(server.Requests()[1].find("\r\n" + RangeOnTheWire(part.size()) + "\r\n"), std::string::npos);
}

TEST_F(FaultWorker, RangeAnsweredWithTheWholeFileStartsTheFileOver) {
  FaultScript whole = Plain();
  whole.honourRange = false;
  server.Script("/f/Data/x.pak", whole);
  Worker worker(List());
  worker.Write("Data/x.pak", content.substr(0, 1000));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
  EXPECT_EQ(server.Requests().size(), 1u) << "the whole answer is taken at once, not appended and fetched again";
  EXPECT_EQ(CountOf(LogText(), "invalid file size so re-download"), 0);
}

// The server's Content-Length must be the rest of the listed file: anything else is refused before a
// byte is written, so a server cannot fill the disk with what can never match.
TEST_F(FaultWorker, AnAnswerOfTheWrongLengthIsRefusedBeforeAnythingIsWritten) {
  const struct {
    const char* name;
    std::string served;
    std::uint64_t listed;  // the entry's listed size
    std::size_t onDisk;    // bytes of a partial file already there; 0: none
    bool honourRange;
  } rows[] = {
      {"a longer file fetched whole", content + Pattern(400000, 8), content.size(), 0, true},
      {"a longer file resumed", content + Pattern(400000, 8), content.size(), 1000, true},
      {"a shorter file fetched whole", content.substr(0, 100000), content.size(), 0, true},
      {"the listed size smaller than the file", content, content.size() - 10, 0, true},
      {"the listed size larger than the file", content, content.size() + 100, 0, true},
      {"an empty answer for a non-empty entry", "", content.size(), 0, true},
      {"a partial file and an empty whole answer", "", content.size(), 1000, false},
  };
  for (const auto& row : rows) {
    FaultScript script;
    script.body = row.served;
    script.honourRange = row.honourRange;
    FaultServer own;
    own.Script("/f/Data/x.pak", script);
    filelist::CFileList list = MakeList(own.Url("/f/"), {{"Data/x.pak", content}});
    list.m_vecFileInfo[0].Size = row.listed;
    list.m_nTotalSize = row.listed;
    Worker worker(list);
    if (row.onDisk > 0) worker.Write("Data/x.pak", content.substr(0, row.onDisk));
    const RunRecord run = worker.Run();
    EXPECT_FALSE(run.success) << row.name;
    EXPECT_EQ(run.message, "Currently you are not able to reach the server. (12152)") << row.name;
    EXPECT_EQ(own.Requests().size(), 1u) << row.name;
    if (row.onDisk > 0) EXPECT_TRUE(worker.Read("Data/x.pak") == content.substr(0, row.onDisk)) << row.name;
    else EXPECT_FALSE(fs::exists(worker.folder / "Data/x.pak")) << row.name;
  }
}

// A list or server whose file never matches: a transient corruption gets its retries, then the run
// fails instead of fetching for ever or calling a wrong file complete.
TEST_F(FaultWorker, AFileThatNeverMatchesFailsAfterThreeWholeTransfers) {
  std::string lower = Md5Of(content);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string corrupt = content;
  corrupt[1234] ^= 0x20;
  struct Row {
    const char* name;
    std::string served;
    std::function<void(filelist::CFileList&)> arrange;
    std::string partial;      // on disk before the run
    std::size_t requests;     // every request the run makes
    std::size_t ranged;       // of which carry a Range header
  };
  const std::vector<Row> rows = {
      {"lower-case digest", content, [&](filelist::CFileList& l) { l.m_vecFileInfo[0].CheckSum = lower; }, "", 3, 0},
      {"missing digest", content, [](filelist::CFileList& l) { l.m_vecFileInfo[0].CheckSum.clear(); }, "", 3, 0},
      {"corrupt on the server", corrupt, [](filelist::CFileList&) {}, "", 3, 0},
      {"the same name twice with different digests", content,
       [&](filelist::CFileList& l) {
         l.m_vecFileInfo.push_back({"Data/x.pak", content.size(), Md5Of(corrupt), {}});
         l.m_nTotalCount = 2;
         l.m_nTotalSize *= 2;
       },
       "", 4, 0},
  };
  for (const Row& row : rows) {
    FaultScript script;
    script.body = row.served;
    script.honourRange = false;
    FaultServer own;
    own.Script("/f/Data/x.pak", script);
    filelist::CFileList list = MakeList(own.Url("/f/"), {{"Data/x.pak", content}});
    row.arrange(list);
    Worker worker(list);
    if (!row.partial.empty()) worker.Write("Data/x.pak", row.partial);
    const RunRecord run = worker.Run();
    ASSERT_TRUE(run.gotResult) << row.name;
    EXPECT_FALSE(run.success) << row.name;
    EXPECT_EQ(run.message, "The downloaded file does not match the file list. Please try again later.") << row.name;
    EXPECT_EQ(own.Requests().size(), row.requests) << row.name;
    std::size_t ranged = 0;
    for (const auto& head : own.Requests()) ranged += head.find("\r\nRange:") != std::string::npos;
    EXPECT_EQ(ranged, row.ranged) << row.name;
    EXPECT_EQ(worker.Read("Data/x.pak"), row.served) << row.name << ": the last transfer stays for the next run";
    EXPECT_EQ(worker.thread.FileIndex(), list.m_vecFileInfo.size() - 1) << row.name;
  }
  EXPECT_EQ(CountOf(LogText(), "[ERROR] (100%) file does not match the file list so download stop - (3)"),
            static_cast<int>(rows.size()));
}

TEST_F(FaultWorker, StopMidTransferThenTheNextRunResumes) {
  FaultScript slow = Plain();
  slow.dripBytes = 10000;
  slow.dripDelayMs = 100;
  server.Script("/f/Data/x.pak", slow);
  Worker worker(List());
  ASSERT_TRUE(worker.thread.Start());
  download::CMessageQueue::Message message;
  ASSERT_TRUE(worker.queue.Wait(message, 5000));  // the first chunk's record
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  const auto start = std::chrono::steady_clock::now();
  worker.thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  const RunRecord stopped = Collect(worker.queue, 2000);
  ASSERT_TRUE(stopped.gotResult);
  EXPECT_FALSE(stopped.success);
  const std::string partial = worker.Read("Data/x.pak");
  ASSERT_GT(partial.size(), 0u);
  ASSERT_LT(partial.size(), content.size());
  EXPECT_EQ(partial, content.substr(0, partial.size()));
  EXPECT_EQ(worker.thread.FileIndex(), 0u);

  server.Script("/f/Data/x.pak", Plain());
  const RunRecord resumed = worker.Run();
  EXPECT_TRUE(resumed.success) << resumed.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
  const std::string head = server.Requests().back();
  EXPECT_NE(head.find(RangeOnTheWire(partial.size())), std::string::npos) << head;
}

// A server whose every answer takes a moment, as over a link with a round trip: what makes the worker
// fetch small files ahead.
FaultScript Distant(std::string body) {
  FaultScript script;
  script.body = std::move(body);
  script.stallBeforeHeaders = true;
  script.stallMs = 10;
  return script;
}

// Small missing files ahead of the worker are fetched over other connections; what the run logs and
// reports still comes entry by entry, in list order.
TEST_F(FaultWorker, FilesFetchedAheadAreReportedInListOrder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 12; ++i) files.emplace_back("Ahead/f" + std::to_string(i) + ".pak", Pattern(3000 + 1500 * i, i));
  files.emplace_back("Ahead/big.pak", Pattern(300 * 1024, 20));      // larger than is fetched ahead
  files.emplace_back("Ahead/part.pak", Pattern(40000, 21));          // partial: resumed in its turn
  files.emplace_back("Ahead/valid.pak", Pattern(5000, 22));          // already valid: never asked for
  files.emplace_back("Ahead/tail.pak", Pattern(7000, 23));
  for (const auto& [name, bytes] : files) server.Script("/f/" + name, Distant(bytes));
  Worker worker(MakeList(server.Url("/f/"), files), 4);
  worker.Write("Ahead/part.pak", files[13].second.substr(0, 1000));
  worker.Write("Ahead/valid.pak", files[14].second);
  const RunRecord run = worker.Run();
  ASSERT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
  const std::string log = LogText();
  std::size_t previous = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::size_t at = log.rfind("download file : (" + std::to_string(i) + ") " + files[i].first);
    ASSERT_NE(at, std::string::npos) << files[i].first;
    EXPECT_GT(at, previous) << files[i].first << " is logged in its turn";
    previous = at;
  }
  for (std::size_t i = 1; i < run.progress.size(); ++i)
    EXPECT_LE(run.progress[i - 1].nFileIndex, run.progress[i].nFileIndex) << "records in list order";
  EXPECT_GT(server.MostOpenAtOnce(), 1) << "files ahead come over other connections";
  EXPECT_LE(server.MostOpenAtOnce(), 4) << "never more connections than allowed";
  for (const std::string& head : server.Requests())
    EXPECT_EQ(head.find("valid.pak"), std::string::npos) << "a valid file is never asked for";
}

// An entry that fails while it is fetched ahead fails in its turn, with the message it has with one
// connection; the entries after it are never written.
TEST_F(FaultWorker, AFailureAheadIsReportedInItsTurn) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.pak", Pattern(30000, 1)}, {"b.pak", Pattern(30000, 2)}, {"c.pak", Pattern(30000, 3)},
      {"d.pak", Pattern(30000, 4)}};
  FaultScript missing;
  missing.status = 404;
  // Cut short with a clean close: a reset's code depends on when it overtakes the bytes before it
  // (Wine's WinINet says 12030 or 12031), which would make the two runs differ by chance.
  FaultScript cut;
  cut.body = files[1].second;
  cut.cutAfter = 10000;
  FaultScript corrupt;
  corrupt.body = files[1].second;
  corrupt.body[100] ^= 0x20;
  const struct {
    const char* name;
    FaultScript b;
    std::string message;
    std::size_t requestsForB;  // 0: not counted (a part cut short may be resumed)
  } rows[] = {
      {"not found", missing, "Currently you are not able to reach the server. (404)", 0},
      {"cut short mid-body", cut, "", 0},
      {"a digest that never matches", corrupt, "", 3},
  };
  for (const auto& row : rows) {
    FaultServer own;
    for (const auto& [name, bytes] : files) own.Script("/f/" + name, Distant(bytes));
    own.Script("/f/b.pak", row.b);
    Worker one(MakeList(own.Url("/f/"), files), 1);
    const RunRecord alone = one.Run();
    Worker worker(MakeList(own.Url("/f/"), files), 4);
    const std::size_t before = own.Requests().size();
    const RunRecord run = worker.Run();
    EXPECT_FALSE(run.success) << row.name;
    EXPECT_EQ(run.message, alone.message) << row.name << ": the same message as with one connection";
    if (!row.message.empty()) {
      EXPECT_EQ(run.message, row.message) << row.name;
    }
    EXPECT_EQ(worker.Read("a.pak"), files[0].second) << row.name;
    EXPECT_FALSE(fs::exists(worker.folder / "c.pak")) << row.name;
    EXPECT_FALSE(fs::exists(worker.folder / "d.pak")) << row.name;
    EXPECT_EQ(worker.thread.FileIndex(), 1u) << row.name;
    if (row.requestsForB > 0) {
      std::size_t asked = 0;
      for (std::size_t i = before; i < own.Requests().size(); ++i)
        asked += own.Requests()[i].rfind("GET /f/b.pak ", 0) == 0 ? 1 : 0;
      EXPECT_EQ(asked, row.requestsForB) << row.name << ": three whole transfers, the one ahead counted";
    }
  }
}

// A server that answers 503 on every connection but one still gets every file, over that one.
TEST_F(FaultWorker, ABusyServerGetsFewerConnectionsAndEveryFile) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 8; ++i) files.emplace_back("f" + std::to_string(i) + ".pak", Pattern(20000 + i, i));
  for (const auto& [name, bytes] : files) server.Script("/f/" + name, Distant(bytes));
  server.LimitConnections(1);
  Worker worker(MakeList(server.Url("/f/"), files), 6);
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
}

// A server too busy for the worker's own request while other connections are open: those are closed
// and the request asked again over the worker's alone, with no message and no error in the log.
TEST_F(FaultWorker, ABusyAnswerToTheWorkerWhileOthersAreOpenIsAskedAgainAlone) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.pak", Pattern(20000, 1)},      // the worker's own: its slow answer starts the others
      {"big.pak", Pattern(400000, 2)},   // the worker's own, answered 503 once
      {"c.pak", Pattern(20000, 3)}, {"d.pak", Pattern(20000, 4)}};
  for (const auto& [name, bytes] : files) server.Script("/f/" + name, Distant(bytes));
  FaultScript busy = Distant(files[1].second);
  busy.busyTimes = 1;
  server.Script("/f/big.pak", busy);
  const int errorsBefore = CountOf(LogText(), "[ERROR]");
  Worker worker(MakeList(server.Url("/f/"), files), 4);
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
  EXPECT_EQ(CountOf(LogText(), "[ERROR]"), errorsBefore);
  EXPECT_EQ(CountOf(LogText(), "download file : (1) big.pak"), 1) << "the entry's story is told once";
  std::size_t asked = 0;
  for (const std::string& head : server.Requests()) asked += head.rfind("GET /f/big.pak ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(asked, 2u);
}

// A stop while files ahead are on the wire ends the run; nothing fetched ahead reaches the disk, and
// the next run brings everything.
TEST_F(FaultWorker, AStopAbandonsWhatIsInFlightAhead) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a.pak", Pattern(20000, 1)},        // the worker's own: its slow answer starts the others
      {"slow.pak", Pattern(400000, 2)},    // too large to fetch ahead: the worker's, dripping
      {"b.pak", Pattern(20000, 3)},        // fetched ahead: the server never answers them
      {"c.pak", Pattern(20000, 4)}};
  server.Script("/f/a.pak", Distant(files[0].second));
  FaultScript slow = Distant(files[1].second);
  slow.dripBytes = 10000;
  slow.dripDelayMs = 100;
  server.Script("/f/slow.pak", slow);
  for (std::size_t i = 2; i < files.size(); ++i) {
    FaultScript stall = Distant(files[i].second);
    stall.stallMs = 60000;
    server.Script("/f/" + files[i].first, stall);
  }
  Worker worker(MakeList(server.Url("/f/"), files), 3);
  ASSERT_TRUE(worker.thread.Start());
  for (;;) {  // until the slow file's first record: by then the others are asked for
    download::CMessageQueue::Message message;
    ASSERT_TRUE(worker.queue.Wait(message, 10000));
    if (message.id == WM_DOWNLOAD_PROGRESS &&
        static_cast<const DownloadProgress&>(*message.record).nFileIndex == 1)
      break;
  }
  const auto askedForB = [&] {
    for (const std::string& head : server.Requests())
      if (head.rfind("GET /f/b.pak ", 0) == 0) return true;
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!askedForB() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(askedForB()) << "b.pak is asked for ahead while the slow file comes";
  worker.thread.Stop();
  const RunRecord stopped = Collect(worker.queue, 20000);
  ASSERT_TRUE(stopped.gotResult);
  EXPECT_FALSE(stopped.success);
  EXPECT_FALSE(fs::exists(worker.folder / "b.pak"));
  EXPECT_FALSE(fs::exists(worker.folder / "c.pak"));

  for (const auto& [name, bytes] : files) {
    FaultScript plain;
    plain.body = bytes;
    server.Script("/f/" + name, plain);
  }
  const RunRecord resumed = worker.Run();
  EXPECT_TRUE(resumed.success) << resumed.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
}

TEST_F(FaultWorker, ShortBodyFailsAndKeepsThePartForTheNextRun) {
  FaultScript cut = Plain();
  cut.cutAfter = 50000;
  server.Script("/f/Data/x.pak", cut);
  Worker worker(List());
  const RunRecord failed = worker.Run();
  EXPECT_FALSE(failed.success);
  EXPECT_EQ(failed.message,
            "Due to the unstable network connection, downloading has stopped.\nPlease try again. (12030)");
  EXPECT_EQ(CountOf(LogText(), "[ERROR] failed to download file - (12030)"), 1);
  EXPECT_EQ(worker.Read("Data/x.pak"), content.substr(0, 50000));

  server.Script("/f/Data/x.pak", Plain());
  const RunRecord resumed = worker.Run();
  EXPECT_TRUE(resumed.success) << resumed.message;
  EXPECT_EQ(worker.Read("Data/x.pak"), content);
}

// The cadence of progress records, by the worker's own clock: the first piece, then whenever a
// second has passed since the last record, and the piece that completes the entry.
TEST_F(FaultWorker, ProgressIsPostedAboutOncePerSecond) {
  server.Script("/f/Data/x.pak", Plain());
  for (const std::uint32_t step : {0u, 300u, 1000u}) {
    Worker worker(List());
    std::uint32_t now = 1000000;  // the worker's clock: it moves by `step` at every reading
    std::vector<std::uint32_t> postedAt;
    WorkerMediator mediator = DefaultWorkerMediator(2000);
    mediator.tick = [&] { return now += step; };
    mediator.post = [&](TargetHandle target, std::uint32_t message, std::unique_ptr<MessageRecord> record) {
      if (message == WM_DOWNLOAD_PROGRESS) postedAt.push_back(now);
      return PostToTarget(target, message, std::move(record));
    };
    worker.thread.SetMediator(mediator);
    const RunRecord run = worker.Run();
    EXPECT_TRUE(run.success) << run.message;
    ASSERT_EQ(postedAt.size(), run.progress.size());
    ASSERT_GE(run.progress.size(), 2u) << step;
    EXPECT_EQ(run.progress.back().dwReceived, content.size());
    EXPECT_EQ(run.progress.back().dwTotal, content.size());
    if (step == 0) {
      EXPECT_EQ(run.progress.size(), 2u) << "a clock that stands still: the first piece and the last";
    }
    // Between records of the transfer at least a second; never a second and a reading late.
    for (std::size_t i = 1; i + 1 < postedAt.size(); ++i) {
      EXPECT_GE(postedAt[i] - postedAt[i - 1], 1000u) << step << " record " << i;
      EXPECT_LT(postedAt[i] - postedAt[i - 1], 1000u + std::max(step, 1u)) << step << " record " << i;
    }
    if (step == 1000) {
      EXPECT_GE(run.progress.size(), content.size() / net::HTTP_BUFFER_SIZE) << "every piece, a second apart";
    }
  }
}

// Many files that each take less than a second: records stay about a second apart across entries
// (each entry still ends with its 100 percent record), instead of one at every entry's first piece
// that would leave the window showing each file at its start.
TEST_F(FaultWorker, ProgressOfFastFilesIsPacedAcrossEntries) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 8; ++i) {
    files.emplace_back("f" + std::to_string(i), Pattern(40000, static_cast<std::uint8_t>(i)));
    FaultScript script;
    script.body = files.back().second;
    server.Script("/f/" + files.back().first, script);
  }
  Worker worker(MakeList(server.Url("/f/"), files));
  std::uint32_t now = 1000000;
  WorkerMediator mediator = DefaultWorkerMediator(2000);
  mediator.tick = [&] { return now += 100; };  // each reading 100 ms later: a file takes about 0.6 s
  std::vector<std::uint32_t> partialAt;  // when records short of 100 percent were posted
  mediator.post = [&](TargetHandle target, std::uint32_t message, std::unique_ptr<MessageRecord> record) {
    if (message == WM_DOWNLOAD_PROGRESS) {
      const auto& p = static_cast<const DownloadProgress&>(*record);
      if (p.dwReceived < p.dwTotal) partialAt.push_back(now);
    }
    return PostToTarget(target, message, std::move(record));
  };
  worker.thread.SetMediator(mediator);
  const RunRecord run = worker.Run();
  ASSERT_TRUE(run.success) << run.message;
  ASSERT_FALSE(partialAt.empty());
  for (std::size_t i = 1; i < partialAt.size(); ++i)
    EXPECT_GE(partialAt[i] - partialAt[i - 1], 1000u) << "record " << i << ": a second apart, whatever the entry";
  EXPECT_GE(run.progress.size(), files.size()) << "every entry's 100 percent record";
}

TEST_F(FaultWorker, EntriesBeyond4GiBCountIn64Bits) {
  // A sparse 4 GiB head on disk; the server holds only the tail beyond it.
  const std::uint64_t head = 4ULL << 30;
  const std::string tail = Pattern(3000, 9);
  FaultScript script;
  script.body = tail;
  script.bodyOffset = head;
  server.Script("/f/huge.pak", script);
  filelist::CFileList list = MakeList(server.Url("/f/"), {});
  list.m_vecFileInfo.push_back({"huge.pak", head + tail.size(), "0123456789ABCDEF0123456789ABCDEF", {}});
  list.m_nTotalCount = 1;
  list.m_nTotalSize = head + tail.size();
  Worker worker(list);
  fs::create_directories(worker.folder);
  WriteBytes(worker.folder / "huge.pak", "");
  fs::resize_file(worker.folder / "huge.pak", head);
  ASSERT_TRUE(worker.thread.Start());
  download::CMessageQueue::Message message;
  ASSERT_TRUE(worker.queue.Wait(message, 5000));
  worker.thread.Stop();  // stops the verification pass over the 4 GiB
  const auto& p = static_cast<const DownloadProgress&>(*message.record);
  EXPECT_EQ(p.dwTotal, head + tail.size());
  EXPECT_EQ(p.dwReceived, head + tail.size());
  EXPECT_EQ(fs::file_size(worker.folder / "huge.pak"), head + tail.size());
  EXPECT_NE(server.Requests()[0].find(RangeOnTheWire(4294967296ULL)), std::string::npos);
}

TEST_F(FaultWorker, FileListFetchAndVersionCheck) {
  FaultScript good;
  good.body = "{\"Version\": \"2017.12.27.1\", \"TotalCount\": 0}";
  server.Script("/good.json", good);
  FaultScript old;
  old.body = "{\"Version\": \"2017.12.27.01\"}";
  server.Script("/old.json", old);
  FaultScript broken;
  broken.body = "{\"Version\": ";
  server.Script("/broken.json", broken);
  FaultScript empty;
  server.Script("/empty.json", empty);
  const std::string entry = R"({"Name": "a.pak", "Size": 1, "CheckSum": "0CC175B9C0F1B6A831C399E269772661"})";
  for (const auto& [path, count] : {std::pair{"/count0.json", 0}, {"/count-1.json", -1}, {"/count1.json", 1}}) {
    FaultScript script;
    script.body = "{\"Version\": \"2017.12.27.1\", \"TotalCount\": " + std::to_string(count) +
                  ", \"FileList\": [" + entry + ", " + entry + "]}";
    server.Script(path, script);
  }
  FaultScript huge;
  huge.body = std::string(net::kMaxDocumentSize + 1, ' ');
  server.Script("/huge.json", huge);
  const struct {
    const char* path;
    bool fetched;
    bool current;
    std::string text;
  } rows[] = {
      {"/good.json", true, true, ""},
      {"/old.json", true, false, "Newly updated version is available.\nPlease download the new version on homepage."},
      {"/broken.json", false, false, "Invalid File List."},
      {"/empty.json", false, false, "Invalid File List."},
      {"/missing.json", false, false, "Currently you are not able to reach the server. (404)"},
      {"/count0.json", false, false, "Invalid File List."},
      {"/count-1.json", false, false, "Invalid File List."},
      {"/count1.json", false, false, "Invalid File List."},
      {"/huge.json", false, false, "Invalid File List."},
  };
  for (const auto& row : rows) {
    net::CHttpClient client;
    filelist::CFileList list;
    StartupFailure failure;
    const bool fetched = DownloadFileList(client, W(server.Url(row.path)), list, failure);
    EXPECT_EQ(fetched, row.fetched) << row.path;
    const bool current = fetched && CheckVersion(list, failure);
    EXPECT_EQ(current, row.current) << row.path;
    if (!current) {
      EXPECT_EQ(platform::NarrowUtf8(failure.text), row.text) << row.path;
    }
  }
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "[ERROR] file list download is failed - (404)"), 1);
  EXPECT_EQ(CountOf(log, "[ERROR] file list download is failed - (122)"), 1);
  EXPECT_EQ(CountOf(log, "[ERROR] file list count is not same as its entries - ("), 3);
}

// With a publisher key built in, the signature is fetched beside the list: a server that keeps it
// back (drips it, fails, sends megabytes) cannot hold the start-up or pass for "not signed".
TEST_F(FaultWorker, TheSignatureFetchIsBoundedAndItsFailuresSaySo) {
  FaultScript list;
  list.body = "{\"Version\": \"2017.12.27.1\", \"TotalCount\": 0}";
  server.Script("/l.json", list);
  FaultScript drip;
  drip.body = std::string(88, 'A') + "\n";
  drip.dripBytes = 1;
  drip.dripDelayMs = 1500;  // never silent as long as the time-out, 130 s in all
  FaultScript failing;
  failing.status = 500;
  FaultScript huge;
  huge.body = std::string(16 * 1024 * 1024, 'A');
  huge.stallAfter = 0;  // the body never comes: only its length can refuse it in time
  huge.stallMs = 600000;
  FaultScript absent;
  absent.status = 404;
  const struct {
    const char* name;
    FaultScript signature;
    std::string text;
  } rows[] = {
      {"a signature that drips", drip, "Currently you are not able to reach the server. (12002)"},
      {"a server error", failing, "Currently you are not able to reach the server. (500)"},
      {"a signature far too large", huge, "The file list is not signed by the publisher."},
      {"no signature", absent, "The file list is not signed by the publisher."},
  };
  TrustPolicy policy;
  policy.keys = {"BAAA"};
  policy.nowUtc = [] { return std::int64_t{0}; };
  for (const auto& row : rows) {
    server.Script("/l.json.sig", row.signature);
    net::CHttpClient client;
    client.SetTimeout(2000);
    filelist::CFileList parsed;
    StartupFailure failure;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadFileList(client, W(server.Url("/l.json")), parsed, failure, policy)) << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << row.name;
    EXPECT_EQ(platform::NarrowUtf8(failure.text), row.text) << row.name;
  }
}

// A stop that ends a wait for the server is the user's stop, not a network failure: nothing is
// logged as an error and the failure text stays as it was.
TEST_F(FaultWorker, StopDuringABlockedWaitIsAStopNotAFailure) {
  FaultScript beforeHeaders = Plain();
  beforeHeaders.stallBeforeHeaders = true;
  beforeHeaders.stallMs = 5000;
  FaultScript midBody = Plain();
  midBody.stallAfter = 50000;
  midBody.stallMs = 5000;
  for (const FaultScript& script : {beforeHeaders, midBody}) {
    FaultServer own;
    own.Script("/f/Data/x.pak", script);
    Worker worker(MakeList(own.Url("/f/"), {{"Data/x.pak", content}}));
    worker.thread.SetMediator(DefaultWorkerMediator(30000));
    ASSERT_TRUE(worker.thread.Start());
    while (own.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    worker.thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    const RunRecord run = Collect(worker.queue, 2000);
    ASSERT_TRUE(run.gotResult);
    EXPECT_FALSE(run.success);
    EXPECT_EQ(run.message, "");
    EXPECT_EQ(worker.thread.FileIndex(), 0u);
  }
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "[ERROR]"), 0) << log;
  EXPECT_EQ(CountOf(log, "(12017)"), 0) << log;
}

// Names are sent as URL paths: a "#", "?", "%" or space is part of the name, and so is text in any
// script.
TEST(NginxNames, NamesThatNeedEscapingInAnAddressAreFetched) {
  NginxServer server;
  ASSERT_TRUE(server.Started());
  const std::vector<std::pair<std::string, std::string>> files = {
      {"x#y.pak", Pattern(3000, 1)},         {kIsWindows ? "q=x.1" : "q?x=1", Pattern(3000, 2)},  // no "?" in Windows names
      {"with space/a b.pak", Pattern(3000, 3)}, {"100%25.pak", Pattern(3000, 4)},
      {"맵/지도+1.pak", Pattern(3000, 5)},
  };
  for (const auto& [name, bytes] : files) server.Put("files/" + name, bytes);
  Worker worker(MakeList(server.Url("/files/"), files));
  const RunRecord run = worker.Run();
  EXPECT_TRUE(run.success) << run.message;
  for (const auto& [name, bytes] : files) EXPECT_EQ(worker.Read(name), bytes) << name;
}

} // namespace
