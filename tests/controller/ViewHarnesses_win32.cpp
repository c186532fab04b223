// On Windows the tables run against the native window too: the real dialog with its skinned
// controls, read back through the controls themselves.
#include "controller/ViewHarness.h"

#include <vector>

#include "controller/Services.h"
#include "download/ListTrust.h"
#include "platform/Utf.h"
#include "winapp/MainWindow.h"
#include "winui/WindowText.h"

#include <windows.h>
#include <commctrl.h>

namespace testsupport {

namespace {

using namespace controller;
using namespace window;

// The common controls, as the program's start prepares them, before any window is made.
const bool kCommonControls = [] {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  return InitCommonControlsEx(&controls) != FALSE;
}();

class Win32WindowView : public ViewHarness {
 public:
  Win32WindowView()
      : m_window(winapp::WinDialogs{[this](HWND, std::u16string_view text, BoxKind kind) { return Answer(text, kind); },
                                    [this](HWND, std::u16string_view initial, std::u16string_view,
                                           std::u16string& chosen) { return Browse(initial, chosen); }},
                 DefaultServices({platform::WidenUtf8(VALDRIS_FILELIST_URL), platform::WidenUtf8(VALDRIS_PUBLISHER_HOST),
                                  download::BuiltInTrustPolicy()})) {
    m_window.CreateView();
  }
  IMainView& View() override { return m_window; }
  std::u16string TextOf(int id) override { return winui::WindowText(GetDlgItem(m_window.Hwnd(), id)); }
  window::ColourRef ColourOf(int id) override {
    const winui::CTransparentStatic* label = m_window.Label(id);
    return label ? label->TextColor() : 0;
  }
  bool IsEnabled(int id) override { return IsWindowEnabled(GetDlgItem(m_window.Hwnd(), id)) != FALSE; }
  int BarOf(int id) override { return static_cast<int>(SendDlgItemMessageW(m_window.Hwnd(), id, PBM_GETPOS, 0, 0)); }
  bool TimerRunning() override { return m_window.IsTimerRunning(TIMER_ELAPSED); }
  bool Prepared() override { return winui::WindowText(m_window.Hwnd()) == kWindowTitle; }
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
