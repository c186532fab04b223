#pragma once
// The download worker: on its own thread it walks the file list and makes the install folder hold
// every entry, complete and with the right MD5 digest. It skips valid files, resumes shorter ones
// with a Range request, fetches missing, bigger or corrupt ones from the start, verifies every
// transfer, and reports to the window only through posted records.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/ConcurrentChecksum.h"
#include "download/EntryDecision.h"
#include "download/Failure.h"
#include "download/Messages.h"
#include "download/Patch.h"
#include "download/Prefetcher.h"
#include "download/Segments.h"
#include "download/Servers.h"
#include "download/Thread.h"
#include "download/WorkerMediator.h"
#include "filelist/FileList.h"
#include "platform/ErrorCodes.h"

namespace download {

// True when a list entry's name can only name a file below the install folder: relative, "/"
// between components, none of them empty, "." or "..", no backslash and no control character.
bool IsSafeEntryName(std::u16string_view name);

// Where an entry's file lives: its name's folders become sub-folders of the install folder.
std::u16string EntryLocalPath(std::u16string_view folder, std::u16string_view name);

// The bytes that entries [from, end) still have to bring onto the disk, judged by the sizes of the
// files already there (a shorter file is resumed, a longer one fetched again whole), as suffix sums:
// element i is what entries [from + i, end) still need; the last element is 0. The free-space rule
// compares with these, so an install that is (nearly) complete needs (nearly) no room.
std::vector<std::uint64_t> MissingBytesFrom(const filelist::CFileList& list, std::u16string_view folder,
                                            std::uint32_t from);

// Where the new version of a file is built while it is patched from the old one.
// Connections a run uses unless told otherwise. Measured on 2,000 files of 16 KiB at a 50 ms round
// trip (bench/real-link.sh): 6 take nearly three times as long as 16, which keep up with
// curl -Z --parallel-max 16; a server that allows fewer gets fewer.
constexpr unsigned kDefaultConnections = 16;
// Files of at least this many bytes are fetched in segments over several connections at once
// (bench/segments.sh): below it one connection brings a file about as fast, and the part file and
// its record would be work for nothing.
constexpr std::uint64_t kDefaultSegmentThreshold = 16 * 1024 * 1024;
// Connections one file's segments use at most.
constexpr unsigned kSegmentConnections = 16;

class CDownloadThread : public CThread {
 public:
  explicit CDownloadThread(TargetHandle hWnd, WorkerMediator mediator = DefaultWorkerMediator());
  ~CDownloadThread() override;

  // Only while no run is going on (checked in debug builds): the run reads these without a lock.
  void SetFileList(const filelist::CFileList& list);
  void SetDownloadPath(std::u16string_view folder);
  void SetMediator(WorkerMediator mediator) {
    assert(!IsBodyGoingOn() && "the mediator is set only while no run is going on");
    m_mediator = std::move(mediator);
  }
  // Connections to the server a run may use at once: one for the entry in its turn, the others for
  // small missing files ahead of it (1: one connection, each file in its turn).
  void SetConnections(unsigned connections) {
    assert(!IsBodyGoingOn() && "the connections are set only while no run is going on");
    m_nConnections = std::max(connections, 1u);
  }
  // Files of at least this size are fetched in segments when more than one connection is allowed:
  // with probeFirst, once a single stream of them turns out slow (or the server is far away); else
  // at once.
  void SetSegmentThreshold(std::uint64_t bytes, bool probeFirst = true) {
    assert(!IsBodyGoingOn() && "the threshold is set only while no run is going on");
    m_nSegmentThreshold = std::max<std::uint64_t>(bytes, 1);
    m_bProbeFirst = probeFirst;
  }
  // The window clears its handle before it destroys the worker, so a run still ending posts nothing.
  void SetTarget(TargetHandle hWnd) { m_hWnd = hWnd; }

  // One run over the list: true when it reached the end of the list.
  bool DownloadFiles();

  platform::ErrorCode GetFileChecksum(std::u16string_view path, std::u16string& checksum);
  // Splits "dir/.../file" into the folder below the install folder (created, every level) and the
  // file's own name. False, with nothing changed, for a name without "/".
  bool MakeSubDirectory(std::u16string& name, std::u16string& directory);
  // The same split without creating anything.
  bool SplitEntryName(std::u16string& name, std::u16string& directory) const;
  bool PostProgress(std::int32_t index, bool verified, std::uint64_t total, std::uint64_t received,
                    std::uint64_t resumedFrom = 0);
  bool PostResult(bool success);

  // What a run left behind; read while no run is going on.
  std::uint32_t FileIndex() const { return m_nFileIndex; }
  const std::u16string& ErrorMessage() const { return m_strErrorMessage; }
  const std::u16string& DownloadPath() const { return m_strDownloadPath; }

 protected:
  bool Run() override;

