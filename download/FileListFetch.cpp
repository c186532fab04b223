#include "download/FileListFetch.h"

#include "core/Log.h"
#include "core/StringTable.h"
#include "download/Servers.h"
#include "platform/Utf.h"

namespace download {

using core::theLog;

namespace {

// The largest signature document taken: one line of base64 with some room for line ends.
constexpr std::size_t kMaxSignatureSize = 1024;
// The start-up's fetches (list and signature) end within this many time-outs however slowly a
// server drips, so the window never waits long for a server that keeps it waiting on purpose.
constexpr std::uint32_t kStartupLimitInTimeouts = 2;

// Keeps the client's overall limit for the length of a scope.
class OverallLimit {
 public:
  OverallLimit(net::CHttpClient& client, std::uint32_t limitMs) : m_client(client) { client.SetOverallLimit(limitMs); }
  ~OverallLimit() { m_client.SetOverallLimit(0); }
  OverallLimit(const OverallLimit&) = delete;
  OverallLimit& operator=(const OverallLimit&) = delete;

 private:
  net::CHttpClient& m_client;
};

StartupFailure Failure(unsigned id) { return {id, core::LoadResString(id), true}; }

bool Stopped(const net::CHttpClient& client, StartupFailure& failure) {
  if (client.LastError() != platform::ERROR_INTERNET_OPERATION_CANCELLED) return false;
  // The user stopped the program while it waited for the server: no failure to report.
  theLog.Write(core::LOG_INFO, u"file list download is stopped");
  failure = {0, {}, false};
  return true;
}

// The signature of the list's exact bytes, from the list's address with ".sig" appended.
bool CheckSignature(net::CHttpClient& client, std::u16string_view url, const std::string& document,
                    const TrustPolicy& policy, StartupFailure& failure) {
  std::string signature;
  if (!client.ReadToMemory(std::u16string(url) + u".sig", signature, kMaxSignatureSize)) {
    if (Stopped(client, failure)) return false;
    theLog.Write(core::LOG_ERROR, u"file list signature download is failed - (%ld)", client.FailureCode());
    // No signature published, or something far too large to be one: the list is not signed. Anything
    // else (a time-out, a server error) says nothing of the list: the server cannot be reached.
    const bool absent = client.LastError() == platform::ERROR_SUCCESS &&
                        (client.StatusCode() == 404 || client.StatusCode() == 410);
    if (absent || client.LastError() == platform::ERROR_INSUFFICIENT_BUFFER)
      failure = Failure(core::IDS_LIST_NOT_SIGNED);
    else
      failure = {core::IDS_CANNOT_REACH_SERVER,
                 core::LoadResString(core::IDS_CANNOT_REACH_SERVER, client.FailureCode()), true};
    return false;
  }
  if (!IsSignedByAny(document, signature, policy.keys)) {
    theLog.Write(core::LOG_ERROR, u"file list signature is not valid");
    failure = Failure(core::IDS_LIST_NOT_SIGNED);
    return false;
  }
  theLog.Write(core::LOG_INFO, u"file list signature is valid");
  return true;
}

// A signed list says when it was signed, so that an older one is refused once a newer one was taken.
bool CheckSigningTime(const filelist::CFileList& list, const TrustPolicy& policy, StartupFailure& failure) {
  std::int64_t signedAt = 0;
  if (!ParseUtcTime(list.m_strSigned, signedAt)) {
    theLog.Write(core::LOG_ERROR, u"file list signing time is invalid");
    failure = Failure(core::IDS_INVALID_FILE_LIST);
    return false;
  }
  std::string newestText;
  std::int64_t newest = 0;
  const bool known = policy.readNewestSigned && policy.readNewestSigned(newestText) && ParseUtcTime(newestText, newest);
  if (known && signedAt < newest) {
    theLog.Write(core::LOG_ERROR, u"file list is older than the one accepted before");
    failure = Failure(core::IDS_LIST_ROLLED_BACK);
    return false;
  }
  if ((!known || signedAt > newest) && policy.writeNewestSigned) policy.writeNewestSigned(list.m_strSigned);
  return true;
}

} // namespace

bool CheckListExpiry(const filelist::CFileList& list, const TrustPolicy& policy, StartupFailure& failure) {
  // A signed list must say until when it may be trusted: without that, an old list could be replayed
  // for ever.
  if (list.m_strExpires.empty()) {
    theLog.Write(core::LOG_ERROR, u"file list expiry is missing");
    failure = Failure(core::IDS_INVALID_FILE_LIST);
    return false;
  }
  std::int64_t expires = 0;
  if (!ParseUtcTime(list.m_strExpires, expires)) {
    theLog.Write(core::LOG_ERROR, u"file list expiry is invalid");
    failure = Failure(core::IDS_INVALID_FILE_LIST);
    return false;
  }
  if (policy.nowUtc() > expires) {
    theLog.Write(core::LOG_ERROR, u"file list is expired");
    failure = Failure(core::IDS_LIST_EXPIRED);
    return false;
  }
  return true;
}

bool DownloadFileList(net::CHttpClient& client, std::u16string_view url, filelist::CFileList& list,
                      StartupFailure& failure, const TrustPolicy& policy) {
  const OverallLimit limit(client, kStartupLimitInTimeouts * client.Timeout());
  std::string document;
  if (!client.ReadToMemory(url, document)) {
    if (Stopped(client, failure)) return false;
    theLog.Write(core::LOG_ERROR, u"file list download is failed - (%ld)", client.FailureCode());
    // The server answered, but with a document too large to be a file list.
    if (client.LastError() == platform::ERROR_INSUFFICIENT_BUFFER)
      failure = {core::IDS_INVALID_FILE_LIST, core::LoadResString(core::IDS_INVALID_FILE_LIST), true};
    else
      failure = {core::IDS_CANNOT_REACH_SERVER,
                 core::LoadResString(core::IDS_CANNOT_REACH_SERVER, client.FailureCode()), true};
    return false;
  }
  theLog.Write(core::LOG_INFO, u"file list download success");
  const bool signedLists = !policy.keys.empty();
  if (!signedLists) theLog.Write(core::LOG_INFO, u"file list is not verified: no publisher key is built in");
  if (signedLists && !CheckSignature(client, url, document, policy, failure)) return false;
  // The document is text: it ends at its first NUL byte, if any.
  if (const std::size_t nul = document.find('\0'); nul != std::string::npos) document.resize(nul);
  if (!filelist::DeserializeJsonText(&list, document)) {
    theLog.Write(core::LOG_ERROR, u"file list deserialize is failed");
    failure = {core::IDS_INVALID_FILE_LIST, core::LoadResString(core::IDS_INVALID_FILE_LIST), true};
    return false;
  }
  theLog.Write(core::LOG_INFO, u"file list deserialize success");
  // A count that differs from the entries would skip entries or read past them: refuse the list.
  if (list.m_nTotalCount < 0 || static_cast<std::size_t>(list.m_nTotalCount) != list.m_vecFileInfo.size()) {
    theLog.Write(core::LOG_ERROR, u"file list count is not same as its entries - (%d)", list.m_nTotalCount);
    failure = {core::IDS_INVALID_FILE_LIST, core::LoadResString(core::IDS_INVALID_FILE_LIST), true};
    return false;
  }
  // Mirrors that are no usable base address, or too many of them, are the publisher's mistake.
  std::vector<std::u16string> servers;
  if (std::u16string problem; !ListServers(list, servers, problem)) {
    theLog.Write(core::LOG_ERROR, u"file list servers are invalid - %s", problem);
    failure = {core::IDS_INVALID_FILE_LIST, core::LoadResString(core::IDS_INVALID_FILE_LIST), true};
    return false;
  }
  return !signedLists || (CheckListExpiry(list, policy, failure) && CheckSigningTime(list, policy, failure));
}

bool CheckVersion(const filelist::CFileList& list, StartupFailure& failure) {
  if (platform::WidenUtf8(list.m_strVersion) == core::kProgramVersion) return true;
  theLog.Write(core::LOG_ERROR, u"version is not same so you need re-download on homepage");
  failure = {core::IDS_NEW_VERSION, core::LoadResString(core::IDS_NEW_VERSION), false};
  return false;
}

} // namespace download
