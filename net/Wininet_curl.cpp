// The session layer over libcurl's multi interface: a pull adapter. The write callback appends to
// the adapter's own buffer and pauses the transfer when it is full, so memory stays bounded.
#include "net/Wininet.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <strings.h>
#include <utility>

#include "core/Log.h"
#include "net/CurlErrors.h"
#include "platform/Clock.h"
#include "platform/Utf.h"

namespace net {

using namespace platform;

namespace {

// Beyond this much unread body the transfer is paused, so memory stays bounded however fast the
// server sends and however slow the caller is.
constexpr std::size_t kHighWater = 512 * 1024;
constexpr long kReceiveBuffer = 128 * 1024;
constexpr int kPollMs = 20;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsFollowedRedirect(long code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

struct CurlEasyDeleter {
  void operator()(void* easy) const { curl_easy_cleanup(static_cast<CURL*>(easy)); }
};
struct CurlMultiDeleter {
  void operator()(void* multi) const { curl_multi_cleanup(static_cast<CURLM*>(multi)); }
};

// What the session fixes for every request it opens.
struct Session {
  std::string userAgent;
  std::uint32_t timeoutMs = kDefaultTimeoutMs;
};

} // namespace

struct CWininet::Impl {
  Impl();
  ~Impl();
  bool Open(std::u16string_view userAgent);
  bool OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly);
  bool SendEarly(std::u16string_view url, std::u16string_view headers);
  void CloseRequest();
  // Sets up the request and hands it to the multi handle; nothing is waited for.
  bool StartRequest(std::u16string_view url, std::u16string_view headers);
  void CloseSession();
  bool QueryStatusCode(std::int32_t& code);
  bool QueryContentLength(std::uint64_t& length);
  bool Read(void* buffer, std::size_t size, std::uint32_t& bytesRead);

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
  Tick m_tick = &platform::TickCount32;
  bool m_bSentEarly = false;  // the open request went out before its caller opened it
};

CWininet::Impl::Impl() { GlobalInit(); }

CWininet::Impl::~Impl() {
  CloseRequest();
  CloseSession();
}

bool CWininet::Impl::Fail(ErrorCode code) {
  m_dwLastError = code;
  return false;
}

bool CWininet::Impl::Open(std::u16string_view userAgent) {
  CloseSession();
  if (!m_multi) {
    m_multi.reset(curl_multi_init());
    if (!m_multi) return Fail(ERROR_INTERNET_OUT_OF_HANDLES);
  }
  auto session = std::make_unique<Session>();
  session->userAgent = NarrowUtf8(userAgent);
  session->timeoutMs = m_dwTimeoutMs;
  m_hSession = std::move(session);
  return true;
}

void CWininet::Impl::CloseSession() { m_hSession.reset(); }

void CWininet::Impl::CloseRequest() {
  if (m_hRequest) {
    curl_multi_remove_handle(static_cast<CURLM*>(m_multi.get()), static_cast<CURL*>(m_hRequest.get()));
    m_hRequest.reset();
  }
  curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
  m_headerList = nullptr;
  m_bHeadersDone = m_bBlockHasLocation = m_bDone = m_bPaused = m_bSentEarly = false;
  m_nResult = CURLE_OK;
  m_nStatus = 0;
  m_nContentLength = -1;
  m_body.clear();
  m_bodyRead = 0;
}

bool CWininet::Impl::StartRequest(std::u16string_view url, std::u16string_view headers) {
  CloseRequest();
  if (!m_hSession) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  const std::string target = NarrowUtf8(url);
  if (strncasecmp(target.c_str(), "http://", 7) != 0 && strncasecmp(target.c_str(), "https://", 8) != 0)
    return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return Fail(ERROR_INTERNET_OUT_OF_HANDLES);
  m_hRequest.reset(easy);

  // Extra header lines as the caller gives them, then the no-cache pragma.
  curl_slist* list = nullptr;
  const std::string headerText = NarrowUtf8(headers);
  std::size_t start = 0;
  while (start < headerText.size()) {
    std::size_t end = headerText.find("\r\n", start);
    if (end == std::string::npos) end = headerText.size();
    if (end > start) list = curl_slist_append(list, headerText.substr(start, end - start).c_str());
    start = end + 2;
  }
  list = curl_slist_append(list, "Pragma: no-cache");
  list = curl_slist_append(list, "Cache-Control: no-cache");
  m_headerList = list;

  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, m_hSession->userAgent.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_hSession->timeoutMs));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // A request closed while its name is still being resolved must not wait for the resolver: the
  // lookup thread is left to finish on its own, so a stop is never held up by a slow DNS answer.
  curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CWininet::Impl::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CWininet::Impl::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (curl_multi_add_handle(static_cast<CURLM*>(m_multi.get()), easy) != CURLM_OK)
    return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  m_dwLastActivity = m_tick();
  return true;
}

