#include "net/HttpClient.h"

#include <algorithm>
#include <utility>

#include "core/Format.h"
#include "platform/Clock.h"
#include "platform/Utf.h"

namespace net {

using namespace platform;


std::u16string FormatRangeHeader(std::uint64_t from) {
  return core::Format(u"Range:bytes=%I64d-", static_cast<long long>(from));
}

CHttpClient::CHttpClient(Tick tick) : m_tick(std::move(tick)) { m_Wininet.SetClock(m_tick); }

CHttpClient::~CHttpClient() {
  CloseFile();
  m_Wininet.CloseRequest();
  m_Wininet.CloseSession();
}

bool CHttpClient::OpenUrl(std::u16string_view url, std::u16string_view headers, std::uint64_t& contentLength,
                          std::u16string_view userAgent) {
  m_nStatusCode = 0;
  m_nBodyLeft = 0;
  if (!LimitNextWait()) return false;
  // A request sent early is worth taking up only briefly: a server gives up on a client that does not
  // read for long.
  const bool early = m_bSentEarly && url == m_strEarlyUrl && headers == m_strEarlyHeaders &&
                     userAgent == m_strEarlyAgent &&
                     static_cast<std::uint32_t>(m_tick() - m_dwSentEarly) < kSentEarlyLifeMs;
  m_bSentEarly = false;
  if (!early && !OpenSession(userAgent)) {
    m_dwLastError = m_Wininet.LastError();
    return false;
  }
  if (!m_Wininet.OpenRequest(url, headers, early)) {
    m_dwLastError = m_Wininet.LastError();
    return false;
  }
  std::int32_t status = 0;
  if (!m_Wininet.QueryStatusCode(status)) {
    m_dwLastError = m_Wininet.LastError();
    return false;
  }
  m_nStatusCode = status;
  if (status <= 0) {
    // No status the server could mean: not an HTTP answer.
    m_dwLastError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return false;
  }
  if (status != 200 && status != 206) {
    m_dwLastError = ERROR_SUCCESS;  // the server's answer, not a transport failure: see StatusCode()
    return false;
  }
  if (!m_Wininet.QueryContentLength(contentLength)) {
    m_dwLastError = m_Wininet.LastError();
    return false;
  }
  m_nBodyLeft = contentLength;
  return true;
}

void CHttpClient::SetOverallLimit(std::uint32_t limitMs) {
  m_dwLimitMs = limitMs;
  m_dwLimitStart = m_tick();
  if (limitMs == 0) m_Wininet.SetTimeout(m_dwTimeoutMs);
}

bool CHttpClient::LimitNextWait() {
  if (m_dwLimitMs == 0) return true;
  const std::uint32_t elapsed = m_tick() - m_dwLimitStart;
  if (elapsed >= m_dwLimitMs) {
    m_dwLastError = ERROR_INTERNET_TIMEOUT;
    return false;
  }
  m_Wininet.SetTimeout(std::min(m_dwTimeoutMs, m_dwLimitMs - elapsed));
  return true;
}

bool CHttpClient::ReadWithinLength(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (!LimitNextWait()) return false;
  // Once the announced length has arrived, one byte is asked for only to see that the body ends.
  const std::size_t want = m_nBodyLeft == 0 ? 1 : static_cast<std::size_t>(std::min<std::uint64_t>(size, m_nBodyLeft));
  std::uint32_t got = 0;
  if (!m_Wininet.Read(buffer, want, got)) {
    m_dwLastError = m_Wininet.LastError();
    return false;
  }
  if (got > m_nBodyLeft) {
    // More than the server announced: nothing past the announced length is ever handed on.
    m_dwLastError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return false;
  }
  m_nBodyLeft -= got;
  bytesRead = got;
  return true;
}

bool CHttpClient::OpenSession(std::u16string_view userAgent) {
  m_Wininet.CloseRequest();
  m_Wininet.CloseSession();
  return m_Wininet.Open(userAgent);
}

void CHttpClient::SendEarly(std::u16string_view url, std::u16string_view headers, std::u16string_view userAgent) {
  m_bSentEarly = OpenSession(userAgent) && m_Wininet.SendEarly(url, headers);
  if (!m_bSentEarly) return;
  m_strEarlyUrl = url;
  m_strEarlyHeaders = headers;
  m_strEarlyAgent = userAgent;
  m_dwSentEarly = m_tick();
}

bool CHttpClient::OpenFile(std::u16string_view path, bool append) {
  CloseFile();
  const ErrorCode code = m_pSink != nullptr ? m_pSink->Open(path, append) : ERROR_INVALID_HANDLE;
  if (code != ERROR_SUCCESS) {
    m_dwLastError = code;
    return false;
  }
  return true;
}

void CHttpClient::CloseFile() {
  // What was read is a prefix of the body: on disk it stays resumable, so it is kept on every path.
  if (m_pSink != nullptr && m_pSink->IsOpen()) m_pSink->Close();
}

bool CHttpClient::ReadToFile(std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (m_pSink == nullptr || !m_pSink->IsOpen()) {
    m_dwLastError = ERROR_INVALID_HANDLE;
    return false;
  }
  std::size_t room = 0;
  char* const at = m_pSink->Room(room);
  if (!ReadWithinLength(at, std::min(room, HTTP_BUFFER_SIZE), bytesRead)) return false;
  if (const ErrorCode code = m_pSink->Commit(bytesRead); code != ERROR_SUCCESS) {
    m_dwLastError = code;
    return false;
  }
  return true;
}

bool CHttpClient::ReadBody(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  return ReadWithinLength(buffer, size, bytesRead);
}

bool CHttpClient::ReadToMemory(std::u16string_view url, std::string& document, std::uint64_t maxSize,
                               std::u16string_view userAgent) {
  std::uint64_t length = 0;
  if (!OpenUrl(url, u"", length, userAgent)) return false;
  if (length > maxSize) {
    m_dwLastError = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::string text;
  text.reserve(static_cast<std::size_t>(length));
  while (text.size() < length) {
    std::uint32_t n = 0;
    if (!ReadBody(m_Buffer.data(), m_Buffer.size(), n)) return false;
    if (n == 0) {
      // The body ended before its announced length.
      m_dwLastError = ERROR_INTERNET_CONNECTION_ABORTED;
      return false;
    }
    if (text.size() + n > length) {
      m_dwLastError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
      return false;
    }
    text.append(m_Buffer.data(), n);
  }
  document = std::move(text);
  return true;
}

} // namespace net
