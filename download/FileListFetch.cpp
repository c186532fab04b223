#include "download/FileListFetch.h"

#include "core/Log.h"
#include "core/StringTable.h"
#include "platform/Utf.h"

namespace download {

using core::theLog;

bool DownloadFileList(net::CHttpClient& client, std::u16string_view url, filelist::CFileList& list,
                      StartupFailure& failure) {
  std::string document;
  if (!client.ReadToMemory(url, document)) {
    if (client.LastError() == platform::ERROR_INTERNET_OPERATION_CANCELLED) {
      // The user stopped the program while it waited for the server: no failure to report.
      theLog.Write(core::LOG_INFO, u"file list download is stopped");
      failure = {0, {}, false};
      return false;
    }
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
  return true;
}

bool CheckVersion(const filelist::CFileList& list, StartupFailure& failure) {
  if (platform::WidenUtf8(list.m_strVersion) == core::kProgramVersion) return true;
  theLog.Write(core::LOG_ERROR, u"version is not same so you need re-download on homepage");
  failure = {core::IDS_NEW_VERSION, core::LoadResString(core::IDS_NEW_VERSION), false};
  return false;
}

} // namespace download
