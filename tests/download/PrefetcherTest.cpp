#include "download/Prefetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/Wininet.h"
#include "platform/Clock.h"
#include "platform/Utf.h"
#include "support/FaultServer.h"
#include "support/TestData.h"

namespace {

using download::CPrefetcher;
using testsupport::FaultServer;
using testsupport::FaultScript;

// A long list walked in order while bodies are fetched ahead: every body taken is the entry's own,
// and what is held or in flight never passes the budget, however long the list.
TEST(Prefetcher, ALongListHoldsNoMoreThanItsBudget) {
  constexpr std::uint32_t kEntries = 10000;
  constexpr std::size_t kSize = 2048;
  constexpr std::uint64_t kBudget = 32 * kSize;
  FaultServer server;
  std::vector<CPrefetcher::Job> jobs;
  std::vector<std::string> bodies;
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    const std::string path = "/f/" + std::to_string(i);
    FaultScript script;
    script.body = testsupport::Pattern(kSize, i + 1);
    bodies.push_back(script.body);
    server.Script(path, std::move(script));
    jobs.push_back(CPrefetcher::Job{i, u"f/" + platform::WidenUtf8(std::to_string(i)), kSize});
  }
  net::CWininet::AllowConnectionsPerServer(4);
  std::vector<std::unique_ptr<net::CHttpClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<net::CHttpClient>());
  const std::atomic<bool> running{true};
  download::CServerSet servers({platform::WidenUtf8(server.Url("/"))}, &platform::TickCount32);
  CPrefetcher ahead(std::move(jobs), std::move(clients), servers, &running, kBudget);
  // The worker is slow at first: the connections fill the budget before anything is taken.
  while (server.Requests().size() < kBudget / kSize)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::uint32_t taken = 0;
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    std::string body;
    std::size_t from = 0;
    if (!ahead.Take(i, body, from)) continue;  // not fetched ahead: the worker would fetch it itself
    ++taken;
    ASSERT_EQ(body, bodies[i]) << "entry " << i;
  }
  EXPECT_GE(taken, kBudget / kSize);
  EXPECT_LE(ahead.PeakHeld(), kBudget);
  EXPECT_LE(server.MostOpenAtOnce(), 4);
}

// Larger files fill the budget and wait to be taken: small files behind them still go ahead, from
// a part of the budget kept for them, the worker's share too once nothing else is left; a share the
// worker claims first is never fetched here; and what is held never passes the budget.
TEST(Prefetcher, SmallFilesGoAheadWhileLargerOnesWaitForRoom) {
  constexpr std::uint64_t kLarger = CPrefetcher::kLargestEntry * 4;
  constexpr std::uint64_t kBudget = kLarger * 4;  // three larger ones, and a quarter for small ones
  constexpr std::uint64_t kSmall = 16 * 1024;
  FaultServer server;
  std::vector<CPrefetcher::Job> jobs;
  std::vector<std::string> bodies;
  for (std::uint32_t i = 0; i < 10; ++i) {
    const bool larger = i < 6;
    FaultScript script;
    script.body = testsupport::Pattern(larger ? kLarger : kSmall, i + 1);
    bodies.push_back(script.body);
    server.Script("/f/" + std::to_string(i), std::move(script));
    // 6 to 8 are the worker's share; 9 is too, but the worker claims it before its turn.
    jobs.push_back(CPrefetcher::Job{i, u"f/" + platform::WidenUtf8(std::to_string(i)), larger ? kLarger : kSmall, i >= 6});
  }
  net::CWininet::AllowConnectionsPerServer(2);
  std::vector<std::unique_ptr<net::CHttpClient>> clients;
  for (int i = 0; i < 2; ++i) clients.push_back(std::make_unique<net::CHttpClient>());
  const std::atomic<bool> running{true};
  download::CServerSet servers({platform::WidenUtf8(server.Url("/"))}, &platform::TickCount32);
  CPrefetcher ahead(std::move(jobs), std::move(clients), servers, &running, kBudget, 2);
  EXPECT_TRUE(ahead.Claim(9));
  const auto asked = [&](std::uint32_t i) {
    for (const std::string& request : server.Requests())
      if (request.rfind("GET /f/" + std::to_string(i) + " ", 0) == 0) return true;
    return false;
  };
  for (int wait = 0; wait < 3000 && !(asked(6) && asked(7) && asked(8)); ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(asked(6) && asked(7) && asked(8)) << "the small ones went ahead of the larger ones waiting for room";
  EXPECT_FALSE(asked(3)) << "a fourth larger one has no room until one is taken";
  for (std::uint32_t i = 0; i < 10; ++i) {
    std::string body;
    std::size_t from = 0;
    const bool taken = ahead.Take(i, body, from);
    // The three larger ones and the small ones were on the wire before anything was taken; the
    // others may or may not have started by their turn (when not, the worker fetches them).
    if (i < 3 || (i >= 6 && i < 9)) {
      EXPECT_TRUE(taken) << "entry " << i;
    } else if (i == 9) {
      EXPECT_FALSE(taken) << "the worker claimed it";
    }
    if (taken) {
      EXPECT_EQ(body, bodies[i]) << "entry " << i;
    }
  }
  EXPECT_FALSE(asked(9)) << "a claimed entry is the worker's alone";
  EXPECT_LE(ahead.PeakHeld(), kBudget);
}

} // namespace
