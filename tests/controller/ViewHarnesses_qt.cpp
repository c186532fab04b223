// On Linux the tables run against the Qt window too: the real skinned window, painted offscreen,
// read back through its controls (texts and bars as they show with the next frame).
#include <QApplication>

#include "controller/Services.h"
#include "controller/ViewHarness.h"
#include "download/ListTrust.h"
#include "platform/Utf.h"
#include "qtapp/MainWindow.h"
#include "skin/ProgressBarState.h"

namespace testsupport {

namespace {

using namespace controller;
using namespace window;

class QtWindowView : public ViewHarness, qtapp::IMessageBox, qtapp::IFolderBrowser {
 public:
  QtWindowView()
      : m_window(*this, *this,
                 DefaultServices({platform::WidenUtf8(VALDRIS_FILELIST_URL), platform::WidenUtf8(VALDRIS_PUBLISHER_HOST),
                                  download::BuiltInTrustPolicy()})) {
    QObject::connect(&m_window, &qtapp::CMainWindow::ended, [this] { m_bEnded = true; });
  }
  IMainView& View() override { return m_window; }
  std::u16string TextOf(int id) override { return m_window.Text(id); }
  ColourRef ColourOf(int id) override { return m_window.Label(id)->TextColor(); }
  bool IsEnabled(int id) override { return m_window.Control(id)->isEnabled(); }
  int BarOf(int id) override { return m_window.BarPosition(id); }
  bool TimerRunning() override { return m_window.IsTimerRunning(); }
  bool Prepared() override { return m_window.windowTitle().toStdU16String() == kWindowTitle; }
  bool Ended() override { return m_bEnded; }

  bool Show(QWidget*, const std::u16string& text, BoxKind kind) override { return Answer(text, kind); }
  bool Browse(QWidget*, const std::u16string& initial, const std::u16string&, std::u16string& chosen) override {
    return ViewHarness::Browse(initial, chosen);
  }

 private:
  bool m_bEnded = false;
  qtapp::CMainWindow m_window;
};

} // namespace

std::vector<std::string> ViewKinds() { return {"recording", "qt"}; }

std::unique_ptr<ViewHarness> MakeView(const std::string& kind) {
  if (kind == "qt") return std::make_unique<QtWindowView>();
  return MakeRecordingView();
}

} // namespace testsupport
