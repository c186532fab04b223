#pragma once
// Fetches one HTTP resource at a time: opens a URL (200 or 206 only, Content-Length required) and
// streams the body into its owner's sink (a local file) or reads it whole into memory. Used from one
// thread. Its time-outs are measured by the owner's clock.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/BodySink.h"
#include "net/Wininet.h"
#include "platform/Clock.h"

namespace net {

inline constexpr std::u16string_view kFileListUserAgent = u"HttpClient/1.0";
inline constexpr std::u16string_view kDownloaderUserAgent = u"Mervo_Downloader";
// The largest file-list document accepted into memory.
constexpr std::uint64_t kMaxDocumentSize = 16 * 1024 * 1024;

// The extra header line of a resumed transfer: "Range:bytes=<from>-" (no space, no end of range).
std::u16string FormatRangeHeader(std::uint64_t from);

class CHttpClient {
 public:
  explicit CHttpClient(Tick tick = &platform::TickCount32);
  virtual ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // GET url with the extra header lines; true when the answer is 200 or 206 with a Content-Length.
  // Another status fails with that status as StatusCode() and 0 as LastError().
  bool OpenUrl(std::u16string_view url, std::u16string_view headers, std::uint64_t& contentLength,
               std::u16string_view userAgent);
  // Sends the GET that OpenUrl with the same arguments would send, without waiting for its answer,
  // so the server answers while the caller finishes other work; that OpenUrl then takes it up. Where
  // it cannot be sent so, nothing happens and OpenUrl sends it as usual.
  void SendEarly(std::u16string_view url, std::u16string_view headers, std::u16string_view userAgent);
  // Where the bodies that ReadToFile reads go; the sink outlives its use here. None: OpenFile fails.
  void SetBodySink(IBodySink* sink) { m_pSink = sink; }
  // Opens the local file (through the sink) for writing at its end (append) or emptied (not append).
  bool OpenFile(std::u16string_view path, bool append);
  // Writes what has been read and not yet written, then closes the file.
  void CloseFile();
  // Reads one piece of the body (at most HTTP_BUFFER_SIZE bytes) into the sink; bytesRead = 0 when
  // the body has ended, and by then all of it is in the file.
  bool ReadToFile(std::uint32_t& bytesRead);
  // How many bytes of this body are in the file so far: what a reader of the file can see.
  std::uint64_t WrittenToFile() const { return m_pSink != nullptr ? m_pSink->Written() : 0; }
  // Reads one piece of the body (at most HTTP_BUFFER_SIZE bytes) into the caller's buffer.
  bool ReadBody(void* buffer, std::size_t size, std::uint32_t& bytesRead);
  // Fetches a whole document (the built-in file-list address unless one is given) into memory; one
  // whose Content-Length is over maxSize fails with ERROR_INSUFFICIENT_BUFFER before it is read.
  bool ReadToMemory(std::u16string_view url, std::string& document, std::uint64_t maxSize = kMaxDocumentSize,
                    std::u16string_view userAgent = kFileListUserAgent);

  // The time-out of each wait for the server (connecting, the answer, the next data).
  void SetTimeout(std::uint32_t milliseconds) {
    m_dwTimeoutMs = milliseconds;
    m_Wininet.SetTimeout(milliseconds);
  }
  std::uint32_t Timeout() const { return m_dwTimeoutMs; }
  // From now on every wait ends within limitMs of this moment, however slowly the server drips
  // (ERROR_INTERNET_TIMEOUT); 0 lifts the limit.
  void SetOverallLimit(std::uint32_t limitMs);
  void SetRunningFlag(const std::atomic<bool>* running) { m_Wininet.SetRunningFlag(running); }

  // The last failure's code (a WinINet or Windows code), or 0 when the server answered with a
  // status that is not accepted.
  platform::ErrorCode LastError() const { return m_dwLastError; }
  // A header of the open answer; false when it has none.
  bool ResponseHeader(std::string_view name, std::string& value) { return m_Wininet.QueryHeader(name, value); }
  // The HTTP status of the last answer; 0 before any.
  std::int32_t StatusCode() const { return m_nStatusCode; }
  // The number a message shows in "(%ld)" for the last failure: the code, or the refused status.
  platform::ErrorCode FailureCode() const {
    return m_dwLastError != 0 ? m_dwLastError : static_cast<platform::ErrorCode>(m_nStatusCode);
  }

 private:
  // Closes any request and opens a new session with the user agent.
  bool OpenSession(std::u16string_view userAgent);
  // Gives the next wait what is left of the overall limit; false (time-out) when nothing is left.
  bool LimitNextWait();
  // Reads a piece of the body, never past its announced length: more than that fails the read.
  bool ReadWithinLength(void* buffer, std::size_t size, std::uint32_t& bytesRead);

  // How long a request sent early may wait to be taken up.
  static constexpr std::uint32_t kSentEarlyLifeMs = 5000;

  Tick m_tick;
  CWininet m_Wininet;
  std::uint32_t m_dwTimeoutMs = kDefaultTimeoutMs;
  std::uint32_t m_dwLimitMs = 0;  // 0: no overall limit
  std::uint32_t m_dwLimitStart = 0;
  // The request SendEarly sent, while it waits to be taken up.
  bool m_bSentEarly = false;
  std::u16string m_strEarlyUrl;
  std::u16string m_strEarlyHeaders;
  std::u16string m_strEarlyAgent;
  std::uint32_t m_dwSentEarly = 0;
  IBodySink* m_pSink = nullptr;
  std::uint64_t m_nBodyLeft = 0;   // of the open answer's announced length
  std::array<char, HTTP_BUFFER_SIZE> m_Buffer{};
  platform::ErrorCode m_dwLastError = 0;
  std::int32_t m_nStatusCode = 0;
};

} // namespace net
