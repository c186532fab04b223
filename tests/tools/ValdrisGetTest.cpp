#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "Signing.h"
#include "download/LocalFiles.h"
#include "filelist/FileList.h"
#include "support/FaultServer.h"
#include "support/Process.h"
#include "support/PublishGame.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/TestKeys.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// A server with a file list and its files; the list's version can be changed.
struct Published {
  FaultServer server;
  TempDir state;
  TempDir install;
  std::vector<std::pair<std::string, std::string>> files = {
      {"Data/big.pak", Pattern(3 * 1024 * 1024, 1)}, {"readme.txt", Pattern(1000, 2)}};

  void Publish(const std::string& version = "2017.12.27.1", int dripDelayMs = 0) {
    PublishGame(server, files, version, 64 * 1024, dripDelayMs);
  }
  ChildProcess Run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--filelist", server.Url("/filelist.json"), "--folder", install.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return ChildProcess(VALDRIS_GET, args, state.path().string());
  }
  bool AllPresent() const {
    for (const auto& [name, bytes] : files)
      if (ReadBytes(install / name) != bytes) return false;
    return true;
  }
  // Waits until the big file has some bytes, but not all.
  std::uintmax_t WaitForPartial() const {
    for (int i = 0; i < 500; ++i) {
      std::error_code ec;
      const auto size = fs::file_size(install / "Data/big.pak", ec);
      if (!ec && size > 0) return size;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }
};

TEST(ValdrisGet, HelpAndUsage) {
  TempDir state;
  ChildProcess help(VALDRIS_GET, {"--help"}, state.path().string());
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Out().find("Usage: valdris-get"), std::string::npos);
  EXPECT_NE(help.Out().find("(default: ~/DOWNLOAD/VALDRIS)"), std::string::npos) << help.Out();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"--folder", ""}, {"--filelist", ""}, {"--folder"}}) {
    ChildProcess wrong(VALDRIS_GET, args, state.path().string());
    EXPECT_EQ(wrong.Wait(), 2) << args[0];
  }
}

TEST(ValdrisGet, CompleteRunAndRefusals) {
  Published p;
  p.Publish();
  ChildProcess run = p.Run();
  EXPECT_EQ(run.Wait(), 0) << run.Err();
  EXPECT_TRUE(p.AllPresent());
  EXPECT_NE(run.Out().find("complete"), std::string::npos) << run.Out();
  EXPECT_NE(run.Out().find("[1/2] Data/big.pak"), std::string::npos) << "plain progress lines off a terminal";

  p.Publish("2018.01.01.1");
  ChildProcess old = p.Run();
  EXPECT_EQ(old.Wait(), 1);
  EXPECT_NE(old.Err().find("Newly updated version is available."), std::string::npos) << old.Err();

  ChildProcess unreachable(VALDRIS_GET, {"--filelist", "http://127.0.0.1:1/x.json", "--folder", p.install.path().string()},
                           p.state.path().string());
  EXPECT_EQ(unreachable.Wait(), 1);
  EXPECT_NE(unreachable.Err().find("(12029)"), std::string::npos) << unreachable.Err();

  // A failure that concerns a file or folder names it, with the system's reason.
  p.Publish();
  TempDir other;
  WriteBytes(other / "Data", "a file where a folder should be");
  ChildProcess blocked(VALDRIS_GET, {"--filelist", p.server.Url("/filelist.json"), "--folder", other.path().string()},
                       p.state.path().string());
  EXPECT_EQ(blocked.Wait(), 1);
  EXPECT_NE(blocked.Err().find("Failed to create file. ("), std::string::npos) << blocked.Err();
  EXPECT_NE(blocked.Err().find((other / "Data" / "big.pak").string() + ": "), std::string::npos) << blocked.Err();
}

TEST(ValdrisGet, SigtermStopsCleanlyAndKeepsThePart) {
  Published p;
  p.Publish("2017.12.27.1", 100);
  ChildProcess run = p.Run({"--quiet"});
  ASSERT_GT(p.WaitForPartial(), 0u);
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 130) << run.Err();
  const std::string part = ReadBytes(p.install / "Data/big.pak");
  EXPECT_LT(part.size(), p.files[0].second.size());
  EXPECT_EQ(part, p.files[0].second.substr(0, part.size()));
}

