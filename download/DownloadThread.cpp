#include "download/DownloadThread.h"

#include <algorithm>
#include <optional>

#include "core/Log.h"
#include "core/ScopeExit.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/FileSink.h"
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

// Whole transfers of one entry that may fail to match the list before the run gives up.
constexpr std::uint32_t kMaxMismatches = 3;
// An answer that takes this long (milliseconds) is a round trip worth fetching files ahead for.
constexpr std::uint32_t kSlowAnswerMs = 4;

} // namespace

WorkerMediator DefaultWorkerMediator(std::uint32_t httpTimeoutMs) {
  WorkerMediator mediator;
  mediator.tick = &TickCount32;
  mediator.freeSpace = &core::GetDiskFreeBytes;
  mediator.httpClient = [httpTimeoutMs] {
    auto client = std::make_unique<net::CHttpClient>();
    client->SetTimeout(httpTimeoutMs);
    return client;
  };
  mediator.fileSink = [] { return std::make_unique<CFileSink>(); };
  mediator.post = &PostToTarget;
  return mediator;
}

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

std::u16string EntryLocalPath(std::u16string_view folder, std::u16string_view name) {
  const std::size_t slash = name.rfind(u'/');
  if (slash == std::u16string_view::npos) return core::JoinPath(folder, name);
  std::u16string_view folderPart = name.substr(0, slash);
  while (!folderPart.empty() && folderPart.front() == u'/') folderPart.remove_prefix(1);
  const std::u16string directory = folderPart.empty() ? std::u16string(folder) : core::JoinPath(folder, folderPart);
  return core::JoinPath(directory, name.substr(slash + 1));
}

std::vector<std::uint64_t> MissingBytesFrom(const filelist::CFileList& list, std::u16string_view folder,
                                            std::uint32_t from) {
  const std::size_t count = list.m_vecFileInfo.size();
  const std::size_t first = std::min<std::size_t>(from, count);
  std::vector<std::uint64_t> missing(count - first + 1, 0);
  for (std::size_t i = count; i-- > first;) {
    const filelist::FileInfo& info = list.m_vecFileInfo[i];
    std::uint64_t need = info.Size;
    const std::u16string name = WidenUtf8(info.Name);
    if (IsSafeEntryName(name)) {
      std::uint64_t size = 0;
      ErrorCode error = ERROR_SUCCESS;
      if (QueryPath(EntryLocalPath(folder, name), size, error) == PathKind::File && error == ERROR_SUCCESS &&
          size <= info.Size)
        need = info.Size - size;
    }
    missing[i - first] = missing[i - first + 1] + need;
  }
  return missing;
}

CDownloadThread::CDownloadThread(TargetHandle hWnd, WorkerMediator mediator) : m_hWnd(hWnd), m_mediator(std::move(mediator)) {}

CDownloadThread::~CDownloadThread() { Stop(); }

void CDownloadThread::SetFileList(const filelist::CFileList& list) {
  assert(!IsBodyGoingOn() && "the list is set only while no run is going on");
  m_FileList = list;
}

void CDownloadThread::SetDownloadPath(std::u16string_view folder) {
  assert(!IsBodyGoingOn() && "the folder is set only while no run is going on");
  m_strDownloadPath = std::u16string(folder);
}

bool CDownloadThread::Run() { return PostResult(DownloadFiles()); }

void CDownloadThread::Concerning(std::u16string_view path, ErrorCode code) {
  const std::u16string_view reason = ErrorReason(code);
  theLog.Write(LOG_ERROR, u"%s: %s", path, reason);
  m_strErrorDetail = std::u16string(path) + u": " + std::u16string(reason);
}

bool CDownloadThread::Fail(unsigned messageId) {
  m_strErrorMessage = core::LoadResString(messageId);
  return false;
}

bool CDownloadThread::Fail(unsigned messageId, ErrorCode code) {
  m_strErrorMessage = core::LoadResString(messageId, code);
  return false;
}

LocalFileState CDownloadThread::QueryLocalFile(const std::u16string& path) const {
  LocalFileState local;
  const PathKind kind = QueryPath(path, local.size, local.sizeError);
  local.exists = kind != PathKind::Missing;
  local.regular = kind != PathKind::Other;
  return local;
}