bool CWininet::Impl::SendEarly(std::u16string_view url, std::u16string_view headers) {
  if (!StartRequest(url, headers)) {
    CloseRequest();
    return false;
  }
  // One turn writes the request out; the server then answers into the socket while the caller is busy.
  int running = 0;
  if (curl_multi_perform(static_cast<CURLM*>(m_multi.get()), &running) != CURLM_OK) {
    CloseRequest();
    return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  }
  m_bSentEarly = true;
  return true;
}

bool CWininet::Impl::OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly) {
  const bool early = sentEarly && m_bSentEarly;
  if (!early && !StartRequest(url, headers)) return false;
  m_bSentEarly = false;
  // The wait for the answer starts now, whenever the request went out.
  m_dwLastActivity = m_tick();
  while (!m_bHeadersDone) {
    // An early request that failed before its answer is sent again, so it fails only as a fresh one would.
    if (early && m_bDone) return OpenRequest(url, headers, false);
    if (m_bDone) return Fail(m_nResult == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ErrorFromCurl(m_nResult));
    if (!Pump()) return false;
  }
  return true;
}

std::size_t CWininet::Impl::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* me = static_cast<CWininet::Impl*>(self);
  const std::size_t length = size * count;
  me->m_dwLastActivity = me->m_tick();
  const std::string_view line(data, length);
  // Header names are case-insensitive.
  if (line.size() > 9 && strncasecmp(line.data(), "location:", 9) == 0) me->m_bBlockHasLocation = true;
  if (line == "\r\n" || line == "\n") {
    // The end of one header block: a 1xx block or a redirect that will be followed is not final.
    long code = 0;
    curl_easy_getinfo(static_cast<CURL*>(me->m_hRequest.get()), CURLINFO_RESPONSE_CODE, &code);
    const bool followed = IsFollowedRedirect(code) && me->m_bBlockHasLocation;
    me->m_bBlockHasLocation = false;
    if (code >= 200 && !followed) {
      curl_off_t contentLength = -1;
      curl_easy_getinfo(static_cast<CURL*>(me->m_hRequest.get()), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                        &contentLength);
      me->m_nStatus = static_cast<std::int32_t>(code);
      me->m_nContentLength = contentLength;
      me->m_bHeadersDone = true;
    }
  }
  return length;
}

std::size_t CWininet::Impl::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto* me = static_cast<CWininet::Impl*>(self);
  const std::size_t length = size * count;
  if (me->Buffered() >= kHighWater) {
    me->m_bPaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (me->m_bodyRead > 0 && me->m_bodyRead == me->m_body.size()) {
    me->m_body.clear();
    me->m_bodyRead = 0;
  } else if (me->m_bodyRead >= kHighWater) {
    me->m_body.erase(0, me->m_bodyRead);
    me->m_bodyRead = 0;
  }
  me->m_body.append(data, length);
  me->m_dwLastActivity = me->m_tick();
  return length;
}

