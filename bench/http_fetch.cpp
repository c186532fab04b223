// Fetches URLs one after another through one CHttpClient into files of an output folder: the
// transport alone, for comparison with curl. Usage: http_fetch OUT_DIR URL_LIST_FILE
#include <fstream>
#include <iostream>
#include <string>

#include "net/HttpClient.h"
#include "platform/Utf.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: http_fetch OUT_DIR URL_LIST_FILE\n";
    return 2;
  }
  const std::string out = argv[1];
  std::ifstream list(argv[2]);
  net::CHttpClient client;
  std::string url;
  while (std::getline(list, url)) {
    if (url.empty()) continue;
    const std::string name = url.substr(url.find_last_of('/') + 1);
    std::uint64_t length = 0;
    if (!client.OpenUrl(platform::WidenUtf8(url), u"", length, net::kDownloaderUserAgent) ||
        !client.OpenFile(platform::WidenUtf8(out + "/" + name), false)) {
      std::cerr << url << ": error " << client.FailureCode() << "\n";
      return 1;
    }
    for (;;) {
      std::uint32_t n = 0;
      if (!client.ReadToFile(n)) {
        std::cerr << url << ": error " << client.FailureCode() << "\n";
        return 1;
      }
      if (n == 0) break;
    }
    client.CloseFile();
  }
  return 0;
}
