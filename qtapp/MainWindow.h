#pragma once
// The Qt window of the downloader: the skinned window as the controller's view. It turns the
// controls' signals and its timer into the controller's handlers, shows what the controller asks,
// and brings the worker's records onto the window's thread.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <QElapsedTimer>
#include <QTimer>

#include "controller/MainView.h"
#include "controller/MervoDownloaderDlg.h"
#include "download/Messages.h"
#include "qtapp/DesktopIntegration.h"
#include "qtapp/QtServices.h"
#include "qtui/SkinnedWindow.h"

namespace qtapp {

class CMainWindow : public qtui::CSkinnedWindow, public controller::IMainView, public download::IMessageTarget {
  Q_OBJECT
 public:
  CMainWindow(IMessageBox& box, IFolderBrowser& browser, controller::Services services,
              QDBusConnection desktopBus = QDBusConnection::sessionBus());
  ~CMainWindow() override;

  controller::CMervoDownloaderDlg& Dlg() { return *m_pDlg; }
  // The text a label shows, or will show with the next frame.
  std::u16string Text(int id) const;
  // The position a bar shows, or will show with the next frame.
  int BarPosition(int id) const;
  // Frames drawn: texts and bar positions applied together.
  int Frames() const { return m_nFrames; }
  bool IsTimerRunning() const { return m_timer.isActive(); }
  void ShowAbout();

  // The view the controller drives.
  void SetText(int id, std::u16string_view text) override;
  void SetTextColor(int id, window::ColourRef colour) override;
  void EnableControl(int id, bool enabled) override;
  void SetBarPosition(int id, int position) override;
  bool ShowMessage(std::u16string_view text, controller::BoxKind kind) override;
  bool BrowseForFolder(std::u16string_view initial, std::u16string_view requiredSize, std::u16string& chosen) override;
  void StartTimer(int id, std::uint32_t milliseconds) override;
  void StopTimer(int id) override;
  bool WaitForStartup(std::u16string_view status, const std::function<void()>& work,
                      const std::function<void()>& cancel) override;
  void PrepareWindow() override;
  void ShowRunState(window::RunState state) override;
  void EndDialog() override;
  download::TargetHandle MessageTarget() const override { return m_hTarget; }

  // Called on the worker's thread: hands the record to this window's thread.
  void OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) override;

 signals:
  void ended();

 protected:
  bool event(QEvent* event) override;

 private:
  // Texts and bar positions reach the controls at most once a frame: a flood of records costs one
  // repaint per frame, while a change after a quiet moment shows at once.
  void ScheduleFrame();
  void DrawFrame();
  // Draws what waits now, so what comes next shows with it.
  void DrawPendingFrame();

  IMessageBox& m_box;
  IFolderBrowser& m_browser;
  download::TargetHandle m_hTarget = 0;
  QTimer m_timer;
  int m_nTimerId = 0;
  // Records from the worker, waiting for the window's thread.
  struct Posted {
    std::uint32_t message;
    std::unique_ptr<download::MessageRecord> record;
  };
  std::mutex m_inboxMutex;
  std::deque<Posted> m_inbox;
  std::map<int, std::u16string> m_pendingTexts;
  std::map<int, int> m_pendingBars;
  CDesktopIntegration m_desktop;
  QTimer m_frameTimer;
  QElapsedTimer m_sinceFrame;
  int m_nFrames = 0;
  std::unique_ptr<controller::CMervoDownloaderDlg> m_pDlg;
};

} // namespace qtapp
