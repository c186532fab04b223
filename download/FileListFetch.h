#pragma once
// The start-up's first steps, shared by the window and the terminal front end: fetch the file list,
// parse it, and check that it was made for this version of the program.
#include <string>
#include <string_view>

#include "core/Version.h"
#include "download/ListTrust.h"
#include "filelist/FileList.h"
#include "net/HttpClient.h"

namespace download {

// Why the start-up cannot go on: the message to show and whether it is shown as an error.
struct StartupFailure {
  unsigned messageId = 0;
  std::u16string text;
  bool errorIcon = false;
};

// Fetches the document at url into list, with the log lines of the start-up. With keys in the policy
// the list must be signed by one of them (the signature at url + ".sig") and not be past its expiry.
bool DownloadFileList(net::CHttpClient& client, std::u16string_view url, filelist::CFileList& list,
                      StartupFailure& failure, const TrustPolicy& policy = {});

// True when a signed list is within its "Expires" (which it must have); asked at start-up and again
// before a run starts.
bool CheckListExpiry(const filelist::CFileList& list, const TrustPolicy& policy, StartupFailure& failure);

// True when the list names this program's version (exact, case-sensitive).
bool CheckVersion(const filelist::CFileList& list, StartupFailure& failure);

} // namespace download
