#pragma once
// Patching an entry from its old file: the blocks of the new version that the old file holds are
// copied, only the others are fetched (several ranges a request, over the run's connections and
// servers at once), and the new version is built beside the old file, replacing it only once its
// whole digest matches the list. The worker hands a job in and reads the result: how it ended,
// the failure to report, and the bytes reused and fetched.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/ConcurrentChecksum.h"
#include "download/Failure.h"
#include "download/Segments.h"
#include "download/Servers.h"
#include "filelist/FileList.h"
#include "net/BodySink.h"
#include "net/HttpClient.h"

namespace download {

// Where the new version is built beside the entry's file.
std::u16string PatchPathOf(std::u16string_view localPath);

// How patching an entry ended. NotPatched: fetch it as without an index; Resume: the old file is
// this version cut short, resume it instead; Failed: the result's failure says why.
enum class PatchEnd { Patched, NotPatched, Resume, Stopped, Failed };

struct PatchJob {
  std::u16string name;                // as listed: the servers' addresses
  std::u16string localPath;
  std::uint64_t size = 0;             // the listed size and digest of the new version
  std::u16string expected;
  filelist::BlockIndexInfo index;     // the listed block index
  std::uint64_t localSize = 0;        // the old file's
  std::uint64_t freeSpace = 0;        // on the install folder's disk
};

struct PatchResult {
  PatchEnd end = PatchEnd::NotPatched;
  std::optional<Failure> failure;     // for Failed
  std::uint64_t reused = 0;           // bytes of the new version that were on disk already
  std::uint64_t fetched = 0;          // bytes fetched, the index's included
};

class CPatcher {
 public:
  // Told the new file's bytes at hand (kept, fetched, copied) and those an earlier patch kept;
  // `force` at the end. False: no memory for the record, which fails the patch.
  using Progress = std::function<bool(bool force, std::uint64_t atHand, std::uint64_t kept)>;

  // client: the worker's, for the index; connections: for the ranges; writer: the sink the old
  // file's blocks are written through; running: the worker's flag.
  CPatcher(PatchJob job, net::CHttpClient& client, CServerSet& servers, CConcurrentChecksum& hasher,
           std::vector<CSegmentedFetch::Connection> connections, net::IBodySink& writer,
           const std::atomic<bool>& running, std::function<std::uint32_t()> tick, Progress progress);

  PatchResult Run();

 private:
  PatchEnd Build();

  PatchJob m_job;
  net::CHttpClient& m_client;
  CServerSet& m_servers;
  CConcurrentChecksum& m_hasher;
  std::vector<CSegmentedFetch::Connection> m_connections;
  net::IBodySink& m_writer;
  const std::atomic<bool>& m_running;
  std::function<std::uint32_t()> m_tick;
  Progress m_progress;
  PatchResult m_result;
};

} // namespace download
