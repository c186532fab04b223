// The downloader's entry: everything happens in the application object.
#include "app/MervoDownloaderApp.h"

int main(int argc, char** argv) {
  app::CMervoDownloaderApp theApp;
  return theApp.Run(argc, argv);
}
