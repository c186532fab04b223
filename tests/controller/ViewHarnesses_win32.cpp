// On Windows the tables run against the native window too: the real dialog with its skinned
// controls, read back through the controls themselves.
#include "controller/ViewHarness.h"

#include <vector>

#include "controller/Services.h"
#include "winapp/MainWindow.h"

#include <windows.h>
#include <commctrl.h>

namespace testsupport {

namespace {

using namespace controller;

// The common controls, as the program's start prepares them, before any window is made.
const bool kCommonControls = [] {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  return InitCommonControlsEx(&controls) != FALSE;
}();

class Win32WindowView : public ViewHarness {
 public:
  Win32WindowView()
      : m_window(winapp::WinDialogs{[this](HWND, std::u16string_view text, BoxKind kind) { return Answer(text, kind); },
                                    [](HWND, std::u16string_view, std::u16string_view, std::u16string&) {
                                      return false;
                                    }},
                 DefaultServices()) {
    m_window.CreateView();
  }
  IMainView& View() override { return m_window; }
  std::u16string TextOf(int id) override {
    const HWND control = GetDlgItem(m_window.Hwnd(), id);
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1);
    const int n = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    return std::u16string(text.begin(), text.begin() + n);
  }
  controller::COLORREF ColourOf(int id) override {
    const winui::CTransparentStatic* label = m_window.Label(id);
    return label ? label->TextColor() : 0;
  }
  bool IsEnabled(int id) override { return IsWindowEnabled(GetDlgItem(m_window.Hwnd(), id)) != FALSE; }
  int BarOf(int id) override { return static_cast<int>(SendDlgItemMessageW(m_window.Hwnd(), id, PBM_GETPOS, 0, 0)); }
  bool TimerRunning() override { return m_window.IsTimerRunning(TIMER_ELAPSED); }
  bool Prepared() override {
    wchar_t title[64] = {};
    GetWindowTextW(m_window.Hwnd(), title, 64);
    return std::u16string(title, title + wcslen(title)) == kWindowTitle;
  }
  bool Ended() override { return m_window.IsEnded(); }

 private:
  winapp::CMainWindow m_window;
};

} // namespace

std::vector<std::string> ViewKinds() { return {"recording", "win32"}; }

std::unique_ptr<ViewHarness> MakeView(const std::string& kind) {
  if (kind == "win32") return std::make_unique<Win32WindowView>();
  return MakeRecordingView();
}

} // namespace testsupport
