#pragma once
// A scripted HTTP/1.1 server on a loopback port that misbehaves on purpose: it can cut a body short,
// reset the connection mid-body, stall, drip slowly, send no Content-Length, ignore a Range request,
// redirect, and answer any status; ranges with ends come back as parts of a multipart body. Each
// path has its own script; requests are recorded.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Sockets.h"

namespace testsupport {

struct FaultScript {
  int status = 200;             // for a plain answer; ranges answer 206 or 416 when honoured
  std::string body;
  bool honourRange = true;      // false: a ranged request gets 200 and the whole body
  bool chunked = false;         // no Content-Length: chunked transfer encoding
  std::string location;         // answer 302 with this Location...
  std::string locationName = "Location";  // ...under this spelling of the header name
  std::int64_t cutAfter = -1;   // stop sending after this many body bytes...
  bool reset = false;           // ...then reset the connection (else close it cleanly)
  int stallMs = 0;              // ...or, with stallAfter, pause this long
  std::int64_t stallAfter = -1; // body bytes sent before the stall (0: before any byte)
  bool stallBeforeHeaders = false;
  std::size_t dripBytes = 0;    // send the body in pieces of this size...
  int dripDelayMs = 0;          // ...with this pause between them
  std::string rawStatusLine;    // replaces "HTTP/1.1 <status> <reason>" when set
  bool closeAfter = false;      // close the connection after the answer (no keep-alive)
  std::uint64_t bodyOffset = 0; // body holds the resource's bytes from this offset on (huge files)
  int busyTimes = 0;            // answer this many requests 503 first, as a server that is too busy
};

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  void Script(const std::string& path, FaultScript script);
  std::uint16_t Port() const { return m_port; }
  std::string Url(const std::string& path) const;
  // The request heads received, in order (request line and header lines).
  std::vector<std::string> Requests() const;
  // Connections accepted so far, and those still open.
  int Connections() const { return m_connections.load(); }
  int OpenNow() const;
  // From now on, a request on a connection beyond the first `limit` open at once is answered 503
  // and the connection closed, as a busy server does (0: no limit).
  void LimitConnections(int limit) { m_nConnectionLimit = limit; }
  // The most connections that were open at once.
  int MostOpenAtOnce() const { return m_mostOpen.load(); }

 private:
  void AcceptLoop();
  void Serve(sockets::Socket fd);
  bool Answer(sockets::Socket fd, const std::string& head);
  void Release(sockets::Socket fd);
  bool Wait(int ms);  // false when the server is shutting down

  sockets::Socket m_listen = sockets::kNoSocket;
  std::condition_variable m_wake;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_connections{0};
  std::atomic<int> m_nConnectionLimit{0};
  std::atomic<int> m_mostOpen{0};
  mutable std::mutex m_mutex;
  std::map<std::string, FaultScript> m_scripts;
  std::vector<std::string> m_requests;
  std::vector<sockets::Socket> m_open;
  std::vector<std::thread> m_threads;
  std::thread m_acceptor;
};

} // namespace testsupport