bool CWininet::Impl::Pump() {
  auto* multi = static_cast<CURLM*>(m_multi.get());
  int running = 0;
  const std::size_t before = Buffered();
  const bool headersBefore = m_bHeadersDone;
  if (curl_multi_perform(multi, &running) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == m_hRequest.get()) {
      m_bDone = true;
      m_nResult = message->data.result;
    }
  }
  if (m_bDone || Buffered() > before || m_bHeadersDone != headersBefore) return true;
  if (m_pbRunning != nullptr && !m_pbRunning->load()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  if (static_cast<std::uint32_t>(m_tick() - m_dwLastActivity) >= m_dwTimeoutMs)
    return Fail(ERROR_INTERNET_TIMEOUT);
  curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
  return true;
}

bool CWininet::Impl::QueryStatusCode(std::int32_t& code) {
  if (!m_hRequest || !m_bHeadersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  code = m_nStatus;
  return true;
}

bool CWininet::Impl::QueryContentLength(std::uint64_t& length) {
  if (!m_hRequest || !m_bHeadersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (m_nContentLength < 0) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
  length = static_cast<std::uint64_t>(m_nContentLength);
  return true;
}

bool CWininet::Impl::Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (!m_hRequest) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    core::theLog.Write(core::LOG_ERROR, u"InternetReadFile - (%ld)", m_dwLastError);
    return false;
  }
  while (Buffered() == 0) {
    if (m_bDone) {
      if (m_nResult == CURLE_OK) return true;  // the end of the body
      Fail(ErrorFromCurl(m_nResult));
      core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
      return false;
    }
    if (!Pump()) {
      // A wait ended by the owner's stop request is no failure of the network.
      if (m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED)
        core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
      return false;
    }
  }
  const std::size_t n = std::min({Buffered(), size, HTTP_BUFFER_SIZE});
  std::memcpy(buffer, m_body.data() + m_bodyRead, n);
  m_bodyRead += n;
  bytesRead = static_cast<std::uint32_t>(n);
  if (m_bPaused && Buffered() < kHighWater / 2) {
    // Room again: let the held data in. The no-data clock starts afresh, since the pause was ours.
    m_bPaused = false;
    m_dwLastActivity = m_tick();
    curl_easy_pause(static_cast<CURL*>(m_hRequest.get()), CURLPAUSE_CONT);
  }
  return true;
}

CWininet::CWininet() : m_impl(std::make_unique<Impl>()) {}
CWininet::~CWininet() = default;
bool CWininet::Open(std::u16string_view userAgent) { return m_impl->Open(userAgent); }
bool CWininet::OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly) {
  return m_impl->OpenRequest(url, headers, sentEarly);
}
bool CWininet::SendEarly(std::u16string_view url, std::u16string_view headers) {
  return m_impl->SendEarly(url, headers);
}
void CWininet::CloseRequest() { m_impl->CloseRequest(); }
void CWininet::CloseSession() { m_impl->CloseSession(); }
bool CWininet::QueryStatusCode(std::int32_t& code) { return m_impl->QueryStatusCode(code); }
bool CWininet::QueryContentLength(std::uint64_t& length) { return m_impl->QueryContentLength(length); }

bool CWininet::QueryHeader(std::string_view name, std::string& value) {
  value.clear();
  if (!m_impl->m_hRequest || !m_impl->m_bHeadersDone) return m_impl->Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  curl_header* header = nullptr;
  // -1: the last response of the request, the one that follows every redirect.
  if (curl_easy_header(static_cast<CURL*>(m_impl->m_hRequest.get()), std::string(name).c_str(), 0, CURLH_HEADER, -1,
                       &header) != CURLHE_OK)
    return m_impl->Fail(ERROR_HTTP_HEADER_NOT_FOUND);
  value = header->value;
  return true;
}
bool CWininet::Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  return m_impl->Read(buffer, size, bytesRead);
}
void CWininet::SetTimeout(std::uint32_t milliseconds) { m_impl->m_dwTimeoutMs = milliseconds; }

void CWininet::SetClock(Tick tick) { m_impl->m_tick = std::move(tick); }

// Each session has a connection of its own: libcurl sets no limit across sessions.
void CWininet::AllowConnectionsPerServer(unsigned) {}
void CWininet::SetRunningFlag(const std::atomic<bool>* running) { m_impl->m_pbRunning = running; }
platform::ErrorCode CWininet::LastError() const { return m_impl->m_dwLastError; }

} // namespace net
