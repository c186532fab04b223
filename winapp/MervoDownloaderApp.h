#pragma once
// The application object of the Windows program: one copy per user session, the common controls,
// the main window run modally, and the end of the process when it closes.
#include <utility>

#include "controller/Services.h"
#include "platform/SingleInstance.h"

namespace winapp {

class CMervoDownloaderApp {
 public:
  explicit CMervoDownloaderApp(controller::ProductSettings product) : m_product(std::move(product)) {}
  // Always false: the program has no message loop beyond the window's.
  bool InitInstance();
  int ExitInstance();

 private:
  platform::CSingleInstanceLock m_hMutex;
  controller::ProductSettings m_product;
};

} // namespace winapp
