#include "Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "net/HttpClient.h"
#include "platform/Utf.h"

namespace filelisttool {

std::string Narrow(const std::u16string& s) { return platform::NarrowUtf8(s); }
std::u16string Widen(const std::string& s) { return platform::WidenUtf8(s); }

bool IsUpperHexDigest(const std::string& text) {
  return text.size() == 32 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

bool ParseDays(const std::string& text, long long& days) {
  char* end = nullptr;
  days = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' && days > 0 && days <= 36500;
}

long long NowUtc() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool ReadSource(const std::string& source, std::string& bytes) {
  if (source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0) {
    net::CHttpClient client;
    return client.ReadToMemory(Widen(source), bytes);
  }
  std::ifstream file(source, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

} // namespace filelisttool
