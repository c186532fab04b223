#include "MervoDownloaderApp.h"

#include <QApplication>

#include "MervoDownloaderDlg.h"
#include "QtServices.h"
#include "SkinImages.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"

namespace app {

bool CMervoDownloaderApp::InitInstance(IMessageBox& box) {
  // Any failure other than "another copy holds it" lets the program run unprotected.
  if (m_hMutex.Acquire(kMutexName) == platform::ERROR_ALREADY_EXISTS) {
    box.Show(nullptr, core::LoadResString(core::IDS_ALREADY_RUNNING), BoxKind::Ok);
    return false;
  }
  return true;
}

int CMervoDownloaderApp::Run(int& argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mervo_Downloader"));
  QApplication::setWindowIcon(ui::LoadAppIcon());
  CQtMessageBox box;
  if (!InitInstance(box)) return 0;
  CQtFolderBrowser browser(&core::GetDiskFreeBytes);
  CMervoDownloaderDlg dialog(DefaultServices(box, browser));
  // A start-up failure has already been shown; the window never appears.
  if (!dialog.OnInitDialog()) return 0;
  QObject::connect(&dialog, &CMervoDownloaderDlg::ended, &application, &QApplication::quit);
  dialog.show();
  application.exec();
  m_hMutex.Release();
  return 0;
}

} // namespace app
