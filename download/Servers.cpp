#include "download/Servers.h"

#include <algorithm>

#include "net/Url.h"
#include "platform/Utf.h"

namespace download {

namespace {

// A failed server rests this long at first, twice as long after each failure in a row, at most
// kLongestRestMs; a busy one rests kBusyRestMs.
constexpr std::uint32_t kFirstRestMs = 2000;
constexpr std::uint32_t kLongestRestMs = 60000;
constexpr std::uint32_t kBusyRestMs = 1000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// An http(s) address with a host, and nothing in it that could end the request line or a header.
bool IsBaseAddress(std::string_view address) {
  std::size_t host = 0;
  if (StartsWithNoCase(address, "http://")) host = 7;
  else if (StartsWithNoCase(address, "https://")) host = 8;
  else return false;
  if (host >= address.size() || address[host] == '/' || address[host] == ':') return false;
  for (unsigned char c : address)
    if (c <= 0x20 || c == 0x7F || c == '\\' || c == '#' || c == '?') return false;
  return true;
}

} // namespace

bool ListServers(const filelist::CFileList& list, std::vector<std::u16string>& servers, std::u16string& problem) {
  std::vector<std::u16string> found{platform::WidenUtf8(list.m_strURL)};
  for (std::size_t i = 0; i < list.m_vecMirrors.size(); ++i) {
    const std::string& mirror = list.m_vecMirrors[i];
    if (!IsBaseAddress(mirror)) {
      problem = u"mirror " + platform::WidenUtf8(std::to_string(i + 1)) + u" is not an http or https address";
      return false;
    }
    std::u16string base = platform::WidenUtf8(mirror);
    if (base.back() != u'/') base.push_back(u'/');
    if (std::find(found.begin(), found.end(), base) == found.end()) found.push_back(std::move(base));
  }
  if (found.size() > kMaxServers) {
    problem = u"more than " + platform::WidenUtf8(std::to_string(kMaxServers)) + u" servers";
    return false;
  }
  servers = std::move(found);
  return true;
}

CServerSet::CServerSet(std::vector<std::u16string> bases, std::function<std::uint32_t()> tick) : m_tick(std::move(tick)) {
  for (std::u16string& base : bases) m_servers.push_back(Server{std::move(base)});
}

std::u16string CServerSet::AddressOf(std::size_t server, std::u16string_view name) const {
  return m_servers[server].base + net::EncodeUrlPath(name);
}

bool CServerSet::IsResting(const Server& server, std::uint32_t now) const {
  // Ticks wrap: a rest is over once its end is no longer ahead of now.
  return server.resting && static_cast<std::int32_t>(server.restUntil - now) > 0;
}

std::optional<std::size_t> CServerSet::Acquire(ServerMask tried, bool evenResting, bool needRanges) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  const std::optional<std::size_t> best = Choose(tried, evenResting, needRanges);
  if (best) ++m_servers[*best].open;
  return best;
}

std::optional<std::size_t> CServerSet::AcquireThis(std::size_t server) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  if (server >= m_servers.size() || IsResting(m_servers[server], m_tick())) return std::nullopt;
  ++m_servers[server].open;
  return server;
}

std::optional<std::size_t> CServerSet::Best() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return Choose(0, false, false);
}

std::optional<std::size_t> CServerSet::Choose(ServerMask tried, bool evenResting, bool needRanges) const {
  const std::uint32_t now = m_tick();
  // A server whose speed is not known yet counts as fast as the fastest, so each gets tried.
  double fastest = 0;
  for (const Server& server : m_servers) fastest = std::max(fastest, server.bytesPerMs);
  std::optional<std::size_t> best;
  double bestLoad = 0;
  std::optional<std::size_t> soonest;
  for (std::size_t i = 0; i < m_servers.size(); ++i) {
    const Server& server = m_servers[i];
    if ((tried & MaskOf(i)) != 0 || (needRanges && server.noRanges)) continue;
    if (IsResting(server, now)) {
      if (!soonest || static_cast<std::int32_t>(server.restUntil - m_servers[*soonest].restUntil) < 0) soonest = i;
      continue;
    }
    const double speed = server.bytesPerMs > 0 ? server.bytesPerMs : (fastest > 0 ? fastest : 1);
    const double load = (server.open + 1) / speed;
    if (!best || load < bestLoad) {
      best = i;
      bestLoad = load;
    }
  }
  if (!best && evenResting) best = soonest;
  return best;
}

void CServerSet::Release(std::size_t server, Outcome outcome, std::uint64_t bytes, std::uint32_t elapsedMs) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  Server& s = m_servers[server];
  if (s.open > 0) --s.open;
  switch (outcome) {
    case Outcome::Answered:
      s.failures = 0;
      s.resting = false;
      // Only bodies large enough to say something about the link move the estimate.
      if (bytes >= 64 * 1024 && elapsedMs > 0) {
        const double speed = static_cast<double>(bytes) / elapsedMs;
        s.bytesPerMs = s.bytesPerMs > 0 ? 0.7 * s.bytesPerMs + 0.3 * speed : speed;
      }
      break;
    case Outcome::Busy:
      s.resting = true;
      s.restUntil = m_tick() + kBusyRestMs;
      break;
    case Outcome::Failed: {
      const std::uint32_t rest = std::min<std::uint64_t>(kLongestRestMs, std::uint64_t{kFirstRestMs} << std::min(s.failures, 5u));
      ++s.failures;
      s.resting = true;
      s.restUntil = m_tick() + rest;
      break;
    }
    case Outcome::NoRanges:
      s.noRanges = true;
      break;
  }
}

bool CServerSet::IgnoresRanges(std::size_t server) const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_servers[server].noRanges;
}

} // namespace download
