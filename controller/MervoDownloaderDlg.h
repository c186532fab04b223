#pragma once
// The main window's controller: the start-up sequence, the download control with its states and
// progress display, the install folder and the setup launch. It knows no toolkit: it talks to the
// window through IMainView and receives the window's events through its handlers.
#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "controller/MainView.h"
#include "controller/Services.h"
#include "download/DownloadThread.h"
#include "download/Messages.h"
#include "download/ProgressModel.h"
#include "filelist/FileList.h"
#include "window/WindowTables.h"

namespace controller {

constexpr int TIMER_ELAPSED = 5001;
constexpr std::uint32_t kElapsedTimerMs = 1000;
inline constexpr std::u16string_view kSetupFileName = u"VALDRIS_Setup.exe";
inline constexpr std::u16string_view kWindowTitle = u"Downloader For VALDRIS";
// The name of the lock that lets one copy run per user session.
inline constexpr const char* kMutexName = "DOWNLOADER_FOR_VALDRIS_MUTEX";

class CMervoDownloaderDlg {
 public:
  CMervoDownloaderDlg(IMainView& view, Services services);
  virtual ~CMervoDownloaderDlg();
  CMervoDownloaderDlg(const CMervoDownloaderDlg&) = delete;
  CMervoDownloaderDlg& operator=(const CMervoDownloaderDlg&) = delete;

  // The start-up: true when the window is ready to be shown; false after a failure was shown.
  bool OnInitDialog();
  bool DownloadFileList();
  bool CheckVersion();
  void InitLabels();
  void InitInstallFolder();

  void OnBnClickedStart();
  void OnBnClickedStop();
  void OnBnClickedClose();
  void OnBnClickedChangePath();
  void OnBnClickedRun();
  void OnStnClickedForum();
  void OnStnClickedRegister();
  void OnTimer(int id);
  void OnDownloadProgress(std::unique_ptr<download::DownloadProgress> record);
  void OnDownloadResult(std::unique_ptr<download::DownloadResult> record);
  void OnDestroy();

  // Observations for tests and the demo.
  const std::u16string& InstallFolder() const { return m_strInstallFolder; }
  RunState State() const { return m_state; }
  bool IsTimerRunning() const { return m_bTimerRunning; }
  bool IsEnded() const { return m_bEnded; }
  const download::CDownloadThread* Worker() const { return m_pDownloadThread.get(); }
  const filelist::CFileList& FileList() const { return m_FileList; }

 protected:
  // The one worker of the window; may throw std::bad_alloc, which ends the program with a message.
  virtual std::unique_ptr<download::CDownloadThread> CreateWorker();

 private:
  // Every handler runs on the window's thread, the one that made the controller (debug builds check).
  void AssertOnWindowThread() const {
    assert(std::this_thread::get_id() == m_windowThread && "controller handlers run on the window's thread");
  }
  void SetInstallFolder(const std::u16string& folder);
  void SetState(RunState state);
  void StartTimer();
  void StopTimer();
  void EndDialog();

  IMainView& m_view;
  const std::thread::id m_windowThread = std::this_thread::get_id();
  Services m_services;
  bool m_bEnded = false;
  bool m_bTimerRunning = false;
  RunState m_state = RunState::Ready;

  std::unique_ptr<download::CDownloadThread> m_pDownloadThread;
  filelist::CFileList m_FileList;
  std::unique_ptr<download::CProgressModel> m_pProgress;
  std::u16string m_strInstallFolder;
  std::int32_t m_nElapsedHour = 0;
  std::int32_t m_nElapsedMinute = 0;
  std::int32_t m_nElapsedSecond = 0;
  bool m_bDownloading = false;
  bool m_bStoppedByUser = false;
};

} // namespace controller