 private:
  // A transfer posts its progress about this often (milliseconds), and at its end.
  static constexpr std::uint32_t kPostIntervalMs = 1000;
  // How often the worker looks at the connections of a file in pieces.
  static constexpr std::uint32_t kSegmentPollMs = 100;
  // How the verification of a whole transfer ended.
  enum class VerifyEnd { Matches, Mismatch, Failed };
  // How a file fetched in segments ended. NoRanges: no server takes ranges, it is fetched whole.
  enum class SegmentEnd { Whole, Mismatch, NoRanges, Failed };
  // What one run holds besides the worker's own connection.
  struct RunState;

  struct Entry {
    std::uint32_t index = 0;
    const filelist::FileInfo* info = nullptr;
    std::u16string name;         // widened, as in the list
    std::u16string localPath;
    std::u16string expected;     // the listed digest, widened
  };

  // A failure concerns this path: the log and the result name it with the system's reason.
  void Concerning(std::u16string_view path, platform::ErrorCode code);
  bool Fail(unsigned messageId);
  bool Fail(unsigned messageId, platform::ErrorCode code);
  // The one place where a failure becomes its log line and the run's message; false.
  bool Report(const Failure& failure);
  LocalFileState QueryLocalFile(const std::u16string& path) const;
  // Opens the entry's address on a server (resuming from `from` when resume is set) and appends the
  // body to its file; with a body fetched ahead, that body is the answer (the whole file). None when
  // the file arrived whole, else why not; the caller decides whether another server is asked.
  // With probe, a stream found much slower than segments would be ends as FailureKind::Slow, what
  // it brought kept in the file.
  std::optional<Failure> Transfer(net::CHttpClient& client, net::IBodySink& sink, CConcurrentChecksum& hasher,
                                  const Entry& entry, const std::u16string& address, bool resume, std::uint64_t from,
                                  const std::string* fetchedAhead, bool probe = false);
  // The entry's file over the run's servers: on a server's or the network's failure the next server
  // takes over from the bytes already written, without a word; `avoid` are servers to ask last (one
  // sent a body that did not match). None when it arrived whole; `server` is the one it came from.
  std::optional<Failure> Fetch(RunState& run, const Entry& entry, bool resume, std::uint64_t from, ServerMask avoid,
                               std::size_t& server, bool probe = false);
  // A large missing file in segments over several connections and servers (but those in
  // `exclude`), into a part file that replaces the entry's file once its digest matches the list.
  // `prefix`: bytes one stream brought into the part file already.
  SegmentEnd FetchInSegments(RunState& run, const Entry& entry, ServerMask exclude, std::uint64_t prefix,
                             std::optional<Failure>& failure);
  // Whether the entry's helper files (a part file, its record, a patch) could be taken for a listed file.
  bool HelperNamesFree(const Entry& entry) const;
  // The address of an entry that is surely fetched whole (its file is not there at all), or none.
  bool SurelyFetchedWhole(std::uint32_t index) const;
  // Whether a file of this size comes in segments.
  bool InSegments(std::uint64_t size) const;
  // Whether the servers are a real round trip away (the run's quickest answer says so).
  bool FarAway() const;
  // The small missing files from `first` on, for the connections beside the worker's.
  std::vector<CPrefetcher::Job> PrefetchJobs(std::uint32_t first, std::uint32_t count) const;
  VerifyEnd Verify(CConcurrentChecksum& hasher, const Entry& entry);
  // Where the list has a block index for the entry and its file is there but not valid: builds the
  // listed version from the blocks the old file holds and the ranges fetched for the rest.
  PatchEnd Patch(RunState& run, const Entry& entry, const LocalFileState& local);
  // The run's connections for pieces and ranges (up to `wanted`, made once per run as needed).
  std::vector<CSegmentedFetch::Connection> SegmentConnections(RunState& run, unsigned wanted);
  // The address of an entry's file on the list's own server.
  std::u16string AddressOf(std::u16string_view name) const;
  // Sends the request of the entry that comes next when its file is missing, so it is fetched whole.
  void SendNextEarly(net::CHttpClient& client, RunState& run, std::uint32_t next);

  std::atomic<TargetHandle> m_hWnd;
  filelist::CFileList m_FileList;
  std::u16string m_strDownloadPath;
  std::u16string m_strErrorMessage;
  std::u16string m_strErrorDetail;  // the path and reason of the last failure, when it has a path
  std::uint32_t m_nFileIndex = 0;
  std::uint32_t m_dwFileStartTime = 0;
  // When the run last posted a transfer's progress.
  bool m_bPostedInRun = false;
  std::uint32_t m_dwLastPost = 0;
  WorkerMediator m_mediator;
  unsigned m_nConnections = kDefaultConnections;
  std::uint64_t m_nSegmentThreshold = kDefaultSegmentThreshold;
  bool m_bProbeFirst = true;
  // Names the list gives to files of its own that end like a helper file of the worker's
  // (".valdris-patch", ".valdris-part", ".valdris-part.record"): such helpers are never made.
  std::vector<std::u16string> m_vecHelperLikeNames;
  std::uint32_t m_dwLastAnswerMs = 0;  // how long the worker's last request waited for its answer
  std::uint32_t m_dwQuickestAnswerMs = UINT32_MAX;  // the quickest answer of the run so far
  bool m_bSlowStreams = false;  // a stream of this run was too slow for a large file
};

} // namespace download
