#include "download/DownloadThread.h"

#include <algorithm>

#include "core/Log.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/ConcurrentChecksum.h"
#include "download/LocalFiles.h"
#include "net/HttpClient.h"
#include "net/Url.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace download {

using core::LOG_ERROR;
using core::LOG_INFO;
using core::LOG_WARNING;
using core::theLog;
using namespace platform;

namespace {

constexpr std::uint32_t kPostIntervalMs = 1000;
// Whole transfers of one entry that may fail to match the list before the run gives up.
constexpr std::uint32_t kMaxMismatches = 3;

} // namespace

bool IsSafeEntryName(std::u16string_view name) {
  if (name.empty() || name.front() == u'/') return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(name.find(u'/', start), name.size());
    const std::u16string_view part = name.substr(start, end - start);
    if (part.empty() || part == u"." || part == u"..") return false;
    for (char16_t c : part)
      if (c < 0x20 || c == 0x7F || c == u'\\') return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}

CDownloadThread::CDownloadThread(HWND hWnd)
    : m_hWnd(hWnd), m_freeSpace(&core::GetDiskFreeBytes), m_dwHttpTimeoutMs(net::kDefaultTimeoutMs) {}

CDownloadThread::~CDownloadThread() { Stop(); }

void CDownloadThread::SetFileList(const filelist::CFileList& list) { m_FileList = list; }

void CDownloadThread::SetDownloadPath(std::u16string_view folder) { m_strDownloadPath = std::u16string(folder); }

bool CDownloadThread::Run() { return PostResult(DownloadFiles()); }

bool CDownloadThread::Fail(unsigned messageId) {
  m_strErrorMessage = core::LoadResString(messageId);
  return false;
}

bool CDownloadThread::Fail(unsigned messageId, ErrorCode code) {
  m_strErrorMessage = core::LoadResString(messageId, code);
  return false;
}