bool CDownloadThread::DownloadFiles() {
  // The sink outlives the client, which closes its file when it goes.
  const std::unique_ptr<net::IBodySink> sink = m_mediator.fileSink();
  const std::unique_ptr<net::CHttpClient> client = m_mediator.httpClient();
  if (!sink || !client) return Fail(core::IDS_NO_MEMORY_MESSAGE);
  client->SetBodySink(sink.get());
  client->SetRunningFlag(&RunningFlag());
  // Hashes each file on a second thread while it is written, so verifying costs no extra pass.
  CConcurrentChecksum hasher(&RunningFlag());

  m_strErrorDetail.clear();
  if (!PathExists(m_strDownloadPath)) {
    if (const ErrorCode code = CreateDirectoryTree(m_strDownloadPath); code != ERROR_SUCCESS) {
      theLog.Write(LOG_ERROR, u"download sub directory create is failed");
      Concerning(m_strDownloadPath, code);
      return Fail(core::IDS_FOLDER_CREATE_FAILED);
    }
  }
  const std::uint32_t count = m_FileList.m_nTotalCount > 0 ? static_cast<std::uint32_t>(m_FileList.m_nTotalCount) : 0;
  // A run after one that ended at the last entry starts again from the first.
  if (m_nFileIndex + 1 == count) m_nFileIndex = 0;
  // What the rest of the list still needs on disk, from each entry on.
  const std::vector<std::uint64_t> missing = MissingBytesFrom(m_FileList, m_strDownloadPath, m_nFileIndex);
  m_bPostedInRun = false;
  const std::uint32_t first = m_nFileIndex;
  // Small missing files ahead are fetched over the other connections while the worker goes on.
  // They start once the worker's own connection has brought a file and its answer took a round trip
  // worth hiding: a server which allows fewer connections then refuses the extra ones, never the
  // worker's, and a server next door (where they would only cost CPU) never sees them.
  std::unique_ptr<CPrefetcher> ahead;
  bool aheadStarted = m_nConnections <= 1;
  const auto startAhead = [&](std::uint32_t from) {
    aheadStarted = true;
    std::vector<CPrefetcher::Job> jobs = PrefetchJobs(from, count);
    if (jobs.empty()) return;
    net::CWininet::AllowConnectionsPerServer(m_nConnections);
    std::vector<std::unique_ptr<net::CHttpClient>> clients;
    for (unsigned i = 1; i < m_nConnections && i <= jobs.size(); ++i)
      if (std::unique_ptr<net::CHttpClient> extra = m_mediator.httpClient()) clients.push_back(std::move(extra));
    if (!clients.empty()) ahead = std::make_unique<CPrefetcher>(std::move(jobs), std::move(clients), &RunningFlag());
  };

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
    const std::uint64_t needed = missing[std::min<std::size_t>(index - first, missing.size() - 1)];
    if (needed > 0 && m_mediator.freeSpace(m_strDownloadPath) <= needed) {
      theLog.Write(LOG_ERROR, u"insufficient free space in disk");
      return Fail(core::IDS_INSUFFICIENT_SPACE);
    }
    Entry entry;
    entry.index = index;
    entry.info = &m_FileList.m_vecFileInfo[index];
    entry.name = WidenUtf8(entry.info->Name);
    theLog.Write(LOG_INFO, u"download file : (%d) %s", static_cast<std::int32_t>(index), entry.name);
    m_dwFileStartTime = m_mediator.tick();
    // The name comes from the server: it must never reach outside the install folder.
    if (!IsSafeEntryName(entry.name)) {
      theLog.Write(LOG_ERROR, u"invalid file name so download stop - (%ld)", ERROR_INVALID_NAME);
      Concerning(entry.name, ERROR_INVALID_NAME);
      return Fail(core::IDS_FILE_CREATE_FAILED, ERROR_INVALID_NAME);
    }
    // The entry's folders are made first; the path is joined from the name as listed.
    std::u16string name = entry.name;
    std::u16string directory;
    MakeSubDirectory(name, directory);
    entry.localPath = EntryLocalPath(m_strDownloadPath, entry.name);
    entry.expected = WidenUtf8(entry.info->CheckSum);

    const LocalFileState local = QueryLocalFile(entry.localPath);
    if (local.exists) theLog.Write(LOG_INFO, u"file is exist");
    const EntryDecision decision =
        DecideEntry(local, entry.info->Size, entry.expected, mismatches > 0,
                    [&](std::u16string& checksum) { return GetFileChecksum(entry.localPath, checksum); });
    if (!decision.logFormat.empty()) {
      if (decision.logWithCode) theLog.Write(decision.logLevel, decision.logFormat, decision.code);
      else theLog.Write(decision.logLevel, decision.logFormat);
    }
    if (decision.action == EntryAction::Refuse) {
      Concerning(entry.localPath, decision.code);
      return Fail(core::IDS_FILE_CREATE_FAILED, decision.code);
    }
    if (decision.action == EntryAction::Verified) {
      if (!PostProgress(static_cast<std::int32_t>(index), true, local.size, local.size))
        return Fail(core::IDS_NO_MEMORY_MESSAGE);
      ++index;
      continue;
    }

    if (!IsRunning()) return false;
    EntryAction action = decision.action;
    // A changed file the list has a block index for: only what the old file lacks is fetched.
    if (mismatches == 0 && !entry.info->Blocks.Name.empty() && local.exists && local.size > 0) {
      const PatchEnd patched = Patch(*client, hasher, entry, local);
      if (patched == PatchEnd::Stopped || patched == PatchEnd::Failed) return false;
      if (patched == PatchEnd::Patched) {
        ++index;
        continue;
      }
      if (patched == PatchEnd::Resume) action = EntryAction::Resume;
    }
    const bool resume = action == EntryAction::Resume;
    std::string body;
    const bool fetchedAhead = !resume && decision.resumeFrom == 0 && ahead && ahead->Take(index, body);
    TransferEnd transferred = Transfer(*client, *sink, hasher, entry, resume, decision.resumeFrom,
                                       fetchedAhead ? &body : nullptr, ahead != nullptr);
    if (transferred == TransferEnd::Busy) {
      // Too many connections for this server: the others are closed, and the entry is asked for
      // again over the worker's alone, as for the rest of the run.
      ahead.reset();
      transferred = Transfer(*client, *sink, hasher, entry, resume, decision.resumeFrom, nullptr, false);
    }
    if (transferred == TransferEnd::Stopped) return false;  // left as it is for the next run, which resumes it
    if (transferred == TransferEnd::Failed) return false;   // the message is set
    if (!aheadStarted && m_dwLastAnswerMs >= kSlowAnswerMs) startAhead(index + 1);

    // While the checksum catches up with this file, the next file's request is on its way, so its
    // transfer starts with the server's answer waiting instead of leaving the checksum idle meanwhile.
    if (index + 1 < count && !(ahead && ahead->Plans(index + 1))) SendNextEarly(*client, index + 1);
    const VerifyEnd verified = Verify(hasher, entry);
    if (verified == VerifyEnd::Failed) return false;
    if (verified == VerifyEnd::Matches) {
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

CDownloadThread::TransferEnd CDownloadThread::Transfer(net::CHttpClient& client, net::IBodySink& sink,
                                                       CConcurrentChecksum& hasher, const Entry& entry, bool resume,
                                                       std::uint64_t from, const std::string* fetchedAhead,
                                                       bool othersOpen) {
  std::uint64_t contentLength = fetchedAhead != nullptr ? fetchedAhead->size() : 0;
  const std::u16string range = resume ? net::FormatRangeHeader(from) : std::u16string();
  const std::u16string address = AddressOf(entry.name);
  const std::uint32_t asked = m_mediator.tick();
  if (fetchedAhead == nullptr && !client.OpenUrl(address, range, contentLength, net::kDownloaderUserAgent)) {
    if (!IsRunning()) return TransferEnd::Stopped;  // the stop ended the wait for the server
    if (othersOpen && (client.StatusCode() == 503 || client.StatusCode() == 429)) return TransferEnd::Busy;
    theLog.Write(LOG_ERROR, u"failed to connect server - (%ld)", client.FailureCode());
    Fail(core::IDS_CANNOT_REACH_SERVER, client.FailureCode());
    return TransferEnd::Failed;
  }
  if (fetchedAhead == nullptr) m_dwLastAnswerMs = m_mediator.tick() - asked;
  // A 200 answer to a ranged request is the whole file: the file starts over with it.
  if (resume && fetchedAhead == nullptr && client.StatusCode() == 200) resume = false;
  const std::uint64_t resumed = resume ? from : 0;
  // The answer must be exactly the rest of the listed file: a longer one would fill the disk with
  // what can never match, a shorter one could never complete it. Nothing of it is written.
  if (contentLength != entry.info->Size - std::min(resumed, entry.info->Size)) {
    theLog.Write(LOG_ERROR, u"failed to connect server - (%ld)", ERROR_HTTP_INVALID_SERVER_RESPONSE);
    Fail(core::IDS_CANNOT_REACH_SERVER, ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return TransferEnd::Failed;
  }
  if (!client.OpenFile(entry.localPath, resume)) {
    theLog.Write(LOG_ERROR, u"failed to create(open) file - (%ld)", client.LastError());
    Concerning(entry.localPath, client.LastError());
    Fail(core::IDS_FILE_CREATE_FAILED, client.LastError());
    return TransferEnd::Failed;
  }
  hasher.Begin(entry.localPath, resumed);
  // Every way out closes the file (what arrived stays on disk for a resume); every way but a whole
  // answer also gives up the file's checksum.
  bool whole = false;
  const core::CScopeExit closing([&] {
    if (!whole) hasher.Abandon();
    client.CloseFile();
  });
  const std::uint64_t total = contentLength + resumed;
  std::uint64_t received = resumed;
  // The next piece into the file: from the server, or from the body fetched ahead.
  std::size_t aheadAt = 0;
  ErrorCode pieceError = ERROR_SUCCESS;
  const auto readPiece = [&](std::uint32_t& n) {
    if (fetchedAhead == nullptr) {
      const bool read = client.ReadToFile(n);
      pieceError = read ? ERROR_SUCCESS : client.LastError();
      return read;
    }
    std::size_t room = 0;
    char* const at = sink.Room(room);
    const std::size_t take = std::min({room, net::HTTP_BUFFER_SIZE, fetchedAhead->size() - aheadAt});
    std::copy_n(fetchedAhead->data() + aheadAt, take, at);
    aheadAt += take;
    n = static_cast<std::uint32_t>(take);
    pieceError = sink.Commit(take);
    return pieceError == ERROR_SUCCESS;
  };
  for (;;) {
    if (!IsRunning()) return TransferEnd::Stopped;
    std::uint32_t n = 0;
    if (!readPiece(n)) {
      if (!IsRunning()) return TransferEnd::Stopped;  // the stop ended the wait for data
      const ErrorCode code = pieceError;
      theLog.Write(LOG_ERROR, u"failed to download file - (%ld)", code);
      // The file's own trouble (a write that failed) names the file; the network's has no path.
      if (code < ERROR_INTERNET_OUT_OF_HANDLES) Concerning(entry.localPath, code);
      // A full disk is no network trouble: say so.
      if (code == ERROR_DISK_FULL) Fail(core::IDS_INSUFFICIENT_SPACE);
      else Fail(core::IDS_NETWORK_UNSTABLE, code);
      return TransferEnd::Failed;
    }
    if (n == 0) break;
    received += n;
    hasher.Advance(resumed + sink.Written());  // the checksum reads only what is in the file
    const int percentage = core::PercentOf(received, total);
    // About one record a second across entries, not per entry: when files take less than a second
    // each, a record at every entry's first piece would leave the window showing each file at its
    // first piece.
    const std::uint32_t now = m_mediator.tick();
    bool post = percentage == 100;
    if (!m_bPostedInRun || static_cast<std::uint32_t>(now - m_dwLastPost) >= kPostIntervalMs) {
      m_bPostedInRun = true;
      m_dwLastPost = now;
      post = true;
    }
    if (post && !PostProgress(static_cast<std::int32_t>(entry.index), false, total, received, resumed)) {
      Fail(core::IDS_NO_MEMORY_MESSAGE);
      return TransferEnd::Failed;
    }
    if (received > total) break;
  }
  if (received < total) {
    // The body ended early without an error from the transport: the part stays for a resume.
    theLog.Write(LOG_ERROR, u"failed to download file - (%ld)", ERROR_INTERNET_CONNECTION_ABORTED);
    Fail(core::IDS_NETWORK_UNSTABLE, ERROR_INTERNET_CONNECTION_ABORTED);
    return TransferEnd::Failed;
  }
  whole = true;
  return TransferEnd::Whole;
}

CDownloadThread::VerifyEnd CDownloadThread::Verify(CConcurrentChecksum& hasher, const Entry& entry) {
  // The answer arrived whole: the entry is done only when size and digest both match the list.
  std::uint64_t size = 0;
  if (GetLocalFileSize(entry.localPath, &size) != ERROR_SUCCESS) {
    hasher.Abandon();
    theLog.Write(LOG_ERROR, u"(100%%) failed to check file size");
    Fail(core::IDS_FILE_SIZE_FAILED);
    return VerifyEnd::Failed;
  }
  if (size != entry.info->Size) {
    hasher.Abandon();
    theLog.Write(LOG_WARNING, u"(100%%) invalid file size so re-download");
    return VerifyEnd::Mismatch;
  }
  std::u16string checksum;
  if (const ErrorCode code = hasher.Finish(size, checksum); code != ERROR_SUCCESS) {
    if (code != CHECKSUM_STOPPED) theLog.Write(LOG_ERROR, u"(100%%) failed to get file checksum - (%ld)", code);
    Fail(core::IDS_CHECKSUM_FAILED);
    return VerifyEnd::Failed;
  }
  if (checksum == entry.expected) return VerifyEnd::Matches;
  theLog.Write(LOG_WARNING, u"(100%%) invalid file checksum so re-download");
  return VerifyEnd::Mismatch;
}

ErrorCode CDownloadThread::GetFileChecksum(std::u16string_view path, std::u16string& checksum) {
  return ComputeFileChecksum(path, &RunningFlag(), checksum);
}

bool CDownloadThread::SplitEntryName(std::u16string& name, std::u16string& directory) const {
  const std::size_t slash = name.rfind(u'/');
  if (name.empty() || slash == std::u16string::npos) return false;
  std::u16string_view folderPart(name.data(), slash);
  while (!folderPart.empty() && folderPart.front() == u'/') folderPart.remove_prefix(1);
  directory = folderPart.empty() ? m_strDownloadPath : core::JoinPath(m_strDownloadPath, folderPart);
  name.erase(0, slash + 1);
  return true;
}

bool CDownloadThread::MakeSubDirectory(std::u16string& name, std::u16string& directory) {
  if (!SplitEntryName(name, directory)) return false;
  // A folder that cannot be made shows up when its file cannot be created.
  if (!IsDirectory(directory)) CreateDirectoryTree(directory);
  return true;
}

std::u16string CDownloadThread::AddressOf(std::u16string_view name) const {
  return WidenUtf8(m_FileList.m_strURL) + net::EncodeUrlPath(name);
}

std::optional<std::u16string> CDownloadThread::WholeFetchAddress(std::uint32_t index) const {
  if (index >= m_FileList.m_vecFileInfo.size()) return std::nullopt;
  const std::u16string name = WidenUtf8(m_FileList.m_vecFileInfo[index].Name);
  if (!IsSafeEntryName(name)) return std::nullopt;
  // Only a file that is not there at all is surely fetched whole; anything else is decided in its turn.
  std::uint64_t size = 0;
  ErrorCode error = ERROR_SUCCESS;
  if (QueryPath(EntryLocalPath(m_strDownloadPath, name), size, error) != PathKind::Missing) return std::nullopt;
  return AddressOf(name);
}

std::vector<CPrefetcher::Job> CDownloadThread::PrefetchJobs(std::uint32_t first, std::uint32_t count) const {
  std::vector<CPrefetcher::Job> jobs;
  for (std::uint32_t index = first; index < count && index < m_FileList.m_vecFileInfo.size(); ++index) {
    const std::uint64_t size = m_FileList.m_vecFileInfo[index].Size;
    if (size == 0 || size > CPrefetcher::kLargestEntry) continue;
    if (std::optional<std::u16string> address = WholeFetchAddress(index))
      jobs.push_back(CPrefetcher::Job{index, std::move(*address), size});
  }
  return jobs;
}

void CDownloadThread::SendNextEarly(net::CHttpClient& client, std::uint32_t next) {
  if (const std::optional<std::u16string> address = WholeFetchAddress(next))
    client.SendEarly(*address, u"", net::kDownloaderUserAgent);
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
  record->dwStartTime = m_dwFileStartTime;
  record->dwTotal = total;
  record->dwReceived = received;
  record->dwResumedFrom = resumedFrom;
  m_mediator.post(m_hWnd.load(), WM_DOWNLOAD_PROGRESS, std::move(record));
  return true;
}

bool CDownloadThread::PostResult(bool success) {
  const TargetHandle target = m_hWnd.load();
  if (target == 0) return true;  // the window is going: nobody to tell
  std::unique_ptr<DownloadResult> record = MakeResultRecord(success, m_strErrorMessage, success ? u"" : m_strErrorDetail);
  if (!record) return false;
  m_mediator.post(target, WM_DOWNLOAD_RESULT, std::move(record));
  return true;
}

} // namespace download
