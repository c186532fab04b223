// The session layer over the system's WinINet. Every call that can block (sending a request and
// waiting for its answer, waiting for body data) runs on a call thread of the session while the
// caller waits for it in short slices, watching the owner's running flag and the time-out. A wait
// that ends early gives the call up: the handles are closed (which interrupts the call where WinINet
// allows it), and the call thread is left to finish alone with state of its own, so nothing depends
// on WinINet returning. Wine's WinINet, which Linux players run, does not return from a blocked read
// when its handles are closed, and follows redirections without end; both are handled here.
#include "net/Wininet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>
#include <windows.h>
#include <wininet.h>

#include "core/Log.h"
#include "platform/Clock.h"

namespace net {

using namespace platform;

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);
// A read takes whatever WinINet has, up to this much, and hands it out in pieces: one wait on the
// call thread per block instead of one per piece.
constexpr std::size_t kReadAhead = 64 * 1024;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Closes an Internet handle when its owner lets it go.
struct InternetHandleCloser {
  void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using UniqueInternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// One blocking call and its outcome, shared by the caller and the call thread: a call given up
// finishes (or never does) on its own, and everything it touches stays alive with it.
struct Call {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  HINTERNET handle = nullptr;  // what an open returned
  BOOL ok = FALSE;
  DWORD error = 0;
  DWORD available = 0;         // what a read found waiting
  DWORD got = 0;               // what a read took into buffer
  std::vector<char> buffer;

  void Finish(BOOL result, DWORD code) {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    ok = result;
    error = code;
    // Nobody waits for it any more: what it opened is its own to close.
    if (abandoned && handle != nullptr) {
      InternetCloseHandle(handle);
      handle = nullptr;
    }
    done.notify_all();
  }
};

// A thread that makes calls one at a time, handed to it one by one.
struct CallQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::function<void()> task;
  bool quit = false;

  static void Loop(std::shared_ptr<CallQueue> queue) {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(queue->mutex);
        queue->wake.wait(lock, [&] { return queue->quit || queue->task; });
        if (!queue->task) return;
        task = std::move(queue->task);
        queue->task = nullptr;
      }
      task();
    }
  }
};

} // namespace

struct CWininet::Impl {
  ~Impl() {
    DropPending();
    if (m_queue) {
      {
        std::lock_guard<std::mutex> lock(m_queue->mutex);
        m_queue->quit = true;
      }
      m_queue->wake.notify_all();
      m_thread.join();  // idle: every call in flight was given up above
    }
    CloseRequest();
    CloseSession();
  }

