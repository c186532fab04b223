#pragma once
// The servers that hold a list's files (its "URL" and its mirrors) and which of them each request
// goes to. One object knows every server's results during a run: connections are spread over the
// servers by how fast each has been, and a server that failed rests for a while before it gets new
// requests. The transport never retries; whoever fetches asks this object where to go next.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filelist/FileList.h"

namespace download {

// Servers one list may name, its "URL" included: enough for a publisher's edges, few enough that a
// run which tries each of them for one file still ends within a few time-outs.
constexpr std::size_t kMaxServers = 8;

// The list's servers: its "URL" first, then each mirror once (a mirror named twice, or naming the
// "URL" again, counts once; a missing "/" at its end is added). False, with the reason for the log,
// when a mirror is no http(s) base address or there are more than kMaxServers.
bool ListServers(const filelist::CFileList& list, std::vector<std::u16string>& servers, std::u16string& problem);

// The servers a request has already tried, one bit per server.
using ServerMask = std::uint32_t;
inline ServerMask MaskOf(std::size_t server) { return ServerMask{1} << server; }

class CServerSet {
 public:
  // How one request to a server ended.
  enum class Outcome {
    Answered,  // the body arrived
    Busy,      // 503 or 429: the server wants fewer requests for a moment
    Failed,    // refused, reset, timed out, a wrong answer
    NoRanges,  // answered a ranged request with the whole file
  };

  CServerSet(std::vector<std::u16string> bases, std::function<std::uint32_t()> tick);
  CServerSet(const CServerSet&) = delete;
  CServerSet& operator=(const CServerSet&) = delete;

  std::size_t Count() const { return m_servers.size(); }
  // Every server's bit.
  ServerMask All() const { return (ServerMask{1} << m_servers.size()) - 1; }
  const std::u16string& Base(std::size_t server) const { return m_servers[server].base; }
  // The address of a list name on a server.
  std::u16string AddressOf(std::size_t server, std::u16string_view name) const;

  // A server for one request, not among `tried`: the one with the least work for its speed among
  // those not resting; when only resting ones are left, with `evenResting` the one that rests the
  // shortest, else none. `needRanges`: skip servers known to ignore ranges. Counts the request as
  // open until Release.
  std::optional<std::size_t> Acquire(ServerMask tried, bool evenResting, bool needRanges = false);
  // The same for a chosen server, unless it rests; none then.
  std::optional<std::size_t> AcquireThis(std::size_t server);
  // The server Acquire would choose now for a new request, without counting one.
  std::optional<std::size_t> Best() const;
  // The request is over: how it ended and what it brought in how long.
  void Release(std::size_t server, Outcome outcome, std::uint64_t bytes = 0, std::uint32_t elapsedMs = 0);
  // Whether a server has been seen to ignore ranges.
  bool IgnoresRanges(std::size_t server) const;

 private:
  struct Server {
    std::u16string base;
    unsigned open = 0;              // requests now open
    std::uint32_t restUntil = 0;    // a failed server gets no new request before this tick...
    bool resting = false;           // ...while this is set
    unsigned failures = 0;          // in a row: each doubles the rest
    double bytesPerMs = 0;          // how fast its answers came, smoothed; 0 until known
    bool noRanges = false;
  };
  bool IsResting(const Server& server, std::uint32_t now) const;
  // The choice of Acquire, with the lock held.
  std::optional<std::size_t> Choose(ServerMask tried, bool evenResting, bool needRanges) const;

  mutable std::mutex m_mutex;
  std::vector<Server> m_servers;
  std::function<std::uint32_t()> m_tick;
};

} // namespace download
