#pragma once
// Fetches the bodies of entries ahead of the worker, each over a keep-alive connection of its own,
// so that on a link with a long round trip many small files are on the wire at once. Only entries
// whose file is missing are asked for (they are fetched whole), only small ones, and the bodies wait
// in memory, never more than a fixed number of bytes held or in flight. Nothing is logged, posted,
// written or decided here: the worker takes a body in the entry's turn and treats it as a transfer
// of its own; an entry whose fetch failed ahead (or was never started) is fetched again in its turn,
// so every message, log line and record comes as without the prefetcher.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/Servers.h"
#include "net/HttpClient.h"

namespace download {

class CPrefetcher {
 public:
  struct Job {
    std::uint32_t index = 0;  // the entry's place in the list
    std::u16string name;      // as listed: each fetch asks the server set where it is
    std::uint64_t size = 0;   // as listed: a body of another length is not taken
    // Left for the worker's own connection to fetch in its turn, unless nothing else is left to
    // fetch ahead (the worker may be busy with a large file meanwhile).
    bool workersShare = false;
  };
  // Entries larger than this are left to the worker: one connection already fills a link for them,
  // and the window shows their bytes as they come instead of all at once.
  static constexpr std::uint64_t kLargestEntry = 256 * 1024;
  // Bytes of bodies held or in flight at most.
  static constexpr std::uint64_t kBudget = 16 * 1024 * 1024;
  // From servers a real round trip away one connection is slow already for files of a few MiB: they
  // come ahead too, with more room for them (bench/real-link.sh, the demo game at 50 ms).
  static constexpr std::uint64_t kLargestEntryFarAway = 8 * 1024 * 1024;
  static constexpr std::uint64_t kBudgetFarAway = 64 * 1024 * 1024;
  // Part of the budget only small entries may take, so that those behind a run of larger ones are
  // on the wire while the larger ones wait for room (a quarter of the budget, at most this much).
  static constexpr std::uint64_t kSmallReserve = 4 * 1024 * 1024;
  // How far past a job that waits for room a connection looks for a small one.
  static constexpr std::size_t kLookAhead = 1024;
  // Connections opened at first; one more each time the worker finds its next body not there yet,
  // so a link without a long round trip keeps few threads busy and a slow one gets them all.
  static constexpr std::size_t kFirstConnections = 2;

  // A connection that the server refused or found too busy waits this long before it asks again,
  // twice as long after each refusal in a row, at most kLongestPauseMs: a server that allows fewer
  // connections gets fewer, and gets them back once it answers again.
  // The first pause is long enough for the connections the server did take to carry the next
  // files meanwhile.
  static constexpr std::uint32_t kFirstPauseMs = 2000;
  static constexpr std::uint32_t kLongestPauseMs = 30000;

  // jobs: in list order. One thread per client; servers: where each body is asked for;
  // workerRunning is the worker's flag, which ends a wait in Take; budget: bytes held or in flight
  // at most.
  // firstConnections: how many start at once.
  CPrefetcher(std::vector<Job> jobs, std::vector<std::unique_ptr<net::CHttpClient>> clients, CServerSet& servers,
              const std::atomic<bool>* workerRunning, std::uint64_t budget = kBudget,
              std::size_t firstConnections = kFirstConnections);
  // Abandons what is in flight and ends the threads.
  ~CPrefetcher();
  CPrefetcher(const CPrefetcher&) = delete;
  CPrefetcher& operator=(const CPrefetcher&) = delete;

  // The worker means to fetch the entry itself (its request sent early): true when nothing here
  // fetches it, then or later (not a job, failed, or the worker's share not started yet); false
  // when it is fetched here.
  bool Claim(std::uint32_t index);
  // The entry's body when it arrived whole, waiting while it is on the wire; false when it was not
  // asked for, failed, or the worker stopped. Bodies of earlier entries not taken are dropped.
  // `server`: the one it came from.
  bool Take(std::uint32_t index, std::string& body, std::size_t& server);
  // The most bytes that were held or in flight at once.
  std::uint64_t PeakHeld() const;

 private:
  enum class State { Waiting, InFlight, Arrived, Failed, Taken };
  struct Slot {
    Job job;
    State state = State::Waiting;
    std::string body;
    std::size_t server = 0;
    bool inReserve = false;  // its room is in the small entries' reserve
  };
  void Fetch(net::CHttpClient& client);
  // Puts one more client to work, when one is left. Called with the lock held.
  void StartOne();
  // The slot of an entry, or null; slots are in list order.
  Slot* Find(std::uint32_t index);
  const Slot* Find(std::uint32_t index) const;
  // Whether a job has room now, and whether in the small entries' reserve. Called with the lock held.
  bool HasRoom(const Job& job, bool& inReserve) const;
  // Gives a slot's room back. Called with the lock held.
  void GiveBack(const Slot& slot);
  // Fetches one body whole; false on any failure. Refused or too busy: *refused is set.
  bool FetchOne(net::CHttpClient& client, std::size_t server, const Job& job, std::string& body, bool& refused);

  std::vector<Slot> m_slots;
  std::vector<std::unique_ptr<net::CHttpClient>> m_clients;
  CServerSet& m_servers;
  const std::atomic<bool>* m_pbWorkerRunning;
  std::atomic<bool> m_bRunning{true};  // cleared to abandon everything
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_nNext = 0;        // the next slot to start
  std::size_t m_nPassed = 0;      // slots before this one the worker has passed
  std::uint32_t m_nWanted = 0;    // the entry the worker asked for last
  const std::uint64_t m_nBudget;
  const std::uint64_t m_nSmallReserve;
  std::uint64_t m_nHeld = 0;      // bytes held or in flight
  std::uint64_t m_nHeldReserve = 0;  // of them, in the small entries' reserve
  std::uint64_t m_nPeakHeld = 0;
  std::vector<std::thread> m_threads;  // one per client at work, in the clients' order
};

} // namespace download
