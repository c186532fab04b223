// The downloader's entry: the program's build settings, then everything happens in the application
// object.
#include "app/MervoDownloaderApp.h"
#include "download/ListTrust.h"
#include "platform/Utf.h"

int main(int argc, char** argv) {
  app::CMervoDownloaderApp theApp({platform::WidenUtf8(VALDRIS_FILELIST_URL), platform::WidenUtf8(VALDRIS_PUBLISHER_HOST),
                                   download::BuiltInTrustPolicy()});
  return theApp.Run(argc, argv);
}
