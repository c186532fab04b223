#include "qtapp/MervoDownloaderApp.h"

#include <QApplication>

#include "controller/Services.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "qtapp/MainWindow.h"
#include "qtui/SkinImages.h"

namespace qtapp {

bool CMervoDownloaderApp::InitInstance(IMessageBox& box) {
  // Any failure other than "another copy holds it" lets the program run unprotected.
  if (m_hMutex.Acquire(controller::kMutexName) == platform::ERROR_ALREADY_EXISTS) {
    box.Show(nullptr, core::LoadResString(core::IDS_ALREADY_RUNNING), controller::BoxKind::Ok);
    return false;
  }
  return true;
}

int CMervoDownloaderApp::Run(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mervo_Downloader"));
  // The desktop knows the window by its entry: the launcher's icon, its progress, the notifications.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.valdris_game.Downloader"));
  QApplication::setWindowIcon(qtui::LoadAppIcon());
  CQtMessageBox box;
  if (!InitInstance(box)) return 0;
  CQtFolderBrowser browser(&core::GetDiskFreeBytes);
  CMainWindow window(box, browser, controller::DefaultServices(m_product));
  // A start-up failure has already been shown; the window never appears.
  if (!window.Dlg().OnInitDialog()) return 0;
  QObject::connect(&window, &CMainWindow::ended, &application, &QApplication::quit);
  window.show();
  application.exec();
  m_hMutex.Release();
  return 0;
}

} // namespace qtapp
