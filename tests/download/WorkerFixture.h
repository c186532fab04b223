#pragma once
// Shared pieces of the download tests: a log in a private folder, lists made from real files, and a
// worker run that collects the records it posts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "download/DownloadThread.h"
#include "download/FileSink.h"
#include "download/LocalFiles.h"
#include "filelist/FileList.h"
#include "platform/Utf.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace testsupport {

// Points the process-wide log at a private folder, once per test program.
class LogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    core::InitLog();
    core::theLog.SetFolder(platform::WidenUtf8(Folder().string()));
  }
  static std::filesystem::path Folder() { return Instance().m_state / "Mervo_Downloader"; }
  static LogEnvironment& Instance() {
    static LogEnvironment* environment = static_cast<LogEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new LogEnvironment));  // gtest takes ownership
    return *environment;
  }

 private:
  TempDir m_state;
};

// Everything logged so far, as text (the lines are ASCII).
inline std::string LogText() {
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(LogEnvironment::Folder())) {
    const std::string bytes = ReadBytes(entry.path());
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i]);
  }
  return text;
}

inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct RunRecord {
  std::vector<download::DownloadProgress> progress;
  bool gotResult = false;
  bool success = false;
  std::string message;
};

// Waits for the run's result (up to limitMs), collecting every record on the way.
inline RunRecord Collect(download::CMessageQueue& queue, int limitMs = 20000) {
  RunRecord run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    download::CMessageQueue::Message message;
    if (!queue.Wait(message, 50)) continue;
    if (message.id == download::WM_DOWNLOAD_PROGRESS) {
      run.progress.push_back(static_cast<const download::DownloadProgress&>(*message.record));
    } else if (message.id == download::WM_DOWNLOAD_RESULT) {
      const auto& result = static_cast<const download::DownloadResult&>(*message.record);
      run.gotResult = true;
      run.success = result.bSuccess;
      run.message = platform::NarrowUtf8(result.szMessage);
      break;
    }
  }
  return run;
}

// A worker over a list, writing into a fresh install folder, reporting into a queue; one connection
// (each file in its turn) unless a test asks for more.
struct Worker {
  TempDir dir;
  std::filesystem::path folder = dir / "VALDRIS";
  download::CMessageQueue queue;
  download::CDownloadThread thread{queue.Handle()};
  explicit Worker(const filelist::CFileList& list, unsigned connections = 1) {
    thread.SetFileList(list);
    thread.SetDownloadPath(platform::WidenUtf8(folder.u8string()));
    thread.SetMediator(download::DefaultWorkerMediator(2000));
    thread.SetConnections(connections);
  }
  RunRecord Run(int limitMs = 20000) {
    EXPECT_TRUE(thread.Start());
    RunRecord run = Collect(queue, limitMs);
    thread.Stop();
    return run;
  }
  // Names are UTF-8, as in the list.
  std::string Read(const std::string& name) const { return ReadBytes(folder / std::filesystem::u8path(name)); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((folder / std::filesystem::u8path(name)).parent_path());
    WriteBytes(folder / std::filesystem::u8path(name), bytes);
  }
  // From now on the disk has room for only so many more bytes, whichever sink writes them: a write
  // past them fails as a full disk's does.
  void FillDiskAfter(std::int64_t bytes) {
    class CSmallDisk : public download::CFileSink {
     public:
      explicit CSmallDisk(std::shared_ptr<std::atomic<std::int64_t>> room) : m_room(std::move(room)) {}
      platform::ErrorCode Commit(std::size_t n) override {
        using namespace platform;  // the system's own name on Windows
        if (m_room->fetch_sub(static_cast<std::int64_t>(n)) < static_cast<std::int64_t>(n)) return ERROR_DISK_FULL;
        return CFileSink::Commit(n);
      }

     private:
      std::shared_ptr<std::atomic<std::int64_t>> m_room;
    };
    download::WorkerMediator mediator = download::DefaultWorkerMediator(2000);
    auto room = std::make_shared<std::atomic<std::int64_t>>(bytes);
    mediator.fileSink = [room] { return std::make_unique<CSmallDisk>(room); };
    thread.SetMediator(mediator);
  }
};

} // namespace testsupport
