#include "download/Prefetcher.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/ScopeExit.h"
#include "platform/Clock.h"

namespace download {

CPrefetcher::CPrefetcher(std::vector<Job> jobs, std::vector<std::unique_ptr<net::CHttpClient>> clients,
                         CServerSet& servers, const std::atomic<bool>* workerRunning, std::uint64_t budget,
                         std::size_t firstConnections)
    : m_clients(std::move(clients)), m_servers(servers), m_pbWorkerRunning(workerRunning), m_nBudget(budget),
      m_nSmallReserve(std::min(kSmallReserve, budget / 4)) {
  m_slots.reserve(jobs.size());
  for (Job& job : jobs) m_slots.push_back(Slot{std::move(job), State::Waiting, {}});
  for (const std::unique_ptr<net::CHttpClient>& client : m_clients) client->SetRunningFlag(&m_bRunning);
  const std::lock_guard<std::mutex> lock(m_mutex);
  while (m_threads.size() < std::min(std::max<std::size_t>(firstConnections, 1), m_clients.size())) StartOne();
}

void CPrefetcher::StartOne() {
  if (m_threads.size() >= m_clients.size()) return;
  net::CHttpClient* const client = m_clients[m_threads.size()].get();
  m_threads.emplace_back([this, client] { Fetch(*client); });
}

CPrefetcher::~CPrefetcher() {
  m_bRunning = false;
  m_changed.notify_all();
  for (std::thread& thread : m_threads) thread.join();
}

const CPrefetcher::Slot* CPrefetcher::Find(std::uint32_t index) const {
  const auto at = std::lower_bound(m_slots.begin(), m_slots.end(), index,
                                   [](const Slot& slot, std::uint32_t i) { return slot.job.index < i; });
  return at != m_slots.end() && at->job.index == index ? &*at : nullptr;
}

CPrefetcher::Slot* CPrefetcher::Find(std::uint32_t index) {
  return const_cast<Slot*>(static_cast<const CPrefetcher*>(this)->Find(index));
}

bool CPrefetcher::Claim(std::uint32_t index) {
  const std::lock_guard<std::mutex> lock(m_mutex);
  Slot* slot = Find(index);
  if (slot == nullptr || slot->state == State::Failed || slot->state == State::Taken) return true;
  if (slot->state != State::Waiting || !slot->job.workersShare) return false;
  slot->state = State::Taken;
  return true;
}

bool CPrefetcher::Take(std::uint32_t index, std::string& body, std::size_t& server) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_nWanted = std::max(m_nWanted, index);
  // Earlier entries the worker passed without taking their bodies: their room is given back (one in
  // flight gives it back when it lands).
  for (; m_nPassed < m_slots.size() && m_slots[m_nPassed].job.index < index; ++m_nPassed) {
    Slot& passed = m_slots[m_nPassed];
    if (passed.state == State::Arrived) {
      GiveBack(passed);
      passed.body = std::string();
      passed.state = State::Taken;
    } else if (passed.state == State::Waiting) {
      passed.state = State::Taken;
    }
  }
  m_changed.notify_all();
  Slot* wanted = Find(index);
  if (wanted == nullptr) return false;
  // The worker is faster than the connections at work: one more joins them.
  if (wanted->state == State::Waiting || wanted->state == State::InFlight) StartOne();
  if (wanted->state == State::Waiting) {
    // Not started yet: the worker fetches it now, and nobody else will.
    wanted->state = State::Taken;
    return false;
  }
  while (wanted->state == State::InFlight) {
    if (m_pbWorkerRunning != nullptr && !m_pbWorkerRunning->load()) return false;
    m_changed.wait_for(lock, std::chrono::milliseconds(20));
  }
  if (wanted->state != State::Arrived) return false;
  body = std::move(wanted->body);
  server = wanted->server;
  wanted->body = std::string();
  wanted->state = State::Taken;
  GiveBack(*wanted);
  m_changed.notify_all();
  return true;
}

bool CPrefetcher::HasRoom(const Job& job, bool& inReserve) const {
  inReserve = false;
  if (m_nHeld - m_nHeldReserve + job.size <= m_nBudget - m_nSmallReserve || m_nHeld == 0) return true;
  inReserve = job.size <= kLargestEntry && m_nHeldReserve + job.size <= m_nSmallReserve;
  return inReserve;
}

