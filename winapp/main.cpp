#include "winapp/MervoDownloaderApp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  winapp::CMervoDownloaderApp theApp;
  theApp.InitInstance();
  return theApp.ExitInstance();
}
