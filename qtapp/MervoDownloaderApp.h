#pragma once
// The application object: one copy per user session, the main window, the end of the program
// when the window closes.
#include <utility>
#include "qtapp/QtServices.h"

#include "controller/Services.h"
#include "platform/SingleInstance.h"

namespace qtapp {

class CMervoDownloaderApp {
 public:
  explicit CMervoDownloaderApp(controller::ProductSettings product) : m_product(std::move(product)) {}
  // Takes the single-instance lock; when another copy holds it, shows message 106 and returns false.
  bool InitInstance(IMessageBox& box);
  // The whole program: returns the process's exit code.
  int Run(int& argc, char** argv);

  platform::CSingleInstanceLock m_hMutex;

 private:
  controller::ProductSettings m_product;
};

} // namespace qtapp
