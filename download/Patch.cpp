// Patching an entry from its old file: the blocks of the new version that the old file holds are
// copied, only the others are fetched (several ranges per request), and the new version is built
// beside the old file, replacing it only once its whole digest matches the list.
#include <algorithm>
#include <cstring>
#include <optional>

#include "blocks/BlockIndex.h"
#include "blocks/BlockMatch.h"
#include "core/Log.h"
#include "core/ScopeExit.h"
#include "core/StringTable.h"
#include "download/DownloadThread.h"
#include "download/Md5.h"
#include "net/ByteRanges.h"
#include "net/Url.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace download {

using core::LOG_ERROR;
using core::LOG_INFO;
using core::LOG_WARNING;
using core::theLog;
using namespace platform;

namespace {

// Ranges asked for in one request: a Range header of about a kilobyte, which servers take.
constexpr std::size_t kRangesPerRequest = 48;
// Reused bytes are copied in runs of at most this many.
constexpr std::size_t kCopyRun = 1024 * 1024;

// The part of an earlier patch of this very version that is already built: the whole blocks at its
// start that match the index (a kill may have left anything after them).
ErrorCode KeptBlocks(std::u16string_view patchPath, const blocks::CBlockIndex& index, const std::atomic<bool>* running,
                     std::uint64_t& kept) {
  kept = 0;
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
    if (!index.Holds(i, block.data(), strongSum)) break;
    kept = i + 1;
  }
  return ERROR_SUCCESS;
}

} // namespace

std::u16string PatchPathOf(std::u16string_view localPath) { return std::u16string(localPath) + u".valdris-patch"; }

