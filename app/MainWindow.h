#pragma once
// The Qt window of the downloader: the skinned window as the controller's view. It turns the
// controls' signals and its timer into the controller's handlers, shows what the controller asks,
// and brings the worker's records onto the window's thread.
#include <cstdint>
#include <memory>
#include <string>

#include <QTimer>

#include "app/QtServices.h"
#include "controller/MainView.h"
#include "controller/MervoDownloaderDlg.h"
#include "download/Messages.h"
#include "ui/SkinnedWindow.h"

namespace app {

class CMainWindow : public ui::CSkinnedWindow, public controller::IMainView, public download::IMessageTarget {
  Q_OBJECT
 public:
  CMainWindow(IMessageBox& box, IFolderBrowser& browser, controller::Services services);
  ~CMainWindow() override;

  controller::CMervoDownloaderDlg& Dlg() { return *m_pDlg; }
  // The text a label shows.
  std::u16string Text(int id) const;
  bool IsTimerRunning() const { return m_timer.isActive(); }
  void ShowAbout();

  // The view the controller drives.
  void SetText(int id, std::u16string_view text) override;
  void SetTextColor(int id, controller::COLORREF colour) override;
  void EnableControl(int id, bool enabled) override;
  void SetBarPosition(int id, int position) override;
  bool ShowMessage(std::u16string_view text, controller::BoxKind kind) override;
  bool BrowseForFolder(std::u16string_view initial, std::u16string_view requiredSize, std::u16string& chosen) override;
  void StartTimer(int id, std::uint32_t milliseconds) override;
  void StopTimer(int id) override;
  void PrepareWindow() override;
  void EndDialog() override;
  download::HWND MessageTarget() const override { return m_hTarget; }

  // Called on the worker's thread: hands the record to this window's thread.
  void OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) override;

 signals:
  void ended();

 protected:
  bool event(QEvent* event) override;

 private:
  IMessageBox& m_box;
  IFolderBrowser& m_browser;
  download::HWND m_hTarget = 0;
  QTimer m_timer;
  int m_nTimerId = 0;
  std::unique_ptr<controller::CMervoDownloaderDlg> m_pDlg;
};

} // namespace app
