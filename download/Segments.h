#pragma once
// A large file fetched in pieces over several connections and servers at once. Each piece is asked
// for with its own Range and written at its offset into a part file beside the target, through a
// body sink of its own. A small record beside the part file says how far each piece got; it names
// only bytes already handed to the file system, so after a stop, a crash or a kill the next run keeps
// what the record names and fetches the rest. Nothing here logs, posts or decides for the entry: the
// worker polls the progress, checks the whole digest and moves the part file into place.
// The same fetch brings the ranges a patch still needs: then each piece is a few of those ranges in
// one request, written where they belong in the patch's file, and there is no record (a patch finds
// what it built already by the block index).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/ByteRange.h"
#include "download/Failure.h"
#include "download/Servers.h"
#include "net/BodySink.h"
#include "net/HttpClient.h"

namespace download {

// Where a file fetched in segments is put together, and the record of how far each piece got.
std::u16string PartPathOf(std::u16string_view localPath);
std::u16string PartRecordPathOf(std::u16string_view localPath);

// The pieces a file of this size is cut into: about 24 (the connections take them in about two rounds
// of requests), none smaller than 64 KiB, none larger than 4 MiB unless the file has more than 4,096
// of them.
std::uint64_t PieceSizeFor(std::uint64_t size);

class CSegmentedFetch {
 public:
  struct Job {
    std::u16string name;        // the list's name, for the servers' addresses
    std::u16string partPath;
    std::u16string recordPath;
    std::uint64_t size = 0;
    std::string checksum;       // the listed digest: a part of another version is never taken
    ServerMask exclude = 0;     // servers not asked this time
    std::uint64_t prefix = 0;   // bytes at the part file's start that one stream brought already
    // When set, only these bytes (ascending, apart), into the part file as it is (a patch's), and
    // the record is neither read nor written.
    std::vector<core::ByteRange> ranges;
  };
  // One connection: a client and the sink its bodies go to. The run owns both.
  struct Connection {
    net::CHttpClient* client = nullptr;
    net::IBodySink* sink = nullptr;
  };
  enum class State { Running, Done, Failed, NoRanges };

  CSegmentedFetch(Job job, CServerSet& servers, std::vector<Connection> connections,
                  std::function<std::uint32_t()> tick);
  // Stops the connections and records how far each piece got.
  ~CSegmentedFetch();
  CSegmentedFetch(const CSegmentedFetch&) = delete;
  CSegmentedFetch& operator=(const CSegmentedFetch&) = delete;

  // Takes up an earlier run's part file when its record fits this job, else makes a new part file of
  // the file's size; `kept` is what the part already holds. A failure to make it is returned.
  std::optional<Failure> Prepare(std::uint64_t& kept);
  void Start();
  // Waits up to ms for something to happen; then the state and the bytes so far: in the part file
  // in all, and from the file's start without a gap (what a reader along the file may take).
  State Wait(std::uint32_t ms, std::uint64_t& received, std::uint64_t& prefix);
  // Records how far the pieces got (the worker calls it about once a second).
  void Checkpoint();
  // Why the fetch failed (State::Failed).
  const Failure& LastFailure() const { return m_failure; }
  // How long the quickest answer to a piece took to come (the link's round trip, about); none yet.
  std::optional<std::uint32_t> QuickestAnswerMs() const;
  // The servers that delivered pieces, one bit each.
  ServerMask ServedBy() const;
  // Removes the part file and its record (a part that did not match the list).
  void Discard();

 private:
  struct Piece {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t at = 0;      // written up to here
    bool active = false;
    ServerMask tried = 0;      // servers that failed this piece
    std::vector<core::ByteRange> ranges;  // a patch's: the ranges in [start, end) it brings
    // The bytes of the piece written so far.
    std::uint64_t Done() const;
  };
  void Connect(Connection connection);
  // Fetches [piece.at, piece.end) from the server; what happened is said to the server set.
  std::optional<Failure> FetchPiece(Connection connection, std::size_t server, std::size_t piece, bool& noRanges);
  // The same for a piece of several ranges, asked for in one request.
  std::optional<Failure> FetchRanges(Connection connection, std::size_t server, std::size_t piece, bool& noRanges);
  bool LoadRecord();
  void Stop();

  Job m_job;
  CServerSet& m_servers;
  std::vector<Connection> m_connections;
  std::function<std::uint32_t()> m_tick;
  std::uint64_t m_nPieceSize = 0;
  std::atomic<bool> m_bRunning{true};  // the connections' own flag: cleared to end them at once
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Piece> m_pieces;  // guarded by m_mutex
  unsigned m_nActive = 0;       // connections at work
  bool m_bFailed = false;
  bool m_bNoRanges = false;
  bool m_bStarted = false;
  ServerMask m_servedBy = 0;
  std::optional<std::uint32_t> m_quickestAnswerMs;
  Failure m_failure;
  std::vector<std::thread> m_threads;
};

} // namespace download
