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
// A server whose quickest answer took this long (milliseconds) is far away: files of a few MiB
// come in segments from it.
constexpr std::uint32_t kFarAwayAnswerMs = 20;
// A file in segments: how often the worker looks at its progress, and records it for a later run.
constexpr std::uint32_t kCheckpointMs = 1000;
// A large file's stream is judged after this long (milliseconds): below this many bytes a
// millisecond (200 MB/s) it goes on in segments.
constexpr std::uint32_t kProbeMs = 300;
constexpr std::uint64_t kFastStreamBytesPerMs = 200 * 1000;

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

// What one run holds besides the worker's own connection.
struct CDownloadThread::RunState {
  net::CHttpClient& client;
  net::IBodySink& sink;
  CConcurrentChecksum& hasher;
  CServerSet& servers;
  std::unique_ptr<CPrefetcher> ahead;
  bool aheadStarted = false;
  // After a server found the connections ahead too many, they start again no sooner than this.
  std::uint32_t aheadNotBefore = 0;
  std::uint32_t aheadPauseMs = 0;
  // The next entry's request sent early, and to which server.
  std::optional<std::uint32_t> earlyIndex;
  std::size_t earlyServer = 0;
  // The connections of files fetched in segments, made at the first such file. Each sink outlives
  // its client, which closes its file when it goes.
  std::vector<std::unique_ptr<net::IBodySink>> segmentSinks;
  std::vector<std::unique_ptr<net::CHttpClient>> segmentClients;
};

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
  std::vector<std::u16string> bases;
  if (std::u16string problem; !ListServers(m_FileList, bases, problem)) {
    theLog.Write(LOG_ERROR, u"file list servers are invalid - %s", problem);
    return Fail(core::IDS_INVALID_FILE_LIST);
  }
  CServerSet servers(std::move(bases), m_mediator.tick);
  RunState run{*client, *sink, hasher, servers, {}, false, 0, 0, std::nullopt, 0, {}, {}};
  m_vecHelperLikeNames.clear();
  for (const filelist::FileInfo& info : m_FileList.m_vecFileInfo) {
    const std::string_view name = info.Name;
    for (const std::string_view suffix : {".valdris-patch", ".valdris-part", ".valdris-part.record"})
      if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
        m_vecHelperLikeNames.push_back(WidenUtf8(info.Name));
  }
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
  m_dwQuickestAnswerMs = UINT32_MAX;
  m_bSlowStreams = false;
  const std::uint32_t first = m_nFileIndex;
  // Small missing files ahead are fetched over the other connections while the worker goes on.
  // They start once the worker's own connection has brought a file and its answer took a round trip
  // worth hiding: a server which allows fewer connections then refuses the extra ones, never the
  // worker's, and a server next door (where they would only cost CPU) never sees them.
  run.aheadStarted = m_nConnections <= 1;
  const auto startAhead = [&](std::uint32_t from) {
    run.aheadStarted = true;
    std::vector<CPrefetcher::Job> jobs = PrefetchJobs(from, count);
    if (jobs.empty()) return;
    net::CWininet::AllowConnectionsPerServer(m_nConnections);
    std::vector<std::unique_ptr<net::CHttpClient>> clients;
    for (unsigned i = 1; i < m_nConnections && i <= jobs.size(); ++i)
      if (std::unique_ptr<net::CHttpClient> extra = m_mediator.httpClient()) clients.push_back(std::move(extra));
    // A server far away gets every connection at once, and more bodies wait; nearer, the connections
    // join as the worker waits.
    const bool far = FarAway();
    const std::size_t atOnce = far ? clients.size() : CPrefetcher::kFirstConnections;
    if (!clients.empty())
      run.ahead = std::make_unique<CPrefetcher>(std::move(jobs), std::move(clients), servers, &RunningFlag(),
                                                far ? CPrefetcher::kBudgetFarAway : CPrefetcher::kBudget, atOnce);
  };

  // Once the worker's own answers take a round trip (and no server asked for fewer connections a
  // moment ago), the connections ahead start from the given entry on.
  const auto startAheadOnce = [&](std::uint32_t from) {
    if (!run.aheadStarted && m_dwLastAnswerMs >= kSlowAnswerMs &&
        static_cast<std::int32_t>(m_mediator.tick() - run.aheadNotBefore) >= 0)
      startAhead(from);
  };

  std::uint32_t index = m_nFileIndex;
  // Transfers of the current entry that arrived whole and still did not match the list, and the
  // servers they came from (asked last for the next one).
  std::uint32_t mismatches = 0;
  ServerMask mismatchedFrom = 0;
  std::uint32_t mismatchIndex = index;
  while (index < count) {
    if (!IsRunning()) return false;
    if (index != mismatchIndex) {
      mismatches = 0;
      mismatchedFrom = 0;
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
    // Names come from the server: they must never reach outside the install folder, nor outside the
    // list's base address (a block index is fetched by its name as a file is).
    const std::u16string blocksName = WidenUtf8(entry.info->Blocks.Name);
    for (const std::u16string* name : std::initializer_list<const std::u16string*>{&entry.name, &blocksName}) {
      if (name->empty() && name == &blocksName) continue;
      if (!IsSafeEntryName(*name)) {
        theLog.Write(LOG_ERROR, u"invalid file name so download stop - (%ld)", ERROR_INVALID_NAME);
        Concerning(*name, ERROR_INVALID_NAME);
        return Fail(core::IDS_FILE_CREATE_FAILED, ERROR_INVALID_NAME);
      }
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
    if (ShouldPatch(decision, local, !blocksName.empty(), mismatches > 0, HelperNamesFree(entry))) {
      const PatchEnd patched = Patch(run, entry, local);
      if (patched == PatchEnd::Stopped || patched == PatchEnd::Failed) return false;
      if (patched == PatchEnd::Patched) {
        ++index;
        continue;
      }
      if (patched == PatchEnd::Resume) action = EntryAction::Resume;
    }
    const bool resume = action == EntryAction::Resume;
    // A large file goes in segments over several connections (and servers): at once from a server far
    // away, after a stream of this run was slow, or when an earlier run left its pieces; else it
    // starts as one stream and goes on in segments when that stream is found slow.
    const bool segmentable = InSegments(entry.info->Size) && HelperNamesFree(entry);
    bool inSegments = segmentable && !resume &&
                      (!m_bProbeFirst || FarAway() || m_bSlowStreams || PathExists(PartRecordPathOf(entry.localPath)));
    std::uint64_t streamed = 0;
    std::size_t server = 0;
    std::optional<Failure> failed;
    if (!inSegments) {
      std::string body;
      if (!resume && decision.resumeFrom == 0 && run.ahead && run.ahead->Take(index, body, server))
        failed = Transfer(*client, *sink, hasher, entry, std::u16string(), false, 0, &body);
      else
        failed = Fetch(run, entry, resume, decision.resumeFrom, mismatchedFrom, server, segmentable);
      if (failed && failed->kind == FailureKind::Slow) {
        // What the stream brought becomes the start of the part file.
        m_bSlowStreams = true;
        failed.reset();
        ErrorCode sizeError = ERROR_SUCCESS;
        QueryPath(entry.localPath, streamed, sizeError);
        if (const ErrorCode code = ReplaceFileWith(PartPathOf(entry.localPath), entry.localPath); code != ERROR_SUCCESS)
          return Report(Failure::Create(code, PartPathOf(entry.localPath)));
        inSegments = true;
      }
    }
    if (inSegments) {
      // After a file that did not match, which server sent the wrong piece is unknown: the next
      // transfers take one server each, the list's first, then the next.
      const ServerMask exclude =
          mismatches == 0 || servers.Count() == 1 ? 0 : servers.All() & ~MaskOf((mismatches - 1) % servers.Count());
      std::optional<Failure> failure;
      const SegmentEnd segmented = FetchInSegments(run, entry, exclude, streamed, failure);
      if (segmented == SegmentEnd::Failed) return failure ? Report(*failure) : false;
      if (segmented == SegmentEnd::Whole) {
        theLog.Write(LOG_INFO, u"(100%%) file download success");
        startAheadOnce(index + 1);
        ++index;
        continue;
      }
      if (segmented == SegmentEnd::Mismatch) {
        if (++mismatches >= kMaxMismatches) {
          theLog.Write(LOG_ERROR, u"(100%%) file does not match the file list so download stop - (%d)",
                       static_cast<std::int32_t>(mismatches));
          return Fail(core::IDS_FILE_MISMATCH);
        }
        continue;
      }
      // No server takes ranges: the file comes whole over one connection.
      failed = Fetch(run, entry, false, 0, mismatchedFrom, server);
    }
    if (failed) return Report(*failed);  // a stop leaves the part as it is for the next run
    startAheadOnce(index + 1);

    // While the checksum catches up with this file, the next file's request is on its way, so its
    // transfer starts with the server's answer waiting instead of leaving the checksum idle meanwhile.
    if (index + 1 < count && (!run.ahead || run.ahead->Claim(index + 1))) SendNextEarly(*client, run, index + 1);
    const VerifyEnd verified = Verify(hasher, entry);
    if (verified == VerifyEnd::Failed) return false;
    if (verified == VerifyEnd::Matches) {
      if (server != 0) theLog.Write(LOG_INFO, u"file download from server - %s", servers.Base(server));
      theLog.Write(LOG_INFO, u"(100%%) file download success");
      ++index;
    } else {
      mismatchedFrom |= MaskOf(server);
      if (++mismatches >= kMaxMismatches) {
        // A transient corruption heals on a retry; one that repeats is the server's or the list's.
        theLog.Write(LOG_ERROR, u"(100%%) file does not match the file list so download stop - (%d)",
                     static_cast<std::int32_t>(mismatches));
        return Fail(core::IDS_FILE_MISMATCH);
      }
    }
  }
  return true;
}

bool CDownloadThread::Report(const Failure& failure) {
  if (failure.Stopped()) return false;
  const FailureWords words = WordsOf(failure);
  if (!words.logFormat.empty()) theLog.Write(LOG_ERROR, words.logFormat, failure.code);
  if (!failure.path.empty()) Concerning(failure.path, failure.code);
  return words.messageWithCode ? Fail(words.messageId, failure.code) : Fail(words.messageId);
}

bool CDownloadThread::HelperNamesFree(const Entry& entry) const {
  for (const std::u16string& listed : m_vecHelperLikeNames)
    for (const std::u16string_view suffix : {u".valdris-patch", u".valdris-part", u".valdris-part.record"})
      if (listed.size() == entry.name.size() + suffix.size() && IsSamePath(listed, entry.name + std::u16string(suffix)))
        return false;
  return true;
}

std::optional<Failure> CDownloadThread::Fetch(RunState& run, const Entry& entry, bool resume, std::uint64_t from,
                                              ServerMask avoid, std::size_t& server, bool probe) {
  ServerMask tried = 0;
  bool askedAlone = false;
  std::optional<Failure> failed;
  // The request sent early went to one server: that one is asked first.
  std::optional<std::size_t> preferred;
  if (run.earlyIndex == entry.index) preferred = run.earlyServer;
  run.earlyIndex.reset();
  for (;;) {
    std::optional<std::size_t> chosen;
    if (preferred && (avoid & MaskOf(*preferred)) == 0) chosen = run.servers.AcquireThis(*preferred);
    preferred.reset();
    if (!chosen) chosen = run.servers.Acquire(tried | avoid, true);
    if (!chosen) chosen = run.servers.Acquire(tried, true);
    if (!chosen) return failed;  // every server failed: the last one's failure is the run's
    server = *chosen;
    const std::uint32_t asked = m_mediator.tick();
    failed = Transfer(run.client, run.sink, run.hasher, entry, run.servers.AddressOf(server, entry.name), resume, from,
                      nullptr, probe);
    using Outcome = CServerSet::Outcome;
    const Outcome outcome = !failed || failed->Stopped() || !failed->ServerOrNetwork() ? Outcome::Answered
                            : failed->Busy()                                           ? Outcome::Busy
                                                                                       : Outcome::Failed;
    run.servers.Release(server, outcome, run.sink.Written(), m_mediator.tick() - asked);
    if (!failed || failed->Stopped() || !failed->ServerOrNetwork()) return failed;
    if (failed->Busy() && run.ahead && !askedAlone) {
      // Too many connections for this server: the others are closed, and the entry is asked for
      // again over the worker's alone; they start again a while later, fewer at first.
      run.ahead.reset();
      run.aheadStarted = false;
      run.aheadPauseMs = std::min<std::uint32_t>(run.aheadPauseMs == 0 ? 2000 : run.aheadPauseMs * 2, 60000);
      run.aheadNotBefore = m_mediator.tick() + run.aheadPauseMs;
      askedAlone = true;
      preferred = server;
      continue;
    }
    // With one server nothing is asked again by itself.
    if (run.servers.Count() == 1) return failed;
    tried |= MaskOf(server);
    // The next server goes on from what is in the file now.
    std::uint64_t size = 0;
    ErrorCode error = ERROR_SUCCESS;
    const bool partial = QueryPath(entry.localPath, size, error) == PathKind::File && error == ERROR_SUCCESS && size > 0 &&
                         size < entry.info->Size;
    resume = partial;
    from = partial ? size : 0;
  }
}

PatchEnd CDownloadThread::Patch(RunState& run, const Entry& entry, const LocalFileState& local) {
  const std::unique_ptr<net::IBodySink> writer = m_mediator.fileSink();
  if (!writer) {
    Report(Failure::NoRecord());
    return PatchEnd::Failed;
  }
  PatchJob job{entry.name,         entry.localPath, entry.info->Size, entry.expected,
               entry.info->Blocks, local.size,      m_mediator.freeSpace(m_strDownloadPath)};
  const auto progress = [&](bool force, std::uint64_t atHand, std::uint64_t kept) {
    const std::uint32_t now = m_mediator.tick();
    if (!force && m_bPostedInRun && static_cast<std::uint32_t>(now - m_dwLastPost) < kPostIntervalMs) return true;
    m_bPostedInRun = true;
    m_dwLastPost = now;
    return PostProgress(static_cast<std::int32_t>(entry.index), false, entry.info->Size, atHand, kept);
  };
  CPatcher patcher(std::move(job), run.client, run.servers, run.hasher,
                   SegmentConnections(run, std::min(m_nConnections, kSegmentConnections)), *writer, RunningFlag(),
                   m_mediator.tick, progress);
  const PatchResult result = patcher.Run();
  if (result.end == PatchEnd::Failed && result.failure) Report(*result.failure);
  return result.end;
}

std::vector<CSegmentedFetch::Connection> CDownloadThread::SegmentConnections(RunState& run, unsigned wanted) {
  while (run.segmentClients.size() < wanted) {
    std::unique_ptr<net::CHttpClient> client = m_mediator.httpClient();
    std::unique_ptr<net::IBodySink> sink = m_mediator.fileSink();
    if (!client || !sink) break;
    run.segmentClients.push_back(std::move(client));
    run.segmentSinks.push_back(std::move(sink));
  }
  net::CWininet::AllowConnectionsPerServer(std::max<unsigned>(m_nConnections, wanted));
  std::vector<CSegmentedFetch::Connection> connections;
  for (std::size_t i = 0; i < run.segmentClients.size() && i < wanted; ++i)
    connections.push_back({run.segmentClients[i].get(), run.segmentSinks[i].get()});
  return connections;
}

CDownloadThread::SegmentEnd CDownloadThread::FetchInSegments(RunState& run, const Entry& entry, ServerMask exclude,
                                                             std::uint64_t prefix, std::optional<Failure>& failure) {
  std::vector<CSegmentedFetch::Connection> connections =
      SegmentConnections(run, std::min(m_nConnections, kSegmentConnections));
  if (connections.size() < 2) return SegmentEnd::NoRanges;
  const std::u16string partPath = PartPathOf(entry.localPath);
  CSegmentedFetch fetch({entry.name, partPath, PartRecordPathOf(entry.localPath), entry.info->Size, entry.info->CheckSum,
                         exclude, prefix, {}},
                        run.servers, std::move(connections), m_mediator.tick);
  std::uint64_t kept = 0;
  if (std::optional<Failure> prepared = fetch.Prepare(kept)) {
    failure = std::move(prepared);
    return SegmentEnd::Failed;
  }
  theLog.Write(LOG_INFO, u"file download segment mode");
  // The digest is taken along the part file as its start fills without a gap.
  run.hasher.Begin(partPath, 0);
  bool hashed = false;
  const core::CScopeExit abandon([&] {
    if (!hashed) run.hasher.Abandon();
  });
  fetch.Start();
  const std::uint64_t size = entry.info->Size;
  std::uint32_t lastCheckpoint = m_mediator.tick();
  std::uint64_t received = kept;
  std::uint64_t gapFree = 0;
  CSegmentedFetch::State state = CSegmentedFetch::State::Running;
  while (state == CSegmentedFetch::State::Running) {
    state = fetch.Wait(kSegmentPollMs, received, gapFree);
    run.hasher.Advance(gapFree);
    if (!IsRunning()) {
      failure = Failure::Stop();  // the fetch records what it has for the next run
      return SegmentEnd::Failed;
    }
    const std::uint32_t now = m_mediator.tick();
    if (!m_bPostedInRun || static_cast<std::uint32_t>(now - m_dwLastPost) >= kPostIntervalMs) {
      m_bPostedInRun = true;
      m_dwLastPost = now;
      if (!PostProgress(static_cast<std::int32_t>(entry.index), false, size, received, kept)) {
        failure = Failure::NoRecord();
        return SegmentEnd::Failed;
      }
    }
    if (static_cast<std::uint32_t>(now - lastCheckpoint) >= kCheckpointMs) {
      fetch.Checkpoint();
      lastCheckpoint = now;
    }
  }
  if (const std::optional<std::uint32_t> answered = fetch.QuickestAnswerMs()) {
    m_dwLastAnswerMs = *answered;
    m_dwQuickestAnswerMs = std::min(m_dwQuickestAnswerMs, *answered);
  }
  if (state == CSegmentedFetch::State::NoRanges) {
    fetch.Discard();
    return SegmentEnd::NoRanges;
  }
  if (state == CSegmentedFetch::State::Failed) {
    failure = fetch.LastFailure();
    return SegmentEnd::Failed;
  }
  if (!PostProgress(static_cast<std::int32_t>(entry.index), false, size, size, kept)) {
    failure = Failure::NoRecord();
    return SegmentEnd::Failed;
  }
  // Whole: it takes the entry's place only when it matches the list.
  std::u16string checksum;
  hashed = true;
  if (const ErrorCode code = run.hasher.Finish(size, checksum); code != ERROR_SUCCESS) {
    failure = code == CHECKSUM_STOPPED ? Failure::Stop() : Failure::Checksum(code);
    return SegmentEnd::Failed;
  }
  if (checksum != entry.expected) {
    theLog.Write(LOG_WARNING, u"(100%%) invalid file checksum so re-download");
    fetch.Discard();
    return SegmentEnd::Mismatch;
  }
  if (const ErrorCode code = ReplaceFileWith(entry.localPath, partPath); code != ERROR_SUCCESS) {
    failure = Failure::Create(code, entry.localPath);
    return SegmentEnd::Failed;
  }
  fetch.Discard();
  const ServerMask servedBy = fetch.ServedBy();
  for (std::size_t i = 1; i < run.servers.Count(); ++i)
    if ((servedBy & MaskOf(i)) != 0) theLog.Write(LOG_INFO, u"file download from server - %s", run.servers.Base(i));
  return SegmentEnd::Whole;
}

std::optional<Failure> CDownloadThread::Transfer(net::CHttpClient& client, net::IBodySink& sink,
                                                 CConcurrentChecksum& hasher, const Entry& entry,
                                                 const std::u16string& address, bool resume, std::uint64_t from,
                                                 const std::string* fetchedAhead, bool probe) {
  std::uint64_t contentLength = fetchedAhead != nullptr ? fetchedAhead->size() : 0;
  const std::u16string range = resume ? net::FormatRangeHeader(from) : std::u16string();
  const std::uint32_t asked = m_mediator.tick();
  if (fetchedAhead == nullptr && !client.OpenUrl(address, range, contentLength, net::kDownloaderUserAgent)) {
    if (!IsRunning()) return Failure::Stop();  // the stop ended the wait for the server
    return Failure::Connect(client);
  }
  if (fetchedAhead == nullptr) {
    m_dwLastAnswerMs = m_mediator.tick() - asked;
    m_dwQuickestAnswerMs = std::min(m_dwQuickestAnswerMs, m_dwLastAnswerMs);
  }
  // A 200 answer to a ranged request is the whole file: the file starts over with it.
  if (resume && fetchedAhead == nullptr && client.StatusCode() == 200) resume = false;
  const std::uint64_t resumed = resume ? from : 0;
  // The answer must be exactly the rest of the listed file: a longer one would fill the disk with
  // what can never match, a shorter one could never complete it. Nothing of it is written.
  if (contentLength != entry.info->Size - std::min(resumed, entry.info->Size)) return Failure::BadAnswer(client.StatusCode());
  if (!client.OpenFile(entry.localPath, resume)) return Failure::Create(client.LastError(), entry.localPath);
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
  const std::uint32_t bodyStart = m_mediator.tick();
  probe = probe && fetchedAhead == nullptr;
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
    if (!IsRunning()) return Failure::Stop();
    std::uint32_t n = 0;
    if (!readPiece(n)) {
      if (!IsRunning()) return Failure::Stop();  // the stop ended the wait for data
      return Failure::Receive(pieceError, entry.localPath);
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
    if (post && !PostProgress(static_cast<std::int32_t>(entry.index), false, total, received, resumed))
      return Failure::NoRecord();
    // A moment into a large file, a stream much slower than this machine takes bytes in (a server
    // that caps each connection, a long way) hands the rest to several connections.
    if (probe && static_cast<std::uint32_t>(now - bodyStart) >= kProbeMs) {
      probe = false;
      const std::uint64_t perMs = (received - resumed) / static_cast<std::uint32_t>(now - bodyStart);
      if (perMs < kFastStreamBytesPerMs && total - received > perMs * kProbeMs) return Failure::TooSlow();
    }
    if (received > total) break;
  }
  // The body ended early without an error from the transport: the part stays for a resume.
  if (received < total) return Failure::Receive(ERROR_INTERNET_CONNECTION_ABORTED, entry.localPath);
  whole = true;
  return std::nullopt;
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

bool CDownloadThread::SurelyFetchedWhole(std::uint32_t index) const {
  if (index >= m_FileList.m_vecFileInfo.size()) return false;
  const filelist::FileInfo& info = m_FileList.m_vecFileInfo[index];
  // A large file goes in segments, not over the worker's connection.
  if (InSegments(info.Size)) return false;
  const std::u16string name = WidenUtf8(info.Name);
  if (!IsSafeEntryName(name)) return false;
  // Only a file that is not there at all is surely fetched whole; anything else is decided in its turn.
  std::uint64_t size = 0;
  ErrorCode error = ERROR_SUCCESS;
  return QueryPath(EntryLocalPath(m_strDownloadPath, name), size, error) == PathKind::Missing;
}

bool CDownloadThread::InSegments(std::uint64_t size) const { return m_nConnections > 1 && size >= m_nSegmentThreshold; }

bool CDownloadThread::FarAway() const {
  // Every answer so far took a real round trip: a busy machine next door has quick ones among them.
  return m_dwQuickestAnswerMs != UINT32_MAX && m_dwQuickestAnswerMs >= kFarAwayAnswerMs;
}

std::vector<CPrefetcher::Job> CDownloadThread::PrefetchJobs(std::uint32_t first, std::uint32_t count) const {
  std::vector<CPrefetcher::Job> jobs;
  // Every m_nConnections-th small file is the worker's own connection's to fetch, so it carries its
  // share instead of waiting for the others (with two connections, two files are on the wire).
  std::uint32_t small = 0;
  for (std::uint32_t index = first; index < count && index < m_FileList.m_vecFileInfo.size(); ++index) {
    const std::uint64_t size = m_FileList.m_vecFileInfo[index].Size;
    const std::uint64_t largest = FarAway() ? CPrefetcher::kLargestEntryFarAway : CPrefetcher::kLargestEntry;
    if (size == 0 || size > largest || !SurelyFetchedWhole(index)) continue;
    const bool workers = small++ % m_nConnections == m_nConnections - 1;
    jobs.push_back(CPrefetcher::Job{index, WidenUtf8(m_FileList.m_vecFileInfo[index].Name), size, workers});
  }
  return jobs;
}

void CDownloadThread::SendNextEarly(net::CHttpClient& client, RunState& run, std::uint32_t next) {
  if (!SurelyFetchedWhole(next)) return;
  const std::optional<std::size_t> server = run.servers.Best();
  if (!server) return;
  client.SendEarly(run.servers.AddressOf(*server, WidenUtf8(m_FileList.m_vecFileInfo[next].Name)), u"",
                   net::kDownloaderUserAgent);
  run.earlyIndex = next;
  run.earlyServer = *server;
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