bool CDownloadThread::DownloadFiles() {
  net::CHttpClient client;
  client.SetRunningFlag(&RunningFlag());
  client.SetTimeout(m_dwHttpTimeoutMs);
  // Hashes each file on a second thread while it is written, so verifying costs no extra pass.
  CConcurrentChecksum hasher(&RunningFlag());
  const std::u16string base = WidenUtf8(m_FileList.m_strURL);

  if (!PathExists(m_strDownloadPath) && CreateDirectoryTree(m_strDownloadPath) != ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"download sub directory create is failed");
    return Fail(core::IDS_FOLDER_CREATE_FAILED);
  }
  const std::uint32_t count = m_FileList.m_nTotalCount > 0 ? static_cast<std::uint32_t>(m_FileList.m_nTotalCount) : 0;
  // A run after one that ended at the last entry starts again from the first.
  if (m_nFileIndex + 1 == count) m_nFileIndex = 0;
  m_nAccountedSize = 0;

  std::uint32_t index = m_nFileIndex;
  // Transfers of the current entry that arrived whole and still did not match the list.
  std::uint32_t mismatches = 0;
  std::uint32_t mismatchIndex = index;
  while (index < count) {
    if (!IsRunning()) return false;
    if (index != mismatchIndex) {
      mismatches = 0;
      mismatchIndex = index;
    }
    m_nFileIndex = index;
    if (index >= m_FileList.m_vecFileInfo.size()) {
      theLog.Write(LOG_ERROR, u"file list entry is missing - (%d)", static_cast<std::int32_t>(index));
      return Fail(core::IDS_INVALID_FILE_LIST);
    }
    const std::uint64_t needed =
        m_FileList.m_nTotalSize > m_nAccountedSize ? m_FileList.m_nTotalSize - m_nAccountedSize : 0;
    if (m_freeSpace(m_strDownloadPath) <= needed) {
      theLog.Write(LOG_ERROR, u"insufficient free space in disk");
      return Fail(core::IDS_INSUFFICIENT_SPACE);
    }
    const filelist::FileInfo& info = m_FileList.m_vecFileInfo[index];
    const std::u16string entryName = WidenUtf8(info.Name);
    theLog.Write(LOG_INFO, u"download file : (%d) %s", static_cast<std::int32_t>(index), entryName);
    m_dwFileStartTime = TickCount32();
    // The name comes from the server: it must never reach outside the install folder.
    if (!IsSafeEntryName(entryName)) {
      theLog.Write(LOG_ERROR, u"invalid file name so download stop - (%ld)", ERROR_INVALID_NAME);
      return Fail(core::IDS_FILE_CREATE_FAILED, ERROR_INVALID_NAME);
    }
    std::u16string name = entryName;
    std::u16string directory;
    const std::u16string localPath =
        core::JoinPath(MakeSubDirectory(name, directory) ? directory : m_strDownloadPath, name);
    const std::u16string expected = WidenUtf8(info.CheckSum);

    bool resume = false;
    bool verified = false;
    std::uint64_t localSize = 0;
    std::u16string range;
    if (PathExists(localPath)) {
      theLog.Write(LOG_INFO, u"file is exist");
      std::u16string checksum;
      if (!IsRegularFile(localPath)) {
        // A folder, FIFO or device where the file belongs: never read, write or remove it.
        theLog.Write(LOG_ERROR, u"local path is not a regular file so download stop - (%ld)", ERROR_ACCESS_DENIED);
        return Fail(core::IDS_FILE_CREATE_FAILED, ERROR_ACCESS_DENIED);
      }
      if (GetLocalFileSize(localPath, &localSize) != ERROR_SUCCESS) {
        theLog.Write(LOG_ERROR, u"failed to get file size so re-download");
      } else if (localSize < info.Size && mismatches == 0) {
        range = net::FormatRangeHeader(localSize);
        resume = true;
        theLog.Write(LOG_INFO, u"file download relay mode");
      } else if (localSize < info.Size) {
        // The server sent this file whole a moment ago: resuming it would only ask past its end.
        theLog.Write(LOG_WARNING, u"local file is smaller so re-download");
      } else if (localSize > info.Size) {
        theLog.Write(LOG_WARNING, u"local file is bigger so re-download");
      } else if (const ErrorCode code = GetFileChecksum(localPath, checksum); code == CHECKSUM_STOPPED) {
        // the stop is seen before the transfer below
      } else if (code != ERROR_SUCCESS) {
        theLog.Write(LOG_ERROR, u"failed to get file checksum so re-download - (%ld)", code);
      } else if (checksum == expected) {
        theLog.Write(LOG_INFO, u"file checksum is valid so download skip");
        verified = true;
      } else {
        theLog.Write(LOG_WARNING, u"invalid file checksum so re-download");
      }
    }
    if (verified) {
      m_nAccountedSize += localSize;
      if (!PostProgress(static_cast<std::int32_t>(index), true, localSize, localSize))
        return Fail(core::IDS_NO_MEMORY_MESSAGE);
      ++index;
      continue;
    }

    if (!IsRunning()) return false;
    std::uint64_t contentLength = 0;
    if (!client.OpenUrl(base + net::EncodeUrlPath(entryName), range, contentLength, net::kDownloaderUserAgent)) {
      if (!IsRunning()) return false;  // the stop ended the wait for the server
      theLog.Write(LOG_ERROR, u"failed to connect server - (%ld)", client.FailureCode());
      return Fail(core::IDS_CANNOT_REACH_SERVER, client.FailureCode());
    }
    if (!client.OpenFile(localPath, resume)) {
      theLog.Write(LOG_ERROR, u"failed to create(open) file - (%ld)", client.LastError());
      return Fail(core::IDS_FILE_CREATE_FAILED, client.LastError());
    }
    hasher.Begin(localPath, resume ? localSize : 0);
    std::uint64_t total = contentLength;
    std::uint64_t received = 0;
    std::uint32_t lastPost = 0;
    if (resume) {
      m_nAccountedSize += localSize;
      received += localSize;
      total += localSize;
    }
    bool stopped = false;
    for (;;) {
      if (!IsRunning()) {
        stopped = true;
        break;
      }
      std::uint32_t n = 0;
      if (!client.ReadToFile(n)) {
        hasher.Abandon();
        client.CloseFile();
        if (!IsRunning()) return false;  // the stop ended the wait for data
        const ErrorCode code = client.LastError();
        theLog.Write(LOG_ERROR, u"failed to download file - (%ld)", code);
        // A full disk is no network trouble: say so.
        return code == ERROR_DISK_FULL ? Fail(core::IDS_INSUFFICIENT_SPACE) : Fail(core::IDS_NETWORK_UNSTABLE, code);
      }
      if (n == 0) break;
      received += n;
      m_nAccountedSize += n;
      hasher.Advance(received);
      // 100 exactly when every byte is there, whatever the rounding of huge counts.
      const int percentage = core::PercentOf(received, total);
      const std::uint32_t now = TickCount32();
      bool post = percentage == 100;
      if (static_cast<std::uint32_t>(now - lastPost) >= kPostIntervalMs) {
        lastPost = now;
        post = true;
      }
      if (post && !PostProgress(static_cast<std::int32_t>(index), false, total, received, resume ? localSize : 0)) {
        hasher.Abandon();
        client.CloseFile();
        return Fail(core::IDS_NO_MEMORY_MESSAGE);
      }
      if (received > total) break;
    }
    client.CloseFile();
    if (stopped) {
      // Left as it is for the next run, which resumes it.
      hasher.Abandon();
      return false;
    }
    if (received < total) {
      // The body ended early without an error from the transport: the part stays for a resume.
      hasher.Abandon();
      theLog.Write(LOG_ERROR, u"failed to download file - (%ld)", ERROR_INTERNET_CONNECTION_ABORTED);
      return Fail(core::IDS_NETWORK_UNSTABLE, ERROR_INTERNET_CONNECTION_ABORTED);
    }

    // The answer arrived whole: the entry is done only when size and digest both match the list.
    std::uint64_t size = 0;
    if (GetLocalFileSize(localPath, &size) != ERROR_SUCCESS) {
      hasher.Abandon();
      theLog.Write(LOG_ERROR, u"(100%%) failed to check file size");
      return Fail(core::IDS_FILE_SIZE_FAILED);
    }
    bool matches = false;
    if (size != info.Size) {
      hasher.Abandon();
      theLog.Write(LOG_WARNING, u"(100%%) invalid file size so re-download");
    } else {
      std::u16string checksum;
      if (const ErrorCode code = hasher.Finish(size, checksum); code != ERROR_SUCCESS) {
        if (code != CHECKSUM_STOPPED) theLog.Write(LOG_ERROR, u"(100%%) failed to get file checksum - (%ld)", code);
        return Fail(core::IDS_CHECKSUM_FAILED);
      }
      matches = checksum == expected;
      if (!matches) theLog.Write(LOG_WARNING, u"(100%%) invalid file checksum so re-download");
    }
    if (matches) {
      theLog.Write(LOG_INFO, u"(100%%) file download success");
      ++index;
    } else if (++mismatches >= kMaxMismatches) {
      // A transient corruption heals on a retry; one that repeats is the server's or the list's.
      theLog.Write(LOG_ERROR, u"(100%%) file does not match the file list so download stop - (%d)",
                   static_cast<std::int32_t>(mismatches));
      return Fail(core::IDS_FILE_MISMATCH);
    }
  }
  return true;
}

