#include "download/Patch.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "blocks/BlockIndex.h"
#include "blocks/BlockMatch.h"
#include "core/Log.h"
#include "core/ScopeExit.h"
#include "download/Md5.h"
#include "net/ByteRanges.h"
#include "net/Url.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace download {

using core::LOG_INFO;
using core::LOG_WARNING;
using core::theLog;
using namespace platform;

namespace {

// How often the connections of the ranges are looked at.
constexpr std::uint32_t kPollMs = 100;
// Reused bytes are copied in runs of about this many at most.
constexpr std::uint64_t kCopyRun = 1024 * 1024;

// The blocks an earlier patch of this very version built already: each block of its file that holds
// the index's block at that place (the ranges fetched first, then the copies in order; a kill may
// have left anything anywhere else).
ErrorCode BuiltBlocks(std::u16string_view patchPath, const blocks::CBlockIndex& index, const std::atomic<bool>* running,
                      std::vector<bool>& built) {
  built.assign(static_cast<std::size_t>(index.BlockCount()), false);
  CFileHandle file;
  if (file.Open(patchPath, OpenMode::ReadExisting) != ERROR_SUCCESS) return ERROR_SUCCESS;  // none yet
  file.AdviseSequential();
  std::vector<unsigned char> block(index.m_nBlockSize);
  blocks::CStrongSum strongSum;
  for (std::uint64_t i = 0; i < index.BlockCount(); ++i) {
    if (running != nullptr && !running->load()) return ERROR_OPERATION_ABORTED;
    const std::uint32_t length = index.BlockLength(i);
    std::size_t filled = 0;
    while (filled < length) {
      std::size_t got = 0;
      if (const ErrorCode code = file.Read(block.data() + filled, length - filled, got); code != ERROR_SUCCESS) return code;
      if (got == 0) break;
      filled += got;
    }
    if (filled < length) break;
    built[static_cast<std::size_t>(i)] = index.Holds(i, block.data(), strongSum);
  }
  return ERROR_SUCCESS;
}

} // namespace

std::u16string PatchPathOf(std::u16string_view localPath) { return std::u16string(localPath) + u".valdris-patch"; }

CPatcher::CPatcher(PatchJob job, net::CHttpClient& client, CServerSet& servers, CConcurrentChecksum& hasher,
                   std::vector<CSegmentedFetch::Connection> connections, net::IBodySink& writer,
                   const std::atomic<bool>& running, std::function<std::uint32_t()> tick, Progress progress)
    : m_job(std::move(job)), m_client(client), m_servers(servers), m_hasher(hasher),
      m_connections(std::move(connections)), m_writer(writer), m_running(running), m_tick(std::move(tick)),
      m_progress(std::move(progress)) {}

PatchResult CPatcher::Run() {
  m_result = PatchResult();
  m_result.end = Build();
  return m_result;
}

