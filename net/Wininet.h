#pragma once
// The HTTP session layer. A request is opened by the owning CHttpClient; the caller then asks for the
// status and length and reads the body in pieces of at most HTTP_BUFFER_SIZE bytes. The session keeps
// its connections for the next requests. Implemented over libcurl's multi interface on Linux and over
// WinINet on Windows.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace net {

constexpr std::size_t HTTP_BUFFER_SIZE = 8192;
constexpr std::uint32_t kDefaultTimeoutMs = 30000;
// Redirections followed for one request before it fails with ERROR_HTTP_REDIRECT_FAILURE.
constexpr int kMaxRedirects = 10;

// The millisecond tick (32-bit, wrapping) that time-outs are measured by.
using Tick = std::function<std::uint32_t()>;

class CWininet {
 public:
  CWininet();
  virtual ~CWininet();
  CWininet(const CWininet&) = delete;
  CWininet& operator=(const CWininet&) = delete;

  // Opens (or replaces) the session with the user agent and the time-outs.
  bool Open(std::u16string_view userAgent);
  // Sends a GET for url with the extra header lines ("\r\n"-separated) and waits until the final
  // response's headers have arrived, redirections followed. Caches are bypassed. With sentEarly, the
  // caller says SendEarly sent this very request: it is taken up (and sent again should it have
  // failed before its answer) instead of sent anew.
  bool OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly = false);
  // Sends a GET as OpenRequest would, without waiting for it, so the server can answer while the
  // caller finishes other work; false when it could not be sent. Any other call but OpenRequest with
  // sentEarly drops it.
  bool SendEarly(std::u16string_view url, std::u16string_view headers);
  void CloseRequest();
  void CloseSession();

  bool QueryStatusCode(std::int32_t& code);
  // The Content-Length of the response; ERROR_HTTP_HEADER_NOT_FOUND when it has none.
  bool QueryContentLength(std::uint64_t& length);
  // The value of one header of the final response (name in any letter case); false when it has none.
  bool QueryHeader(std::string_view name, std::string& value);
  // Up to size (at most HTTP_BUFFER_SIZE) bytes of the body; bytesRead = 0 at its end.
  bool Read(void* buffer, std::size_t size, std::uint32_t& bytesRead);

  // Time-out for connecting and for waiting for data; the default is 30 seconds.
  void SetTimeout(std::uint32_t milliseconds);
  // A flag that, once false, makes every wait end with ERROR_INTERNET_OPERATION_CANCELLED.
  void SetRunningFlag(const std::atomic<bool>* running);
  // The clock of the time-outs; the system's tick unless the owner gives one.
  void SetClock(Tick tick);
  // Lets the process keep this many connections to one server open at once (the system's HTTP layer
  // may allow fewer unless told); never fewer than it allows already.
  static void AllowConnectionsPerServer(unsigned count);

  // The code of the last failure (a WinINet or Windows code); meaningful after a false result.
  platform::ErrorCode LastError() const;

 private:
  // The system's HTTP layer and the state of the open request.
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

} // namespace net
