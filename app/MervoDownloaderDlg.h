#pragma once
// The main window's controller: the start-up sequence, the download control with its states and
// progress display, the install folder and the setup launch, over the skinned window.
#include <cstdint>
#include <memory>
#include <string>

#include <QTimer>

#include "Services.h"
#include "SkinnedWindow.h"
#include "download/DownloadThread.h"
#include "download/Messages.h"
#include "filelist/FileList.h"

namespace app {

constexpr int TIMER_ELAPSED = 5001;
inline constexpr std::u16string_view kSetupFileName = u"VALDRIS_Setup.exe";

class CMervoDownloaderDlg : public ui::CSkinnedWindow, public download::IMessageTarget {
  Q_OBJECT
 public:
  explicit CMervoDownloaderDlg(Services services);
  ~CMervoDownloaderDlg() override;

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
  void ShowAbout();

  // Called on the worker's thread: hands the record to this window's thread.
  void OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) override;

  // Observations for tests and the demo.
  std::u16string Text(int id) const;
  bool IsTimerRunning() const { return m_timer.isActive(); }
  bool IsEnded() const { return m_bEnded; }
  download::CDownloadThread* Worker() const { return m_pDownloadThread.get(); }
  const filelist::CFileList& FileList() const { return m_FileList; }

 signals:
  void ended();

 protected:
  bool event(QEvent* event) override;
  // The one worker of the window; may throw std::bad_alloc, which ends the program with a message.
  virtual std::unique_ptr<download::CDownloadThread> CreateWorker();

 private:
  void SetText(int id, const std::u16string& text);
  void Enable(int id, bool enabled);
  void EndDialog();

  Services m_services;
  download::HWND m_hTarget = 0;
  QTimer m_timer;
  bool m_bEnded = false;

  std::unique_ptr<download::CDownloadThread> m_pDownloadThread;
  filelist::CFileList m_FileList;
  std::int32_t m_nElapsedHour = 0;
  std::int32_t m_nElapsedMinute = 0;
  std::int32_t m_nElapsedSecond = 0;
  std::uint32_t m_nCurrentFile = 0;
  bool m_bDownloading = false;
  bool m_bStoppedByUser = false;
  bool m_bResumePending = false;
  std::uint32_t m_dwResumeBaseTime = 0;
  std::uint32_t m_dwLastStartTime = 0;
  std::uint32_t m_dwStopTime = 0;
  std::uint64_t m_nDownloadedSize = 0;
  std::uint64_t m_dwLastReceived = 0;
};

} // namespace app
