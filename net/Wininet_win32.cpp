// The session layer over the system's WinINet. Every blocking call (connecting, waiting for data) is
// watched: once the owner's running flag is cleared, or the call has waited longer than the time-out,
// a watcher thread closes the handles, which makes WinINet's call return at once; the call then
// reports ERROR_INTERNET_OPERATION_CANCELLED or ERROR_INTERNET_TIMEOUT. (WinINet's own time-outs are
// set as well, but not every WinINet honours them for every wait.)
#include "net/Wininet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <system_error>
#include <thread>
#include <windows.h>
#include <wininet.h>

#include "core/Log.h"

namespace net {

using namespace platform;

namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(20);

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

} // namespace

struct CWininet::Impl {
  Impl() : m_watcher([this] { Watch(); }) {}
  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      // An early request still waiting for its answer is given up at once.
      if (m_early.joinable()) {
        m_bCancelled = true;
        if (m_hRequest != nullptr) InternetCloseHandle(m_hRequest);
        if (m_hSession != nullptr) InternetCloseHandle(m_hSession);
        m_hRequest = m_hSession = nullptr;
      }
    }
    JoinEarly();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bQuit = true;
    }
    m_wake.notify_all();
    m_watcher.join();
    CloseRequest();
    CloseSession();
  }

  bool Fail(ErrorCode code) {
    m_dwLastError = code;
    return false;
  }
  // The code of a failed call: a stop that closed the handles is a cancellation.
  // code: GetLastError() taken right after the failed call (locking may change it).
  bool FailFromSystem(DWORD code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bTimedOut) return Fail(ERROR_INTERNET_TIMEOUT);
    return Fail(m_bCancelled ? ERROR_INTERNET_OPERATION_CANCELLED : AsInternetCode(code));
  }
  // Some WinINet builds (Wine's among them) pass a socket's error through as it is; callers and the
  // log expect WinINet's own code for it.
  static ErrorCode AsInternetCode(DWORD code) {
    switch (code) {
      case WSAECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
      case WSAECONNABORTED: return ERROR_INTERNET_CONNECTION_ABORTED;
      case WSAETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
      case WSAECONNREFUSED: return ERROR_INTERNET_CANNOT_CONNECT;
      default: return code;
    }
  }
  bool Cancelled() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bCancelled;
  }

  // Closes the handles from the watcher when the owner asks to stop during a blocking call.
  void Watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bQuit) {
      m_wake.wait_for(lock, kWatchInterval);
      if (m_nBlocking == 0 || m_bCancelled) continue;
      const bool stop = m_pbRunning != nullptr && !m_pbRunning->load();
      const bool late = GetTickCount() - m_dwBlockStart >= m_dwTimeoutMs;
      if (stop || late) {
        m_bCancelled = true;
        m_bTimedOut = !stop;
        if (m_hRequest != nullptr) InternetCloseHandle(m_hRequest);
        if (m_hSession != nullptr) InternetCloseHandle(m_hSession);
        m_hRequest = m_hSession = nullptr;
      }
    }
  }

  // Marks a blocking call; the handles stay put (or are closed by the watcher) meanwhile.
  struct Blocking {
    explicit Blocking(Impl& impl) : m_impl(impl) {
      std::lock_guard<std::mutex> lock(m_impl.m_mutex);
      if (m_impl.m_nBlocking++ == 0) m_impl.m_dwBlockStart = GetTickCount();
    }
    ~Blocking() {
      std::lock_guard<std::mutex> lock(m_impl.m_mutex);
      --m_impl.m_nBlocking;
    }
    Impl& m_impl;
  };

  bool Open(std::u16string_view userAgent) {
    CloseSession();
    m_strUserAgent = userAgent;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bCancelled = m_bTimedOut = false;
    m_hSession = InternetOpenW(Wide(userAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (m_hSession == nullptr) return Fail(GetLastError());  // nothing between the call and this
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_LISTEN_TIMEOUT}) {
      DWORD value = m_dwTimeoutMs;
      InternetSetOptionW(m_hSession, option, &value, sizeof value);
    }
    return true;
  }

  // InternetOpenUrlW sends and waits for the answer in one call, so an early request runs it on a
  // thread of its own while the caller finishes other work; the watcher covers it as any wait.
  bool SendEarly(std::u16string_view url, std::u16string_view headers) {
    CloseRequest();
    try {
      m_early = std::thread([this, target = std::u16string(url), extra = std::u16string(headers)] {
        m_bEarlyOpened = Send(target, extra);
      });
    } catch (const std::system_error&) {
      return false;  // no thread to spare: the open sends it as usual
    }
    return true;
  }

  bool OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly) {
    if (sentEarly && m_early.joinable()) {
      JoinEarly();
      if (m_bEarlyOpened) return true;
      // Failed before its answer: asked again from a new session, so it fails only as a fresh one would.
      if (!Open(m_strUserAgent)) return false;
    }
    CloseRequest();
    return Send(url, headers);
  }

  void JoinEarly() {
    if (m_early.joinable()) m_early.join();
  }

  // Sends the GET and waits for the answer's headers; no request is open.
  bool Send(std::u16string_view url, std::u16string_view headers) {
    HINTERNET session;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      session = m_hSession;
    }
    if (session == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const std::wstring target = Wide(url);
    if (_wcsnicmp(target.c_str(), L"http://", 7) != 0 && _wcsnicmp(target.c_str(), L"https://", 8) != 0)
      return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    std::wstring extra = Wide(headers);
    if (!extra.empty() && extra.size() >= 2 && extra.substr(extra.size() - 2) != L"\r\n") extra += L"\r\n";
    extra += L"Cache-Control: no-cache\r\n";
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION;
    HINTERNET request;
    DWORD error = 0;
    {
      Blocking blocking(*this);
      request = InternetOpenUrlW(session, target.c_str(), extra.c_str(), static_cast<DWORD>(extra.size()), flags, 0);
      error = GetLastError();
    }
    if (request == nullptr) return FailFromSystem(error);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bCancelled) {
      InternetCloseHandle(request);
      return Fail(m_bTimedOut ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_OPERATION_CANCELLED);
    }
    m_hRequest = request;
    m_nBodyRead = 0;
    m_nBodyLength = -1;
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) m_nBodyLength = _wtoi64(text);
    return true;
  }

  void CloseRequest() {
    JoinEarly();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_hRequest != nullptr) InternetCloseHandle(m_hRequest);
    m_hRequest = nullptr;
  }

  void CloseSession() {
    JoinEarly();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_hSession != nullptr) InternetCloseHandle(m_hSession);
    m_hSession = nullptr;
  }

  HINTERNET Request() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hRequest;
  }

  bool QueryStatusCode(std::int32_t& code) {
    const HINTERNET request = Request();
    if (request == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    wchar_t text[16] = {};
    DWORD length = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr)) return Fail(GetLastError());
    code = static_cast<std::int32_t>(_wtol(text));
    return true;
  }

  bool QueryContentLength(std::uint64_t& length) {
    const HINTERNET request = Request();
    if (request == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    // As text, so a length beyond 32 bits reads whole.
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return Fail(GetLastError());
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    length = value;
    return true;
  }

  bool Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
    bytesRead = 0;
    const HINTERNET request = Request();
    if (request == nullptr) {
      const bool cancelled = Cancelled();
      Fail(cancelled ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INTERNET_INCORRECT_HANDLE_STATE);
      if (!cancelled) core::theLog.Write(core::LOG_ERROR, u"InternetReadFile - (%ld)", m_dwLastError);
      return false;
    }
    DWORD available = 0;
    BOOL ok;
    DWORD error = 0;
    {
      Blocking blocking(*this);
      ok = InternetQueryDataAvailable(request, &available, 0, 0);
      error = GetLastError();
    }
    if (!ok) {
      FailFromSystem(error);
      // A wait ended by the owner's stop request is no failure of the network.
      if (m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED)
        core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
      return false;
    }
    if (available == 0) {
      // WinINet ends a body that stops short of its Content-Length as if it were whole: say what it is.
      if (m_nBodyLength >= 0 && m_nBodyRead < m_nBodyLength) {
        Fail(ERROR_INTERNET_CONNECTION_ABORTED);
        core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
        return false;
      }
      return true;  // the end of the body
    }
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>({available, size, HTTP_BUFFER_SIZE}));
    DWORD got = 0;
    {
      Blocking blocking(*this);
      ok = InternetReadFile(request, buffer, want, &got);
      error = GetLastError();
    }
    if (!ok) {
      FailFromSystem(error);
      if (m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED)
        core::theLog.Write(core::LOG_ERROR, u"InternetReadFile - (%ld)", m_dwLastError);
      return false;
    }
    bytesRead = got;
    m_nBodyRead += got;
    return true;
  }

  std::mutex m_mutex;  // guards the handles and the watcher's state
  std::condition_variable m_wake;
  HINTERNET m_hSession = nullptr;
  HINTERNET m_hRequest = nullptr;
  ErrorCode m_dwLastError = 0;
  std::uint32_t m_dwTimeoutMs = kDefaultTimeoutMs;
  const std::atomic<bool>* m_pbRunning = nullptr;
  std::int64_t m_nBodyLength = -1;  // the open request's Content-Length, -1 without one
  std::int64_t m_nBodyRead = 0;
  int m_nBlocking = 0;
  DWORD m_dwBlockStart = 0;  // when the current blocking call began
  bool m_bCancelled = false;
  bool m_bTimedOut = false;
  bool m_bQuit = false;
  std::u16string m_strUserAgent;  // the open session's
  // A request sent ahead of its use, and how its send ended (read once joined).
  std::thread m_early;
  bool m_bEarlyOpened = false;
  std::thread m_watcher;
};

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
bool CWininet::Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  return m_impl->Read(buffer, size, bytesRead);
}
void CWininet::SetTimeout(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  m_impl->m_dwTimeoutMs = milliseconds;
}
void CWininet::SetRunningFlag(const std::atomic<bool>* running) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  m_impl->m_pbRunning = running;
}
platform::ErrorCode CWininet::LastError() const { return m_impl->m_dwLastError; }

} // namespace net