CDownloadThread::PatchEnd CDownloadThread::Patch(net::CHttpClient& client, CServerSet& servers,
                                                 CConcurrentChecksum& hasher, const Entry& entry,
                                                 const LocalFileState& local) {
  const filelist::BlockIndexInfo& listed = entry.info->Blocks;
  if (listed.Name.empty() || !local.exists || !local.regular || local.sizeError != ERROR_SUCCESS || local.size == 0)
    return PatchEnd::NotPatched;
  const std::u16string patchPath = PatchPathOf(entry.localPath);
  const auto giveUp = [&] {
    RemoveFile(patchPath);
    return PatchEnd::NotPatched;
  };
  // The new version is built beside the old one: both must fit.
  std::uint64_t patchSize = 0;
  ErrorCode sizeError = ERROR_SUCCESS;
  const bool patchThere = QueryPath(patchPath, patchSize, sizeError) == PathKind::File;
  const std::uint64_t room = m_mediator.freeSpace(m_strDownloadPath);
  if (room <= entry.info->Size - std::min(patchSize, entry.info->Size)) {
    theLog.Write(LOG_WARNING, u"not enough free space to patch so re-download");
    return giveUp();
  }

  // An index holds at most 12 bytes per block of at least 256 bytes: one that claims more is no index, and
  // is never read into memory.
  if (listed.Size > entry.info->Size / blocks::kSmallestBlock * 12 + 4096) {
    theLog.Write(LOG_WARNING, u"block index does not match the file list so re-download");
    return giveUp();
  }
  // The index, over the worker's connection, from the first server that has it; the list's digest
  // vouches for it whichever server sent it.
  std::string bytes;
  for (ServerMask tried = 0;;) {
    const std::optional<std::size_t> server = servers.Acquire(tried, true);
    if (!server) {
      theLog.Write(LOG_WARNING, u"failed to get block index so re-download - (%ld)", client.FailureCode());
      // A server out of reach fails the whole fetch as well: what a patch built stays for later.
      return client.StatusCode() == 0 ? PatchEnd::NotPatched : giveUp();
    }
    const bool read = client.ReadToMemory(servers.AddressOf(*server, WidenUtf8(listed.Name)), bytes, listed.Size,
                                          net::kDownloaderUserAgent);
    servers.Release(*server, read || !IsRunning() ? CServerSet::Outcome::Answered : CServerSet::Outcome::Failed);
    if (read) break;
    if (!IsRunning()) return PatchEnd::Stopped;
    tried |= MaskOf(*server);
  }
  CMd5 indexDigest;
  blocks::CBlockIndex index;
  // The digest text is compared as a file's is.
  if (!indexDigest.Update(bytes.data(), bytes.size()) || NarrowUtf8(indexDigest.Finish()) != listed.CheckSum ||
      bytes.size() != listed.Size || !index.Parse(bytes) || index.m_nFileSize != entry.info->Size) {
    theLog.Write(LOG_WARNING, u"block index does not match the file list so re-download");
    return giveUp();
  }
  bytes = std::string();

  // What an earlier patch built already stays; the rest is found in the old file.
  std::uint64_t keptBlocks = 0;
  if (patchThere) {
    if (const ErrorCode code = KeptBlocks(patchPath, index, &RunningFlag(), keptBlocks); code != ERROR_SUCCESS) {
      if (code == ERROR_OPERATION_ABORTED) return PatchEnd::Stopped;
      return giveUp();
    }
  }
  blocks::BlockMatches matches;
  if (const ErrorCode code = blocks::FindBlocks(index, keptBlocks, entry.localPath, matches, &RunningFlag());
      code != ERROR_SUCCESS) {
    if (code == ERROR_OPERATION_ABORTED) return PatchEnd::Stopped;
    theLog.Write(LOG_WARNING, u"failed to read local file so re-download - (%ld)", code);
    return giveUp();
  }
  // A shorter file that is the start of this very version is an interrupted download: resumed.
  if (keptBlocks == 0 && local.size < entry.info->Size) {
    const std::uint64_t whole = local.size / index.m_nBlockSize;
    bool prefix = whole > 0;
    for (std::uint64_t i = 0; prefix && i < whole; ++i)
      prefix = matches.sourceOffsets[static_cast<std::size_t>(i)] == static_cast<std::int64_t>(i * index.m_nBlockSize);
    if (prefix) {
      RemoveFile(patchPath);
      return PatchEnd::Resume;
    }
  }

  const std::uint64_t size = entry.info->Size;
  const std::uint64_t keptBytes = std::min(size, keptBlocks * index.m_nBlockSize);
  const std::vector<core::ByteRange> missing = blocks::MissingRanges(index, matches, keptBlocks);
  theLog.Write(LOG_INFO, u"file patch mode");

  CFileHandle old;
  CFileHandle built;
  std::u16string_view failedPath = entry.localPath;
  ErrorCode code = old.Open(entry.localPath, OpenMode::ReadExisting);
  if (code == ERROR_SUCCESS) {
    failedPath = patchPath;
    code = built.Open(patchPath, OpenMode::WriteAlways, Sharing::SoleWriter);
  }
  if (code == ERROR_SUCCESS) code = built.SetSize(keptBytes);
  if (code != ERROR_SUCCESS) {
    Report(Failure::Create(code, failedPath));
    return PatchEnd::Failed;
  }
  // The new file's digest is taken on the hasher's thread as the file grows.
  hasher.Begin(patchPath, keptBytes);
  bool hashed = false;
  const core::CScopeExit abandon([&] {
    if (!hashed) hasher.Abandon();
  });
  std::uint64_t at = keptBytes;  // the new file is built up to here
  std::uint64_t fetched = listed.Size;  // the index came over the network too
  std::uint64_t reused = 0;
  std::vector<char> copy(kCopyRun);
  const auto failed = [&](const Failure& failure) {
    Report(failure);
    return PatchEnd::Failed;
  };
  const auto writeFailed = [&](ErrorCode error) { return failed(Failure::Write(error, patchPath)); };
  const auto report = [&](bool force) {
    const std::uint32_t now = m_mediator.tick();
    if (!force && m_bPostedInRun && static_cast<std::uint32_t>(now - m_dwLastPost) < kPostIntervalMs) return true;
    m_bPostedInRun = true;
    m_dwLastPost = now;
    return PostProgress(static_cast<std::int32_t>(entry.index), false, size, at, keptBytes);
  };
  // Copies the bytes [at, to) from where the old file holds them; false when a block there was not
  // found (the server left out bytes that were asked for) or a read or write failed.
  ErrorCode copyError = ERROR_SUCCESS;
  const auto copyUpTo = [&](std::uint64_t to) {
    while (at < to) {
      if (!IsRunning()) return false;
      const std::uint64_t block = at / index.m_nBlockSize;
      const std::int64_t source = matches.sourceOffsets[static_cast<std::size_t>(block)];
      if (source == blocks::kNotFound) {
        copyError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
      }
      // A run of blocks that lie one after another in the old file too: one read, one write.
      const std::uint64_t within = at - block * index.m_nBlockSize;
      std::uint64_t length = index.BlockLength(block) - within;
      for (std::uint64_t next = block + 1; next * index.m_nBlockSize < to && length + index.m_nBlockSize <= copy.size();
           ++next) {
        const std::int64_t after = matches.sourceOffsets[static_cast<std::size_t>(next)];
        if (after != static_cast<std::int64_t>(source + (next - block) * index.m_nBlockSize)) break;
        length += index.BlockLength(next);
      }
      length = std::min(length, to - at);
      std::size_t got = 0;
      copyError = old.ReadAt(copy.data(), static_cast<std::size_t>(length), static_cast<std::uint64_t>(source) + within, got);
      if (copyError == ERROR_SUCCESS && got != length) copyError = ERROR_HANDLE_EOF;  // the old file changed meanwhile
      if (copyError == ERROR_SUCCESS) copyError = built.Write(copy.data(), got);
      if (copyError != ERROR_SUCCESS) return false;
      at += got;
      hasher.Advance(at);
      reused += got;
      if (!report(false)) {
        copyError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
      }
    }
    return true;
  };
  const auto copyFailed = [&]() {
    if (!IsRunning()) return PatchEnd::Stopped;
    if (copyError == ERROR_NOT_ENOUGH_MEMORY) return failed(Failure::NoRecord());
    // The server left out bytes that were asked for.
    if (copyError == ERROR_HTTP_INVALID_SERVER_RESPONSE) return failed(Failure::Receive(copyError, patchPath));
    return writeFailed(copyError);
  };

  // Each request asks for the next ranges not built yet; a server that fails one hands what is left
  // of it to the next server (with one server, nothing is asked again by itself).
  ServerMask tried = 0;
  for (std::size_t first = 0;;) {
    // Ranges that are built already (a request that broke off brought their start) are left out.
    while (first < missing.size() && missing[first].end <= at) ++first;
    if (first == missing.size()) break;
    const std::size_t next = std::min(missing.size(), first + kRangesPerRequest);
    std::vector<core::ByteRange> asked;
    for (std::size_t i = first; i < next; ++i) asked.push_back(core::ByteRange{std::max(missing[i].start, at), missing[i].end});
    const std::size_t server = servers.Acquire(tried, true).value_or(0);
    std::optional<Failure> serverFailure;
    bool released = false;
    const auto release = [&] {
      if (!released) servers.Release(server, serverFailure ? CServerSet::Outcome::Failed : CServerSet::Outcome::Answered);
      released = true;
    };
    const core::CScopeExit releasing(release);
    std::uint64_t length = 0;
    if (!client.OpenUrl(servers.AddressOf(server, entry.name), net::FormatRangesHeader(asked), length,
                        net::kDownloaderUserAgent)) {
      if (!IsRunning()) return PatchEnd::Stopped;
      serverFailure = Failure::Connect(client);
    } else if (client.StatusCode() == 200) {
      // A server that ignores ranges answers with the whole file: it is fetched whole, as it would
      // be without an index.
      theLog.Write(LOG_WARNING, u"server does not take ranges so re-download");
      built.Close();
      return giveUp();
    } else {
      net::CRangeReader reader(client);
      bool ok = reader.Begin(size);
      core::ByteRange part;
      while (ok && reader.NextPart(part)) {
        if (!copyUpTo(part.start)) return copyFailed();
        std::uint64_t partAt = part.start;
        for (;;) {
          if (!IsRunning()) return PatchEnd::Stopped;
          std::uint32_t n = 0;
          if (!reader.Read(copy.data(), net::HTTP_BUFFER_SIZE, n)) {
            ok = false;
            break;
          }
          if (n == 0) break;
          // Bytes before `at` are built already (a server may send more than was asked).
          const std::uint64_t skip = at > partAt ? std::min<std::uint64_t>(at - partAt, n) : 0;
          partAt += n;
          fetched += n;
          if (skip == n) continue;
          if (const ErrorCode error = built.Write(copy.data() + skip, n - skip); error != ERROR_SUCCESS)
            return writeFailed(error);
          at += n - skip;
          hasher.Advance(at);
          if (!report(false)) return failed(Failure::NoRecord());
        }
      }
      if (!ok || reader.LastError() != ERROR_SUCCESS) {
        if (!IsRunning()) return PatchEnd::Stopped;  // what was built stays for the next run
        const ErrorCode error = reader.LastError() != ERROR_SUCCESS ? reader.LastError() : ERROR_HTTP_INVALID_SERVER_RESPONSE;
        serverFailure = Failure::Receive(error, patchPath);
      }
    }
    release();
    if (!serverFailure) {
      // Whatever the answer left out is found missing when the file is built up to it.
      first = next;
      continue;
    }
    tried |= MaskOf(server);
    if (servers.Count() == 1 || !serverFailure->ServerOrNetwork() || (tried & servers.All()) == servers.All()) {
      Report(*serverFailure);
      return PatchEnd::Failed;
    }
  }
  if (!copyUpTo(size)) return copyFailed();
  if (const ErrorCode error = built.Flush(); error != ERROR_SUCCESS) return writeFailed(error);
  built.Close();
  old.Close();
  if (!report(true)) return failed(Failure::NoRecord());
  // Only a whole file that matches the list takes the old one's place.
  std::u16string checksum;
  hashed = true;
  if (const ErrorCode error = hasher.Finish(size, checksum); error != ERROR_SUCCESS) {
    if (error == CHECKSUM_STOPPED) return PatchEnd::Stopped;
    return failed(Failure::Checksum(error));
  }
  if (checksum != entry.expected) {
    theLog.Write(LOG_WARNING, u"(100%%) patched file checksum is invalid so re-download");
    return giveUp();
  }
  if (const ErrorCode error = ReplaceFileWith(entry.localPath, patchPath); error != ERROR_SUCCESS)
    return failed(Failure::Create(error, entry.localPath));
  theLog.Write(LOG_INFO, u"(100%%) file patch success - reused %I64u bytes, fetched %I64u bytes",
               static_cast<unsigned long long>(reused + keptBytes), static_cast<unsigned long long>(fetched));
  return PatchEnd::Patched;
}

} // namespace download
