#include "support/FaultServer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace testsupport {

using namespace sockets;

namespace {

constexpr int kAcceptPollMs = 50;
// Longer than any pause a test makes in reading an answer.
constexpr int kSendTimeoutMs = 10000;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The value of a header in a request head, or empty.
std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\r\n" + Lower(name) + ":");
  if (at == std::string::npos) return {};
  std::size_t start = at + 3 + name.size();
  const std::size_t end = head.find("\r\n", start);
  while (start < end && head[start] == ' ') ++start;
  return head.substr(start, end - start);
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

} // namespace

FaultServer::FaultServer() {
  m_listen = ListenLoopback(m_port);
  if (m_listen == kNoSocket) std::abort();
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_acceptor.join();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Socket fd : m_open) Shutdown(fd);
  }
  for (std::thread& t : m_threads) t.join();
  Close(m_listen);
}

void FaultServer::Script(const std::string& path, FaultScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_scripts[path] = std::move(script);
}

std::string FaultServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> FaultServer::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

bool FaultServer::Wait(int ms) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

void FaultServer::AcceptLoop() {
  while (!m_stopping) {
    const Socket fd = Accept(m_listen, kAcceptPollMs);
    if (fd == kNoSocket) continue;
    SetNoDelay(fd);
    SetSendTimeout(fd, kSendTimeoutMs);
    ++m_connections;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.push_back(fd);
    m_mostOpen = std::max(m_mostOpen.load(), static_cast<int>(m_open.size()));
    m_threads.emplace_back([this, fd] { Serve(fd); });
  }
}

void FaultServer::Serve(Socket fd) {
  std::string pending;
  char chunk[4096];
  for (;;) {
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      // A short wait at a time, so the server's end never waits for an idle client.
      const long n = Receive(fd, chunk, sizeof chunk, kAcceptPollMs);
      if (n == kTimedOut && !m_stopping) continue;
      if (n <= 0) {
        Release(fd);
        return;
      }
      pending.append(chunk, static_cast<std::size_t>(n));
    }
    const std::string head = pending.substr(0, end + 2);
    pending.erase(0, end + 4);
    bool refused = false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(head);
      const int limit = m_nConnectionLimit.load();
      const auto at = std::find(m_open.begin(), m_open.end(), fd) - m_open.begin();
      refused = limit > 0 && at >= limit;
    }
    if (refused) {
      static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      SendAll(fd, busy.data(), busy.size());
      break;
    }
    if (!Answer(fd, head)) break;
  }
  Release(fd);
}

int FaultServer::OpenNow() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_open.size());
}

void FaultServer::Release(Socket fd) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_open.erase(std::remove(m_open.begin(), m_open.end(), fd), m_open.end());
  Close(fd);
}

// Sends one answer; false when the connection is to be closed afterwards.
bool FaultServer::Answer(Socket fd, const std::string& head) {
  const std::size_t space = head.find(' ');
  const std::string path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
  FaultScript script;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_scripts.find(path);
    if (found == m_scripts.end()) {
      script.status = 404;
      script.body = "not found";
    } else {
      script = found->second;
      if (found->second.busyTimes > 0) {
        --found->second.busyTimes;
        script.status = 503;
        script.body.clear();
      }
    }
  }
  if (script.stallBeforeHeaders && !Wait(script.stallMs)) return false;

  int status = script.status;
  std::string body = script.body;
  std::string extra;
  if (!script.location.empty()) {
    status = 302;
    extra += script.locationName + ": " + script.location + "\r\n";
  }
  const std::string range = HeaderValue(head, "Range");
  const bool bounded = range.find(',') != std::string::npos ||
                       (range.find('-') != std::string::npos && range.find('-') + 1 < range.size());
  if (status == 200 && !range.empty() && script.honourRange && bounded && script.bodyOffset == 0) {
    // Ranges with ends, "bytes=a-b,c-d": one part answers with its Content-Range, several as the
    // parts of a multipart/byteranges body.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> parts;
    for (std::size_t at = range.find('=') + 1; at != 0 && at < range.size();) {
      const std::size_t comma = range.find(',', at);
      const std::string one = range.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      const std::size_t dash = one.find('-');
      parts.emplace_back(std::strtoull(one.c_str(), nullptr, 10), std::strtoull(one.c_str() + dash + 1, nullptr, 10));
      at = comma == std::string::npos ? range.size() : comma + 1;
    }
    const std::uint64_t size = script.body.size();
    status = 206;
    if (parts.size() == 1) {
      const auto [first, last] = parts[0];
      extra += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(size) + "\r\n";
      body = script.body.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
    } else {
      const std::string boundary = "00000000000000000042";
      extra += "Content-Type: multipart/byteranges; boundary=" + boundary + "\r\n";
      body.clear();
      for (const auto& [first, last] : parts) {
        body += "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
                std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size) + "\r\n\r\n";
        body += script.body.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
      }
      body += "\r\n--" + boundary + "--\r\n";
    }
  } else if (status == 200 && !range.empty() && script.honourRange) {
    const std::size_t eq = range.find('=');
    const std::uint64_t from = std::strtoull(range.c_str() + eq + 1, nullptr, 10);
    const std::uint64_t size = script.bodyOffset + script.body.size();
    if (from >= size || from < script.bodyOffset) {
      status = 416;
      extra += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      body.clear();
    } else {
      status = 206;
      extra += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
               std::to_string(size) + "\r\n";
      body = script.body.substr(static_cast<std::size_t>(from - script.bodyOffset));
    }
  }
  std::string response = script.rawStatusLine.empty()
                             ? "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n"
                             : script.rawStatusLine + "\r\n";
  response += extra;
  if (script.chunked) response += "Transfer-Encoding: chunked\r\n";
  else response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (script.closeAfter) response += "Connection: close\r\n";
  response += "\r\n";
  if (!SendAll(fd, response.data(), response.size())) return false;

  if (script.chunked) {
    std::ostringstream size;
    size << std::hex << body.size() << "\r\n";
    std::string chunkText = body.empty() ? std::string() : size.str() + body + "\r\n";
    chunkText += "0\r\n\r\n";
    return SendAll(fd, chunkText.data(), chunkText.size()) && !script.closeAfter;
  }

  std::size_t sent = 0;
  const std::size_t limit =
      script.cutAfter >= 0 ? std::min(body.size(), static_cast<std::size_t>(script.cutAfter)) : body.size();
  while (sent < limit) {
    if (script.stallAfter >= 0 && sent == static_cast<std::size_t>(script.stallAfter) && script.stallMs > 0) {
      if (!Wait(script.stallMs)) return false;
      script.stallMs = 0;
    }
    std::size_t piece = limit - sent;
    if (script.dripBytes > 0) piece = std::min(piece, script.dripBytes);
    if (script.stallAfter >= 0 && sent < static_cast<std::size_t>(script.stallAfter))
      piece = std::min(piece, static_cast<std::size_t>(script.stallAfter) - sent);
    if (!SendAll(fd, body.data() + sent, piece)) return false;
    sent += piece;
    if (script.dripDelayMs > 0 && sent < limit && !Wait(script.dripDelayMs)) return false;
  }
  if (script.stallAfter >= 0 && sent == static_cast<std::size_t>(script.stallAfter) && script.stallMs > 0 &&
      !Wait(script.stallMs))
    return false;
  if (script.cutAfter >= 0 && static_cast<std::size_t>(script.cutAfter) < body.size()) {
    if (script.reset) ResetOnClose(fd);
    return false;
  }
  return !script.closeAfter;
}

} // namespace testsupport
