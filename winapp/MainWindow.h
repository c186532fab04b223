#pragma once
// The native Windows window of the downloader: the skinned dialog as the controller's view. It binds
// the template's controls to the skinned control classes, turns commands and timers into the
// controller's handlers, shows what the controller asks, and receives the worker's records as
// posted window messages.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "controller/MainView.h"
#include "controller/MervoDownloaderDlg.h"
#include "download/Messages.h"
#include "skin/ProgressBarState.h"
#include "skin/WindowLayout.h"
#include "winapp/Dialogs.h"
#include "winapp/Taskbar.h"
#include "winui/BitmapButtonEx.h"
#include "winui/TextProgressCtrl.h"
#include "winui/TransparentStatic.h"

#include <windows.h>

namespace winapp {

class CMainWindow : public controller::IMainView, public download::IMessageTarget {
 public:
  CMainWindow(WinDialogs dialogs, controller::Services services);
  ~CMainWindow() override;
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  // The program: runs the window and its controller until it closes.
  void DoModal();
  // Creates the window and its controller without a loop of their own (the caller pumps messages);
  // false when the start-up ended it.
  bool Create();
  // Creates only the window, for a controller of the caller's that drives it as its view; commands
  // and the worker's records then reach no controller.
  bool CreateView();

  HWND Hwnd() const { return m_hWnd; }
  controller::CMervoDownloaderDlg& Dlg() { return *m_pDlg; }
  bool IsEnded() const { return m_bEnded; }
  // Whether the shell's "TaskbarButtonCreated" may reach the window though it runs elevated.
  bool TaskbarMessageAllowed() const { return m_bTaskbarMessageAllowed; }
  bool IsTimerRunning(int id) const { return m_timers.count(id) != 0; }
  winui::CBitmapButtonEx* Button(int id);
  winui::CTransparentStatic* Label(int id);
  winui::CTextProgressCtrl* Bar(int id);
  // Enter and Escape never reach the window or its controls: true when the message is dropped.
  bool PreTranslateMessage(const MSG& message);
  // The face the texts are drawn in: the first of the window's faces the system has, unless set here.
  const std::u16string& FontFace() const { return m_strFontFace; }
  void UseFontFace(std::u16string face);
  UINT Dpi() const { return m_nDpi; }

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

  // Called on the worker's thread: posts the record to the window's queue.
  void OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog();
  void BindControls();
  void Layout();
  // Each control's font: labels at the largest size, at most the window's, at which every text
  // they show fits their width in the window's face.
  void FitFonts();
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  int Scaled(int length) const { return MulDiv(length, static_cast<int>(m_nDpi), 96); }
  void InitProgressBars();
  void InitButtons();
  void InitBackground();
  void OnCommand(int id);
  bool OnSetCursor();
  void OnPaintIconic();
  void OnDestroy();

  WinDialogs m_dialogs;
  controller::Services m_services;
  std::atomic<HWND> m_hWnd{nullptr};
  bool m_bModal = false;
  bool m_bWithController = true;
  std::set<int> m_timers;
  bool m_bEnded = false;
  HICON m_hIcon;
  UINT m_uTaskbarButtonCreated;
  bool m_bTaskbarMessageAllowed = false;
  CTaskbarProgress m_taskbar;
  winui::UniqueBitmap m_bmpBackground;
  UINT m_nDpi = 96;
  bool m_bFocusCues = false;  // whether the keyboard has moved the focus yet
  std::u16string m_strFontFace;
  std::map<int, winui::UniqueFont> m_fonts;  // by pixel size
  std::map<int, std::unique_ptr<winui::CTransparentStatic>> m_labels;
  std::map<int, std::unique_ptr<winui::CTextProgressCtrl>> m_bars;
  std::map<int, std::unique_ptr<winui::CBitmapButtonEx>> m_buttons;
  download::TargetHandle m_hTarget = 0;
  std::unique_ptr<controller::CMervoDownloaderDlg> m_pDlg;
};

} // namespace winapp
