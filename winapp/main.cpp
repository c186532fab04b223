// The Windows program's entry: the program's build settings, then the application object.
#include "download/ListTrust.h"
#include "platform/Utf.h"
#include "winapp/MervoDownloaderApp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  winapp::CMervoDownloaderApp theApp({platform::WidenUtf8(VALDRIS_FILELIST_URL),
                                      platform::WidenUtf8(VALDRIS_PUBLISHER_HOST), download::BuiltInTrustPolicy()});
  theApp.InitInstance();
  return theApp.ExitInstance();
}