ErrorCode CDownloadThread::GetFileChecksum(std::u16string_view path, std::u16string& checksum) {
  return ComputeFileChecksum(path, &RunningFlag(), checksum);
}

bool CDownloadThread::MakeSubDirectory(std::u16string& name, std::u16string& directory) {
  const std::size_t slash = name.rfind(u'/');
  if (name.empty() || slash == std::u16string::npos) return false;
  std::u16string_view folderPart(name.data(), slash);
  while (!folderPart.empty() && folderPart.front() == u'/') folderPart.remove_prefix(1);
  directory = folderPart.empty() ? m_strDownloadPath : core::JoinPath(m_strDownloadPath, folderPart);
  // A folder that cannot be made shows up when its file cannot be created.
  if (!IsDirectory(directory)) CreateDirectoryTree(directory);
  name.erase(0, slash + 1);
  return true;
}

bool CDownloadThread::PostProgress(std::int32_t index, bool verified, std::uint64_t total, std::uint64_t received,
                                   std::uint64_t resumedFrom) {
  std::unique_ptr<DownloadProgress> record;
  try {
    record = std::make_unique<DownloadProgress>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  record->nFileIndex = index;
  record->bVerified = verified;
  record->dwStartTime = m_dwFileStartTime.load();
  record->dwTotal = total;
  record->dwReceived = received;
  record->dwResumedFrom = resumedFrom;
  PostMessageW(m_hWnd.load(), WM_DOWNLOAD_PROGRESS, std::move(record));
  return true;
}

bool CDownloadThread::PostResult(bool success) {
  const HWND target = m_hWnd.load();
  if (!IsWindow(target)) return true;
  std::unique_ptr<DownloadResult> record;
  try {
    record = std::make_unique<DownloadResult>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  record->bSuccess = success;
  const std::size_t n = std::min<std::size_t>(m_strErrorMessage.size(), 255);
  std::copy_n(m_strErrorMessage.data(), n, record->szMessage);
  record->szMessage[n] = u'\0';
  PostMessageW(target, WM_DOWNLOAD_RESULT, std::move(record));
  return true;
}

} // namespace download