void CPrefetcher::GiveBack(const Slot& slot) {
  m_nHeld -= slot.job.size;
  if (slot.inReserve) m_nHeldReserve -= slot.job.size;
}

std::uint64_t CPrefetcher::PeakHeld() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_nPeakHeld;
}

void CPrefetcher::Fetch(net::CHttpClient& client) {
  std::uint32_t pauseMs = 0;  // after a refusal
  for (;;) {
    if (pauseMs > 0) {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait_for(lock, std::chrono::milliseconds(pauseMs), [this] { return !m_bRunning.load(); });
    }
    Slot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      // The next small job a little way on that the budget has room for, else the next larger one,
      // else the next of the worker's share: small files cost a round trip each whatever the link,
      // so they go while larger ones fill the link, not after them.
      for (;;) {
        if (!m_bRunning.load()) return;
        while (m_nNext < m_slots.size() && m_slots[m_nNext].state != State::Waiting) ++m_nNext;
        if (m_nNext >= m_slots.size()) return;
        const std::size_t end = std::min(m_slots.size(), m_nNext + kLookAhead);
        Slot* larger = nullptr;
        Slot* workers = nullptr;
        for (std::size_t i = m_nNext; i < end && slot == nullptr; ++i) {
          Slot& candidate = m_slots[i];
          if (candidate.state != State::Waiting || !HasRoom(candidate.job, candidate.inReserve)) continue;
          Slot*& kind = candidate.job.workersShare ? workers : candidate.job.size <= kLargestEntry ? slot : larger;
          if (kind == nullptr) kind = &candidate;
        }
        if (slot == nullptr) slot = larger != nullptr ? larger : workers;
        if (slot != nullptr) break;
        m_changed.wait(lock);
      }
      slot->state = State::InFlight;
      m_nHeld += slot->job.size;
      if (slot->inReserve) m_nHeldReserve += slot->job.size;
      m_nPeakHeld = std::max(m_nPeakHeld, m_nHeld);
    }
    std::string body;
    bool refused = false;
    // The least loaded server that is not resting after a failure; a resting one when that is all.
    const std::optional<std::size_t> server = m_servers.Acquire(0, true);
    const bool arrived = server && FetchOne(client, *server, slot->job, body, refused);
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      if (arrived && slot->job.index >= m_nWanted) {
        slot->body = std::move(body);
        slot->server = *server;
        slot->state = State::Arrived;
      } else if (arrived) {
        slot->state = State::Taken;  // the worker has passed it meanwhile
        GiveBack(*slot);
      } else {
        slot->state = State::Failed;
        GiveBack(*slot);
      }
    }
    m_changed.notify_all();
    pauseMs = refused ? std::min(kLongestPauseMs, pauseMs == 0 ? kFirstPauseMs : pauseMs * 2) : 0;
  }
}

bool CPrefetcher::FetchOne(net::CHttpClient& client, std::size_t server, const Job& job, std::string& body,
                           bool& refused) {
  const std::uint32_t asked = platform::TickCount32();
  bool answered = false;
  bool busy = false;
  // Whatever ends the fetch tells the server set how the server did.
  const core::CScopeExit release([&] {
    using Outcome = CServerSet::Outcome;
    const std::uint32_t elapsed = platform::TickCount32() - asked;
    m_servers.Release(server, answered ? Outcome::Answered : busy ? Outcome::Busy : Outcome::Failed,
                      answered ? job.size : 0, elapsed);
  });
  std::uint64_t length = 0;
  if (!client.OpenUrl(m_servers.AddressOf(server, job.name), u"", length, net::kDownloaderUserAgent)) {
    const std::int32_t status = client.StatusCode();
    busy = status == 503 || status == 429;
    refused = busy || status == 0;
    // An abandoned request says nothing of the server.
    answered = !m_bRunning.load();
    return false;
  }
  if (client.StatusCode() != 200 || length != job.size) return false;
  body.resize(static_cast<std::size_t>(job.size));
  std::size_t at = 0;
  char beyond = 0;  // where a byte past the listed size would go: its arrival fails the fetch
  for (;;) {
    std::uint32_t n = 0;
    const bool full = at == body.size();
    if (!client.ReadBody(full ? &beyond : body.data() + at, full ? 1 : body.size() - at, n)) {
      answered = !m_bRunning.load();
      return false;
    }
    if (n == 0) {
      answered = full;
      return full;
    }
    if (full) return false;
    at += n;
  }
}

} // namespace download
