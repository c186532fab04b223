#pragma once
// The application object of the Windows program: one copy per user session, the common controls,
// the main window run modally, and the end of the process when it closes.
#include "platform/SingleInstance.h"

namespace winapp {

class CMervoDownloaderApp {
 public:
  // Always false: the program has no message loop beyond the window's.
  bool InitInstance();
  int ExitInstance();

 private:
  platform::CSingleInstanceLock m_hMutex;
};

} // namespace winapp
