#pragma once
// The HTTP session layer: a pull adapter over libcurl's multi interface. A request is opened by the
// owning CHttpClient; the caller then asks for the status and length and reads the body in pieces
// of at most HTTP_BUFFER_SIZE bytes. The multi handle, and with it the cache of open connections,
// lives as long as this object, so consecutive requests reuse connections.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace net {

constexpr std::size_t HTTP_BUFFER_SIZE = 8192;
constexpr std::uint32_t kDefaultTimeoutMs = 30000;

struct CurlEasyDeleter {
  void operator()(void* easy) const;
};
struct CurlMultiDeleter {
  void operator()(void* multi) const;
};

// What the session fixes for every request it opens.
struct Session {
  std::string userAgent;
  std::uint32_t timeoutMs = kDefaultTimeoutMs;
};

class CWininet {
 public:
  CWininet();
  virtual ~CWininet();
  CWininet(const CWininet&) = delete;
  CWininet& operator=(const CWininet&) = delete;

  // Opens (or replaces) the session with the user agent and the time-outs.
  bool Open(std::u16string_view userAgent);
  // Sends a GET for url with the extra header lines ("\r\n"-separated) and waits until the final
  // response's headers have arrived, redirections followed. Caches are bypassed.
  bool OpenRequest(std::u16string_view url, std::u16string_view headers);
  void CloseRequest();
  void CloseSession();

  bool QueryStatusCode(std::int32_t& code);
  // The Content-Length of the response; ERROR_HTTP_HEADER_NOT_FOUND when it has none.
  bool QueryContentLength(std::uint64_t& length);
  // Up to size (at most HTTP_BUFFER_SIZE) bytes of the body; bytesRead = 0 at its end.
  bool Read(void* buffer, std::size_t size, std::uint32_t& bytesRead);

  // Time-out for connecting and for waiting for data; the default is 30 seconds.
  void SetTimeout(std::uint32_t milliseconds) { m_dwTimeoutMs = milliseconds; }
  // A flag that, once false, makes every wait end with ERROR_INTERNET_OPERATION_CANCELLED.
  void SetRunningFlag(const std::atomic<bool>* running) { m_pbRunning = running; }

  // The code of the last failure (a WinINet or Windows code); meaningful after a false result.
  platform::ErrorCode LastError() const { return m_dwLastError; }

 private:
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);

  // Drives the transfer once and waits briefly for more; false on a stop request or a time-out.
  bool Pump();
  std::size_t Buffered() const { return m_body.size() - m_bodyRead; }
  bool Fail(platform::ErrorCode code);

  std::unique_ptr<Session> m_hSession;
  std::unique_ptr<void, CurlEasyDeleter> m_hRequest;
  platform::ErrorCode m_dwLastError = 0;
  std::unique_ptr<void, CurlMultiDeleter> m_multi;
  std::uint32_t m_dwTimeoutMs = kDefaultTimeoutMs;
  const std::atomic<bool>* m_pbRunning = nullptr;

  // State of the open request.
  void* m_headerList = nullptr;  // curl_slist, freed with the request
  bool m_bHeadersDone = false;
  bool m_bBlockHasLocation = false;
  bool m_bDone = false;
  int m_nResult = 0;  // CURLcode once done
  bool m_bPaused = false;
  std::int32_t m_nStatus = 0;
  std::int64_t m_nContentLength = -1;
  std::string m_body;
  std::size_t m_bodyRead = 0;
  std::uint32_t m_dwLastActivity = 0;
};

} // namespace net