  bool Fail(ErrorCode code) {
    m_dwLastError = code;
    return false;
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

  // Hands a call to the call thread (started when there is none); false when no thread can be had.
  bool Post(std::function<void()> task) {
    if (!m_queue) {
      auto queue = std::make_shared<CallQueue>();
      try {
        m_thread = std::thread(&CallQueue::Loop, queue);
      } catch (const std::system_error&) {
        return false;
      }
      m_queue = std::move(queue);
    }
    {
      std::lock_guard<std::mutex> lock(m_queue->mutex);
      m_queue->task = std::move(task);
    }
    m_queue->wake.notify_one();
    return true;
  }

  // The call thread is busy with a call nobody waits for: it ends after that call, alone.
  void LeaveCallThread() {
    if (!m_queue) return;
    {
      std::lock_guard<std::mutex> lock(m_queue->mutex);
      m_queue->quit = true;
    }
    m_queue->wake.notify_one();
    m_thread.detach();
    m_queue.reset();
  }

  // Waits for a call posted at `posted` (a tick): true when it finished. False when the owner asked to
  // stop or the time-out passed first; the call is then given up with the session's handles.
  bool Await(const std::shared_ptr<Call>& call, DWORD posted) {
    {
      std::unique_lock<std::mutex> lock(call->mutex);
      for (;;) {
        if (call->done.wait_for(lock, kWaitSlice, [&] { return call->finished; })) return true;
        const bool stop = m_pbRunning != nullptr && !m_pbRunning->load();
        if (stop || m_tick() - posted >= m_dwTimeoutMs) {
          call->abandoned = true;
          Fail(stop ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INTERNET_TIMEOUT);
          break;
        }
      }
    }
    if (m_pending == call) m_pending.reset();
    // Closing interrupts the call where WinINet allows it; either way the handles are not used again.
    CloseRequest();
    CloseSession();
    LeaveCallThread();
    return false;
  }

  // Gives up a call that was posted and never waited for (a request sent early and not taken up).
  void DropPending() {
    if (!m_pending) return;
    const std::shared_ptr<Call> call = std::move(m_pending);
    bool running;
    {
      std::lock_guard<std::mutex> lock(call->mutex);
      running = !call->finished;
      call->abandoned = true;
      if (call->handle != nullptr) InternetCloseHandle(call->handle);
      call->handle = nullptr;
    }
    if (running) LeaveCallThread();
  }

  bool Open(std::u16string_view userAgent) {
    CloseSession();
    m_strUserAgent = userAgent;
    m_hSession.reset(InternetOpenW(Wide(userAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (m_hSession == nullptr) return Fail(GetLastError());
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_LISTEN_TIMEOUT}) {
      DWORD value = m_dwTimeoutMs;
      InternetSetOptionW(m_hSession.get(), option, &value, sizeof value);
    }
    return true;
  }

  // Posts one GET of target (no redirection followed); the call's handle is the answer.
  std::shared_ptr<Call> PostOpen(const std::wstring& target, std::u16string_view headers, DWORD& posted) {
    std::wstring extra = Wide(headers);
    if (extra.size() >= 2 && extra.substr(extra.size() - 2) != L"\r\n") extra += L"\r\n";
    extra += L"Cache-Control: no-cache\r\n";
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION |
                        INTERNET_FLAG_NO_AUTO_REDIRECT;
    auto call = std::make_shared<Call>();
    const HINTERNET session = m_hSession.get();
    posted = m_tick();
    const bool sent = Post([call, session, target, extra, flags] {
      const HINTERNET request =
          InternetOpenUrlW(session, target.c_str(), extra.c_str(), static_cast<DWORD>(extra.size()), flags, 0);
      const DWORD error = request == nullptr ? GetLastError() : 0;
      {
        std::lock_guard<std::mutex> lock(call->mutex);
        call->handle = request;
      }
      call->Finish(request != nullptr, error);
    });
    if (!sent) {
      Fail(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return call;
  }

  // Takes up the answer of an open: the request handle, or the failure.
  bool TakeAnswer(const std::shared_ptr<Call>& call, DWORD posted) {
    if (!Await(call, posted)) return false;
    std::lock_guard<std::mutex> lock(call->mutex);
    if (!call->ok) return Fail(AsInternetCode(call->error));
    m_hRequest.reset(call->handle);
    call->handle = nullptr;
    return true;
  }

  bool SendEarly(std::u16string_view url, std::u16string_view headers) {
    CloseRequest();
    if (m_hSession == nullptr || !IsHttp(Wide(url))) return false;
    m_pending = PostOpen(Wide(url), headers, m_dwPendingPosted);
    return m_pending != nullptr;
  }

  bool OpenRequest(std::u16string_view url, std::u16string_view headers, bool sentEarly) {
    if (sentEarly && m_pending) {
      const std::shared_ptr<Call> early = std::move(m_pending);
      if (!TakeAnswer(early, m_dwPendingPosted)) {
        const ErrorCode code = m_dwLastError;
        if (code == ERROR_INTERNET_OPERATION_CANCELLED || code == ERROR_INTERNET_TIMEOUT) return false;
        // Failed before its answer: asked again from a new session, so it fails only as a fresh one would.
        if (!Open(m_strUserAgent)) return false;
        return Send(url, headers);
      }
      return FollowRedirects(Wide(url), headers);
    }
    CloseRequest();
    return Send(url, headers);
  }

  static bool IsHttp(const std::wstring& target) {
    return _wcsnicmp(target.c_str(), L"http://", 7) == 0 || _wcsnicmp(target.c_str(), L"https://", 8) == 0;
  }

  // Sends the GET and waits for the final answer's headers; no request is open.
  bool Send(std::u16string_view url, std::u16string_view headers) {
    if (m_hSession == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const std::wstring target = Wide(url);
    if (!IsHttp(target)) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    DWORD posted = 0;
    const std::shared_ptr<Call> call = PostOpen(target, headers, posted);
    if (!call || !TakeAnswer(call, posted)) return false;
    return FollowRedirects(target, headers);
  }

  // The open request may be a redirection: followed, at most kMaxRedirects times, to http(s) only.
  bool FollowRedirects(std::wstring current, std::u16string_view headers) {
    for (int hops = 0;; ++hops) {
      std::int32_t status = 0;
      if (!QueryStatusCode(status) || !IsRedirect(static_cast<DWORD>(status))) break;
      std::vector<wchar_t> location(2048);
      DWORD size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
      if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) break;
      if (hops == kMaxRedirects) {
        CloseRequest();
        return Fail(ERROR_HTTP_REDIRECT_FAILURE);
      }
      std::vector<wchar_t> next(4096);
      DWORD length = static_cast<DWORD>(next.size());
      if (!InternetCombineUrlW(current.c_str(), location.data(), next.data(), &length, ICU_NO_ENCODE)) {
        CloseRequest();
        return Fail(ERROR_HTTP_REDIRECT_FAILURE);
      }
      current.assign(next.data(), length);
      CloseRequest();
      if (!IsHttp(current)) return Fail(ERROR_HTTP_REDIRECT_FAILURE);
      DWORD posted = 0;
      const std::shared_ptr<Call> call = PostOpen(current, headers, posted);
      if (!call || !TakeAnswer(call, posted)) return false;
    }
    m_nBodyRead = 0;
    m_nBodyLength = -1;
    m_nAheadAt = m_nAheadEnd = 0;
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) m_nBodyLength = _wtoi64(text);
    return true;
  }

  void CloseRequest() {
    DropPending();
    m_hRequest.reset();
    m_nAheadAt = m_nAheadEnd = 0;
  }

  void CloseSession() {
    DropPending();
    m_hSession.reset();
  }

  bool QueryStatusCode(std::int32_t& code) {
    if (m_hRequest == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    wchar_t text[16] = {};
    DWORD length = sizeof text;
    if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_STATUS_CODE, text, &length, nullptr)) return Fail(GetLastError());
    code = static_cast<std::int32_t>(_wtol(text));
    return true;
  }

  bool QueryHeader(std::string_view name, std::string& value) {
    value.clear();
    if (m_hRequest == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    // HTTP_QUERY_CUSTOM: the buffer carries the header's name in and its value out.
    std::vector<wchar_t> buffer(std::max<std::size_t>(name.size() + 1, 1024));
    for (std::size_t i = 0; i < name.size(); ++i) buffer[i] = static_cast<wchar_t>(name[i]);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Fail(GetLastError());
      std::vector<wchar_t> larger(size / sizeof(wchar_t) + 1);
      for (std::size_t i = 0; i < name.size(); ++i) larger[i] = static_cast<wchar_t>(name[i]);
      buffer.swap(larger);
      size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
      if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) return Fail(GetLastError());
    }
    // Header values are ASCII.
    for (std::size_t i = 0; i < size / sizeof(wchar_t); ++i) value.push_back(static_cast<char>(buffer[i]));
    return true;
  }

  bool QueryContentLength(std::uint64_t& length) {
    if (m_hRequest == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    // As text, so a length beyond 32 bits reads whole.
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoW(m_hRequest.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return Fail(GetLastError());
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    length = value;
    return true;
  }

  // Fills the read-ahead block from WinINet: waits for data, then takes what is there.
  bool FillAhead() {
    // The block of the last read is used again: its call has finished (a call given up is dropped).
    if (!m_ahead) {
      m_ahead = std::make_shared<Call>();
      m_ahead->buffer.resize(kReadAhead);
    }
    const std::shared_ptr<Call> call = m_ahead;
    {
      std::lock_guard<std::mutex> lock(call->mutex);
      call->finished = false;
      call->ok = FALSE;
      call->error = call->available = call->got = 0;
    }
    const HINTERNET request = m_hRequest.get();
    const DWORD posted = m_tick();
    const bool sent = Post([call, request] {
      DWORD available = 0;
      BOOL ok = InternetQueryDataAvailable(request, &available, 0, 0);
      DWORD error = ok ? 0 : GetLastError();
      DWORD got = 0;
      if (ok && available > 0) {
        ok = InternetReadFile(request, call->buffer.data(),
                              static_cast<DWORD>(std::min<std::size_t>(available, call->buffer.size())), &got);
        if (!ok) error = GetLastError();
      }
      {
        std::lock_guard<std::mutex> lock(call->mutex);
        call->available = available;
        call->got = got;
      }
      call->Finish(ok, error);
    });
    if (!sent) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!Await(call, posted)) {
      m_ahead.reset();  // the call thread keeps its own
      if (m_dwLastError != ERROR_INTERNET_OPERATION_CANCELLED)
        core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
      return false;
    }
    std::lock_guard<std::mutex> lock(call->mutex);
    if (!call->ok) {
      Fail(AsInternetCode(call->error));
      core::theLog.Write(core::LOG_ERROR,
                         call->available > 0 ? u"InternetReadFile - (%ld)" : u"InternetQueryDataAvailable - (%ld)",
                         m_dwLastError);
      return false;
    }
    m_nAheadAt = 0;
    m_nAheadEnd = call->got;
    m_nBodyRead += call->got;
    return true;
  }

  bool Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
    bytesRead = 0;
    if (m_hRequest == nullptr) {
      Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
      core::theLog.Write(core::LOG_ERROR, u"InternetReadFile - (%ld)", m_dwLastError);
      return false;
    }
    if (m_nAheadAt == m_nAheadEnd) {
      if (!FillAhead()) return false;
      if (m_nAheadEnd == 0) {
        // WinINet ends a body that stops short of its Content-Length as if it were whole: say what it is.
        if (m_nBodyLength >= 0 && m_nBodyRead < m_nBodyLength) {
          Fail(ERROR_INTERNET_CONNECTION_ABORTED);
          core::theLog.Write(core::LOG_ERROR, u"InternetQueryDataAvailable - (%ld)", m_dwLastError);
          return false;
        }
        return true;  // the end of the body
      }
    }
    const std::size_t n = std::min({size, HTTP_BUFFER_SIZE, m_nAheadEnd - m_nAheadAt});
    std::copy_n(m_ahead->buffer.data() + m_nAheadAt, n, static_cast<char*>(buffer));
    m_nAheadAt += n;
    bytesRead = static_cast<std::uint32_t>(n);
    return true;
  }

  UniqueInternetHandle m_hSession;
  UniqueInternetHandle m_hRequest;  // closed before the session it belongs to
  ErrorCode m_dwLastError = 0;
  std::uint32_t m_dwTimeoutMs = kDefaultTimeoutMs;
  Tick m_tick = &platform::TickCount32;
  const std::atomic<bool>* m_pbRunning = nullptr;  // set by the owner, on its own thread
  std::int64_t m_nBodyLength = -1;  // the open request's Content-Length, -1 without one
  std::int64_t m_nBodyRead = 0;
  std::u16string m_strUserAgent;    // the open session's
  // The call thread and what it is handed.
  std::shared_ptr<CallQueue> m_queue;
  std::thread m_thread;
  // A request sent early, while it waits to be taken up, and when it was sent.
  std::shared_ptr<Call> m_pending;
  DWORD m_dwPendingPosted = 0;
  // The block read ahead and the part of it not yet handed out.
  std::shared_ptr<Call> m_ahead;
  std::size_t m_nAheadAt = 0;
  std::size_t m_nAheadEnd = 0;
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
bool CWininet::QueryHeader(std::string_view name, std::string& value) { return m_impl->QueryHeader(name, value); }
bool CWininet::Read(void* buffer, std::size_t size, std::uint32_t& bytesRead) {
  return m_impl->Read(buffer, size, bytesRead);
}
void CWininet::SetTimeout(std::uint32_t milliseconds) { m_impl->m_dwTimeoutMs = milliseconds; }

void CWininet::SetClock(Tick tick) { m_impl->m_tick = std::move(tick); }

void CWininet::AllowConnectionsPerServer(unsigned count) {
  // WinINet keeps few connections per server for the whole process unless told otherwise.
  for (const DWORD option : {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
    DWORD current = 0;
    DWORD size = sizeof current;
    if (InternetQueryOptionW(nullptr, option, &current, &size) && current >= count) continue;
    DWORD wanted = count;
    InternetSetOptionW(nullptr, option, &wanted, sizeof wanted);
  }
}
void CWininet::SetRunningFlag(const std::atomic<bool>* running) { m_impl->m_pbRunning = running; }
platform::ErrorCode CWininet::LastError() const { return m_impl->m_dwLastError; }

} // namespace net
