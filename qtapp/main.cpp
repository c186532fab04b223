// The downloader's entry: the program's build settings, then everything happens in the application
// object.
#include "download/ListTrust.h"
#include "platform/Utf.h"
#include "qtapp/MervoDownloaderApp.h"

int main(int argc, char** argv) {
  qtapp::CMervoDownloaderApp theApp({platform::WidenUtf8(VALDRIS_FILELIST_URL), platform::WidenUtf8(VALDRIS_PUBLISHER_HOST),
                                   download::BuiltInTrustPolicy()});
  return theApp.Run(argc, argv);
}
