#include "winapp/MervoDownloaderApp.h"

#include "controller/Services.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "winapp/MainWindow.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

namespace winapp {

namespace {

// The apartment the shell's folder browser and the taskbar object live in.
class CComApartment {
 public:
  CComApartment() : m_bInitialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~CComApartment() {
    if (m_bInitialised) CoUninitialize();
  }
  CComApartment(const CComApartment&) = delete;
  CComApartment& operator=(const CComApartment&) = delete;

 private:
  bool m_bInitialised;
};

// The window of the copy that runs already, restored and brought to the front.
void BringFirstCopyForward() {
  const std::u16string title(controller::kWindowTitle);
  const HWND first = FindWindowW(L"#32770", reinterpret_cast<const wchar_t*>(title.c_str()));
  if (first == nullptr) return;
  if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
  SetForegroundWindow(first);
}

} // namespace

bool CMervoDownloaderApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const CComApartment apartment;
  WinDialogs dialogs = DefaultDialogs(&core::GetDiskFreeBytes);
  // Any failure other than "another copy holds it" lets the program run unprotected.
  if (m_hMutex.Acquire(controller::kMutexName) == ERROR_ALREADY_EXISTS) {
    dialogs.messageBox(nullptr, core::LoadResString(core::IDS_ALREADY_RUNNING), controller::BoxKind::Ok);
    BringFirstCopyForward();
    return false;
  }
  CMainWindow window(std::move(dialogs), controller::DefaultServices(m_product));
  window.DoModal();
  return false;
}

int CMervoDownloaderApp::ExitInstance() {
  m_hMutex.Release();
  return 0;
}

} // namespace winapp