TEST(ValdrisGet, KilledMidFileThenResumesOnlyTheMissingBytes) {
  Published p;
  p.Publish("2017.12.27.1", 100);
  {
    ChildProcess run = p.Run({"--quiet"});
    ASSERT_GT(p.WaitForPartial(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
  }
  const auto partial = fs::file_size(p.install / "Data/big.pak");
  ASSERT_LT(partial, p.files[0].second.size());
  p.Publish();
  ChildProcess again = p.Run({"--quiet"});
  EXPECT_EQ(again.Wait(), 0) << again.Err();
  EXPECT_TRUE(p.AllPresent());
  bool resumed = false;
  for (const std::string& head : p.server.Requests())
    resumed |= head.find("Range:bytes=" + std::to_string(partial) + "-") != std::string::npos;
  EXPECT_TRUE(resumed) << "the second run asks only for the bytes after " << partial;
}

// Killed while a changed file is patched: the old file is untouched, and the next run goes on from
// the part built so far without asking for it again.
TEST(ValdrisGet, KilledWhilePatchingKeepsTheOldFileAndGoesOn) {
  Published p;
  const std::string old = p.files[0].second;
  std::string fresh = old;
  for (const std::size_t at : {100000u, 1500000u, 2900000u}) fresh.replace(at, 20000, Pattern(20000, at));
  p.files[0].second = fresh;
  p.Publish("2017.12.27.1", 100);
  const auto slowly = [&](bool slow) {  // 8 KiB pieces, and a long pause after the first range
    FaultScript script;
    script.body = fresh;
    script.dripBytes = 8192;
    script.dripDelayMs = slow ? 20 : 0;
    script.stallAfter = slow ? 40000 : -1;
    script.stallMs = slow ? 30000 : 0;
    p.server.Script("/game/Data/big.pak", script);
  };
  slowly(true);
  FaultScript indexScript;
  indexScript.body = BlockIndexBytes(fresh, 4096);
  p.server.Script("/game/.blocks/Data/big.pak.blocks", indexScript);
  filelist::CFileList list = MakeList(p.server.Url("/game/"), p.files);
  list.m_vecFileInfo[0].Blocks = BlockIndexEntry("Data/big.pak", indexScript.body);
  FaultScript document;
  document.body = filelist::SerializeJsonText(list);
  p.server.Script("/filelist.json", document);
  fs::create_directories(p.install / "Data");
  WriteBytes(p.install / "Data/big.pak", old);
  WriteBytes(p.install / "readme.txt", p.files[1].second);

  const fs::path part = p.install / "Data/big.pak.valdris-patch";
  // The first range's blocks, whole, in the patch's file.
  const std::size_t firstStart = 100000 / 4096 * 4096;
  const std::size_t firstEnd = (120000 + 4095) / 4096 * 4096;
  const auto firstRangeThere = [&] {
    std::ifstream in(part, std::ios::binary);
    std::string bytes(firstEnd - firstStart, '\0');
    in.seekg(static_cast<std::streamoff>(firstStart));
    return in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) &&
           bytes == fresh.substr(firstStart, firstEnd - firstStart);
  };
  {
    ChildProcess run = p.Run({"--quiet"});
    for (int i = 0; i < 1000 && !firstRangeThere(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
  }
  EXPECT_EQ(ReadBytes(p.install / "Data/big.pak"), old) << "the old file is never touched before the new one is whole";
  ASSERT_TRUE(firstRangeThere());
  slowly(false);
  const std::size_t before = p.server.Requests().size();
  ChildProcess again = p.Run({"--quiet"});
  EXPECT_EQ(again.Wait(), 0) << again.Err();
  EXPECT_TRUE(p.AllPresent());
  EXPECT_FALSE(fs::exists(part));
  const std::vector<std::string> requests = p.server.Requests();
  for (std::size_t i = before; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].find("=" + std::to_string(firstStart) + "-"), std::string::npos)
        << "the range built before the kill is not asked for again: " << requests[i];
}

// The bytes a segmented file's record says are in its part file, 0 while there is no record.
std::uint64_t RecordedBytes(const fs::path& record) {
  std::istringstream lines(ReadBytes(record));
  std::string line;
  std::uint64_t piece = 0;
  std::uint64_t recorded = 0;
  for (int i = 0; std::getline(lines, line); ++i) {
    if (i == 3 && line.rfind("piece ", 0) == 0) piece = std::stoull(line.substr(6));
    if (i >= 4 && piece > 0 && !line.empty()) recorded += std::stoull(line) - static_cast<std::uint64_t>(i - 4) * piece;
  }
  return recorded;
}

// Killed while a large file comes in segments: the pieces the record names are kept, and the next
// run fetches only the rest; the file itself appears only whole and verified.
TEST(ValdrisGet, KilledMidSegmentsKeepsThePiecesItRecorded) {
  Published p;
  p.files = {{"Data/huge.pak", Pattern(17 * 1024 * 1024, 4)}, {"readme.txt", Pattern(1000, 2)}};
  p.Publish();
  FaultScript slow;
  slow.body = p.files[0].second;
  slow.dripBytes = 64 * 1024;
  slow.dripDelayMs = 50;
  p.server.Script("/game/Data/huge.pak", slow);
  const fs::path record = p.install / "Data/huge.pak.valdris-part.record";
  {
    ChildProcess run = p.Run({"--quiet"});
    for (int i = 0; i < 1000 && RecordedBytes(record) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
  }
  EXPECT_FALSE(fs::exists(p.install / "Data/huge.pak"));
  const std::uint64_t kept = RecordedBytes(record);
  ASSERT_GT(kept, 0u);
  FaultScript fast;
  fast.body = p.files[0].second;
  p.server.Script("/game/Data/huge.pak", fast);
  // The killed run's connections may still hold requests the server has not read: they are all
  // read and closed before the next run begins.
  for (int i = 0; i < 3000 && p.server.OpenNow() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::size_t before = p.server.Requests().size();
  ChildProcess again = p.Run({"--quiet"});
  EXPECT_EQ(again.Wait(), 0) << again.Err();
  EXPECT_TRUE(p.AllPresent());
  EXPECT_FALSE(fs::exists(record));
  EXPECT_FALSE(fs::exists(p.install / "Data/huge.pak.valdris-part"));
  std::uint64_t asked = 0;
  const std::vector<std::string> requests = p.server.Requests();
  for (std::size_t i = before; i < requests.size(); ++i) {
    const std::size_t at = requests[i].find("Range: bytes=");
    if (requests[i].find("huge.pak") == std::string::npos || at == std::string::npos) continue;
    const std::size_t dash = requests[i].find('-', at);
    asked += std::stoull(requests[i].substr(dash + 1)) + 1 - std::stoull(requests[i].substr(at + 13));
  }
  EXPECT_LE(asked, p.files[0].second.size() - kept) << "what the record named is not asked for again";
}

TEST(ValdrisGet, CtrlCWhileTheListIsFetchedStopsAtOnce) {
  Published p;
  FaultScript slow;
  slow.body = "{}";
  slow.stallBeforeHeaders = true;
  slow.stallMs = 10000;
  p.server.Script("/filelist.json", slow);
  ChildProcess run = p.Run();
  while (p.server.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto start = std::chrono::steady_clock::now();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 130) << run.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_FALSE(fs::exists(p.install.path() / "Data"));
}

TEST(ValdrisGet, OffATerminalAboutOneLineASecond) {
  Published p;
  p.files.clear();
  for (int i = 0; i < 600; ++i) p.files.push_back({"small/" + std::to_string(i) + ".bin", Pattern(512, i)});
  p.Publish();
  const auto start = std::chrono::steady_clock::now();
  ChildProcess run = p.Run();
  EXPECT_EQ(run.Wait(), 0) << run.Err();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  int lines = 0;
  for (std::size_t at = run.Out().find("\n["); at != std::string::npos; at = run.Out().find("\n[", at + 1)) ++lines;
  EXPECT_GE(lines, 1) << run.Out();
  EXPECT_LE(lines, seconds + 2) << run.Out();
  EXPECT_NE(run.Out().find("[600/600] small/599.bin"), std::string::npos) << "the last state is printed";
}

// A build with the publisher's key takes only the signed list; a stripped signature ends the run
// before any file is written, with the message and exit status 1.
TEST(ValdrisGet, WithAPublisherKeyOnlyTheSignedListIsTaken) {
  Published p;
  p.Publish();
  TempDir keys;
  WriteBytes(keys / "publisher.pem", kTestPrivateKeyPem);
  ChildProcess stripped(VALDRIS_GET_SIGNED,
                        {"--filelist", p.server.Url("/filelist.json"), "--folder", p.install.path().string()},
                        p.state.path().string());
  EXPECT_EQ(stripped.Wait(), 1);
  EXPECT_NE(stripped.Err().find("The file list is not signed by the publisher."), std::string::npos) << stripped.Err();
  EXPECT_FALSE(fs::exists(p.install.path() / "Data"));

  // The same list with its signature beside it; then a newer one; then the older one again, which is
  // refused: the newest signing time taken is remembered in the user's state folder.
  const auto serve = [&](const std::string& signedAt) {
    filelist::CFileList published = MakeList(p.server.Url("/game/"), p.files);
    published.m_strSigned = signedAt;
    published.m_strExpires = "2099-01-01T00:00:00Z";
    const std::string document = filelist::SerializeJsonText(published);
    std::string signature, error;
    EXPECT_TRUE(filelisttool::SignDocument((keys / "publisher.pem").string(), document, signature, error)) << error;
    FaultScript listScript, signatureScript;
    listScript.body = document;
    signatureScript.body = signature;
    p.server.Script("/filelist.json", listScript);
    p.server.Script("/filelist.json.sig", signatureScript);
  };
  const auto run = [&] {
    auto child = std::make_unique<ChildProcess>(
        VALDRIS_GET_SIGNED,
        std::vector<std::string>{"--quiet", "--filelist", p.server.Url("/filelist.json"), "--folder",
                                 p.install.path().string()},
        p.state.path().string());
    child->Wait();
    return child;
  };
  serve("2026-01-01T00:00:00Z");
  const auto trusted = run();
  EXPECT_EQ(trusted->Wait(), 0) << trusted->Err();
  EXPECT_TRUE(p.AllPresent());
  serve("2026-02-01T00:00:00Z");
  EXPECT_EQ(run()->Wait(), 0);
  serve("2026-01-01T00:00:00Z");
  const auto rolledBack = run();
  EXPECT_EQ(rolledBack->Wait(), 1);
  EXPECT_NE(rolledBack->Err().find("The file list is older than the one already accepted."), std::string::npos)
      << rolledBack->Err();
}

} // namespace
