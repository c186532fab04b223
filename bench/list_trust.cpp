// What checking a list's signature adds to the start-up: the list fetched and parsed through the
// start-up's own function, without and with a trusted key, alternately, many times; medians in ms.
// Usage: list_trust LIST_URL PUBLIC_KEY_FILE [ROUNDS]
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "download/FileListFetch.h"
#include "platform/Utf.h"

namespace {

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: list_trust LIST_URL PUBLIC_KEY_FILE [ROUNDS]\n";
    return 2;
  }
  const std::u16string url = platform::WidenUtf8(argv[1]);
  std::ifstream keyFile(argv[2]);
  std::string key((std::istreambuf_iterator<char>(keyFile)), std::istreambuf_iterator<char>());
  while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 50;
  download::TrustPolicy unsignedPolicy;
  download::TrustPolicy signedPolicy;
  signedPolicy.keys = {key};
  signedPolicy.nowUtc = [] { return std::int64_t{0}; };
  std::vector<double> plain, checked;
  std::size_t entries = 0;
  for (int i = 0; i < rounds; ++i) {
    for (const bool withKey : {false, true}) {
      net::CHttpClient client;  // a new client each time, as at a start-up
      filelist::CFileList list;
      download::StartupFailure failure;
      const auto start = std::chrono::steady_clock::now();
      if (!download::DownloadFileList(client, url, list, failure, withKey ? signedPolicy : unsignedPolicy)) {
        std::cerr << "the list was refused: " << platform::NarrowUtf8(failure.text) << "\n";
        return 1;
      }
      (withKey ? checked : plain).push_back(Milliseconds(std::chrono::steady_clock::now() - start));
      entries = list.m_vecFileInfo.size();
    }
  }
  const double a = Median(plain), b = Median(checked);
  std::cout << entries << " entries, " << rounds << " rounds: unsigned " << a << " ms, signed " << b
            << " ms, the signature adds " << (b - a) << " ms (medians)\n";
  return 0;
}