PatchEnd CPatcher::Build() {
  const filelist::BlockIndexInfo& listed = m_job.index;
  const std::u16string patchPath = PatchPathOf(m_job.localPath);
  const auto giveUp = [&] {
    RemoveFile(patchPath);
    return PatchEnd::NotPatched;
  };
  // The new version is built beside the old one: both must fit.
  std::uint64_t patchSize = 0;
  ErrorCode sizeError = ERROR_SUCCESS;
  const bool patchThere = QueryPath(patchPath, patchSize, sizeError) == PathKind::File;
  const std::uint64_t room = m_job.freeSpace;
  if (room <= m_job.size - std::min(patchSize, m_job.size)) {
    theLog.Write(LOG_WARNING, u"not enough free space to patch so re-download");
    return giveUp();
  }

  // An index holds at most 12 bytes per block of at least 256 bytes: one that claims more is no index, and
  // is never read into memory.
  if (listed.Size > m_job.size / blocks::kSmallestBlock * 12 + 4096) {
    theLog.Write(LOG_WARNING, u"block index does not match the file list so re-download");
    return giveUp();
  }
  // The index, over the worker's connection, from the first server that has it; the list's digest
  // vouches for it whichever server sent it.
  std::string bytes;
  for (ServerMask tried = 0;;) {
    const std::optional<std::size_t> server = m_servers.Acquire(tried, true);
    if (!server) {
      theLog.Write(LOG_WARNING, u"failed to get block index so re-download - (%ld)", m_client.FailureCode());
      // A server out of reach fails the whole fetch as well: what a patch built stays for later.
      return m_client.StatusCode() == 0 ? PatchEnd::NotPatched : giveUp();
    }
    const bool read = m_client.ReadToMemory(m_servers.AddressOf(*server, WidenUtf8(listed.Name)), bytes, listed.Size,
                                          net::kDownloaderUserAgent);
    m_servers.Release(*server, read || !m_running.load() ? CServerSet::Outcome::Answered : CServerSet::Outcome::Failed);
    if (read) break;
    if (!m_running.load()) return PatchEnd::Stopped;
    tried |= MaskOf(*server);
  }
  CMd5 indexDigest;
  blocks::CBlockIndex index;
  // The digest text is compared as a file's is.
  if (!indexDigest.Update(bytes.data(), bytes.size()) || NarrowUtf8(indexDigest.Finish()) != listed.CheckSum ||
      bytes.size() != listed.Size || !index.Parse(bytes) || index.m_nFileSize != m_job.size) {
    theLog.Write(LOG_WARNING, u"block index does not match the file list so re-download");
    return giveUp();
  }
  bytes = std::string();

  // What an earlier patch built already stays; the rest is found in the old file.
  std::vector<bool> builtBefore;
  if (patchThere) {
    if (const ErrorCode code = BuiltBlocks(patchPath, index, &m_running, builtBefore); code != ERROR_SUCCESS) {
      if (code == ERROR_OPERATION_ABORTED) return PatchEnd::Stopped;
      return giveUp();
    }
  }
  builtBefore.resize(static_cast<std::size_t>(index.BlockCount()), false);
  std::uint64_t keptBytes = 0;
  for (std::uint64_t i = 0; i < index.BlockCount(); ++i)
    if (builtBefore[static_cast<std::size_t>(i)]) keptBytes += index.BlockLength(i);
  blocks::BlockMatches matches;
  if (const ErrorCode code = blocks::FindBlocks(index, 0, m_job.localPath, matches, &m_running);
      code != ERROR_SUCCESS) {
    if (code == ERROR_OPERATION_ABORTED) return PatchEnd::Stopped;
    theLog.Write(LOG_WARNING, u"failed to read local file so re-download - (%ld)", code);
    return giveUp();
  }
  // A shorter file that is the start of this very version is an interrupted download: resumed.
  if (keptBytes == 0 && m_job.localSize < m_job.size) {
    const std::uint64_t whole = m_job.localSize / index.m_nBlockSize;
    bool prefix = whole > 0;
    for (std::uint64_t i = 0; prefix && i < whole; ++i)
      prefix = matches.sourceOffsets[static_cast<std::size_t>(i)] == static_cast<std::int64_t>(i * index.m_nBlockSize);
    if (prefix) {
      RemoveFile(patchPath);
      return PatchEnd::Resume;
    }
  }

  const std::uint64_t size = m_job.size;
  // Blocks neither built nor in the old file are fetched.
  std::vector<core::ByteRange> missing;
  for (std::uint64_t i = 0; i < index.BlockCount(); ++i) {
    if (builtBefore[static_cast<std::size_t>(i)] || matches.sourceOffsets[static_cast<std::size_t>(i)] != blocks::kNotFound)
      continue;
    const std::uint64_t start = i * index.m_nBlockSize;
    if (!missing.empty() && missing.back().end == start) missing.back().end = start + index.BlockLength(i);
    else missing.push_back(core::ByteRange{start, start + index.BlockLength(i)});
  }
  theLog.Write(LOG_INFO, u"file patch mode");

  const auto failed = [&](const Failure& failure) {
    m_result.failure = failure;
    return PatchEnd::Failed;
  };
  const auto writeFailed = [&](ErrorCode error) { return failed(Failure::Write(error, patchPath)); };
  // The window sees the new file's bytes at hand: kept, fetched, then copied.
  const auto report = [&](bool force, std::uint64_t atHand) { return m_progress(force, atHand, keptBytes); };
  {
    // The new file's size from the start: what an interrupted patch built stays where it is.
    CFileHandle made;
    ErrorCode code = made.Open(patchPath, OpenMode::WriteAlways, Sharing::Shared);
    if (code == ERROR_SUCCESS) code = made.SetSize(size);
    if (code != ERROR_SUCCESS) return failed(Failure::Create(code, patchPath));
  }

  // First the ranges the old file lacks, over the run's connections and servers at once, each
  // written where it belongs in the new file; a server that fails a request hands it to the next
  // (with one server, nothing is asked again by itself).
  std::uint64_t fetchedRanges = 0;
  if (!missing.empty()) {
    CSegmentedFetch::State state = CSegmentedFetch::State::Running;
    {
      CSegmentedFetch fetch({m_job.name, patchPath, std::u16string(), size, std::string(), 0, 0, missing}, m_servers,
                            std::move(m_connections), m_tick);
      std::uint64_t kept = 0;
      if (std::optional<Failure> prepared = fetch.Prepare(kept)) return failed(*prepared);
      fetch.Start();
      std::uint64_t gapFree = 0;
      while (state == CSegmentedFetch::State::Running) {
        state = fetch.Wait(kPollMs, fetchedRanges, gapFree);
        if (!m_running.load()) return PatchEnd::Stopped;  // what was built stays for the next run
        if (!report(false, keptBytes + fetchedRanges)) return failed(Failure::NoRecord());
      }
      if (state == CSegmentedFetch::State::Failed) return failed(fetch.LastFailure());
    }
    if (state == CSegmentedFetch::State::NoRanges) {
      // A server that ignores ranges answers with the whole file: it is fetched whole, as it would
      // be without an index.
      theLog.Write(LOG_WARNING, u"server does not take ranges so re-download");
      return giveUp();
    }
  }

  // Then the blocks the old file holds, in the file's order, written through a sink as any body,
  // while the digest follows the file.
  CFileHandle old;
  CFileHandle built;  // held to hand the whole file to the disk before it replaces the old one
  std::u16string_view failedPath = m_job.localPath;
  ErrorCode code = old.Open(m_job.localPath, OpenMode::ReadExisting);
  if (code == ERROR_SUCCESS) {
    failedPath = patchPath;
    code = built.Open(patchPath, OpenMode::WriteAlways, Sharing::Shared);
  }
  if (code != ERROR_SUCCESS) return failed(Failure::Create(code, failedPath));
  m_hasher.Begin(patchPath, 0);
  bool hashed = false;
  const core::CScopeExit abandon([&] {
    if (!hashed) m_hasher.Abandon();
  });
  std::uint64_t at = 0;         // the new file is whole up to here, once the writer is closed
  std::uint64_t bodyStart = 0;  // where the writer's body began
  std::uint64_t reused = 0;
  ErrorCode copyError = ERROR_SUCCESS;
  while (at < size) {
    if (!m_running.load()) return PatchEnd::Stopped;
    const std::uint64_t block = at / index.m_nBlockSize;
    const std::int64_t source = matches.sourceOffsets[static_cast<std::size_t>(block)];
    if (source == blocks::kNotFound || builtBefore[static_cast<std::size_t>(block)]) {
      // Fetched above, or built before.
      if (m_writer.IsOpen() && (copyError = m_writer.Close()) != ERROR_SUCCESS) break;
      at = std::min(size, (block + 1) * index.m_nBlockSize);
      m_hasher.Advance(at);
      continue;
    }
    // A run of blocks that lie one after another in the old file too.
    std::uint64_t length = index.BlockLength(block);
    for (std::uint64_t next = block + 1; next < index.BlockCount() && length < kCopyRun; ++next) {
      const std::int64_t after = matches.sourceOffsets[static_cast<std::size_t>(next)];
      if (builtBefore[static_cast<std::size_t>(next)] ||
          after != static_cast<std::int64_t>(source + (next - block) * index.m_nBlockSize))
        break;
      length += index.BlockLength(next);
    }
    if (!m_writer.IsOpen()) {
      if ((copyError = m_writer.OpenAt(patchPath, at)) != ERROR_SUCCESS) break;
      bodyStart = at;
    }
    for (std::uint64_t from = static_cast<std::uint64_t>(source), left = length; left > 0 && copyError == ERROR_SUCCESS;) {
      std::size_t fits = 0;
      char* const into = m_writer.Room(fits);
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(fits, left));
      std::size_t got = 0;
      copyError = old.ReadAt(into, want, from, got);
      if (copyError == ERROR_SUCCESS && got != want) copyError = ERROR_HANDLE_EOF;  // the old file changed meanwhile
      if (copyError == ERROR_SUCCESS) copyError = m_writer.Commit(got);
      from += got;
      left -= got;
    }
    if (copyError != ERROR_SUCCESS) break;
    at += length;
    reused += length;
    m_hasher.Advance(bodyStart + m_writer.Written());
    if (!report(false, keptBytes + fetchedRanges + reused)) return failed(Failure::NoRecord());
  }
  if (copyError == ERROR_SUCCESS && m_writer.IsOpen()) copyError = m_writer.Close();
  if (copyError != ERROR_SUCCESS) return writeFailed(copyError);
  m_hasher.Advance(size);
  if (const ErrorCode error = built.Flush(); error != ERROR_SUCCESS) return writeFailed(error);
  built.Close();
  old.Close();
  if (!report(true, size)) return failed(Failure::NoRecord());
  // Only a whole file that matches the list takes the old one's place.
  std::u16string checksum;
  hashed = true;
  if (const ErrorCode error = m_hasher.Finish(size, checksum); error != ERROR_SUCCESS) {
    if (error == CHECKSUM_STOPPED) return PatchEnd::Stopped;
    return failed(Failure::Checksum(error));
  }
  if (checksum != m_job.expected) {
    theLog.Write(LOG_WARNING, u"(100%%) patched file checksum is invalid so re-download");
    return giveUp();
  }
  if (const ErrorCode error = ReplaceFileWith(m_job.localPath, patchPath); error != ERROR_SUCCESS)
    return failed(Failure::Create(error, m_job.localPath));
  m_result.reused = reused + keptBytes;
  m_result.fetched = listed.Size + fetchedRanges;
  theLog.Write(LOG_INFO, u"(100%%) file patch success - reused %I64u bytes, fetched %I64u bytes",
               static_cast<unsigned long long>(reused + keptBytes),
               static_cast<unsigned long long>(listed.Size + fetchedRanges));
  return PatchEnd::Patched;
}

} // namespace download
