#include "download/ListTrust.h"

#include <chrono>

#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/ListSignature.h"
#include "platform/Files.h"

namespace download {

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

} // namespace

bool IsSignedByAny(std::string_view document, std::string_view signatureText, const std::vector<std::string>& keys) {
  std::vector<unsigned char> signature;
  if (!DecodeBase64(signatureText, signature) || signature.size() != kSignatureSize) return false;
  for (const std::string& text : keys) {
    std::vector<unsigned char> key;
    if (DecodeBase64(text, key) && VerifyListSignature(document, signature, key)) return true;
  }
  return false;
}

bool ParseUtcTime(std::string_view text, std::int64_t& seconds) {
  int year, month, day, hour, minute, second;
  if (text.size() < 20 || !Digits(text, 0, 4, year) || text[4] != '-' || !Digits(text, 5, 2, month) ||
      text[7] != '-' || !Digits(text, 8, 2, day) || text[10] != 'T' || !Digits(text, 11, 2, hour) ||
      text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' || !Digits(text, 17, 2, second))
    return false;
  std::size_t at = 19;
  if (text[at] == '.') {
    ++at;
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == start) return false;
  }
  const std::string_view zone = text.substr(at);
  if (zone != "Z" && zone != "+00:00") return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  if (day > kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

void KeepNewestSignedIn(TrustPolicy& policy, const std::u16string& folder) {
  const std::u16string path = folder + platform::kPathSeparator + u"NewestFileList";
  policy.readNewestSigned = [path](std::string& signedText) {
    platform::CFileHandle file;
    if (file.Open(path, platform::OpenMode::ReadExisting) != platform::ERROR_SUCCESS) return false;
    char buffer[128];
    std::size_t got = 0;
    if (file.Read(buffer, sizeof buffer, got) != platform::ERROR_SUCCESS) return false;
    signedText.assign(buffer, got);
    while (!signedText.empty() && (signedText.back() == '\n' || signedText.back() == '\r')) signedText.pop_back();
    return true;
  };
  policy.writeNewestSigned = [folder, path](const std::string& signedText) {
    if (!platform::IsDirectory(folder)) platform::CreateDirectoryTree(folder);
    platform::WriteFileAtomically(path, signedText + "\n");
  };
}

TrustPolicy ProgramTrustPolicy(std::vector<std::string> keys) {
  TrustPolicy policy;
  policy.keys = std::move(keys);
  policy.nowUtc = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  std::u16string base;
  if (!policy.keys.empty() && core::GetRoamingAppDataFolder(base))
    KeepNewestSignedIn(policy, core::JoinPath(base, u"Mervo_Downloader"));
  return policy;
}

} // namespace download
